#include "chipmodel.h"

namespace {

constexpr unsigned addrCr0 = 0;
constexpr unsigned addrCr1 = 1;
constexpr unsigned addrCr2 = 2;
constexpr unsigned addrCr3 = 3;
constexpr unsigned addrCr4 = 4;
constexpr unsigned addrCr5 = 5;
constexpr unsigned addrCr8 = 8;
constexpr unsigned addrCr12 = 12;
constexpr unsigned addrCr14 = 14;

constexpr std::uint16_t halfBSelect = 0x400;   // bit 10 of a CR5..CR8 frame
constexpr std::uint16_t driversEnable = 0x400; // CR1 DRV_EN

constexpr long underVoltageMillivolts = 6000;
constexpr long overVoltageMillivolts = 30000;

bool bit(std::uint16_t value, unsigned n)
{
    return (value >> n & 1u) != 0;
}

} // namespace

void ChipModel::reset()
{
    m_failSafe = false;
    m_pwmInput = {};
    m_powered = false;
    clearRegisters();
}

void ChipModel::setEnablePin(bool high)
{
    if (high && !m_powered) {
        powerUp();
    } else if (!high) {
        // Registers are lost with the supply.
        m_powered = false;
        clearRegisters();
    }
}

void ChipModel::setFailSafePin(bool high)
{
    m_failSafe = high;
}

void ChipModel::setSupplyMillivolts(long millivolts)
{
    m_supplyMillivolts = millivolts;
}

void ChipModel::setPwmInput(int input, bool active)
{
    if (input >= 0 && input < static_cast<int>(m_pwmInput.size()))
        m_pwmInput[static_cast<std::size_t>(input)] = active;
}

void ChipModel::clearRegisters()
{
    m_control = {};
    m_halfA = {};
    m_halfB = {};
    m_selected = 0;
    m_keepSelection = false;
    m_calibrationReady = false;
    m_registersCleared = false;
}

void ChipModel::powerUp()
{
    clearRegisters();
    m_halfB.fill(halfBSelect);
    m_powered = true;
    m_registersCleared = true;
}

std::uint16_t ChipModel::transfer(std::uint16_t frame)
{
    // Without supply the chip's output stays low for the whole frame.
    if (!m_powered)
        return 0;

    // The answer is shifted out while the frame comes in, so it shows the
    // state from before this frame.
    const unsigned answered = m_selected;
    const bool normalMode = !m_failSafe;
    const std::uint16_t answer = static_cast<std::uint16_t>(answered << 13 | (normalMode ? 1u : 0u) << 12 |
                                                            (status(answered) & 0xFFFu));
    if (answered == 0)
        m_registersCleared = false;
    if (!m_keepSelection)
        m_selected = 0;

    write(static_cast<unsigned>(frame >> 12), static_cast<std::uint16_t>(frame & 0x7FFu));
    return answer;
}

void ChipModel::write(unsigned address, std::uint16_t data)
{
    switch (address) {
    case addrCr0:
        m_control[addrCr0] = data;
        m_selected = data >> 7 & 7u;
        m_keepSelection = bit(data, 10);
        break;
    case addrCr4:
        m_control[addrCr4] = data;
        m_calibrationReady = (data & 7u) != 0;
        break;
    case addrCr1:
    case addrCr2:
    case addrCr3:
    case addrCr12:
    case addrCr14: m_control[address] = data; break;
    default:
        if (address >= addrCr5 && address <= addrCr8) {
            auto &half = (data & halfBSelect) != 0 ? m_halfB : m_halfA;
            half[address - addrCr5] = data;
        }
        // The read request (13) and unused addresses change nothing.
        break;
    }
}

std::uint16_t ChipModel::status(unsigned address) const
{
    std::uint16_t value = 0;
    switch (address) {
    case 0:
        if (m_supplyMillivolts > overVoltageMillivolts)
            value |= 1u << 4;
        if (m_supplyMillivolts < underVoltageMillivolts)
            value |= 1u << 5;
        if (m_failSafe)
            value |= 1u << 9;
        if (m_registersCleared)
            value |= 1u << 10;
        break;
    case 1:
        for (int n = 1; n <= 4; ++n) {
            const Gate gate = drive(n).gate;
            if (gate == Gate::Low)
                value |= 1u << (2 * n - 2);
            else if (gate == Gate::High)
                value |= 1u << (2 * n - 1);
        }
        break;
    case 4:
        if (m_calibrationReady)
            value |= 1u << 8;
        break;
    case 5:
        for (int n = 1; n <= 4; ++n) {
            if (drive(n).gate == Gate::High)
                value |= 1u << (n - 1);
        }
        break;
    case 7: value = deviceId; break;
    default:
        // No overload (SR3), and no registers at 2 and 6.
        break;
    }
    return value;
}

bool ChipModel::driversOn() const
{
    return m_powered && (m_control[addrCr1] & driversEnable) != 0;
}

ChipModel::Drive ChipModel::drive(int halfBridge) const
{
    Drive d;
    if (halfBridge < 1 || halfBridge > 4)
        return d;
    const auto i = static_cast<unsigned>(halfBridge - 1);
    if (!driversOn() || !bit(m_control[addrCr0], i))
        return d;
    if (bit(m_control[addrCr2], i)) {
        d.pwm = true;
        d.generator = bit(m_control[addrCr3], 2 * i) ? 1 : 0;
        d.gate = m_pwmInput[static_cast<std::size_t>(d.generator)] ? Gate::High : Gate::Low;
    } else {
        d.gate = bit(m_control[addrCr1], i) ? Gate::High : Gate::Low;
    }
    return d;
}

bool ChipModel::controlRegister(unsigned address, char half, std::uint16_t &value) const
{
    if (address >= addrCr5 && address <= addrCr8) {
        if (half != 'A' && half != 'B')
            return false;
        value = (half == 'A' ? m_halfA : m_halfB)[address - addrCr5];
        return true;
    }
    switch (address) {
    case addrCr0:
    case addrCr1:
    case addrCr2:
    case addrCr3:
    case addrCr4:
    case addrCr12:
    case addrCr14:
        if (half != 0)
            return false;
        value = m_control[address];
        return true;
    default: return false;
    }
}
