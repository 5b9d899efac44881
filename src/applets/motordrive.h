#pragma once

class ChipService;
class MotorBoard;

// The chip sequences that drive a DC motor on two half-bridges (first and
// second, 0 to 3): which registers change, in which order the frames go and
// where the board waits. The motor windows only choose the sequence.
class MotorDrive
{
public:
    // board may be null: its pins and waits are then left out.
    MotorDrive(ChipService &chip, MotorBoard *board) : m_chip(chip), m_board(board) {}

    // Outputs off, direction, then modes and outputs on; the board waits
    // 100 ms before or after the modes.
    void run(int first, int second, bool forward, bool waitBeforeModes);
    // Outputs and PWM off.
    void stop(int first, int second);
    // PWM and modes off in one chain, outputs off ms later.
    void brake(int first, int second, int ms);
    // From any state: drivers, the chip's default bridge configuration,
    // the enable pin and the generator of the first bridge, PWM routing,
    // then modes and outputs.
    void start(int first, int second, bool forward);
    // Outputs off only.
    void outputsOff(int first, int second);

private:
    void wait(int ms);

    ChipService &m_chip;
    MotorBoard *m_board;
};
