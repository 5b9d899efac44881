#include "link/controlboard_p.h"

#include "link/linklog.h"
#include "util/bytes.h"

#include <QEventLoop>
#include <QThread>
#include <QWaitCondition>

namespace {

constexpr int StopWaitMs = 2000;

} // namespace

ControlBoardPrivate::ControlBoardPrivate(ControlBoard *q)
    : q(q), serial(port, ControlBoard::QueueSize, ControlBoard::SilenceMs), worker(*this)
{
    port.setCloser([this] { closeLink(); });
}

LinkTransport *ControlBoardPrivate::transport()
{
    switch (mode) {
    case ControlBoard::Script: return &script;
    case ControlBoard::MockUp: return &mockUp;
    default: return &serial;
    }
}

bool ControlBoardPrivate::perform(QList<LinkCommand> commands, QList<LinkReply> *replies, const void *holder,
                                  PortOwner::Ticket ticket, bool announce)
{
    *replies = QList<LinkReply>(commands.size());
    if (!connected || commands.isEmpty())
        return false;
    const void *reserved = reservedBy;
    if (reserved && holder != reserved) {
        for (const LinkCommand &command : std::as_const(commands))
            log(ControlBoard::RX_ERR,
                "held back, a firmware download is under way: " + upToNul(command.text));
        return false;
    }
    if (announce)
        emit q->signal_aboutToSend();
    log(ControlBoard::TX, upToNul(commands.first().text));

    for (LinkCommand &command : commands) {
        if (command.timeout < 0)
            command.timeout = defaultTimeoutMs;
    }
    const int limit = commands.first().timeout;
    LinkRequest request;
    request.commands = std::move(commands);
    request.replies = replies;
    request.port = &port;
    request.portWaitMs = limit > 0 ? limit : int(defaultTimeoutMs);
    request.portDeadline = QDeadlineTimer(request.portWaitMs);
    request.ticket = ticket;
    return transport()->exchange(request, *this);
}

bool ControlBoardPrivate::waitsLive() const
{
    return liveGuard && !quit && QThread::currentThread() == q->thread();
}

bool ControlBoardPrivate::runLive(const std::function<void()> &work, PortOwner::Ticket ticket)
{
    struct Done
    {
        QMutex mutex;
        QWaitCondition cond;
        bool done = false;
        bool ran = false;
    };
    auto state = std::make_shared<Done>();
    LinkCompletion wake;
    LinkWorker::Job job;
    job.ticket = ticket;
    // The caller's stack outlives the job: it waits for done below.
    job.task = [state, &work, &wake](bool run) {
        if (run)
            work();
        // Told before done is set: the caller's wake lives until then.
        emit wake.finished(run, QList<LinkReply>());
        QMutexLocker lock(&state->mutex);
        state->done = true;
        state->ran = run;
        state->cond.wakeAll();
    };

    QEventLoop loop;
    QObject::connect(&wake, &LinkCompletion::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    liveGuard(true);
    ++liveDepth;
    worker.post(std::move(job));
    loop.exec();
    --liveDepth;
    liveGuard(false);
    // A quit of the application ends every loop: the rest is waited for
    // without one (the work ends within its time-out).
    QMutexLocker lock(&state->mutex);
    while (!state->done)
        state->cond.wait(&state->mutex);
    return state->ran;
}

bool ControlBoardPrivate::portRefused(bool timedOut, int waitedMs)
{
    if (timedOut)
        log(ControlBoard::RX_ERR,
            "the port stayed busy (a board restart) for " + QByteArray::number(waitedMs) + " ms");
    else if (!quit)
        qCWarning(lcLink) << "command refused: the port is in use further down this thread's stack";
    return false;
}

void ControlBoardPrivate::closeLink()
{
    if (mode == ControlBoard::Serial && serial.closeAt(ControlBoard::LinkBaudRate))
        baudRate = ControlBoard::LinkBaudRate;
    connected = false;
    serial.forget();
}

void ControlBoardPrivate::announceDisconnect(int reason, ControlBoard::Loss why)
{
    loss = reason == ControlBoard::DueToErrors ? why : ControlBoard::Loss::None;
    if (reason == ControlBoard::DueToErrors)
        log(ControlBoard::RX_ERR, "Disconnect due to errors");
    else
        log(ControlBoard::INF, "Disconnect by user");
    emit q->signal_disconnected();
}

void ControlBoardPrivate::shutdown()
{
    quit = true;
    cancelReset = true;
    serial.stop();
    port.stop();
    worker.cancelQueued(false);
    port.wake();
    // Every wait of the worker ends on the quit flag within a few ms (a
    // transaction it runs within its time-out); a running thread must not
    // be destroyed, so a late one is waited for.
    if (!worker.wait(QDeadlineTimer(StopWaitMs))) {
        qCCritical(lcLink) << "link worker did not stop within" << StopWaitMs << "ms";
        worker.wait();
    }
    serial.closePort();
}
