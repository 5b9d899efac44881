#include "link/replyframer.h"

#include "link/handshake.h"

#include <QtGlobal>

ReplyFramer::ReplyFramer(int capacity, int silenceMs) : m_queue(capacity), m_silenceMs(silenceMs) {}

void ReplyFramer::feed(QByteArray bytes)
{
    while (m_acksOwed > 0) {
        const qsizetype at = bytes.indexOf(Handshake::ACK);
        if (at < 0)
            break;
        bytes.remove(at, 1);
        --m_acksOwed;
    }
    m_queue.write(bytes);
}

void ReplyFramer::reset()
{
    m_queue.clear();
    m_acksOwed = 0;
    m_owed = 0;
    m_suspect = false;
}

void ReplyFramer::dropUnasked()
{
    if (m_owed == 0)
        m_queue.clear();
}

ReplyFramer::Drop ReplyFramer::dropOwed(QByteArray *line)
{
    if (m_owed == 0)
        return Drop::None;
    bool found = false;
    *line = m_queue.readLine(found);
    if (found) {
        --m_owed;
        return Drop::Line;
    }
    if (m_queue.isFull()) {
        m_queue.clear();
        --m_owed;
        return Drop::Overflow;
    }
    return Drop::None;
}

qint64 ReplyFramer::owedWaitMs(qint64 nowMs, qint64 lastByteMs) const
{
    const qint64 silent = nowMs - qMax(lastByteMs, m_owedSinceMs);
    if (silent > m_silenceMs)
        return -1;
    return m_silenceMs - silent + 1;
}

void ReplyFramer::begin(const QByteArray &out, int limitMs, qint64 nowMs)
{
    m_lines = lineCount(out);
    m_received = 0;
    m_good = 0;
    m_limit = limitMs;
    m_lastLineMs = nowMs;
    m_sent = m_suspect ? out.split('\n') : QList<QByteArray>();
    m_last.clear();
}

ReplyFramer::Reply ReplyFramer::next(QByteArray *line, qint64 nowMs)
{
    bool found = false;
    *line = m_queue.readLine(found);
    if (!found)
        return Reply::None;
    m_lastLineMs = nowMs;
    // After a time-out a slow board's old answers may still come: one that
    // does not answer this line is not taken for its reply.
    if (m_suspect && !answers(*line, m_sent.value(m_received)))
        return Reply::Late;
    m_last = *line;
    if (!line->contains("err"))
        ++m_good;
    ++m_received;
    return Reply::Line;
}

void ReplyFramer::end(qint64 nowMs)
{
    if (m_received < m_lines) {
        m_owed += m_lines - m_received;
        m_owedSinceMs = nowMs;
        m_suspect = true;
    } else {
        m_suspect = false;
    }
}

void ReplyFramer::oweAll(const QByteArray &out, qint64 nowMs)
{
    m_owed += lineCount(out);
    m_owedSinceMs = nowMs;
}

bool ReplyFramer::answers(const QByteArray &reply, const QByteArray &commandLine)
{
    if (reply.contains("err"))
        return true;
    const bool get = commandLine.startsWith("get ");
    if (!get && !commandLine.startsWith("set "))
        return true;
    qsizetype end = 4;
    while (end < commandLine.size() && commandLine.at(end) != ' ' && commandLine.at(end) != '=')
        ++end;
    const QByteArray name = commandLine.mid(4, end - 4);
    return reply.contains(name + (get ? '=' : ':'));
}
