#pragma once

#include "controls/universalcontrol.h"

#include <QSlider>

namespace CustomControls {

// A slider bound to an integer; its range comes from the form.
class Slider : public QSlider, public UniversalControl
{
    Q_OBJECT
    Q_INTERFACES(CustomControls::UniversalControl)

public:
    explicit Slider(QWidget *parent = nullptr);

    // Direct calls with integers (forms) reach the slider's own range.
    using QSlider::setRange;
    using QWidget::toolTip;

    bool isWritable() override;
    void setWritable(bool on) override;
    void setValue(double value) override;
    double value() override;
    void setToolTip(const QString &tip) override { QWidget::setToolTip(tip); }
    QString toolTip() override { return QWidget::toolTip(); }

protected:
    QWidget *controlWidget() override { return this; }
    QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) override
    {
        return QObject::connect(this, &QSlider::valueChanged, receiver, [slot] { slot(); });
    }

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    int lastValue = 0;
    bool writable = true;
};

} // namespace CustomControls
