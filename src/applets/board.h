#pragma once

#include "applet/applet.h"
#include "applet/windowroles.h"

#include <QStringList>
#include <QTimer>

namespace Ui {
class Board;
}

class ChipService;

// The demo board as a whole: PWM generators, the chip's enable and
// fail-safe pins, operating modes, the half-bridge configuration (default,
// user and loaded), two simple motor controls, measurements and status.
class Board : public Applet, public PwmPinView, public MotorBoard, public UserConfiguration
{
    Q_OBJECT

public:
    explicit Board(QWidget *parent = nullptr);
    ~Board() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;
    bool transfer(TransferOp op, const QString &name) override;
    void onConnected() override;
    void completePendingWork() override;
    void onDisconnected() override;

    // Waits ms milliseconds while the application keeps processing events.
    void wait(int ms) override;
    void enableDriver() override;
    void startGenerator(int n) override;
    void showPinState(int n) override;
    void sendUserConfiguration() override;

    uint dioSnapshot() const { return m_dioSnapshot; }
    quint16 adcReference() const { return m_adcReference; }
    // The configuration registers ("CR5A".."CR8B") whose user copies the
    // workspace loader last filled, in loading order.
    QStringList loadedNames() const { return m_loadedNames; }
    void setLoadedNames(const QStringList &names) { m_loadedNames = names; }
    bool isAutoRefreshing() const { return m_refreshTimer.isActive(); }

signals:
    // A complete reading of Measure or refresh: currents in A, supply in V.
    void signal_measured(double isen1, double isen2, double supply);

public slots:
    void on_cbEN_clicked(bool checked);
    void update_status();
    void slot_Timer_timeout();
    void Delay_end();

private slots:
    void on_cbAutoRefresh_toggled(bool checked);
    void on_hsPWM1_Duty_sliderMoved(int position);
    void on_hsPWM2_Duty_sliderMoved(int position);
    void on_cbPWM1_DIO_clicked();
    void on_cbPWM2_DIO_clicked();
    void on_cbFSM_clicked();

private:
    struct Reading
    {
        bool ok = false;
        // 0 when the read failed.
        double value = 0;
    };

    bool command(const QByteArray &text);
    // One command for all: no read waits for another's answer.
    QList<Reading> readBoardValues(const QStringList &names);
    uint regValue(const QString &ref) const;
    double variableValue(const char *name) const;
    void withGenerators(const std::function<void(PwmGenerators &)> &action);
    void switchFailSafe();
    bool readReference();
    // n 1 or 2.
    bool readCurrent(int n);
    bool readSupply();
    bool takeReference(const Reading &reading);
    bool takeCurrent(int n, const Reading &reading);
    bool takeSupply(const Reading &reading);
    // All four readings; a complete one is emitted.
    void measure();
    void readStatus();
    void refreshReadings();
    void runMotor(int first, int second, bool forward, bool waitBeforeModes);
    void stopMotor(int first, int second);
    void brakeMotor(int first, int second, int ms);
    void setPwmPinState(int n);
    void enableControls(bool on);

    Ui::Board *ui;
    uint m_dioSnapshot = 0;
    quint16 m_adcReference = 0;
    QStringList m_loadedNames;
    QTimer m_refreshTimer;
    // The first status update, 10 ms after connecting.
    QTimer m_statusTimer;
    QTimer *m_delayTimer = nullptr;
    bool m_delayPending = false;
    // The status update after a connect has not run yet.
    bool m_statusOwed = false;

protected:
    QList<Function> buildFunctions() override;
    // Names are wildcard patterns: "set*" runs the first match.
    FunctionMatch functionMatch() const override { return MatchWildcard; }
};
