#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

#include "app/serverconnections.h"
#include "util/loopreturn.h"

class QLocalServer;

// What the server asks of the application: the scripting calls, and whether
// a firmware download has the board.
class LocalServerHost
{
public:
    virtual ~LocalServerHost() = default;
    virtual bool set(const QString &name, QVariant &value) = 0;
    virtual bool get(const QString &name, QVariant *result) = 0;
    virtual bool run(const QString &name, QVariant &value, QVariant *result) = 0;
    virtual bool isBoardReserved() const = 0;
    // An exchange with the board waits with the event loop running.
    virtual bool isWaitingForBoard() const { return false; }
    // Calls serve once that board action is over.
    virtual void afterBoardWait(std::function<void()> serve) { serve(); }
};

// Lets other programs of the same user drive the application through a
// local socket: each connection carries one request of TAB-separated
// "set", "get" and "run" lines with typed values; the reply is written and
// the connection closed.
//
// Requests run one at a time and only from the application's own event
// loop: a request that arrives while another one runs, or while a wait, a
// message box or a dialog holds the GUI thread, waits its turn. This class
// claims the socket and queues and runs whole requests; reading and
// answering the connections is ServerConnections' part.
class LocalServer : public QObject
{
    Q_OBJECT

public:
    // Larger requests are answered "err" and dropped.
    static constexpr int MaxRequestBytes = ServerConnections::MaxRequestBytes;

    explicit LocalServer(LocalServerHost *host, QObject *parent = nullptr);
    // Replies still pending are written (bounded); every request still
    // waiting, in the listen queue too, is answered "err"; then every
    // connection closes.
    ~LocalServer() override;

    static QString socketPath(const QString &name);

    // Listens on the name. A socket left by a crashed run is replaced; a
    // live one asks the user for another name unless askOnConflict is false.
    // Nothing but a dead socket is ever removed.
    bool start(const QString &name, bool askOnConflict = true);
    QString serverPath() const { return m_path; }
    QString errorText() const { return m_error; }
    void setLoggingOn(bool on) { loggingOn = on; }
    // The event-loop depth requests run at: 1, the application's main loop.
    void setServeDepth(int depth) { m_serveDepth = depth; }

    // Typed values: i integer, f real, s text, x bytes in hexadecimal.
    static QVariant decode(const QByteArray &field);
    static QByteArray encode(const QVariant &value);
    // Runs every line of one request and returns the reply.
    QByteArray processRequest(const QByteArray &request);
    // A request's lines are running now: what they cause must not wait
    // for a person.
    bool isServing() const { return m_serving; }
    // Whether a request must wait while the board is reserved (a firmware
    // download): every request but the ones that only ask the application
    // itself, which never reach the board.
    static bool needsBoard(const QByteArray &request);
    // Serves what waits, once the board is free again.
    void resume();

    // From now on (the program is shutting down) no request runs: each
    // line is answered "err".
    void stopServing();
    // The last error logged during the request being served, or, when it
    // has logged none yet, during the request before it.
    QString lastError() const { return m_requestError.isEmpty() ? m_previousError : m_requestError; }

public slots:
    // Every error the log window receives passes here.
    void slot_errorLogged(const QString &text);

signals:
    void signal_log(int level, const QString &text);

private:
    using Connection = ServerConnections::Connection;
    class Listener;
    struct Queued
    {
        Connection *connection;
        QByteArray request;
    };

    enum Liveness
    {
        NoSocket,
        DeadSocket,
        LiveSocket,
        NotASocket
    };
    static Liveness probe(const QString &path);
    bool claim(const QString &path);
    void release();

    void accept(int fd);
    void markReady(Connection *c, QByteArray request);
    void serveQueued();
    void serveWhenBack();
    QByteArray processLine(const QByteArray &line);
    void log(const QByteArray &text);

    LocalServerHost *m_host;
    bool loggingOn = false;
    Listener *pipeServer = nullptr;
    QString m_path;
    QString m_lockPath;
    int m_lockFd = -1;
    QString m_error;
    bool m_inUse = false;
    ServerConnections *m_connections;
    // Whole requests in their order, waiting for their turn.
    QList<Queued> m_ready;
    bool m_serving = false;
    LoopReturn m_loopReturn{this};
    int m_serveDepth = 1;
    // Asked to serve once the board action that waits is over.
    bool m_afterWait = false;
    bool m_stopped = false;
    bool m_inRequest = false;
    QString m_requestError;
    QString m_previousError;
};
