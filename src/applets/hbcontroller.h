#pragma once

#include "applet/applet.h"
#include "applet/windowroles.h"

namespace Ui {
class HBController;
}

// Register-level control of the HQL3318 grouped by half-bridge, and the
// demo board's two PWM generators: the only applet that turns changes of the
// PWM variables into board commands.
class HBController : public Applet, public PwmGenerators
{
    Q_OBJECT

public:
    explicit HBController(QWidget *parent = nullptr);
    ~HBController() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;
    bool transfer(TransferOp op, const QString &name) override;
    void onConnected() override;

    void sendFrequency(int n) override;
    void sendDuty(int n) override;
    void sendPin(int n) override;
    void sendAll() override;

private slots:
    void on_hsPWM1_Duty_sliderMoved(int position);
    void on_hsPWM2_Duty_sliderMoved(int position);
    void on_cbPWM1_DIO_clicked();
    void on_cbPWM2_DIO_clicked();

private:
    // n is the generator's number in the window (1 or 2); the board counts from 0.
    bool setFrequency(int n);
    bool setDuty(int n);
    bool setPin(int n);
    void switchGenerator(int n);
    void resetGenerator(int n);
    void sendDutyCommand(int n);
    void updateGenerators();
    // CR0 to CR3 and both halves of the half-bridge's configuration.
    bool writeHalfBridge(int bridge);
    bool readHalfBridges();
    double variable(const QString &name) const;
    void command(const QByteArray &text);

    Ui::HBController *ui;
    // Board commands that failed so far; a transfer fails when it adds one.
    int m_failedCommands = 0;

protected:
    QList<Function> buildFunctions() override;
};
