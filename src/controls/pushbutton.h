#pragma once

#include "controls/universalcontrol.h"

#include <QPushButton>

namespace CustomControls {

// A button that runs an applet function: "pbBoard_setActive" runs setActive.
class PushButton : public QPushButton, public UniversalControl
{
    Q_OBJECT
    Q_INTERFACES(CustomControls::UniversalControl)

public:
    explicit PushButton(QWidget *parent = nullptr);

    // Direct calls (forms) reach the button's caption; through the interface
    // it stays empty because binding never names a button.
    using QPushButton::setText;
    using QPushButton::text;
    using QWidget::toolTip;

    bool isWritable() override;
    void setWritable(bool on) override;
    void setValue(double) override {}
    double value() override { return 0; }
    void setToolTip(const QString &tip) override { QWidget::setToolTip(tip); }
    QString toolTip() override { return QWidget::toolTip(); }

protected:
    QWidget *controlWidget() override { return this; }
    QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) override
    {
        return QObject::connect(this, &QPushButton::clicked, receiver, [slot] { slot(); });
    }
    void parseName() override;

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
};

} // namespace CustomControls
