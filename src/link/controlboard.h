#pragma once

#include "link/linkcommand.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTime>

#include <functional>
#include <memory>

class ControlBoardPrivate;
class QDateTime;

// The one link to the board, a front over its parts: the transport behind
// it (the serial port, the mock-up or a script), the reply framer, the
// port's ownership and the worker thread (presence check, firmware
// restart, transactions started without waiting). A blocking transact
// writes its command and reads the reply lines itself; on the link's own
// thread, once a live wait is set, it hands them to the worker and keeps
// the thread's event loop running meanwhile. The port has one owner at a
// time, taken in order.
class ControlBoard : public QObject
{
    Q_OBJECT

public:
    enum LinkMode
    {
        Serial = 0,
        Script = 1,
        MockUp = 2
    };
    enum LogKind
    {
        RX = 0,
        TX = 1,
        INF = 2,
        RX_ERR = 3
    };
    enum DisconnectReason
    {
        ByUser = 0,
        DueToErrors = 1
    };
    // Why the link let a board go that nobody asked it to let go.
    enum class Loss
    {
        None,
        // The device hung up or went away: a pulled cable, a board switched off.
        Unplugged,
        // The port stayed, but the board answered nothing for the presence time.
        Silent
    };

    static constexpr int QueueSize = 5000;
    static constexpr int LinkBaudRate = 115200;
    static constexpr int SilenceMs = 2000;
    // The level of a failed connect's message on signal_log.
    static constexpr int ErrorLevel = -1000;

    explicit ControlBoard(QObject *parent = nullptr);
    ~ControlBoard() override;

    // Connecting while connected connects again, to name: the old
    // connection is closed first, even when it is the same port.
    bool connectBoard(const QString &name);
    // Transactions started without waiting and not yet begun fail.
    void disconnectBoard(int reason);
    // The device of the connection went away (the system said so before the
    // link found out): a disconnect due to errors, lost as unplugged.
    void boardUnplugged();
    // Why the last disconnect due to errors happened; None after a
    // disconnect asked for and after a connect.
    Loss loss() const;
    // A command that failed because the board went away tells nothing of
    // its own: the loss is the one thing to tell.
    static bool failedWithTheBoard(const ControlBoard *link) { return link && !link->isConnected(); }
    bool setBaudRate(int rate);
    // A command that finds the board reserved by another holder is refused;
    // one that finds the port held (a restart) waits at most its time-out.
    bool transact(const QByteArray &command, QByteArray *reply = nullptr, int timeout = -1,
                  const void *holder = nullptr);
    // The same transaction without waiting for it: it takes its place in
    // the port's line now and runs on the link's thread; done(ok, reply)
    // is called later in context's thread, unless context is gone by then.
    // A disconnect before it began, or the link's end, fails it.
    void transactAsync(const QByteArray &command, int timeout, QObject *context,
                       std::function<void(bool ok, const QByteArray &reply)> done,
                       const void *holder = nullptr);
    // Commands whose lines do not wait for each other's answers go out in
    // one write (when the board's queue holds them all) and their replies
    // are taken in order: one round trip instead of one each. Results, log
    // and failures are those of the commands sent one by one; replies gets
    // one entry per command. True when every one succeeded.
    bool transact(const QList<LinkCommand> &commands, QList<LinkReply> *replies,
                  const void *holder = nullptr);
    void transactAsync(const QList<LinkCommand> &commands, QObject *context,
                       std::function<void(bool ok, const QList<LinkReply> &replies)> done,
                       const void *holder = nullptr);
    // While a holder (a firmware download) has the board, only its own
    // commands go out: nothing may land between its lines.
    void reserve(const void *holder);
    void unreserve(const void *holder);
    bool isReserved() const;
    bool setParameter(const QString &name, const QByteArray &value);
    bool getParameter(const QString &name, QByteArray *value = nullptr);
    static bool parseValue(const QByteArray &reply, const QString &name, QByteArray *value);
    bool queryVersion();
    bool ping();
    // Restarts the board's firmware in the background; signal_resetFinished
    // tells when it answers again (or after 10 s without an answer).
    void resetBoard();
    bool isResetting() const;
    void setLogging(bool on);
    bool isLogging() const;
    void setDefaultTimeout(int ms);
    int defaultTimeout() const;

    // Why the last connect to a device failed, for the user; empty after a success.
    QString connectError() const;
    bool isConnected() const;
    int mode() const;
    QString portName() const;
    int baudRate() const;
    int firmwareVersion() const;
    QDateTime firmwareBuildDate() const;
    QString firmwareIdentity() const;

    // The link asks its owner for what needs a person: the script to run
    // ("script" without a path) and the notice that the mock-up is in use.
    void setScriptPathProvider(std::function<QString()> provider);
    void setPythonPath(const QString &path);

    // From now on a blocking call on this object's thread (a transaction,
    // the connect's open and presence check) runs on the link's thread while
    // the caller's event loop runs; guard(true) comes before such a loop and
    // guard(false) after it, so that the owner can hold back what must not
    // run inside. Null: the caller blocks, as by default.
    void setLiveWait(std::function<void(bool entering)> guard);
    // A blocking call of this thread waits live further down its stack.
    bool isWaitingLive() const;

    // Emits one traffic line when logging is on.
    void log(int kind, const QByteArray &text);

signals:
    // A message for the user whether or not traffic is logged (a failed connect).
    void signal_log(int level, const QString &text);
    // One line of traffic (kind: a LogKind) while logging is on, with the
    // time since the line before and the time of day it happened at.
    void signal_traffic(int kind, const QByteArray &text, qint64 sinceLastMs, const QTime &at);
    // Emitted, in the caller's thread, before a command goes out: what the
    // windows still owe the user is shown before the board is asked anything.
    void signal_aboutToSend();
    void signal_tx();
    void signal_rx();
    void signal_disconnected();
    void signal_connected();
    void signal_notice(const QString &text);
    // answered: the restarted firmware acknowledged ENQ.
    void signal_resetFinished(bool answered);
    // The board is free again for anybody's commands.
    void signal_unreserved();

private:
    friend class ControlBoardPrivate;
    std::unique_ptr<ControlBoardPrivate> d;
};
