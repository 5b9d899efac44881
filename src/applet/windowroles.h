#pragma once

// What one window may ask of another that is not the chip: each role is
// played by the window that holds the state, found by its type
// (Applet::window<Role>()), so a caller never names a window.

// The demo board's two PWM generators, n 1 or 2.
class PwmGenerators
{
public:
    virtual ~PwmGenerators() = default;
    virtual void sendFrequency(int n) = 0;
    virtual void sendDuty(int n) = 0;
    // A stopped generator's pin level, as its check box says.
    virtual void sendPin(int n) = 0;
    // Both generators as their switches say.
    virtual void sendAll() = 0;
};

// The board window's view of a generator's pin.
class PwmPinView
{
public:
    virtual ~PwmPinView() = default;
    virtual void showPinState(int n) = 0;
};

// The board's routine that serves the chip's watchdog.
class WatchdogRoutine
{
public:
    virtual ~WatchdogRoutine() = default;
    // As if its check box were set: the board is told, the status read.
    virtual void setRoutineEnabled(bool on) = 0;
};

// The board's pins and timing a motor sequence needs.
class MotorBoard
{
public:
    virtual ~MotorBoard() = default;
    // The chip's enable pin on, as its check box would set it.
    virtual void enableDriver() = 0;
    virtual void startGenerator(int n) = 0;
    // Waits while the application keeps processing events.
    virtual void wait(int ms) = 0;
};

// The board window's user configuration of the half-bridges (CR5A to CR8B).
class UserConfiguration
{
public:
    virtual ~UserConfiguration() = default;
    // Sends it to the chip again, as "setUserConf" does.
    virtual void sendUserConfiguration() = 0;
};
