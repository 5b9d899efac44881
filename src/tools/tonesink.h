#pragma once

#include <memory>

// Where the beeper's tones go: the sound system, or nowhere when the
// machine has none. One thread uses a sink at a time; only cancel() may be
// called from another thread.
class ToneSink
{
public:
    virtual ~ToneSink() = default;

    // Takes the output for one sequence; false when there is no device.
    virtual bool open() = 0;
    // Plays one tone and returns when it has been handed to the device
    // (or at once once cancelled).
    virtual void tone(int frequency, int duration) = 0;
    // Lets what was handed over be heard, then gives the output back.
    virtual void close() = 0;
    // From any thread: a tone or close in progress returns soon, and every
    // later one returns at once.
    virtual void cancel() = 0;

    // The machine's sound system; null when the build has no audio layer.
    static std::unique_ptr<ToneSink> createSystemSink();
};
