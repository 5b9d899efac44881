#include "app/serverconnections.h"

#include "protocol/scriptprotocol.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcServer)

namespace {

// A request this small that ends a line came from one write: it is whole.
bool endsAtOnce(const QByteArray &in)
{
    return in.endsWith('\n') && in.size() <= ServerConnections::AtOnceBytes;
}

// Only the user who started the application may drive it. Another user's
// connection is closed without a word; the client can tell from the
// socket's owner why.
bool fromOwnUser(int fd)
{
    static const uid_t self = ::geteuid();
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == self)
        return true;
    qCWarning(lcServer) << "refused a connection of user" << peer.uid;
    return false;
}

} // namespace

struct ServerConnections::Connection : QObject
{
    enum State
    {
        Collecting,
        // Handed on: waiting for its turn or running.
        Queued,
        Replying
    };

    ~Connection() override
    {
        if (fd >= 0)
            ::close(fd);
    }

    int fd = -1;
    State state = Collecting;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QTimer quiet;
    QByteArray in;
    QByteArray out;
    qsizetype written = 0;
    bool eof = false;
    bool broken = false;
    // Over the size limit: answered "err" at once, the rest is read and dropped.
    bool draining = false;
    // A notifier or the timer was set up: it may deliver the call that ends it.
    bool signalled = false;
};

ServerConnections::ServerConnections(RequestHandler onRequest, QObject *parent)
    : QObject(parent), m_onRequest(std::move(onRequest))
{
}

ServerConnections::~ServerConnections()
{
    qDeleteAll(m_connections);
}

void ServerConnections::flushReplies(const QDeadlineTimer &deadline)
{
    for (Connection *c : std::as_const(m_connections)) {
        while (c->fd >= 0 && c->written < c->out.size() && !deadline.hasExpired()) {
            const ssize_t n = ::send(c->fd, c->out.constData() + c->written,
                                     size_t(c->out.size() - c->written), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                c->written += n;
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{c->fd, POLLOUT, 0};
                ::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime())));
            } else {
                break;
            }
        }
    }
}

QByteArray ServerConnections::refusal(const QByteArray &request)
{
    if (request.size() > MaxRequestBytes)
        return "err\n";
    return QByteArray("err\n").repeated(ScriptProtocol::requestLines(request).size());
}

// Requests still collecting, and connections still in the listen queue,
// all read side by side and answered "err" once whole: a client never
// sees its connection reset because the program ended.
void ServerConnections::refuseWaiting(int listener, const QDeadlineTimer &deadline)
{
    struct Waiting
    {
        int fd;
        QByteArray in;
        QDeadlineTimer quiet;
        bool eof;
    };
    std::vector<Waiting> waiting;
    for (Connection *c : std::as_const(m_connections)) {
        if (c->state != Connection::Collecting || c->draining || c->fd < 0)
            continue;
        delete std::exchange(c->readNotifier, nullptr);
        c->quiet.stop();
        waiting.push_back({std::exchange(c->fd, -1), std::exchange(c->in, QByteArray()),
                           QDeadlineTimer(CollectMs), c->eof});
    }
    if (listener >= 0)
        ::fcntl(listener, F_SETFL, ::fcntl(listener, F_GETFL) | O_NONBLOCK);

    for (;;) {
        while (listener >= 0) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0 && errno == EINTR)
                continue;
            if (fd < 0)
                break;
            if (!fromOwnUser(fd)) {
                ::close(fd);
                continue;
            }
            waiting.push_back({fd, QByteArray(), QDeadlineTimer(CollectMs), false});
        }
        // Past the bound, whoever is still in the queue is left to the close.
        if (deadline.hasExpired())
            listener = -1;

        for (auto w = waiting.begin(); w != waiting.end();) {
            char buffer[64 * 1024];
            for (;;) {
                const ssize_t n = ::recv(w->fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0) {
                    if (w->in.size() <= MaxRequestBytes)
                        w->in.append(buffer, n);
                    w->quiet.setRemainingTime(CollectMs);
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                w->eof = w->eof || n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                break;
            }
            if (w->eof || endsAtOnce(w->in) || w->quiet.hasExpired() || deadline.hasExpired()) {
                const QByteArray answer = refusal(w->in);
                if (!answer.isEmpty())
                    ::send(w->fd, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
                ::close(w->fd);
                w = waiting.erase(w);
            } else {
                ++w;
            }
        }
        // Nobody left to answer and nobody new in the queue: done.
        if (waiting.empty()) {
            pollfd p{listener, POLLIN, 0};
            if (listener < 0 || ::poll(&p, 1, 0) <= 0)
                return;
            continue;
        }
        std::vector<pollfd> fds;
        qint64 wait = deadline.remainingTime();
        for (const Waiting &w : waiting) {
            fds.push_back({w.fd, POLLIN, 0});
            wait = qMin(wait, w.quiet.remainingTime());
        }
        if (listener >= 0)
            fds.push_back({listener, POLLIN, 0});
        ::poll(fds.data(), nfds_t(fds.size()), int(qMax<qint64>(0, wait)));
    }
}

void ServerConnections::accept(int fd)
{
    if (!fromOwnUser(fd)) {
        ::close(fd);
        return;
    }
    // The descriptor came with close-on-exec from the accept. It stays
    // blocking: every call on it says MSG_DONTWAIT, which spares two system
    // calls per request.
    auto *c = new Connection;
    c->fd = fd;
    c->quiet.setSingleShot(true);
    c->quiet.setInterval(CollectMs);
    connect(&c->quiet, &QTimer::timeout, c, [this, c] { onQuiet(c); });
    m_connections.append(c);
    // Most requests are whole by the time they are accepted: those are
    // served without a notifier or a timer to set up (each one wakes the
    // event loop).
    onReadable(c);
}

void ServerConnections::watchReads(Connection *c)
{
    if (c->readNotifier || c->eof)
        return;
    c->signalled = true;
    c->readNotifier = new QSocketNotifier(c->fd, QSocketNotifier::Read, c);
    connect(c->readNotifier, &QSocketNotifier::activated, c, [this, c] { onReadable(c); });
}

void ServerConnections::waitUntilWritable(Connection *c)
{
    if (!c->writeNotifier) {
        c->signalled = true;
        c->writeNotifier = new QSocketNotifier(c->fd, QSocketNotifier::Write, c);
        connect(c->writeNotifier, &QSocketNotifier::activated, c, [this, c] { onWritable(c); });
    }
    c->writeNotifier->setEnabled(true);
}

void ServerConnections::onReadable(Connection *c)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::recv(c->fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            if (c->state != Connection::Collecting || c->draining)
                continue;
            if (c->in.size() + n > MaxRequestBytes) {
                // Nothing of it runs; the client still reads its answer.
                c->draining = true;
                c->in.clear();
                c->in.squeeze();
                qCInfo(lcServer) << "refused a request over" << MaxRequestBytes << "bytes";
                reply(c, "err\n");
                if (!m_connections.contains(c))
                    return;
                continue;
            }
            c->in.append(buffer, n);
            // A read that took all there was and ended a line: the request
            // is whole, no need to ask again only to hear "nothing more".
            if (n < qsizetype(sizeof buffer) && endsAtOnce(c->in))
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // End of the client's data (a close or a half-close), or a reset.
        c->eof = true;
        c->broken = n < 0;
        if (c->readNotifier)
            c->readNotifier->setEnabled(false);
        break;
    }

    if (c->draining) {
        if (c->eof && c->written >= c->out.size()) {
            finish(c);
        } else if (!c->eof) {
            watchReads(c);
            c->quiet.start();
        }
        return;
    }
    if (c->state != Connection::Collecting)
        return;
    if (c->broken) {
        // An aborted client: half a line must not run.
        finish(c);
        return;
    }
    if (c->eof || endsAtOnce(c->in)) {
        markReady(c);
        return;
    }
    watchReads(c);
    c->quiet.start();
}

void ServerConnections::onQuiet(Connection *c)
{
    if (c->draining) {
        if (c->written >= c->out.size())
            finish(c);
        return;
    }
    if (c->state == Connection::Collecting)
        markReady(c);
}

void ServerConnections::markReady(Connection *c)
{
    c->quiet.stop();
    c->state = Connection::Queued;
    m_onRequest(c, std::exchange(c->in, QByteArray()));
}

void ServerConnections::reply(Connection *c, const QByteArray &bytes)
{
    c->state = Connection::Replying;
    c->out = bytes;
    c->written = 0;
    onWritable(c);
}

void ServerConnections::onWritable(Connection *c)
{
    while (c->written < c->out.size()) {
        const ssize_t n = ::send(c->fd, c->out.constData() + c->written, size_t(c->out.size() - c->written),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c->written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitUntilWritable(c);
            return;
        }
        // The client went away before its reply.
        c->written = c->out.size();
        c->eof = true;
    }
    if (c->writeNotifier)
        c->writeNotifier->setEnabled(false);
    // A refused request ends when its client stops sending.
    if (c->draining && !c->eof) {
        c->signalled = true;
        c->quiet.start(2000);
        return;
    }
    finish(c);
}

void ServerConnections::finish(Connection *c)
{
    m_connections.removeOne(c);
    if (c->readNotifier)
        c->readNotifier->setEnabled(false);
    if (c->writeNotifier)
        c->writeNotifier->setEnabled(false);
    c->quiet.stop();
    ::close(c->fd);
    c->fd = -1;
    // One of its notifiers or its timer may be the one delivering right
    // now. Without them nothing can: freed at once, it costs the event loop
    // no extra wake-up.
    if (c->signalled)
        c->deleteLater();
    else
        delete c;
}
