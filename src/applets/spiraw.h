#pragma once

#include "applet/applet.h"

namespace Ui {
class SpiRaw;
}

// A 16-bit SPI frame by hand: the frame held in SpiIn goes to the chip, its
// answer shows in SpiOut; the board's SPI port is configured on connect.
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

private:
    Ui::SpiRaw *ui;

protected:
    QList<Function> buildFunctions() override;
};
