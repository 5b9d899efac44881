#pragma once

#include <cstdint>

// A small generator of our own so that every platform and every run with
// the same seed gives the same sequence.
class Noise
{
public:
    explicit Noise(std::uint32_t seed = 1) { reseed(seed); }

    void reseed(std::uint32_t seed);
    std::uint32_t next();
    // Uniform in -amplitude..amplitude.
    int offset(int amplitude);

private:
    std::uint32_t m_state = 1;
};
