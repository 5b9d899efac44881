#pragma once

#include "link/controlboard.h"
#include "link/linktransport.h"
#include "link/linkworker.h"
#include "link/mockupresponder.h"
#include "link/portowner.h"
#include "link/scriptrunner.h"
#include "link/serialtransport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>

#include <atomic>
#include <functional>
#include <vector>

// The link's state behind ControlBoard, and the sink its transports report to.
class ControlBoardPrivate final : public LinkSink
{
public:
    explicit ControlBoardPrivate(ControlBoard *q);

    LinkTransport *transport();
    // One transaction on the calling thread, in the port's line (at ticket
    // when one was taken ahead). It waits for the port no longer than for
    // the first answer, counted from now.
    bool perform(QList<LinkCommand> commands, QList<LinkReply> *replies, const void *holder,
                 PortOwner::Ticket ticket, bool announce);
    // Whether a blocking call on this thread goes to the worker (a live wait).
    bool waitsLive() const;
    // Runs work on the worker in its place in the port's line (ticket) while
    // this thread's event loop runs; returns once it ran or was taken back.
    // False when it never ran.
    bool runLive(const std::function<void()> &work, PortOwner::Ticket ticket);
    void announceDisconnect(int reason, ControlBoard::Loss loss);
    void shutdown();

    // What the link tells its users: at once, or, from an exchange the
    // link's own thread waits for, back on that thread when the wait is
    // over, in order, as if that thread had run the exchange itself.
    void tell(std::function<void()> signal);
    void tellHeld();

    // LinkSink
    void log(int kind, const QByteArray &text) override { q->log(kind, text); }
    void sent() override
    {
        tell([this] { emit q->signal_tx(); });
    }
    void received() override
    {
        tell([this] { emit q->signal_rx(); });
    }
    bool isConnected() const override { return connected; }
    // Sends the board back to the link's speed and closes the port; port held.
    void closeLink() override;
    void lost(int loss) override { announceDisconnect(ControlBoard::DueToErrors, ControlBoard::Loss(loss)); }
    bool portRefused(bool timedOut, int waitedMs) override;

    ControlBoard *const q;
    PortOwner port;
    SerialTransport serial;
    MockUpResponder mockUp;
    ScriptRunner script;

    std::atomic<int> mode{ControlBoard::Serial};
    std::atomic<bool> connected{false};
    std::atomic<bool> quit{false};
    QString portName;
    QString connectError;
    // Read from any thread; written by the port's holder, or by the caller
    // while no board is connected.
    std::atomic<int> baudRate{ControlBoard::LinkBaudRate};
    std::atomic<int> defaultTimeoutMs{500};
    std::atomic<bool> logging{false};
    int firmwareVersion = 0;
    QDateTime firmwareBuildDate;
    QString firmwareIdentity;
    std::atomic<bool> resetRequested{false};
    std::atomic<bool> cancelReset{false};
    std::atomic<ControlBoard::Loss> loss{ControlBoard::Loss::None};
    std::atomic<const void *> reservedBy{nullptr};
    std::function<QString()> askScriptPath;
    std::function<void(bool entering)> liveGuard;
    // Live waits on the stack of the link's own thread.
    int liveDepth = 0;
    // How long the thread may go without serving its events while it waits
    // for exchanges, and since when it has.
    static constexpr qint64 LiveBlockMs = 10;
    QElapsedTimer loopSeen;

    QMutex logMutex;
    QElapsedTimer logClock;
    QMutex heldMutex;
    std::vector<std::function<void()>> held;

    // Last: it uses everything above and stops first.
    LinkWorker worker;
};
