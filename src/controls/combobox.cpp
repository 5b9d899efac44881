#include "controls/combobox.h"

#include "controls/truncation.h"
#include "util/bytes.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>

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

void ComboBox::changeEvent(QEvent *event)
{
    // A form moved into its tab or window tells every control that the
    // style changed. The base class then builds the popup list just to
    // update it: a third of a millisecond per box, most of start-up's share.
    // Before the first polish nothing here depends on the style yet, and a
    // popup built later takes the style as it is built.
    if (event->type() == QEvent::StyleChange && !testAttribute(Qt::WA_WState_Polished) && !popupBuilt()) {
        QWidget::changeEvent(event);
        return;
    }
    QComboBox::changeEvent(event);
}

bool ComboBox::popupBuilt() const
{
    const QObjectList &kids = children();
    return std::any_of(kids.begin(), kids.end(),
                       [](const QObject *child) { return child->inherits("QComboBoxPrivateContainer"); });
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
