#pragma once

#include <QList>
#include <QMutex>
#include <QPair>
#include <QQueue>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <memory>

class ToneSink;

// Plays beep sequences, each an ordered list of (frequency in Hz, duration
// in ms) pairs, one after another on a thread of its own. The process shares
// one player (play()); a run of errors queues at most MaxWaiting sequences
// behind the one playing and drops the rest, so it never piles up threads or
// sound. Without a sound device every sequence is dropped at once.
class Beeper : public QThread
{
    Q_OBJECT

public:
    using Sequence = QList<QPair<int, int>>;

    static constexpr int MaxWaiting = 4;
    // The range the platform beep accepts; a pair outside it is not sounded.
    static constexpr int MinFrequency = 37;
    static constexpr int MaxFrequency = 32767;
    static constexpr int StopTimeoutMs = 2000;
    static constexpr const char *ErrorSequence = "1000:100;1200:200;2000:100";

    // A null sink plays nothing.
    explicit Beeper(std::unique_ptr<ToneSink> sink, QObject *parent = nullptr);
    ~Beeper() override;

    // Pairs "frequency:duration" separated by ";". False (nothing to play)
    // when a part does not split into exactly two pieces at ':' or when a
    // number of the last pair is no decimal integer; a number of an earlier
    // pair that is none becomes 0.
    static bool parse(const QString &sequence, Sequence *pairs);
    // Parses and hands the sequence to the shared player without waiting;
    // true when it was taken.
    static bool play(const QString &sequence);
    // The shared player, made on first use and stopped when the application
    // object goes.
    static Beeper *shared();

    // False when MaxWaiting sequences already wait or the player stopped.
    bool enqueue(const Sequence &pairs);
    int waiting() const;
    // True once nothing waits or plays; false when the time ran out first.
    bool waitIdle(int timeoutMs);
    // Drops what waits, cuts the tone in progress short and ends the thread.
    void stop();

protected:
    void run() override;

private:
    void playSequence(const Sequence &pairs);

    std::unique_ptr<ToneSink> m_sink;
    mutable QMutex m_mutex;
    QWaitCondition m_changed;
    QQueue<Sequence> m_queue;
    bool m_playing = false;
    bool m_started = false;
    bool m_quit = false;
};
