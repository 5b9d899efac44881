#pragma once

#include "tools/tonesink.h"

#include <QByteArray>
#include <QMutex>
#include <QVector>
#include <QWaitCondition>

struct _snd_pcm;

// Tones as a generated sine, 16-bit mono, through an output of the sound
// system (its default one unless told otherwise). The device is opened without waiting (a busy or missing
// device fails at once) and written in short chunks, so a cancel or a
// stalled device never holds the player for long.
class AlsaToneSink : public ToneSink
{
public:
    static constexpr unsigned SampleRate = 44100;
    static constexpr unsigned LatencyUs = 100000;
    static constexpr int ChunkFrames = 441;
    static constexpr int StallLimitMs = 1000;

    explicit AlsaToneSink(const QByteArray &device = "default");
    ~AlsaToneSink() override;

    bool open() override;
    void tone(int frequency, int duration) override;
    void close() override;
    void cancel() override;

private:
    bool isCancelled() const;
    // Sleeps up to ms or until cancelled.
    void pause(int ms);
    bool write(const qint16 *frames, int count);

    QByteArray m_device;
    _snd_pcm *m_pcm = nullptr;
    // A stalled or broken output makes the rest of the sequence silent
    // instead of stalling once per tone.
    bool m_failed = false;
    double m_phase = 0.0;
    QVector<qint16> m_chunk;

    mutable QMutex m_mutex;
    QWaitCondition m_cancelled;
    bool m_cancel = false;
};
