#pragma once

#include "controls/universalcontrol.h"

#include <QComboBox>

namespace CustomControls {

// A choice of field codes: item i of the form's list stands for code i.
class ComboBox : public QComboBox, public UniversalControl
{
    Q_OBJECT
    Q_INTERFACES(CustomControls::UniversalControl)

public:
    explicit ComboBox(QWidget *parent = nullptr);

    using QWidget::toolTip;

    bool isWritable() override;
    void setWritable(bool on) override;
    void setValue(double value) override;
    double value() override;
    void setToolTip(const QString &tip) override { QWidget::setToolTip(tip); }
    QString toolTip() override { return QWidget::toolTip(); }
    QByteArray byteValue() override;
    void setByteValue(const QByteArray &bytes) override;

signals:
    void signal_activated();

public slots:
    void slot_activated();
    void slot_TextChanged();

protected:
    QWidget *controlWidget() override { return this; }
    QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) override
    {
        return QObject::connect(this, &ComboBox::signal_activated, receiver, [slot] { slot(); });
    }

    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void clearEditState();
    bool popupBuilt() const;

    bool writable = true;
    bool edited = false;
};

} // namespace CustomControls
