#pragma once

#include "link/bytering.h"
#include "link/mockupresponder.h"
#include "link/scriptrunner.h"
#include "link/serialport.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <functional>

// The one link to the board. Callers on the GUI thread use the blocking
// transact, which writes its command and reads the reply lines itself; a
// worker thread checks the board's presence after a silence and runs the
// firmware restart. The port has one owner at a time (see acquirePort).
// Besides a real board it can talk to a built-in mock-up or hand each
// command to a script.
class ControlBoard : public QThread
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

    explicit ControlBoard(QObject *parent = nullptr);
    ~ControlBoard() override;

    // Connecting while connected connects again, to name: the old
    // connection is closed first, even when it is the same port.
    bool connectBoard(const QString &name);
    void disconnectBoard(int reason);
    // The device of the connection went away (the system said so before the
    // link found out): a disconnect due to errors, lost as unplugged.
    void boardUnplugged();
    // Why the last disconnect due to errors happened; None after a
    // disconnect asked for and after a connect.
    Loss loss() const { return m_loss; }
    bool setBaudRate(int rate);
    // A command that finds the board reserved by another holder is refused;
    // one that finds the port held (a restart) waits at most its time-out.
    bool transact(const QByteArray &command, QByteArray *reply = nullptr, int timeout = -1,
                  const void *holder = nullptr);
    // While a holder (a firmware download) has the board, only its own
    // commands go out: nothing may land between its lines.
    void reserve(const void *holder);
    void unreserve(const void *holder);
    bool isReserved() const { return m_reservedBy != nullptr; }
    bool setParameter(const QString &name, const QByteArray &value);
    bool getParameter(const QString &name, QByteArray *value = nullptr);
    static bool parseValue(const QByteArray &reply, const QString &name, QByteArray *value);
    bool queryVersion();
    bool ping();
    // Restarts the board's firmware in the background; signal_resetFinished
    // tells when it answers again (or after 10 s without an answer).
    void resetBoard();
    bool isResetting() const { return m_resetRequested; }
    void setLogging(bool on);
    bool isLogging() const { return m_logging; }
    void setDefaultTimeout(int ms) { m_defaultTimeoutMs = ms; }
    int defaultTimeout() const { return m_defaultTimeoutMs; }

    // Why the last connect to a device failed, for the user; empty after a success.
    QString connectError() const { return m_connectError; }
    bool isConnected() const { return m_connected; }
    int mode() const { return m_mode; }
    QString portName() const { return m_portName; }
    int baudRate() const { return m_baudRate; }
    int firmwareVersion() const { return m_firmwareVersion; }
    QDateTime firmwareBuildDate() const { return m_firmwareBuildDate; }
    QString firmwareIdentity() const { return m_firmwareIdentity; }

    // The link asks its owner for what needs a person: the script to run
    // ("script" without a path) and the notice that the mock-up is in use.
    void setScriptPathProvider(std::function<QString()> provider) { m_askScriptPath = std::move(provider); }
    void setPythonPath(const QString &path) { m_pythonPath = path; }

    // Emits one log line when logging is on.
    void log(int kind, const QByteArray &text);
    // One log line: RX lines and errors show the time since the line before
    // (sinceLastMs), the others the wall-clock time (now).
    static QString formatLogLine(int kind, const QByteArray &text, qint64 sinceLastMs, const QTime &now);

signals:
    void signal_log(int level, const QString &text);
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

protected:
    void run() override;

private:
    // What a presence check found.
    enum class Presence
    {
        Answered,
        Silent,
        GaveWay
    };

    // The port's ownership handshake. Every user of the port (transact,
    // connect, speed change, disconnect, discovery, the worker's presence
    // check and reset) holds it first; only the holder reads, writes or
    // closes the port. A caller blocks until the port is free; the worker
    // takes it only when it is free and nobody waits, and gives a presence
    // check up as soon as a caller waits. A caller waits at most timeoutMs
    // (-1: as long as it takes).
    enum class Take
    {
        Held,
        // The calling thread holds it already (a nested event loop further
        // down its stack).
        OwnThread,
        TimedOut
    };
    Take acquirePort(int timeoutMs = -1);
    void releasePort();
    class PortLease;

    void wakeWorker();
    void drainWake();
    bool onWorkerThread() const { return QThread::currentThread() == this; }
    void clearQueues();
    bool pingPort() { return presenceCheck(false) == Presence::Answered; }
    Presence presenceCheck(bool mayGiveWay);
    // Moves what the port holds into the reply queue; m_mutex held.
    int pullFromPort(bool *hungUp);
    void touch();
    // The device said it went away; port held.
    bool portHungUp() const;
    // Sends the board back to the link's speed and closes the port; port held.
    void closeLink();
    void announceDisconnect(int reason, Loss loss);
    bool runReset();
    // Drops the answers owed to commands that timed out before a new
    // command goes out; false when the board did not answer at all, with
    // the reason in *error.
    bool resynchronise(bool *hungUp, QByteArray *error);
    // Whether a reply line can be the answer to a "get"/"set" line: it names
    // what the line asked for, or reports an error.
    static bool answers(const QByteArray &reply, const QByteArray &commandLine);

    SerialPort m_port;
    std::atomic<int> m_mode{Serial};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_quit{false};
    QString m_portName;
    QString m_scriptPath;
    QString m_connectError;
    QString m_pythonPath = QStringLiteral("python3");
    // Read from any thread; written by the port's holder, or by the caller
    // while no board is connected.
    std::atomic<int> m_baudRate{LinkBaudRate};
    std::atomic<int> m_defaultTimeoutMs{500};
    std::atomic<bool> m_logging{false};
    int m_firmwareVersion = 0;
    QDateTime m_firmwareBuildDate;
    QString m_firmwareIdentity;

    // Guards the reply queue and the port's ownership. Nobody holds it
    // while waiting on the port: the worker blocks in poll() on m_wakeFd
    // (and the port while it holds it), callers in poll() on the port.
    mutable QMutex m_mutex;
    QWaitCondition m_ownerChanged;
    ByteRing m_rxQueue{QueueSize};
    Qt::HANDLE m_owner = nullptr;
    std::atomic<int> m_waiting{0};
    // A disconnect asked for while its own thread held the port: the holder
    // closes the port when it lets go.
    bool m_closePending = false;
    std::atomic<bool> m_resetRequested{false};
    std::atomic<bool> m_cancelReset{false};
    // ACKs still due to presence checks that gave way: they are not reply text.
    std::atomic<int> m_acksOwed{0};
    int m_wakeFd = -1;

    QMutex m_logMutex;
    // Time of the last sign of life from the board, for the presence check.
    QElapsedTimer m_clock;
    std::atomic<qint64> m_lastActivityMs{0};
    QElapsedTimer m_logClock;
    // Reply lines still owed by commands that timed out, and since when.
    std::atomic<int> m_owedLines{0};
    std::atomic<qint64> m_owedSinceMs{0};
    // Set by a time-out: until a command is answered in full, reply lines
    // are checked against what their command asked.
    std::atomic<bool> m_suspect{false};
    std::atomic<Loss> m_loss{Loss::None};
    const void *m_reservedBy = nullptr;

    MockUpResponder m_mockUp;
    ScriptRunner m_script;
    std::function<QString()> m_askScriptPath;
};
