#pragma once

#include <array>
#include <cstdint>

// The HQL3318 behind chip select 0, as seen through 16-bit SPI frames and
// its pins. Written from the chip's register map alone: it shares nothing
// with the application, so the tests can trust its answers.
class ChipModel
{
public:
    // What the pre-driver does with one half-bridge.
    enum class Gate
    {
        Off, // both gates off
        Low, // low-side gate on
        High // high-side gate on
    };

    struct Drive
    {
        Gate gate = Gate::Off;
        bool pwm = false;  // the high side follows a PWM input
        int generator = 0; // that input: 0 or 1
    };

    static constexpr std::uint16_t deviceId = 0x651;

    // Unpowered, as before the board switches the enable pin on.
    void reset();

    // Pins and supply, driven by the board.
    void setEnablePin(bool high);
    void setFailSafePin(bool high);
    void setSupplyMillivolts(long millivolts);
    // True while that PWM input toggles (its generator runs with a duty
    // above zero); a stopped input stays low.
    void setPwmInput(int input, bool active);

    std::uint16_t transfer(std::uint16_t frame);

    // Half-bridge n = 1..4 as the outputs are driven now.
    Drive drive(int halfBridge) const;
    // A control register as stored: half is 'A' or 'B' for addresses 5..8
    // and 0 elsewhere. False for an address or half without a register.
    bool controlRegister(unsigned address, char half, std::uint16_t &value) const;

private:
    void clearRegisters();
    void powerUp();
    void write(unsigned address, std::uint16_t data);
    std::uint16_t status(unsigned address) const;
    bool driversOn() const;

    bool m_powered = false;
    bool m_failSafe = false;
    long m_supplyMillivolts = 12000;
    std::array<bool, 2> m_pwmInput{};

    // Control registers by address, 11 bits; CR5..CR8 keep their halves
    // apart, bit 10 included (0 for A, 1 for B).
    std::array<std::uint16_t, 16> m_control{};
    std::array<std::uint16_t, 4> m_halfA{};
    std::array<std::uint16_t, 4> m_halfB{};

    // Status register that answers the next frame, and whether the choice
    // stays after one answer.
    unsigned m_selected = 0;
    bool m_keepSelection = false;
    bool m_registersCleared = false;
    bool m_calibrationReady = false;
};
