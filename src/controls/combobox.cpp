#include "controls/combobox.h"

#include "controls/truncation.h"
#include "util/bytes.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace CustomControls {

ComboBox::ComboBox(QWidget *parent) : QComboBox(parent), UniversalControl(KindComboBox)
{
    setMouseTracking(true);
    connect(this, &QComboBox::editTextChanged, this, &ComboBox::slot_TextChanged);
    connect(this, &QComboBox::activated, this, &ComboBox::slot_activated);
}

bool ComboBox::isWritable()
{
    return writable;
}

void ComboBox::setWritable(bool on)
{
    writable = on;
}

void ComboBox::setValue(double value)
{
    // A code without an item leaves no current item.
    setCurrentIndex(truncateTo<int>(value));
    clearEditState();
}

double ComboBox::value()
{
    const int index = currentIndex();
    clearEditState();
    return index;
}

QByteArray ComboBox::byteValue()
{
    return currentText().toLatin1();
}

void ComboBox::setByteValue(const QByteArray &bytes)
{
    setEditText(QString::fromLatin1(upToNul(bytes)));
    clearEditState();
}

void ComboBox::slot_activated()
{
    emit signal_activated();
}

void ComboBox::slot_TextChanged()
{
    edited = true;
    setStyleSheet(QStringLiteral("color:blue;"));
}

void ComboBox::clearEditState()
{
    if (!edited)
        return;
    setStyleSheet(QString());
    edited = false;
}

void ComboBox::paintEvent(QPaintEvent *event)
{
    QComboBox::paintEvent(event);
    if (isConnected())
        paintCtrlHint();
}

void ComboBox::mousePressEvent(QMouseEvent *event)
{
    // A bound read-only choice can still be dragged into a script that reads it.
    if (isConnected() && handleScriptDragPress(event, ScriptGet | ScriptSet))
        return;
    if (writable)
        QComboBox::mousePressEvent(event);
}

void ComboBox::mouseMoveEvent(QMouseEvent *event)
{
    QComboBox::mouseMoveEvent(event);
    update();
}

void ComboBox::leaveEvent(QEvent *event)
{
    QComboBox::leaveEvent(event);
    update();
}

void ComboBox::keyPressEvent(QKeyEvent *event)
{
    // A read-only field may not change from the keyboard either.
    if (!writable) {
        event->ignore();
        return;
    }
    // Return commits what is shown, even unchanged.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit signal_activated();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void ComboBox::wheelEvent(QWheelEvent *event)
{
    if (!writable) {
        event->ignore();
        return;
    }
    QComboBox::wheelEvent(event);
}

} // namespace CustomControls
