#include "tools/alsatonesink.h"

#include "tools/toolslog.h"

#include <QElapsedTimer>
#include <QMutexLocker>

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

// The library prints to stderr by default; a machine without sound is
// normal here, so its complaints become diagnostics.
void quietAlsaErrors(const char *file, int line, const char *function, int err, const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    qCDebug(lcTools, "alsa: %s (%s:%d %s, %d)", text, file, line, function, err);
}

constexpr double TwoPi = 6.283185307179586;
constexpr double Amplitude = 0.3 * 32767.0;
// Short ramps at both ends of a tone keep it from clicking.
constexpr int RampFrames = 220;

} // namespace

AlsaToneSink::AlsaToneSink(const QByteArray &device) : m_device(device)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(quietAlsaErrors); });
    m_chunk.resize(ChunkFrames);
}

AlsaToneSink::~AlsaToneSink()
{
    if (m_pcm) {
        snd_pcm_drop(m_pcm);
        snd_pcm_close(m_pcm);
    }
}

bool AlsaToneSink::isCancelled() const
{
    QMutexLocker lock(&m_mutex);
    return m_cancel;
}

void AlsaToneSink::cancel()
{
    QMutexLocker lock(&m_mutex);
    m_cancel = true;
    m_cancelled.wakeAll();
}

void AlsaToneSink::pause(int ms)
{
    QMutexLocker lock(&m_mutex);
    if (!m_cancel && ms > 0)
        m_cancelled.wait(&m_mutex, QDeadlineTimer(ms));
}

bool AlsaToneSink::open()
{
    if (m_pcm || isCancelled())
        return m_pcm != nullptr;
    snd_pcm_t *pcm = nullptr;
    int err = snd_pcm_open(&pcm, m_device.constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        qCDebug(lcTools, "no sound output: %s", snd_strerror(err));
        return false;
    }
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, SampleRate, 1,
                             LatencyUs);
    if (err < 0) {
        qCDebug(lcTools, "sound output refuses 16-bit mono: %s", snd_strerror(err));
        snd_pcm_close(pcm);
        return false;
    }
    m_pcm = pcm;
    m_phase = 0.0;
    m_failed = false;
    return true;
}

bool AlsaToneSink::write(const qint16 *frames, int count)
{
    QElapsedTimer stalled;
    stalled.start();
    while (count > 0) {
        if (isCancelled())
            return false;
        const snd_pcm_sframes_t done = snd_pcm_writei(m_pcm, frames, snd_pcm_uframes_t(count));
        if (done == -EAGAIN) {
            if (stalled.elapsed() > StallLimitMs) {
                qCDebug(lcTools, "sound output stalled; tone dropped");
                return false;
            }
            // Blocks on the device's descriptors until there is room.
            const int ready = snd_pcm_wait(m_pcm, 50);
            if (ready < 0 && snd_pcm_recover(m_pcm, ready, 1) < 0)
                return false;
            continue;
        }
        if (done < 0) {
            if (snd_pcm_recover(m_pcm, int(done), 1) < 0) {
                qCDebug(lcTools, "sound output failed: %s", snd_strerror(int(done)));
                return false;
            }
            continue;
        }
        frames += done;
        count -= int(done);
        stalled.restart();
    }
    return true;
}

void AlsaToneSink::tone(int frequency, int duration)
{
    if (!m_pcm || m_failed || duration <= 0)
        return;
    const qint64 total = qint64(duration) * SampleRate / 1000;
    // Above half the sample rate a sine would fold back into a wrong,
    // audible pitch: such a tone is a pause of its length.
    const bool audible = frequency > 0 && unsigned(frequency) < SampleRate / 2;
    const double step = audible ? TwoPi * frequency / SampleRate : 0.0;
    const qint64 ramp = qMin<qint64>(RampFrames, total / 2);
    for (qint64 at = 0; at < total;) {
        const int count = int(qMin<qint64>(ChunkFrames, total - at));
        for (int i = 0; i < count; ++i, ++at) {
            double gain = 1.0;
            if (at < ramp)
                gain = double(at) / ramp;
            else if (total - at <= ramp)
                gain = double(total - at - 1) / ramp;
            m_chunk[i] = audible ? qint16(std::lround(Amplitude * gain * std::sin(m_phase))) : 0;
            m_phase = std::fmod(m_phase + step, TwoPi);
        }
        if (!write(m_chunk.constData(), count)) {
            m_failed = true;
            return;
        }
    }
}

void AlsaToneSink::close()
{
    if (!m_pcm)
        return;
    if (!isCancelled() && !m_failed) {
        // A sequence shorter than the device buffer has not started yet.
        if (snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED)
            snd_pcm_start(m_pcm);
        snd_pcm_sframes_t queued = 0;
        if (snd_pcm_delay(m_pcm, &queued) == 0 && queued > 0)
            pause(int(queued * 1000 / SampleRate) + 20);
    }
    snd_pcm_drop(m_pcm);
    snd_pcm_close(m_pcm);
    m_pcm = nullptr;
}
