#include "controls/pushbutton.h"

#include <QMouseEvent>

namespace CustomControls {

PushButton::PushButton(QWidget *parent) : QPushButton(parent), UniversalControl(KindPushButton)
{
    setMouseTracking(true);
}

bool PushButton::isWritable()
{
    return isCheckable();
}

void PushButton::setWritable(bool on)
{
    setCheckable(on);
}

void PushButton::parseName()
{
    const QString accessible = accessibleName();
    if (!accessible.isEmpty()) {
        UniversalControl::parseName();
        return;
    }
    // Prefix, applet, '_', function and an optional '_' argument.
    const QStringList parts = objectName().mid(2).split(QLatin1Char('_'));
    namePrefix = parts.value(0);
    itemName = parts.value(1);
    fieldSpec = parts.value(2);
    fullName = itemName;
}

void PushButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    paintCtrlHint();
}

void PushButton::mousePressEvent(QMouseEvent *event)
{
    if (handleScriptDragPress(event, ScriptRun))
        return;
    QPushButton::mousePressEvent(event);
}

void PushButton::mouseMoveEvent(QMouseEvent *event)
{
    QPushButton::mouseMoveEvent(event);
    update();
}

void PushButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    update();
}

} // namespace CustomControls
