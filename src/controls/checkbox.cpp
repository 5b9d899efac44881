#include "controls/checkbox.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace CustomControls {

CheckBox::CheckBox(QWidget *parent) : QCheckBox(parent), UniversalControl(KindCheckBox)
{
    setMouseTracking(true);
}

bool CheckBox::isWritable()
{
    return writable;
}

void CheckBox::setWritable(bool on)
{
    writable = on;
}

void CheckBox::setValue(double value)
{
    // setChecked emits toggled() but never clicked(), so showing a model value
    // does not write it back. Refreshes mostly repeat the shown state.
    if (isChecked() != (value != 0))
        setChecked(value != 0);
}

double CheckBox::value()
{
    return isChecked() ? 1 : 0;
}

void CheckBox::paintEvent(QPaintEvent *event)
{
    QCheckBox::paintEvent(event);
    paintCtrlHint();
}

void CheckBox::mousePressEvent(QMouseEvent *event)
{
    if (handleScriptDragPress(event, ScriptGet | ScriptSet))
        return;
    if (writable)
        QCheckBox::mousePressEvent(event);
}

void CheckBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit doubleClick();
    QCheckBox::mouseDoubleClickEvent(event);
}

void CheckBox::mouseMoveEvent(QMouseEvent *event)
{
    QCheckBox::mouseMoveEvent(event);
    update();
}

void CheckBox::leaveEvent(QEvent *event)
{
    QCheckBox::leaveEvent(event);
    update();
}

void CheckBox::keyPressEvent(QKeyEvent *event)
{
    // A read-only bit may not be toggled from the keyboard either.
    if (!writable && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select)) {
        event->ignore();
        return;
    }
    QCheckBox::keyPressEvent(event);
}

} // namespace CustomControls
