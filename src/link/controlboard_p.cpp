#include "link/controlboard_p.h"

#include "link/linklog.h"
#include "util/bytes.h"

#include <QEventLoop>
#include <QThread>
#include <QWaitCondition>

namespace {

constexpr int StopWaitMs = 2000;

// Set on the worker while it runs an exchange somebody waits for live.
thread_local bool t_holdSignals = false;

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
        if (run) {
            t_holdSignals = true;
            work();
            t_holdSignals = false;
        }
        // Told before done is set: the caller's wake lives until then.
        emit wake.finished(run, QList<LinkReply>());
        QMutexLocker lock(&state->mutex);
        state->done = true;
        state->ran = run;
        state->cond.wakeAll();
    };

    QEventLoop loop;
    QObject::connect(&wake, &LinkCompletion::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker.post(std::move(job));
    // A quick exchange is waited for without a loop, as long as the thread
    // has served its events within the last few milliseconds: nobody sees
    // the difference, and a loop per exchange costs more than a fast line's
    // round trip.
    const qint64 budget = loopSeen.isValid() ? LiveBlockMs - loopSeen.elapsed() : 0;
    QMutexLocker lock(&state->mutex);
    if (budget > 0 && (state->done || state->cond.wait(&state->mutex, QDeadlineTimer(budget))) &&
        state->done) {
        lock.unlock();
        tellHeld();
        return state->ran;
    }
    lock.unlock();
    liveGuard(true);
    ++liveDepth;
    loop.exec();
    --liveDepth;
    liveGuard(false);
    loopSeen.start();
    // A quit of the application ends every loop: the rest is waited for
    // without one (the work ends within its time-out).
    lock.relock();
    while (!state->done)
        state->cond.wait(&state->mutex);
    const bool ran = state->ran;
    lock.unlock();
    tellHeld();
    return ran;
}

void ControlBoardPrivate::tell(std::function<void()> signal)
{
    if (!t_holdSignals) {
        signal();
        return;
    }
    QMutexLocker lock(&heldMutex);
    held.push_back(std::move(signal));
}

void ControlBoardPrivate::tellHeld()
{
    std::vector<std::function<void()>> now;
    {
        QMutexLocker lock(&heldMutex);
        now.swap(held);
    }
    for (const std::function<void()> &signal : now)
        signal();
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
    tell([this] { emit q->signal_disconnected(); });
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
