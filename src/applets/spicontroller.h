#pragma once

#include "applet/applet.h"

namespace Ui {
class SpiController;
}

class SpiRaw;

// The chip driver: owns the HQL3318's register map in the application and
// speaks its SPI frame format. Every frame travels as a board command
// through the raw SPI applet; the answer carries a status register, which
// lands in the map.
class SpiController : public Applet
{
    Q_OBJECT

public:
    // How a control register's Write function builds its frame: the SPI
    // address, after bits forcedLo..forcedHi were set to forced (reserved
    // bits to 0, D10 naming the half of CR5 to CR8); forcedLo -1 forces none.
    struct WriteRule
    {
        const char *name;
        int address;
        int forcedLo;
        int forcedHi;
        uint forced;
    };
    static const QList<WriteRule> &writeRules();
    static const WriteRule *writeRule(const QString &name);
    // The frame the register's Write function sends for this value, with
    // the watchdog bit 0; false for a register without one.
    static bool writeFrame(const QString &name, uint value, quint16 *frame);

    explicit SpiController(QWidget *parent = nullptr);
    ~SpiController() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;
    void onConnected() override;
    void onDisconnected() override;
    void describeExport(RegisterExport &out) override;

    // Frame to the chip: address [15:12], watchdog bit [11], data [10:0].
    quint16 frameFor(int address, uint data);
    bool spiWrite(int address, uint data);
    bool spiRead();
    void chainAdd(int address, uint data);
    // beforeAnswers runs once the lines have travelled (or failed), before
    // the answers are decoded.
    bool chainTransfer(const std::function<void()> &beforeAnswers = {});
    QString pendingChain() const { return QString::fromLatin1(m_pendingChain); }
    // Answer from the chip: status address [15:13], normal mode [12], data [11:0].
    // An earlier answer of a chain only fills its status register: the
    // last one leaves ADDR, NM and DATA as a single answer would.
    void decodeAnswer(uint answer, bool last = true);

protected:
    bool writeParameter(const QString &name) override;

private slots:
    void on_cbSR0_10_stateChanged(int state);

private:
    QList<Function> buildFunctions() override;
    bool transferFrame(quint16 frame, const char *error);
    bool writeRegister(int address, const QString &name);
    bool writeControl(const WriteRule &rule);
    bool requestRead(int n);
    bool readStatus(int n);
    bool readAll();
    void clear(bool all);
    uint value(const QString &ref);
    // All bits of a register of this window, without parsing a reference.
    uint bitsOf(const QString &name) const;
    void force(const QString &ref, uint v);
    SpiRaw *spiRaw() const;

    Ui::SpiController *ui;
    QByteArray m_pendingChain;
};
