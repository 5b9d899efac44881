#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>

// One direction of a USB serial line. The UART sends 10 bits per byte at
// the line's speed; the adapter moves bytes over USB in transfers, and a
// transfer leaves when its latency timer, started by its first byte, runs
// out: bytes that come while it runs go out with it. Towards the board a
// transfer crosses USB first and the UART after it; towards the PC the UART
// comes first. A speed or latency of 0 leaves that stage out; with both 0
// bytes pass at once.
class WireModel
{
public:
    using Clock = std::chrono::steady_clock;
    enum class Direction
    {
        ToBoard,
        ToHost
    };

    WireModel(Direction direction, long baud, long latencyMs);

    bool modelled() const { return m_byteTime.count() > 0 || m_latency.count() > 0; }
    void push(const std::string &bytes, Clock::time_point now);
    // What has arrived at the far end by now.
    std::string take(Clock::time_point now);
    std::optional<Clock::time_point> nextDue() const;

private:
    struct Segment
    {
        Clock::time_point due;
        std::string bytes;
    };
    // The end of the transfer that a byte ready at 'ready' travels in.
    Clock::time_point transferDue(Clock::time_point ready);
    void deliver(const std::string &bytes, Clock::time_point due);

    const Direction m_direction;
    const Clock::duration m_byteTime;
    const Clock::duration m_latency;
    Clock::time_point m_uartFree{};
    std::optional<Clock::time_point> m_transferDue;
    std::deque<Segment> m_segments;
};
