#pragma once

#include "controls/universalcontrol.h"

#include <QCheckBox>

namespace CustomControls {

// A check box bound to one bit; its text is the caption binding may fill in.
class CheckBox : public QCheckBox, public UniversalControl
{
    Q_OBJECT
    Q_INTERFACES(CustomControls::UniversalControl)

public:
    explicit CheckBox(QWidget *parent = nullptr);

    using QCheckBox::text;
    using QWidget::toolTip;

    bool isWritable() override;
    void setWritable(bool on) override;
    void setValue(double value) override;
    double value() override;
    void setToolTip(const QString &tip) override { QWidget::setToolTip(tip); }
    QString toolTip() override { return QWidget::toolTip(); }
    void setText(const QString &caption) override { QCheckBox::setText(caption); }
    QString text() override { return QCheckBox::text(); }

signals:
    void doubleClick();

protected:
    QWidget *controlWidget() override { return this; }
    QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) override
    {
        return QObject::connect(this, &QCheckBox::clicked, receiver, [slot] { slot(); });
    }

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool writable = true;
};

} // namespace CustomControls
