#include "link/scriptrunner.h"

#include "link/linklog.h"

#include <QProcess>

QByteArray ScriptRunner::run(const QByteArray &command) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(m_interpreter, {m_scriptPath, QString::fromLatin1(command)});
    if (!process.waitForStarted(TimeoutMs)) {
        qCWarning(lcLink) << "script interpreter" << m_interpreter
                          << "did not start:" << process.errorString();
        return QByteArray();
    }
    if (!process.waitForFinished(TimeoutMs)) {
        qCWarning(lcLink) << "script" << m_scriptPath << "did not finish in time";
        process.kill();
        process.waitForFinished(1000);
    }
    QByteArray reply = process.readAllStandardOutput();
    reply.replace('\r', QByteArray()).replace('\n', QByteArray());
    return reply;
}

bool ScriptRunner::exchange(const LinkRequest &request, LinkSink &sink)
{
    return answerEach(request, sink, [this](const QByteArray &command) {
        return run(QByteArray(command).replace('\n', QByteArray()));
    });
}
