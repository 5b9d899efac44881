#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>

class QDeadlineTimer;

// The scripting server's accepted connections, on descriptors of their own:
// each is read until its request is whole (the client's half-close, a final
// LF in one small piece, or a quiet time), then handed on; its reply is
// written as the client takes it, and the connection closes. A client that
// half-closes still gets its reply, and one that goes away early is only
// noticed, never freed while its request waits or runs.
class ServerConnections : public QObject
{
public:
    static constexpr int MaxRequestBytes = 1 << 20;
    // A request that has not ended within this quiet time is whole as it is.
    static constexpr int CollectMs = 100;
    // Up to this size a request ending with a line end arrives in one piece
    // from a client's single write, so it is whole at once; a larger one is
    // whole when its client half-closes or stays quiet for CollectMs.
    static constexpr int AtOnceBytes = 32 * 1024;

    struct Connection;
    // A whole request; the connection waits for its reply from then on.
    using RequestHandler = std::function<void(Connection *c, QByteArray request)>;

    explicit ServerConnections(RequestHandler onRequest, QObject *parent = nullptr);
    // Closes whatever is still open.
    ~ServerConnections() override;

    // Takes over a descriptor from the listener.
    void accept(int fd);
    void reply(Connection *c, const QByteArray &bytes);
    // "err" for each line of a request that will not run.
    static QByteArray refusal(const QByteArray &request);

    // At shutdown: requests still collecting, and connections still in the
    // listener's queue, are read and answered "err" once whole.
    void refuseWaiting(int listener, const QDeadlineTimer &deadline);
    // At shutdown: what was answered reaches its client, within the deadline.
    void flushReplies(const QDeadlineTimer &deadline);

private:
    void onReadable(Connection *c);
    void onWritable(Connection *c);
    void watchReads(Connection *c);
    void waitUntilWritable(Connection *c);
    void onQuiet(Connection *c);
    void markReady(Connection *c);
    void finish(Connection *c);

    RequestHandler m_onRequest;
    QList<Connection *> m_connections;
};
