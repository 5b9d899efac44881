#pragma once

#include "applet/applet.h"

namespace Ui {
class Basic;
}

// Two DC motors with run forward, run backward, stop and a speed slider;
// each run brings the whole chain up through the chip and the board's pins.
class Basic : public Applet
{
    Q_OBJECT

public:
    explicit Basic(QWidget *parent = nullptr);
    ~Basic() override;

    bool init() override;
    QVariant run(const QString &function, const QVariant &argument) override;
    void onConnected() override;

private:
    void runMotor(int first, int second, bool forward);
    void stopMotor(int first, int second);

    Ui::Basic *ui;

protected:
    QList<Function> buildFunctions() override;
    // Names are wildcard patterns: "set*" runs the first match.
    FunctionMatch functionMatch() const override { return MatchWildcard; }
};
