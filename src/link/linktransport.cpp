#include "link/linktransport.h"

#include "link/controlboard.h"
#include "util/bytes.h"

bool LinkTransport::answerEach(const LinkRequest &request, LinkSink &sink,
                               const std::function<QByteArray(const QByteArray &command)> &answer)
{
    *request.replies = QList<LinkReply>(request.commands.size());
    PortLease lease(*request.port, request.portDeadline, request.ticket);
    if (!lease.held())
        return sink.portRefused(lease.timedOut(), request.portWaitMs);
    QList<QByteArray> answers;
    for (const LinkCommand &command : request.commands)
        answers.append(answer(command.text));
    lease.release();
    for (qsizetype i = 0; i < answers.size(); ++i) {
        if (i > 0)
            sink.log(ControlBoard::TX, upToNul(request.commands.at(i).text));
        sink.log(ControlBoard::RX, answers.at(i));
        (*request.replies)[i] = {answers.at(i), true};
    }
    return true;
}
