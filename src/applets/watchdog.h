#pragma once

#include "applet/applet.h"
#include "applet/windowroles.h"

namespace Ui {
class WatchDog;
}

// The board firmware's watchdog service routine, the chip's hardware
// watchdog time-out (CR1 bit 8) and the safety switch output DIO21.
class WatchDog : public Applet, public WatchdogRoutine
{
    Q_OBJECT

public:
    explicit WatchDog(QWidget *parent = nullptr);
    ~WatchDog() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;
    void onConnected() override;
    void setRoutineEnabled(bool on) override;

private slots:
    void on_cbWDdio_toggled(bool checked);
    void on_cbRoutineEN_0_toggled();
    void on_cbWDTimeout_clicked(bool checked);

private:
    void command(const QByteArray &text);
    // The board's routine on or off as its check box says ("WDenable").
    bool switchRoutine();

    Ui::WatchDog *ui;

protected:
    QList<Function> buildFunctions() override;
    // Names are wildcard patterns: "set*" runs the first match.
    FunctionMatch functionMatch() const override { return MatchWildcard; }
};
