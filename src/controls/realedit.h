#pragma once

#include "controls/universalcontrol.h"

#include <QLineEdit>

namespace CustomControls {

// A real number shown with an engineering prefix ("1.50k", "4.70m") that also
// reads such prefixes, and the resistor style "4k7", from the user.
class RealEdit : public QLineEdit, public UniversalControl
{
    Q_OBJECT
    Q_INTERFACES(CustomControls::UniversalControl)

public:
    explicit RealEdit(QWidget *parent = nullptr);

    // Direct calls (forms, applets) reach the widget's text; through the
    // interface the caption stays empty because an edit field has none.
    using QLineEdit::setText;
    using QLineEdit::text;
    using QWidget::toolTip;

    bool isWritable() override;
    void setWritable(bool writable) override;
    void setValue(double value) override;
    double value() override;
    void setToolTip(const QString &tip) override { QWidget::setToolTip(tip); }
    QString toolTip() override { return QWidget::toolTip(); }

    // Decimals shown, 0 to 15; also sets the arrow-key and wheel step.
    void setPrecision(int decimals);
    // Without engineering format the value is written in plain fixed notation.
    void setEngineering(bool on);

    static constexpr int MaxPrecision = 15;

signals:
    void signal_activated();

public slots:
    void slot_CustomPrecision();
    void slot_TextChanged();
    void slot_triggered();

protected:
    QWidget *controlWidget() override { return this; }
    QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) override
    {
        return QObject::connect(this, &RealEdit::signal_activated, receiver, [slot] { slot(); });
    }

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void clearEditState();
    void markEdited();

    int prefixIndex = 3;
    int precision = 2;
    double step = 0.01;
    bool edited = false;
    double savedValue = 0;
    bool engineering = true;
    bool focused = false;
    double m_shownValue = 0;
};

} // namespace CustomControls
