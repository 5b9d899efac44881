#include "link/scriptrunner.h"

#include "link/linklog.h"

QByteArray ScriptRunner::run(const QString &interpreter, const QString &scriptPath, const QByteArray &command)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(interpreter, {scriptPath, QString::fromLatin1(command)});
    if (!m_process.waitForStarted(TimeoutMs)) {
        qCWarning(lcLink) << "script interpreter" << interpreter
                          << "did not start:" << m_process.errorString();
        return QByteArray();
    }
    if (!m_process.waitForFinished(TimeoutMs)) {
        qCWarning(lcLink) << "script" << scriptPath << "did not finish in time";
        m_process.kill();
        m_process.waitForFinished(1000);
    }
    QByteArray reply = m_process.readAllStandardOutput();
    reply.replace('\r', QByteArray()).replace('\n', QByteArray());
    return reply;
}
