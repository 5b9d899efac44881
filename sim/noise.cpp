#include "noise.h"

void Noise::reseed(std::uint32_t seed)
{
    // Xorshift never leaves the zero state, so avoid it.
    m_state = seed != 0 ? seed : 0x9e3779b9u;
}

std::uint32_t Noise::next()
{
    std::uint32_t x = m_state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    m_state = x;
    return x;
}

int Noise::offset(int amplitude)
{
    if (amplitude <= 0)
        return 0;
    const auto span = static_cast<std::uint32_t>(2 * amplitude + 1);
    return static_cast<int>(next() % span) - amplitude;
}
