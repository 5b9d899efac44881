#pragma once

#include "link/bytering.h"

#include <QByteArray>
#include <QList>

// Keeps the board's replies straight, from the bytes alone: it knows no
// port and no clock (times come in as milliseconds on the caller's clock).
// A command that timed out leaves its reply lines owed; before the next
// command goes out they are read and dropped, and while they may still
// come nothing unasked is thrown away. Until a command is answered in full,
// a "get" or "set" reply that does not name what its line asked is not
// taken. The time-out of a reply is on the silence between its lines.
// Used only by the port's holder.
class ReplyFramer
{
public:
    enum class Drop
    {
        // Nothing (yet) to drop.
        None,
        // An owed line, dropped.
        Line,
        // A line longer than the queue lost its end: dropped whole.
        Overflow
    };
    enum class Reply
    {
        None,
        // The next line of the reply.
        Line,
        // An old answer that does not answer this line: not taken.
        Late
    };

    ReplyFramer(int capacity, int silenceMs);

    // Bytes from the board. ACKs still due to presence checks that gave way
    // are no reply text and are taken out.
    void feed(QByteArray bytes);
    void oweAck() { ++m_acksOwed; }
    // Forgets everything: a closed link, a restarted board.
    void reset();
    // Drops what is buffered, owed lines are still owed.
    void clearBuffer() { m_queue.clear(); }
    // Before a command goes out: bytes that came unasked are not its reply,
    // unless they may be the owed lines.
    void dropUnasked();

    int owedLines() const { return m_owed; }
    Drop dropOwed(QByteArray *line);
    // How long to wait for owed lines still: silence counts from the last
    // byte (lastByteMs), but not from before the command that owes them.
    // Negative once the board has been silent for the presence time.
    qint64 owedWaitMs(qint64 nowMs, qint64 lastByteMs) const;
    void forgiveOwed() { m_owed = 0; }

    // A command of lines (line end added) goes out; limitMs is the silence
    // allowed before each reply line.
    void begin(const QByteArray &out, int limitMs, qint64 nowMs);
    Reply next(QByteArray *line, qint64 nowMs);
    // Time left for the next reply line; 0 or less: timed out.
    qint64 replyWaitMs(qint64 nowMs) const { return m_limit - (nowMs - m_lastLineMs); }
    bool complete() const { return m_received >= m_lines; }
    // Every line came and none reported an error.
    bool succeeded() const { return complete() && m_good == m_received; }
    QByteArray lastLine() const { return m_last; }
    // The reply is over: what did not come is owed, before any later reply.
    void end(qint64 nowMs);
    // Sent without waiting for the answer (time-out 0): all of it is owed.
    void oweAll(const QByteArray &out, qint64 nowMs);

    // Whether a reply line can be the answer to a "get"/"set" line: it names
    // what the line asked for, or reports an error.
    static bool answers(const QByteArray &reply, const QByteArray &commandLine);
    static int lineCount(const QByteArray &out) { return int(out.count('\n')); }

private:
    ByteRing m_queue;
    const int m_silenceMs;
    int m_acksOwed = 0;
    int m_owed = 0;
    qint64 m_owedSinceMs = 0;
    // Set by a time-out, cleared by a reply in full.
    bool m_suspect = false;

    int m_lines = 0;
    int m_received = 0;
    int m_good = 0;
    int m_limit = 0;
    qint64 m_lastLineMs = 0;
    QList<QByteArray> m_sent;
    QByteArray m_last;
};
