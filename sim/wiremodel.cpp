#include "wiremodel.h"

#include <algorithm>

WireModel::WireModel(Direction direction, long baud, long latencyMs)
    : m_direction(direction), m_byteTime(baud > 0 ? std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::nanoseconds(10'000'000'000LL / baud))
                                                  : Clock::duration::zero()),
      m_latency(std::chrono::milliseconds(latencyMs))
{
}

WireModel::Clock::time_point WireModel::transferDue(Clock::time_point ready)
{
    if (m_latency.count() == 0)
        return ready;
    // A byte ready before the running transfer leaves goes with it.
    if (!m_transferDue || ready > *m_transferDue)
        m_transferDue = ready + m_latency;
    return *m_transferDue;
}

void WireModel::deliver(const std::string &bytes, Clock::time_point due)
{
    if (bytes.empty())
        return;
    if (m_segments.empty() || m_segments.back().due != due)
        m_segments.push_back({due, std::string()});
    m_segments.back().bytes += bytes;
}

namespace {

// Both ends act on whole lines and on control bytes alone: the bytes before
// one may arrive with it, which spares a wake-up per byte.
bool endsRun(char byte)
{
    return static_cast<unsigned char>(byte) < 0x20;
}

} // namespace

void WireModel::push(const std::string &bytes, Clock::time_point now)
{
    const Clock::time_point arrived = m_direction == Direction::ToBoard ? transferDue(now) : now;
    std::string run;
    Clock::time_point runDue{};
    for (char byte : bytes) {
        m_uartFree = std::max(m_uartFree, arrived) + m_byteTime;
        const Clock::time_point due =
            m_direction == Direction::ToBoard ? m_uartFree : transferDue(m_uartFree);
        // A byte of a later transfer never travels with an earlier one.
        if (!run.empty() && m_direction == Direction::ToHost && m_latency.count() > 0 && due != runDue) {
            deliver(run, runDue);
            run.clear();
        }
        run.push_back(byte);
        runDue = due;
        if (endsRun(byte)) {
            deliver(run, runDue);
            run.clear();
        }
    }
    deliver(run, runDue);
}

std::string WireModel::take(Clock::time_point now)
{
    std::string out;
    while (!m_segments.empty() && m_segments.front().due <= now) {
        out += m_segments.front().bytes;
        m_segments.pop_front();
    }
    return out;
}

std::optional<WireModel::Clock::time_point> WireModel::nextDue() const
{
    if (m_segments.empty())
        return std::nullopt;
    return m_segments.front().due;
}
