#pragma once

#include "applet/applet.h"

namespace Ui {
class SpiRaw;
}

// Where a 16-bit SPI frame becomes a board command: configures the board's
// SPI port on connect, sends the frame held in SpiIn, keeps the answer in
// SpiOut and toggles the watchdog bit.
class SpiRaw : public Applet
{
    Q_OBJECT

public:
    explicit SpiRaw(QWidget *parent = nullptr);
    ~SpiRaw() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;
    bool transfer(TransferOp op, const QString &name) override;
    void onConnected() override;

    bool transferFrame();

private:
    Ui::SpiRaw *ui;
    // The status register the next imitated answer reports (mock-up only).
    uint m_mockStatusAddress = 0;

protected:
    QList<Function> buildFunctions() override;
};
