#include "applets/motordrive.h"

#include "applet/windowroles.h"
#include "chip/chipservice.h"

using SpiFrame::CR0;
using SpiFrame::CR1;
using SpiFrame::CR2;
using SpiFrame::CR3;

void MotorDrive::wait(int ms)
{
    if (m_board)
        m_board->wait(ms);
}

void MotorDrive::run(int first, int second, bool forward, bool waitBeforeModes)
{
    m_chip.setBit(CR0, first, 0);
    m_chip.setBit(CR0, second, 0);
    m_chip.writeControl(CR0);
    m_chip.setBit(CR2, first, forward ? 1 : 0);
    m_chip.setBit(CR2, second, forward ? 0 : 1);
    m_chip.writeControl(CR2);
    m_chip.setBit(CR0, first, 1);
    m_chip.setBit(CR0, second, 1);
    m_chip.setBit(CR1, first, forward ? 1 : 0);
    m_chip.setBit(CR1, second, forward ? 0 : 1);
    if (waitBeforeModes)
        wait(100);
    m_chip.writeControl(CR1);
    if (!waitBeforeModes)
        wait(100);
    m_chip.writeControl(CR0);
}

void MotorDrive::stop(int first, int second)
{
    outputsOff(first, second);
    m_chip.setBit(CR2, first, 0);
    m_chip.setBit(CR2, second, 0);
    m_chip.writeControl(CR2);
}

void MotorDrive::brake(int first, int second, int ms)
{
    m_chip.setBit(CR2, first, 0);
    m_chip.setBit(CR2, second, 0);
    m_chip.chainAdd(CR2);
    m_chip.setBit(CR1, first, 0);
    m_chip.setBit(CR1, second, 0);
    m_chip.chainAdd(CR1);
    m_chip.chainTransfer();
    wait(ms);
    outputsOff(first, second);
}

void MotorDrive::start(int first, int second, bool forward)
{
    m_chip.setBit(CR1, 10, 1);
    m_chip.setBit(CR1, 9, 1);
    m_chip.writeControl(CR1);
    if (m_board)
        m_chip.writeBridgeConfiguration(ChipService::ChipDefaults);
    m_chip.setBit(CR0, first, 0);
    m_chip.setBit(CR0, second, 0);
    m_chip.writeControl(CR0);
    if (m_board) {
        m_board->enableDriver();
        m_board->startGenerator(first + 1);
    }
    // Half-bridges 1 and 3 take PWM1 (0), 2 and 4 take PWM2 (1).
    const uint input = first == 0 ? 0 : 1;
    m_chip.setBit(CR3, 2 * first, input);
    m_chip.setBit(CR3, 2 * second, input);
    m_chip.setBit(CR2, first, forward ? 1 : 0);
    m_chip.setBit(CR2, second, forward ? 0 : 1);
    m_chip.writeControl(CR2);
    m_chip.writeControl(CR3);
    m_chip.setBit(CR0, first, 1);
    m_chip.setBit(CR0, second, 1);
    m_chip.setBit(CR1, first, forward ? 1 : 0);
    m_chip.setBit(CR1, second, forward ? 0 : 1);
    m_chip.writeControl(CR1);
    wait(50);
    m_chip.writeControl(CR0);
}

void MotorDrive::outputsOff(int first, int second)
{
    m_chip.setBit(CR0, first, 0);
    m_chip.setBit(CR0, second, 0);
    m_chip.writeControl(CR0);
}
