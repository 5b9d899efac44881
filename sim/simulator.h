#pragma once

#include "board.h"
#include "linereader.h"
#include "noise.h"
#include "transcript.h"
#include "wiremodel.h"

#include <chrono>
#include <deque>
#include <string>

class Options;
class PseudoTerminal;

// The event loop: blocks in poll() on the terminal, the stop pipe and
// optionally stdin, with timers for delayed replies and the restart
// expressed as poll time-outs. Applies the fault options of the tests.
class Simulator
{
public:
    Simulator(const Options &options, PseudoTerminal &terminal, Transcript &transcript, int stopFd);

    // Exit status of the program.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    struct Pending
    {
        Clock::time_point due;
        std::string bytes;
    };

    // False when the board hangs up.
    bool receive(const unsigned char *data, std::size_t size, Clock::time_point now);
    bool onLine(const std::string &line, bool tooLong, Clock::time_point now);
    void schedule(std::string bytes, Clock::time_point now, long delayMs);
    void send(const std::string &bytes);
    void queueOut(const std::string &bytes);
    // False when the board hangs up.
    bool passLine(Clock::time_point now);
    void release(Clock::time_point now);
    bool flush();
    // A write from the PC that comes after the board answered begins a
    // round trip; writes that come before the answer ride along.
    void noteInput();
    // Nanoseconds until the next timer, -1 for none.
    long pollTimeout(Clock::time_point now) const;
    bool silent() const;
    std::string garbage();
    void dumpFlash();

    const Options &m_options;
    PseudoTerminal &m_terminal;
    Transcript &m_transcript;
    int m_stopFd;
    Board m_board;
    LineReader m_reader;
    Noise m_junk;
    std::string m_out;
    // The USB serial line between the PC and the board, when modelled.
    WireModel m_toBoard;
    WireModel m_toHost;
    std::deque<Pending> m_pending;
    Clock::time_point m_lastDue;
    bool m_restarting = false;
    Clock::time_point m_restartEnd;
    long m_lines = 0;
    bool m_answered = true;
    unsigned long m_dumpedMarkers = 0;
};
