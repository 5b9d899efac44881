#include "controls/editfield.h"

#include <QWheelEvent>

namespace CustomControls {

namespace {

const char *const EditedStyle = "color:blue;";

} // namespace

EditField::EditField(QWidget *parent, int kind) : QLineEdit(parent), UniversalControl(kind)
{
    setFocusPolicy(Qt::WheelFocus);
    setMouseTracking(true);
}

QMetaObject::Connection EditField::connectTriggerSignal(QObject *receiver, std::function<void()> slot)
{
    return QObject::connect(this, &EditField::signal_activated, receiver, [slot] { slot(); });
}

void EditField::clearEditState()
{
    if (!styleSheet().isEmpty())
        setStyleSheet(QString());
    edited = false;
}

void EditField::markEdited()
{
    edited = true;
    setStyleSheet(QLatin1String(EditedStyle));
}

int EditField::takeWheelNotches(QWheelEvent *event, int &accumulator)
{
    if (isReadOnly() || !focused) {
        event->ignore();
        return 0;
    }
    event->accept();
    const QPoint delta = event->angleDelta();
    accumulator += delta.y() != 0 ? delta.y() : delta.x();
    const int notches = accumulator / 120;
    accumulator %= 120;
    return notches;
}

void EditField::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
    if (isConnected())
        paintCtrlHint();
}

void EditField::mouseMoveEvent(QMouseEvent *event)
{
    QLineEdit::mouseMoveEvent(event);
    update();
}

void EditField::leaveEvent(QEvent *event)
{
    QLineEdit::leaveEvent(event);
    update();
}

void EditField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    focused = true;
}

void EditField::focusOutEvent(QFocusEvent *event)
{
    focused = false;
    QLineEdit::focusOutEvent(event);
}

} // namespace CustomControls
