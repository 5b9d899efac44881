#pragma once

#include <cstdint>

// The HQL3318 behind chip select 0, as seen through 16-bit SPI frames.
// For now a stand-in: every frame is answered with the same status frame.
// A register model of the chip replaces the body of transfer() later; the
// board only ever calls transfer().
class ChipModel
{
public:
    // Normal-mode flag (bit 12) set, status address and data zero.
    static constexpr std::uint16_t statusFrame = 0x1000;

    std::uint16_t transfer(std::uint16_t frame);
};
