#include "app/localserver.h"

#include "protocol/scriptprotocol.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QFile>
#include <QInputDialog>
#include <QLocalServer>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcServer, "hql.server", QtInfoMsg)

namespace {

// A request this small that ends a line came from one write: it is whole.
bool endsAtOnce(const QByteArray &in)
{
    return in.endsWith('\n') && in.size() <= LocalServer::AtOnceBytes;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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

// The descriptors of accepted connections are ours: QLocalSocket would take
// a client's half-close for a disconnect and could free itself inside a
// request's message box.
class LocalServer::Listener : public QLocalServer
{
public:
    explicit Listener(LocalServer *owner) : QLocalServer(owner), m_owner(owner) {}

protected:
    void incomingConnection(quintptr socketDescriptor) override { m_owner->accept(int(socketDescriptor)); }

private:
    LocalServer *m_owner;
};

struct LocalServer::Connection : QObject
{
    enum State
    {
        Collecting,
        Queued,
        Serving,
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

LocalServer::LocalServer(LocalServerHost *host, QObject *parent) : QObject(parent), m_host(host) {}

LocalServer::~LocalServer()
{
    stopServing();
    const QDeadlineTimer deadline(1000);
    // Nobody finds the socket any more; whoever already connected is
    // answered, not reset.
    if (!m_path.isEmpty() && pipeServer && pipeServer->isListening())
        ::unlink(QFile::encodeName(m_path).constData());
    refuseWaiting(deadline);
    // What was answered reaches its client.
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
    qDeleteAll(m_connections);
    m_connections.clear();
    if (pipeServer)
        pipeServer->close();
    release();
}

void LocalServer::stopServing()
{
    if (m_stopped)
        return;
    m_stopped = true;
    for (Connection *c : std::exchange(m_ready, {}))
        reply(c, refusal(std::exchange(c->in, QByteArray())));
}

QByteArray LocalServer::refusal(const QByteArray &request)
{
    if (request.size() > MaxRequestBytes)
        return "err\n";
    return QByteArray("err\n").repeated(ScriptProtocol::requestLines(request).size());
}

// Requests still collecting, and connections still in the listen queue,
// all read side by side and answered "err" once whole: a client never
// sees its connection reset because the program ended.
void LocalServer::refuseWaiting(const QDeadlineTimer &deadline)
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
    int listener = pipeServer && pipeServer->isListening() ? int(pipeServer->socketDescriptor()) : -1;
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

QString LocalServer::socketPath(const QString &name)
{
    return ScriptProtocol::socketPath(name);
}

LocalServer::Liveness LocalServer::probe(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st = {};
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT ? NoSocket : NotASocket;
    if (!S_ISSOCK(st.st_mode))
        return NotASocket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(native.size()) >= sizeof address.sun_path)
        return NotASocket;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return LiveSocket;
    const int r = ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    const int error = errno;
    ::close(probe);
    if (r == 0)
        return LiveSocket;
    // A refused connect is a socket nobody listens on; a full backlog
    // (EAGAIN) or a foreign owner still means somebody holds it.
    if (error == ECONNREFUSED)
        return DeadSocket;
    if (error == ENOENT)
        return NoSocket;
    return LiveSocket;
}

// The lock beside the socket is held as long as the process lives, so a
// busy instance (its backlog full, its thread in a long request) is never
// mistaken for a crashed one.
bool LocalServer::claim(const QString &path)
{
    const QString lockPath = path + QLatin1String(".lock");
    const QByteArray nativeLock = QFile::encodeName(lockPath);
    int fd = -1;
    for (int attempt = 0; attempt < 5 && fd < 0; ++attempt) {
        fd = ::open(nativeLock.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            m_error = QStringLiteral("cannot open %1: %2").arg(lockPath, errnoText(errno));
            m_inUse = false;
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            m_inUse = error == EWOULDBLOCK;
            m_error = m_inUse ? QStringLiteral("another program serves %1").arg(path)
                              : QStringLiteral("cannot lock %1: %2").arg(lockPath, errnoText(error));
            return false;
        }
        // An instance that just stopped removed the file this lock is on.
        struct stat held
        {
        }, named{};
        if (::fstat(fd, &held) != 0 || ::stat(nativeLock.constData(), &named) != 0 ||
            held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        m_error = QStringLiteral("cannot hold the lock %1").arg(lockPath);
        m_inUse = false;
        return false;
    }

    m_inUse = false;
    switch (probe(path)) {
    case LiveSocket:
        m_inUse = true;
        m_error = QStringLiteral("another program serves %1").arg(path);
        ::close(fd);
        return false;
    case NotASocket:
        m_error = QStringLiteral("%1 exists and is not a socket; it was left alone").arg(path);
        ::close(fd);
        return false;
    case DeadSocket:
        // Left by a crashed run: nobody holds the lock or answers on it.
        ::unlink(QFile::encodeName(path).constData());
        break;
    case NoSocket: break;
    }

    if (!pipeServer) {
        pipeServer = new Listener(this);
        pipeServer->setSocketOptions(QLocalServer::UserAccessOption);
    }
    if (!pipeServer->listen(path)) {
        m_error = pipeServer->errorString();
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    m_lockPath = lockPath;
    m_path = path;
    return true;
}

void LocalServer::release()
{
    if (m_lockFd < 0)
        return;
    // Removed while still held: whoever locks the old file next sees it is gone.
    ::unlink(QFile::encodeName(m_lockPath).constData());
    ::close(m_lockFd);
    m_lockFd = -1;
}

bool LocalServer::start(const QString &name, bool askOnConflict)
{
    QString current = name;
    for (;;) {
        const QString path = socketPath(current);
        if (ScriptProtocol::checkPlace(current, true, &m_error) && claim(path))
            return true;
        if (!m_inUse) {
            if (askOnConflict)
                QMessageBox::critical(
                    nullptr, QStringLiteral("Local server failed"),
                    QStringLiteral("Unable to start interprocess server: \n%1.").arg(m_error),
                    QMessageBox::Ok);
            return false;
        }
        if (!askOnConflict)
            return false;
        const auto answer = QMessageBox::question(
            nullptr, QString(),
            QStringLiteral("Pipe is already used by another software\nUse another pipename?(Yes)"),
            QMessageBox::Yes | QMessageBox::Abort);
        if (answer != QMessageBox::Yes)
            return false;
        bool ok = false;
        const QString other = QInputDialog::getText(nullptr, QString(), QStringLiteral("Pipename"),
                                                    QLineEdit::Normal, QString(), &ok);
        if (ok && !other.isEmpty())
            current = other;
    }
}

void LocalServer::accept(int fd)
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

void LocalServer::watchReads(Connection *c)
{
    if (c->readNotifier || c->eof)
        return;
    c->signalled = true;
    c->readNotifier = new QSocketNotifier(c->fd, QSocketNotifier::Read, c);
    connect(c->readNotifier, &QSocketNotifier::activated, c, [this, c] { onReadable(c); });
}

void LocalServer::waitUntilWritable(Connection *c)
{
    if (!c->writeNotifier) {
        c->signalled = true;
        c->writeNotifier = new QSocketNotifier(c->fd, QSocketNotifier::Write, c);
        connect(c->writeNotifier, &QSocketNotifier::activated, c, [this, c] { onWritable(c); });
    }
    c->writeNotifier->setEnabled(true);
}

void LocalServer::onReadable(Connection *c)
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

void LocalServer::onQuiet(Connection *c)
{
    if (c->draining) {
        if (c->written >= c->out.size())
            finish(c);
        return;
    }
    if (c->state == Connection::Collecting)
        markReady(c);
}

void LocalServer::markReady(Connection *c)
{
    c->quiet.stop();
    if (m_stopped) {
        reply(c, refusal(std::exchange(c->in, QByteArray())));
        return;
    }
    c->state = Connection::Queued;
    m_ready.append(c);
    serveQueued();
}

bool LocalServer::needsBoard(const QByteArray &request)
{
    for (const QByteArray &line : ScriptProtocol::requestLines(request)) {
        const ScriptProtocol::Call call = ScriptProtocol::parseLine(line);
        const bool global = call.name.split(QLatin1Char('.')).size() != 2;
        const QString name = call.name.toLower();
        const bool free =
            call.kind == ScriptProtocol::Call::Invalid ||
            (global && (call.kind == ScriptProtocol::Call::Get || call.kind == ScriptProtocol::Call::Set ||
                        name == QLatin1String("functions") || name == QLatin1String("parameters")));
        if (!free)
            return true;
    }
    return false;
}

void LocalServer::resume()
{
    QTimer::singleShot(0, this, &LocalServer::serveQueued);
}

void LocalServer::serveQueued()
{
    if (m_serving)
        return;
    while (!m_ready.isEmpty()) {
        // Inside a wait, a box or a dialog the GUI thread belongs to someone
        // else: the request waits until that loop has returned.
        if (QThread::currentThread()->loopLevel() > m_serveDepth) {
            serveWhenBack();
            return;
        }
        // While a firmware download has the board, requests for the board
        // wait in their order (resume() brings them back); ones that only
        // ask the application go ahead.
        qsizetype next = 0;
        if (m_host->isBoardReserved()) {
            while (next < m_ready.size() && needsBoard(m_ready.at(next)->in))
                ++next;
            if (next == m_ready.size())
                return;
        }
        Connection *c = m_ready.takeAt(next);
        c->state = Connection::Serving;
        const QByteArray request = std::exchange(c->in, QByteArray());
        m_serving = true;
        const QByteArray response = request.isEmpty() ? QByteArray() : processRequest(request);
        m_serving = false;
        log(response);
        reply(c, response);
    }
}

void LocalServer::serveWhenBack()
{
    if (m_waitingForLoop)
        return;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    m_waitingForLoop = true;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this, connection] {
        if (QThread::currentThread()->loopLevel() > m_serveDepth)
            return;
        disconnect(*connection);
        m_waitingForLoop = false;
        QTimer::singleShot(0, this, &LocalServer::serveQueued);
    });
}

void LocalServer::reply(Connection *c, const QByteArray &bytes)
{
    c->state = Connection::Replying;
    c->out = bytes;
    c->written = 0;
    onWritable(c);
}

void LocalServer::onWritable(Connection *c)
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

void LocalServer::finish(Connection *c)
{
    m_connections.removeOne(c);
    m_ready.removeOne(c);
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

QByteArray LocalServer::processRequest(const QByteArray &request)
{
    m_requestError.clear();
    m_inRequest = true;
    QByteArray response;
    for (const QByteArray &line : ScriptProtocol::requestLines(request)) {
        log(line);
        response += processLine(line);
    }
    m_inRequest = false;
    m_previousError = std::exchange(m_requestError, QString());
    return response;
}

void LocalServer::slot_errorLogged(const QString &text)
{
    if (!m_inRequest)
        return;
    // One line of plain text, whatever the log window makes of it.
    QString plain = Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
    for (const QChar end :
         {QChar(u'\r'), QChar(u'\n'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)})
        plain.replace(end, QLatin1Char(' '));
    m_requestError = plain.trimmed();
}

QByteArray LocalServer::processLine(const QByteArray &line)
{
    ScriptProtocol::Call call = ScriptProtocol::parseLine(line);
    QVariant result;
    switch (call.kind) {
    case ScriptProtocol::Call::Set: return m_host->set(call.name, call.value) ? "ok\n" : "err\n";
    case ScriptProtocol::Call::Get: return m_host->get(call.name, &result) ? encode(result) : "err\n";
    case ScriptProtocol::Call::Run:
        return m_host->run(call.name, call.value, &result) ? encode(result) : "err\n";
    case ScriptProtocol::Call::Invalid: break;
    }
    return "err\n";
}

QVariant LocalServer::decode(const QByteArray &field)
{
    return ScriptProtocol::decode(field);
}

QByteArray LocalServer::encode(const QVariant &value)
{
    return ScriptProtocol::encode(value);
}

void LocalServer::log(const QByteArray &text)
{
    if (!loggingOn || text.isEmpty())
        return;
    QString shown = QString::fromLatin1(text);
    shown.replace(QLatin1Char('\t'), QLatin1Char(' '));
    emit signal_log(110, shown);
}
