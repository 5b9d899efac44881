#pragma once

#include "controls/editfield.h"

namespace CustomControls {

// A real number shown with an engineering prefix ("1.50k", "4.70m") that also
// reads such prefixes, and the resistor style "4k7", from the user.
class RealEdit : public EditField
{
    Q_OBJECT

public:
    explicit RealEdit(QWidget *parent = nullptr);

    void setValue(double value) override;
    double value() override;

    // Decimals shown, 0 to 15; also sets the arrow-key and wheel step.
    void setPrecision(int decimals);
    // Without engineering format the value is written in plain fixed notation.
    void setEngineering(bool on);

    static constexpr int MaxPrecision = 15;

public slots:
    void slot_CustomPrecision();
    void slot_TextChanged();
    void slot_triggered();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    int prefixIndex = 3;
    int precision = 2;
    double step = 0.01;
    double savedValue = 0;
    bool engineering = true;
    double m_shownValue = 0;
};

} // namespace CustomControls
