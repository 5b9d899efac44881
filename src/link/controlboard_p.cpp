#include "link/controlboard_p.h"

#include "link/linklog.h"
#include "util/bytes.h"

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
