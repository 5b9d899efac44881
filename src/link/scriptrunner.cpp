#include "link/scriptrunner.h"

#include "link/controlboard.h"
#include "link/linklog.h"
#include "util/bytes.h"

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
    *request.replies = QList<LinkReply>(request.commands.size());
    PortLease lease(*request.port, request.portDeadline, request.ticket);
    if (!lease.held())
        return sink.portRefused(lease.timedOut(), request.portWaitMs);
    QList<QByteArray> answers;
    for (const LinkCommand &command : request.commands)
        answers.append(run(QByteArray(command.text).replace('\n', QByteArray())));
    lease.release();
    for (qsizetype i = 0; i < answers.size(); ++i) {
        if (i > 0)
            sink.log(ControlBoard::TX, upToNul(request.commands.at(i).text));
        sink.log(ControlBoard::RX, answers.at(i));
        (*request.replies)[i] = {answers.at(i), true};
    }
    return true;
}
