#include "simulator.h"

#include "options.h"
#include "pseudoterminal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

// Like a UART that overruns: what the PC does not read is lost beyond this.
constexpr std::size_t maxUnsent = 8u * 1024 * 1024;

} // namespace

Simulator::Simulator(const Options &options, PseudoTerminal &terminal, Transcript &transcript, int stopFd)
    : m_options(options), m_terminal(terminal), m_transcript(transcript), m_stopFd(stopFd), m_board(options),
      m_junk(0xC0FFEEu), m_toBoard(WireModel::Direction::ToBoard, options.baud, options.latencyMs),
      m_toHost(WireModel::Direction::ToHost, options.baud, options.latencyMs)
{
}

int Simulator::run()
{
    unsigned char buffer[4096];
    for (;;) {
        Clock::time_point now = Clock::now();
        if (m_restarting && now >= m_restartEnd)
            m_restarting = false;
        release(now);
        if (!passLine(now)) {
            m_terminal.close();
            return 0;
        }
        if (!flush()) {
            std::fprintf(stderr, "hql3318-sim: write to terminal failed: %s\n", std::strerror(errno));
            return 1;
        }

        pollfd fds[3] = {};
        fds[0].fd = m_terminal.master();
        fds[0].events = static_cast<short>(POLLIN | (m_out.empty() ? 0 : POLLOUT));
        fds[1].fd = m_stopFd;
        fds[1].events = POLLIN;
        fds[2].fd = m_options.exitOnStdinEof ? STDIN_FILENO : -1;
        fds[2].events = POLLIN;
        const long waitNs = pollTimeout(now);
        const timespec wait{waitNs / 1'000'000'000, waitNs % 1'000'000'000};
        if (::ppoll(fds, 3, waitNs < 0 ? nullptr : &wait, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "hql3318-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (fds[1].revents != 0)
            return 0;
        if (fds[2].revents != 0) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                return 0;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(m_terminal.master(), buffer, sizeof buffer);
            if (n > 0)
                noteInput();
            if (n > 0 && m_toBoard.modelled()) {
                m_toBoard.push(
                    std::string(reinterpret_cast<const char *>(buffer), static_cast<std::size_t>(n)),
                    Clock::now());
            } else if (n > 0 && !receive(buffer, static_cast<std::size_t>(n), Clock::now())) {
                m_terminal.close();
                return 0;
            }
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                std::fprintf(stderr, "hql3318-sim: read from terminal failed: %s\n", std::strerror(errno));
                return 1;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Cannot happen while we hold the terminal end; never spin on it.
            std::fprintf(stderr, "hql3318-sim: terminal closed unexpectedly\n");
            return 1;
        }
    }
}

bool Simulator::receive(const unsigned char *data, std::size_t size, Clock::time_point now)
{
    for (std::size_t i = 0; i < size; ++i) {
        // A restarting firmware hears nothing.
        if (m_restarting)
            return true;
        switch (m_reader.push(data[i])) {
        case LineReader::Event::None: break;
        case LineReader::Event::Enq:
            m_transcript.line("<ENQ>");
            if (!silent())
                send(std::string(1, static_cast<char>(m_options.enqReply)));
            break;
        case LineReader::Event::Can: m_transcript.line("<CAN>"); break;
        case LineReader::Event::Restart:
            m_transcript.line("<CAN>");
            if (silent())
                break;
            m_board.reset();
            m_reader.clear();
            dumpFlash();
            // Replies already handed to the line go out; those still
            // waiting for their delay die with the firmware.
            m_pending.clear();
            m_restarting = m_options.restartMs > 0;
            m_restartEnd = now + std::chrono::milliseconds(m_options.restartMs);
            break;
        case LineReader::Event::Line:
            if (!onLine(m_reader.line(), false, now))
                return false;
            break;
        case LineReader::Event::LongLine:
            if (!onLine(std::string(), true, now))
                return false;
            break;
        }
    }
    return true;
}

bool Simulator::onLine(const std::string &line, bool tooLong, Clock::time_point now)
{
    m_transcript.line(tooLong ? "<LONG LINE>" : line);
    ++m_lines;
    if (m_options.hangupAfter >= 0 && m_lines > m_options.hangupAfter)
        return false;
    if (m_options.silentAfter >= 0 && m_lines > m_options.silentAfter)
        return true;
    const std::optional<std::string> reply =
        tooLong ? std::optional<std::string>("err") : m_board.execute(line);
    if (m_board.flash().markerWrites() != m_dumpedMarkers)
        dumpFlash();
    if (reply)
        schedule(*reply + '\n', now, m_options.delayMs);
    if (m_lines == m_options.garbageAfter)
        schedule(garbage(), now, 0);
    return true;
}

void Simulator::schedule(std::string bytes, Clock::time_point now, long delayMs)
{
    if (delayMs == 0 && m_pending.empty()) {
        send(bytes);
        return;
    }
    // Each reply waits its delay after the previous one, so the lines of
    // one multi-line command come delayMs apart.
    m_lastDue = std::max(now, m_pending.empty() ? now : m_lastDue) + std::chrono::milliseconds(delayMs);
    m_pending.push_back({m_lastDue, std::move(bytes)});
}

void Simulator::send(const std::string &bytes)
{
    if (m_toHost.modelled())
        m_toHost.push(bytes, Clock::now());
    else
        queueOut(bytes);
}

bool Simulator::passLine(Clock::time_point now)
{
    if (m_toHost.modelled())
        queueOut(m_toHost.take(now));
    if (!m_toBoard.modelled())
        return true;
    const std::string in = m_toBoard.take(now);
    return in.empty() || receive(reinterpret_cast<const unsigned char *>(in.data()), in.size(), now);
}

void Simulator::queueOut(const std::string &bytes)
{
    const std::size_t room = maxUnsent - std::min(maxUnsent, m_out.size());
    m_out.append(bytes, 0, std::min(room, bytes.size()));
}

void Simulator::release(Clock::time_point now)
{
    while (!m_pending.empty() && m_pending.front().due <= now) {
        send(m_pending.front().bytes);
        m_pending.pop_front();
    }
}

bool Simulator::flush()
{
    while (!m_out.empty()) {
        const ssize_t n = ::write(m_terminal.master(), m_out.data(), m_out.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        m_out.erase(0, static_cast<std::size_t>(n));
        m_answered = true;
    }
    return true;
}

void Simulator::noteInput()
{
    // Counted where the bytes leave and reach the terminal, so that the
    // modelled line's pacing cannot split one write into several.
    if (m_options.countRoundTrips && m_answered)
        m_transcript.line("<ROUND TRIP>");
    m_answered = false;
}

long Simulator::pollTimeout(Clock::time_point now) const
{
    std::optional<Clock::time_point> wake;
    const auto consider = [&wake](std::optional<Clock::time_point> at) {
        if (at && (!wake || *at < *wake))
            wake = at;
    };
    if (!m_pending.empty())
        consider(m_pending.front().due);
    if (m_restarting)
        consider(m_restartEnd);
    consider(m_toBoard.nextDue());
    consider(m_toHost.nextDue());
    if (!wake)
        return -1;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - now).count();
    return ns <= 0 ? 0 : static_cast<long>(ns);
}

bool Simulator::silent() const
{
    return m_options.silentAfter >= 0 && m_lines >= m_options.silentAfter;
}

std::string Simulator::garbage()
{
    // NUL and 0xFF for sure, CR and LF fragments between random bytes; no
    // ENQ, ACK, NAK or CAN, which would read as the presence protocol.
    std::string out("\x00\xFF", 2);
    for (const char *tail : {"\r", "\n", "\r\n"}) {
        for (int i = 0; i < 20; ++i) {
            const auto b = static_cast<unsigned char>(m_junk.next() >> 24);
            if (b == 0x05 || b == 0x06 || b == 0x15 || b == 0x18 || b == '\r' || b == '\n')
                continue;
            out.push_back(static_cast<char>(b));
        }
        out += tail;
    }
    return out;
}

void Simulator::dumpFlash()
{
    m_dumpedMarkers = m_board.flash().markerWrites();
    if (m_options.flashDump.empty())
        return;
    std::string error;
    if (!m_board.flash().dump(m_options.flashDump, error))
        std::fprintf(stderr, "hql3318-sim: flash dump: %s\n", error.c_str());
}
