#include "app/localserver.h"

#include "app/mainapp.h"

#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QTimer>

#include <cctype>

LocalServer::LocalServer(MainApp *app, QObject *parent) : QObject(parent), m_app(app) {}

LocalServer::~LocalServer()
{
    if (pipeServer)
        pipeServer->close();
}

QString LocalServer::socketPath(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')))
        return name;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString dir = runtime.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(runtime);
    return QDir(dir).filePath(name);
}

bool LocalServer::isLive(const QString &path) const
{
    QLocalSocket probe;
    probe.connectToServer(path);
    const bool live = probe.waitForConnected(500);
    probe.abort();
    return live;
}

bool LocalServer::listenOn(const QString &path)
{
    if (!pipeServer) {
        pipeServer = new QLocalServer(this);
        pipeServer->setSocketOptions(QLocalServer::UserAccessOption);
        pipeServer->setMaxPendingConnections(1);
        connect(pipeServer, &QLocalServer::newConnection, this, &LocalServer::processConnection);
    }
    // Only a socket nobody answers on is replaced: a crashed run left it.
    QLocalServer::removeServer(path);
    if (!pipeServer->listen(path)) {
        m_error = pipeServer->errorString();
        return false;
    }
    m_path = path;
    return true;
}

bool LocalServer::start(const QString &name, bool askOnConflict)
{
    QString path = socketPath(name);
    for (;;) {
        if (!isLive(path)) {
            if (listenOn(path))
                return true;
            if (askOnConflict)
                QMessageBox::critical(nullptr, QStringLiteral("Local server failed"),
                                      QStringLiteral("Unable to start interprocess server: \n%1.").arg(m_error),
                                      QMessageBox::Ok);
            return false;
        }
        m_error = QStringLiteral("another program serves %1").arg(path);
        if (!askOnConflict)
            return false;
        const auto answer = QMessageBox::question(
            nullptr, QString(), QStringLiteral("Pipe is already used by another software\nUse another pipename?(Yes)"),
            QMessageBox::Yes | QMessageBox::Abort);
        if (answer != QMessageBox::Yes)
            return false;
        bool ok = false;
        const QString other = QInputDialog::getText(nullptr, QString(), QStringLiteral("Pipename"),
                                                    QLineEdit::Normal, QString(), &ok);
        if (ok && !other.isEmpty())
            path = socketPath(other);
    }
}

void LocalServer::processConnection()
{
    while (QLocalSocket *socket = pipeServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
        Pending &pending = m_pending[socket];
        // Whatever arrived within the collection time is served, line end or not.
        pending.timer = new QTimer(socket);
        pending.timer->setSingleShot(true);
        connect(pending.timer, &QTimer::timeout, this, [this, socket] { serve(socket); });
        pending.timer->start(CollectMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { collect(socket); });
        collect(socket);
    }
}

void LocalServer::collect(QLocalSocket *socket)
{
    auto it = m_pending.find(socket);
    if (it == m_pending.end())
        return;
    it->request += socket->readAll();
    if (it->request.size() > MaxRequestBytes) {
        m_pending.erase(it);
        socket->write("err\n");
        socket->flush();
        socket->disconnectFromServer();
        return;
    }
    if (it->request.contains('\n'))
        serve(socket);
}

void LocalServer::serve(QLocalSocket *socket)
{
    auto it = m_pending.find(socket);
    if (it == m_pending.end())
        return;
    const QByteArray request = it->request;
    it->timer->stop();
    m_pending.erase(it);
    const QByteArray response = request.isEmpty() ? QByteArray() : processRequest(request);
    log(response);
    if (socket->state() == QLocalSocket::ConnectedState) {
        socket->write(response);
        socket->flush();
        socket->disconnectFromServer();
    }
}

QByteArray LocalServer::processRequest(const QByteArray &request)
{
    QByteArray text = request;
    text.replace('\r', QByteArray());
    QByteArray response;
    QByteArray last;
    for (const QByteArray &line : text.split('\n')) {
        if (line == last || line.trimmed().isEmpty())
            continue;
        log(line);
        response += processLine(line);
        last = line;
    }
    return response;
}

namespace {

QString textUpToNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul >= 0 ? bytes.left(nul) : bytes);
}

} // namespace

QByteArray LocalServer::processLine(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split('\t');
    const QByteArray &word = fields.at(0);
    if (fields.size() < 2)
        return "err\n";
    const QString name = textUpToNul(fields.at(1));
    if (word == "set" && fields.size() == 3) {
        QVariant value = decode(fields.at(2));
        return m_app->set(name, value) ? "ok\n" : "err\n";
    }
    if (word == "get" && fields.size() == 2) {
        QVariant result;
        return m_app->get(name, &result) ? encode(result) : "err\n";
    }
    if (word == "run") {
        QVariant value;
        if (fields.size() == 3) {
            value = decode(fields.at(2));
        } else if (fields.size() > 3) {
            QVariantList list;
            for (int i = 2; i < fields.size(); ++i)
                list.append(decode(fields.at(i)));
            value = list;
        }
        QVariant result;
        return m_app->run(name, value, &result) ? encode(result) : "err\n";
    }
    return "err\n";
}

QVariant LocalServer::decode(const QByteArray &field)
{
    if (field.isEmpty())
        return QVariant();
    const QByteArray rest = field.mid(1);
    switch (field.at(0)) {
    case 'i':
        return rest.toInt();
    case 'f':
        return rest.toDouble();
    case 's':
        return textUpToNul(rest);
    case 'x': {
        QByteArray digits;
        for (char c : rest) {
            if (std::isxdigit(static_cast<unsigned char>(c)))
                digits += c;
        }
        return QByteArray::fromHex(digits);
    }
    default:
        return QVariant();
    }
}

QByteArray LocalServer::encode(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? "i1" : "i0";
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return 'i' + value.toString().toLatin1();
    case QMetaType::Double:
        return 'f' + QByteArray::number(value.toDouble(), 'g', 15);
    case QMetaType::QString:
        return 's' + value.toString().toLatin1();
    case QMetaType::QByteArray:
        return 'x' + value.toByteArray().toHex();
    default:
        return QByteArray();
    }
}

void LocalServer::log(const QByteArray &text)
{
    if (!loggingOn || text.isEmpty())
        return;
    QString shown = QString::fromLatin1(text);
    shown.replace(QLatin1Char('\t'), QLatin1Char(' '));
    emit signal_log(110, shown);
}
