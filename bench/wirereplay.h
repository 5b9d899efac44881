#pragma once

// What the application wrote to its board, write for write, and a client
// that plays the same writes on a board of its own with nothing around them.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

struct WireStep
{
    enum class Answer
    {
        // One reply line for every line of the write.
        Lines,
        // The presence check: the board answers ACK.
        Ack,
        // A speed change: the board answers nothing.
        Nothing
    };
    QByteArray bytes;
    Answer answer = Answer::Lines;
    int lines = 0;

    bool operator==(const WireStep &other) const
    {
        return bytes == other.bytes && answer == other.answer && lines == other.lines;
    }
};

// heard: the lines the board received, as its transcript writes them
// ("<ENQ>" for the control byte); commands: what the link logged as sent,
// in order, one write each. Whatever else the board heard went out beside
// the link's commands: the presence check's ENQ or a speed change. False,
// with the reason, when the two do not fit together.
bool planReplay(const QStringList &heard, const QList<QByteArray> &commands, QList<WireStep> *steps,
                QString *error);

// A simulated board on a modelled line, recording what it hears; its
// terminal's path, or empty.
QString startWireSim(QProcess &sim, int latencyMs, const QString &transcript);
// Ends a simulated board started for a benchmark.
void stopSim(QProcess &sim);
// Rounds of a measurement on a line of that latency: fewer where a round
// trip costs tens of milliseconds. HQL_BENCH_ROUNDS sets them for a
// profiler's run.
int roundsFor(int latencyMs, int slowLineRounds, int fastLineRounds);

// The lines in a board's transcript from line 'from' on.
QStringList transcriptLines(const QString &path, int from = 0);
// The lines without the board's round-trip marks, which tell how the
// writes fell and may fall otherwise on another run.
QStringList withoutMarks(QStringList lines);
// Waits until the board has heard line, from line 'from' of its transcript
// on: what is still on a modelled line reaches the board later than its
// writer lets go of it. The number of lines heard by then, or -1.
int waitForLine(const QString &path, int from, const QString &line, int timeoutMs = 5000);

// Plays steps on a terminal: each write, then its answer awaited, as the
// application waits for it, and no more.
class ReplayClient
{
public:
    ReplayClient() = default;
    ~ReplayClient() { close(); }
    ReplayClient(const ReplayClient &) = delete;
    ReplayClient &operator=(const ReplayClient &) = delete;

    // Raw 8-N-1 at 115200, as the application opens it.
    bool open(const QString &path);
    void close();
    bool play(const QList<WireStep> &steps);

private:
    bool writeAll(const QByteArray &bytes);
    // Reads until the buffer holds what the step waits for, then drops it.
    bool await(const WireStep &step);

    int m_fd = -1;
    QByteArray m_buffer;
};
