#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

class MainApp;
class QLocalServer;
class QLocalSocket;
class QTimer;

// Lets other programs of the same user drive the application through a
// local socket: each connection carries one request of TAB-separated
// "set", "get" and "run" lines with typed values; the reply is written and
// the connection closed.
class LocalServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxRequestBytes = 1 << 20;
    static constexpr int CollectMs = 100;

    explicit LocalServer(MainApp *app, QObject *parent = nullptr);
    ~LocalServer() override;

    // The socket file for a server name: in $XDG_RUNTIME_DIR, private to
    // the user, or in the temporary directory without it.
    static QString socketPath(const QString &name);

    // Listens on the name. A socket left by a crashed run is replaced; a
    // live one asks the user for another name unless askOnConflict is false.
    bool start(const QString &name, bool askOnConflict = true);
    QString serverPath() const { return m_path; }
    QString errorText() const { return m_error; }
    void setLoggingOn(bool on) { loggingOn = on; }

    // Typed values: i integer, f real, s text, x bytes in hexadecimal.
    static QVariant decode(const QByteArray &field);
    static QByteArray encode(const QVariant &value);
    // Runs every line of one request and returns the reply.
    QByteArray processRequest(const QByteArray &request);

signals:
    void signal_log(int level, const QString &text);

private slots:
    void processConnection();

private:
    struct Pending
    {
        QByteArray request;
        QTimer *timer = nullptr;
    };

    bool isLive(const QString &path) const;
    bool listenOn(const QString &path);
    void collect(QLocalSocket *socket);
    void serve(QLocalSocket *socket);
    QByteArray processLine(const QByteArray &line);
    void log(const QByteArray &text);

    MainApp *m_app;
    bool loggingOn = false;
    QLocalServer *pipeServer = nullptr;
    QString m_path;
    QString m_error;
    QHash<QLocalSocket *, Pending> m_pending;
};
