#pragma once

#include "chip/chipservice.h"

#include <QString>

class ControlBoard;
class Register;

// What the chip needs of its surroundings: the shared registers, the board
// link, the log and the windows that show the registers.
class ChipHost
{
public:
    virtual ~ChipHost() = default;

    virtual Register *reg(const QString &name) const = 0;
    // Null while there is none.
    virtual ControlBoard *link() const = 0;
    virtual void log(int level, const QString &text) = 0;
    // The register was written: its controls show the new value.
    virtual void refresh(const QString &name) = 0;
    // The windows show what changed so far, now.
    virtual void flush() = 0;
    // Around an operation that stands for a named function: flush, then
    // gather the refreshes until the end.
    virtual void beginOperation() = 0;
    virtual void endOperation() = 0;
};

// The chip as the application drives it: frames through the board's
// "SPI0CS0DATA" parameter, answers into the status registers, the
// watchdog bit toggled with every frame.
class Chip : public ChipService
{
public:
    explicit Chip(ChipHost &host) : m_host(host) {}
    Chip(const Chip &) = delete;
    Chip &operator=(const Chip &) = delete;

    bool writeControl(Control control) override;
    bool writeBridge(int bridge) override;
    bool requestRead(int status) override;
    bool readStatus(int status) override;
    bool readAll() override;
    void clear(ClearScope scope) override;
    bool writeBridgeConfiguration(BridgeSource source) override;

    void setBits(Control control, int lo, int hi, uint value) override;
    uint value(Control control) const override;

    bool writeFrame(int address, uint data) override;
    bool readFrame() override;
    void decodeAnswer(uint answer, bool last = true) override;

    void chainAdd(int address, uint data) override;
    void chainAdd(Control control) override;
    bool chainTransfer(const std::function<void()> &beforeAnswers = {}) override;
    QByteArray pendingChain() const override { return m_pendingChain; }

    bool transferRawFrame() override;
    void configurePort() override;
    void setPortSpeed(qint64 hertz) override;
    void resetSession() override;

private:
    class Operation;

    uint bitsOf(const QString &name) const;
    uint get(const QString &ref) const;
    // The model written as a window's control would write it.
    void set(const QString &ref, uint value);
    void setRange(const QString &name, uint lo, uint hi, uint value);
    quint16 frameFor(int address, uint data) const;
    bool transferFrame(quint16 frame, const char *error);
    bool writeRule(const SpiFrame::WriteRule &rule);
    bool writeRegister(int address, const QString &name);
    bool selectStatus(int status);
    bool sendBridgeConfiguration(BridgeSource source);
    void boardError(const QString &text);

    ChipHost &m_host;
    QByteArray m_pendingChain;
    // The status register the next imitated answer reports (mock-up only).
    uint m_mockStatusAddress = 0;
};
