#pragma once

// The real application and its scripting client as child processes, for
// whole-program tests. The test target defines HQL_APP_PATH and HQL_CTL_PATH.

#include "app/localserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The application, headless unless told otherwise, in a scratch working
// directory, serving its own socket name.
class AppProcess
{
public:
    explicit AppProcess(const QString &pipe, const QStringList &extra = {}, bool headless = true)
    {
        m_process.setWorkingDirectory(m_dir.path());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QStringList args{"--pipe", pipe};
        if (headless)
            args.prepend("--headless");
        m_process.start(QStringLiteral(HQL_APP_PATH), args + extra);
        m_path = LocalServer::socketPath(pipe);
    }
    ~AppProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    AppProcess(const AppProcess &) = delete;
    AppProcess &operator=(const AppProcess &) = delete;

    // The socket answers (a file left by an earlier run may already be there).
    bool waitReady() const
    {
        return QTest::qWaitFor(
            [this] {
                QLocalSocket probe;
                probe.connectToServer(m_path);
                return probe.waitForConnected(100);
            },
            10000);
    }
    // Everything the program wrote so far (stdout and stderr merged).
    QByteArray output()
    {
        m_output += m_process.readAll();
        return m_output;
    }

    QProcess m_process;
    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_output;
};

struct CtlReply
{
    int status;
    QByteArray out;
};

inline CtlReply runCtl(const QString &pipe, const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess p;
    p.start(QStringLiteral(HQL_CTL_PATH), QStringList{"--pipe", pipe} + args);
    p.waitForStarted();
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return {p.exitCode(), p.readAllStandardOutput()};
}

inline QString uniquePipe(const char *what)
{
    return QStringLiteral("hql3318-e2e-%1-%2").arg(QCoreApplication::applicationPid()).arg(what);
}
