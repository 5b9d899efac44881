#include "controls/slider.h"

#include "controls/truncation.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace CustomControls {

Slider::Slider(QWidget *parent) : QSlider(parent), UniversalControl(KindSlider)
{
    setMouseTracking(true);
    // The user's moves count as shown values too, so a model value the model
    // kept after refusing a move still brings the handle back.
    connect(this, &QAbstractSlider::valueChanged, this, [this](int shown) { lastValue = shown; });
}

bool Slider::isWritable()
{
    return writable;
}

void Slider::setWritable(bool on)
{
    writable = on;
}

void Slider::setValue(double value)
{
    // Repeating a model value must not emit valueChanged and write it back.
    const int number = truncateTo<int>(value);
    if (number != lastValue)
        QSlider::setValue(number);
    lastValue = number;
}

double Slider::value()
{
    return QSlider::value();
}

void Slider::paintEvent(QPaintEvent *event)
{
    QSlider::paintEvent(event);
    paintCtrlHint();
}

void Slider::mousePressEvent(QMouseEvent *event)
{
    if (handleScriptDragPress(event, ScriptGet | ScriptSet))
        return;
    if (!writable)
        return;
    QSlider::mousePressEvent(event);
}

void Slider::mouseMoveEvent(QMouseEvent *event)
{
    QSlider::mouseMoveEvent(event);
    update();
}

void Slider::leaveEvent(QEvent *event)
{
    QSlider::leaveEvent(event);
    update();
}

void Slider::keyPressEvent(QKeyEvent *event)
{
    if (!writable) {
        event->ignore();
        return;
    }
    QSlider::keyPressEvent(event);
}

void Slider::wheelEvent(QWheelEvent *event)
{
    if (!writable) {
        event->ignore();
        return;
    }
    QSlider::wheelEvent(event);
}

} // namespace CustomControls
