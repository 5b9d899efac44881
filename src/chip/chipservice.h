#pragma once

#include "chip/spiframe.h"

#include <QByteArray>

#include <functional>

// What the windows may ask of the chip: its register writes and reads as
// frames, chains of frames in one board command, the model of its
// registers, and the board's SPI port it is reached through. The
// operations that stand for a named function ("WriteCR0", "ReadAll", ...)
// behave as one run of it: the windows show what was changed before it
// and are redrawn once when it ends.
class ChipService
{
public:
    using Control = SpiFrame::Control;
    enum BridgeSource
    {
        ChipDefaults, // what the chip starts with, also put into the model
        ModelValues
    };
    enum ClearScope
    {
        KeepBridges, // "Clear"
        WithBridges  // "ClearAll"
    };

    virtual ~ChipService() = default;

    // The register's frame, its forced bits first set in the model ("WriteCR0").
    virtual bool writeControl(Control control) = 0;
    // Both halves of a half-bridge's configuration, 1 to 4 ("WriteCR5" to "WriteCR8").
    virtual bool writeBridge(int bridge) = 0;
    // CR0 selects status register n for the next answers ("RequestRead").
    virtual bool requestRead(int status) = 0;
    // Selects status register n and reads it ("ReadSR0").
    virtual bool readStatus(int status) = 0;
    // Every status register in one chain ("ReadAll").
    virtual bool readAll() = 0;
    // Resets the model of the writable registers and the readable status ("Clear", "ClearAll").
    virtual void clear(ClearScope scope) = 0;
    // CR5A to CR8B in one chain.
    virtual bool writeBridgeConfiguration(BridgeSource source) = 0;

    // The model alone: no frame goes out.
    virtual void setBits(Control control, int lo, int hi, uint value) = 0;
    void setBit(Control control, int bit, uint value) { setBits(control, bit, bit, value); }
    virtual uint value(Control control) const = 0;

    // One frame with the current watchdog bit; its answer lands in the status registers.
    virtual bool writeFrame(int address, uint data) = 0;
    virtual bool readFrame() = 0;
    // Answer from the chip. An earlier answer of a chain only fills its
    // status register: the last one leaves ADDR, NM and DATA as a single
    // answer would.
    virtual void decodeAnswer(uint answer, bool last = true) = 0;

    // Frames gathered for one board command, sent by chainTransfer; those
    // of a failed transfer go again with the next.
    virtual void chainAdd(int address, uint data) = 0;
    // The register's model value at its address, nothing forced.
    virtual void chainAdd(Control control) = 0;
    // beforeAnswers runs once the lines have travelled (or failed), before
    // the answers are decoded.
    virtual bool chainTransfer(const std::function<void()> &beforeAnswers = {}) = 0;
    virtual QByteArray pendingChain() const = 0;

    // The frame held in SpiIn, its answer kept in SpiOut, undecoded.
    virtual bool transferRawFrame() = 0;
    // The board's SPI port as the chip needs it.
    virtual void configurePort() = 0;
    virtual void setPortSpeed(qint64 hertz) = 0;

    // A connection starts or ends: frames kept from another mean nothing.
    virtual void resetSession() = 0;
};
