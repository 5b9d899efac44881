#include "link/mockupresponder.h"

#include <QList>

int MockUpResponder::next()
{
    m_state = m_state * 1103515245u + 12345u;
    return int((m_state / 65536u) % 32768u);
}

QByteArray MockUpResponder::reply(const QByteArray &command)
{
    QByteArray out;
    if (!command.contains("set")) {
        QByteArray text = command;
        text.replace("get ", "").replace("\n", "");
        const QList<QByteArray> words = text.trimmed().split(' ');
        for (const QByteArray &w : words) {
            int r = next();
            if (w.contains("DIO"))
                r = 0;
            else if (w.contains("AIN"))
                r %= 1023;
            out += ' ' + w + '=' + QByteArray::number(r);
        }
        return out.trimmed();
    }
    QByteArray text = command;
    text.replace("set ", "").replace("\n", "");
    const QList<QByteArray> words = text.trimmed().split(' ');
    for (const QByteArray &w : words) {
        const int eq = w.indexOf('=');
        out += (eq >= 0 ? w.left(eq) : w) + ":ok ";
    }
    return out;
}

bool MockUpResponder::exchange(const LinkRequest &request, LinkSink &sink)
{
    return answerEach(request, sink, [this](const QByteArray &command) { return reply(command); });
}
