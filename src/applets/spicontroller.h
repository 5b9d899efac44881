#pragma once

#include "applet/applet.h"

namespace Ui {
class SpiController;
}

// The chip's registers in a window: the named functions that write and
// read them (the chip service does the work), and the reaction to a chip
// that lost its registers.
class SpiController : public Applet
{
    Q_OBJECT

public:
    explicit SpiController(QWidget *parent = nullptr);
    ~SpiController() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;
    void onConnected() override;
    void onDisconnected() override;
    void describeExport(RegisterExport &out) override;

protected:
    bool writeParameter(const QString &name) override;

private slots:
    void on_cbSR0_10_stateChanged(int state);

private:
    QList<Function> buildFunctions() override;
    // All bits of a register of this window, without parsing a reference.
    uint bitsOf(const QString &name) const;

    Ui::SpiController *ui;
};
