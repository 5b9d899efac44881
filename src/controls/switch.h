#pragma once

#include "controls/myswitch.h"
#include "controls/universalcontrol.h"

namespace CustomControls {

// A picture switch bound to a value: it shows the state whose value the model
// holds and a click writes the new state's value. Its caption is the option
// text ("type=[*],angle=90" or "[*],90") that picks the pictures.
class Switch : public MySwitch, public UniversalControl
{
    Q_OBJECT
    Q_INTERFACES(CustomControls::UniversalControl)
    Q_PROPERTY(int model READ model WRITE setModel)
    Q_PROPERTY(int currentState READ stateValue WRITE selectValue)
    Q_PROPERTY(double angle READ angle WRITE setAngle)
    Q_PROPERTY(bool mirroredX READ mirroredX WRITE setMirroredX)
    Q_PROPERTY(bool mirroredY READ mirroredY WRITE setMirroredY)

public:
    explicit Switch(QWidget *parent = nullptr);

    // Direct calls (forms) reach the label text, which holds the options;
    // binding never replaces it.
    using MySwitch::setText;
    using MySwitch::text;
    using QWidget::toolTip;

    bool isWritable() override;
    void setWritable(bool on) override;
    void setValue(double value) override;
    double value() override;
    QString name(int part) override;
    void setToolTip(const QString &tip) override { QWidget::setToolTip(tip); }
    QString toolTip() override { return QWidget::toolTip(); }
    void prepare() override;

    // The image set last chosen through this property, -1 before.
    int model() const { return m_model; }
    void setModel(int type);

protected:
    QWidget *controlWidget() override { return this; }
    QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) override
    {
        return QObject::connect(this, &MySwitch::signal_clicked, receiver, [slot] { slot(); });
    }

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int m_model = -1;
};

} // namespace CustomControls
