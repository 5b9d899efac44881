#include "app/localserver.h"

#include "app/serverconnections.h"
#include "protocol/scriptprotocol.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QInputDialog>
#include <QLocalServer>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPointer>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcServer, "hql.server", QtInfoMsg)

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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

LocalServer::LocalServer(LocalServerHost *host, QObject *parent)
    : QObject(parent), m_host(host),
      m_connections(new ServerConnections(
          [this](Connection *c, QByteArray request) { markReady(c, std::move(request)); }, this))
{
}

LocalServer::~LocalServer()
{
    stopServing();
    const QDeadlineTimer deadline(1000);
    // Nobody finds the socket any more; whoever already connected is
    // answered, not reset.
    if (!m_path.isEmpty() && pipeServer && pipeServer->isListening())
        ::unlink(QFile::encodeName(m_path).constData());
    m_connections->refuseWaiting(
        pipeServer && pipeServer->isListening() ? int(pipeServer->socketDescriptor()) : -1, deadline);
    m_connections->flushReplies(deadline);
    delete std::exchange(m_connections, nullptr);
    if (pipeServer)
        pipeServer->close();
    release();
}

void LocalServer::stopServing()
{
    if (m_stopped)
        return;
    m_stopped = true;
    for (const Queued &q : std::exchange(m_ready, {}))
        m_connections->reply(q.connection, ServerConnections::refusal(q.request));
}

void LocalServer::accept(int fd)
{
    m_connections->accept(fd);
}

void LocalServer::markReady(Connection *c, QByteArray request)
{
    if (m_stopped) {
        m_connections->reply(c, ServerConnections::refusal(request));
        return;
    }
    m_ready.append({c, std::move(request)});
    serveQueued();
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
        // else: the request waits until that loop has returned; behind a
        // board action that waits for its answer, until the action is over.
        if (m_host->isWaitingForBoard()) {
            if (!m_afterWait) {
                m_afterWait = true;
                m_host->afterBoardWait([server = QPointer<LocalServer>(this)] {
                    if (!server)
                        return;
                    server->m_afterWait = false;
                    server->serveQueued();
                });
            }
            return;
        }
        if (QThread::currentThread()->loopLevel() > m_serveDepth) {
            serveWhenBack();
            return;
        }
        // While a firmware download has the board, requests for the board
        // wait in their order (resume() brings them back); ones that only
        // ask the application go ahead.
        qsizetype next = 0;
        if (m_host->isBoardReserved()) {
            while (next < m_ready.size() && needsBoard(m_ready.at(next).request))
                ++next;
            if (next == m_ready.size())
                return;
        }
        const Queued q = m_ready.takeAt(next);
        const QByteArray &request = q.request;
        m_serving = true;
        const QByteArray response = request.isEmpty() ? QByteArray() : processRequest(request);
        m_serving = false;
        log(response);
        m_connections->reply(q.connection, response);
    }
}

void LocalServer::serveWhenBack()
{
    m_loopReturn.call([this] { return QThread::currentThread()->loopLevel() <= m_serveDepth; },
                      [this] { serveQueued(); });
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
