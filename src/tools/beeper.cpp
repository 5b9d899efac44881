#include "tools/beeper.h"

#include "tools/tonesink.h"
#include "tools/toolslog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutexLocker>

namespace {

QMutex s_sharedMutex;
Beeper *s_shared = nullptr;

void releaseShared()
{
    QMutexLocker lock(&s_sharedMutex);
    delete s_shared;
    s_shared = nullptr;
}

Beeper *sharedLocked()
{
    if (!s_shared) {
        s_shared = new Beeper(ToneSink::createSystemSink());
        // The thread must end before the process tears down its statics.
        qAddPostRoutine(releaseShared);
    }
    return s_shared;
}

} // namespace

Beeper::Beeper(std::unique_ptr<ToneSink> sink, QObject *parent) : QThread(parent), m_sink(std::move(sink)) {}

Beeper::~Beeper()
{
    stop();
}

bool Beeper::parse(const QString &sequence, Sequence *pairs)
{
    Sequence parsed;
    bool lastOk = false;
    const QStringList parts = sequence.split(QLatin1Char(';'));
    for (const QString &part : parts) {
        const QStringList pieces = part.split(QLatin1Char(':'));
        if (pieces.size() != 2) {
            lastOk = false;
            break;
        }
        bool frequencyOk = false;
        bool durationOk = false;
        const int frequency = pieces.at(0).toInt(&frequencyOk, 10);
        const int duration = pieces.at(1).toInt(&durationOk, 10);
        parsed.append(qMakePair(frequency, duration));
        lastOk = frequencyOk && durationOk;
    }
    if (pairs)
        *pairs = lastOk ? parsed : Sequence();
    return lastOk;
}

bool Beeper::play(const QString &sequence)
{
    Sequence pairs;
    if (!parse(sequence, &pairs))
        return false;
    QMutexLocker lock(&s_sharedMutex);
    return sharedLocked()->enqueue(pairs);
}

Beeper *Beeper::shared()
{
    QMutexLocker lock(&s_sharedMutex);
    return sharedLocked();
}

bool Beeper::enqueue(const Sequence &pairs)
{
    QMutexLocker lock(&m_mutex);
    if (m_quit)
        return false;
    if (m_queue.size() >= MaxWaiting) {
        qCDebug(lcTools, "beeper busy: sequence dropped");
        return false;
    }
    m_queue.enqueue(pairs);
    if (!m_started) {
        m_started = true;
        start(QThread::LowPriority);
    }
    m_changed.wakeAll();
    return true;
}

int Beeper::waiting() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_queue.size());
}

bool Beeper::waitIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&m_mutex);
    while (!m_queue.isEmpty() || m_playing) {
        if (!m_changed.wait(&m_mutex, deadline))
            return m_queue.isEmpty() && !m_playing;
    }
    return true;
}

void Beeper::stop()
{
    {
        QMutexLocker lock(&m_mutex);
        m_quit = true;
        m_queue.clear();
        m_changed.wakeAll();
    }
    if (m_sink)
        m_sink->cancel();
    if (!wait(StopTimeoutMs)) {
        // Destroying a running thread would end the process.
        qCWarning(lcTools, "beeper thread still busy after %d ms; waiting for it", StopTimeoutMs);
        wait();
    }
}

void Beeper::run()
{
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (m_queue.isEmpty() && !m_quit)
            m_changed.wait(&m_mutex);
        if (m_quit)
            break;
        const Sequence pairs = m_queue.dequeue();
        m_playing = true;
        lock.unlock();
        playSequence(pairs);
        lock.relock();
        m_playing = false;
        m_changed.wakeAll();
    }
    m_changed.wakeAll();
}

void Beeper::playSequence(const Sequence &pairs)
{
    if (!m_sink)
        return;
    bool opened = false;
    for (const auto &[frequency, duration] : pairs) {
        // As with the platform beep, a pair it would refuse makes no sound
        // and no pause.
        if (frequency < MinFrequency || frequency > MaxFrequency || duration <= 0)
            continue;
        if (!opened) {
            if (!m_sink->open())
                return;
            opened = true;
        }
        m_sink->tone(frequency, duration);
    }
    if (opened)
        m_sink->close();
}
