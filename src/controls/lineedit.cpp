#include "controls/lineedit.h"

#include "controls/truncation.h"
#include "util/bytes.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>

namespace CustomControls {

namespace {

const char *const InvalidStyle = "color:red";

// Wheel steps of all line edits add up here, so a fine-grained wheel moves the
// value by one only once a whole notch (120) has gathered.
int s_wheelAccumulator = 0;

} // namespace

LineEdit::LineEdit(QWidget *parent) : EditField(parent, KindLineEdit)
{

    modeMenu = new QMenu(this);
    auto *group = new QActionGroup(modeMenu);
    group->setExclusive(true);
    const auto addMode = [&](const char *text) {
        QAction *action = modeMenu->addAction(QString::fromLatin1(text));
        action->setCheckable(true);
        group->addAction(action);
        return action;
    };
    m_hexAction = addMode("HEX");
    m_binAction = addMode("BIN");
    m_decAction = addMode("DEC");
    m_arrayAction = addMode("ARRAY");
    m_decAction->setChecked(true);

    connect(this, &QLineEdit::textChanged, this, &LineEdit::slot_TextChanged);
    connect(this, &QLineEdit::returnPressed, this, &LineEdit::slot_triggered);
    connect(this, &QLineEdit::editingFinished, this, &LineEdit::slot_triggered);
    for (QAction *action : {m_hexAction, m_binAction, m_decAction, m_arrayAction})
        connect(action, &QAction::toggled, this, &LineEdit::slot_ActionMode);
}

void LineEdit::setValue(double value)
{
    if (!arrayMode) {
        const quint32 bits = quint32(truncateTo<qint64>(value));
        // Refreshes repeat the same value often; an unchanged text needs no layout.
        const QString shown = QString::number(bits, radix).toUpper();
        if (shown != text())
            setText(shown);
    }
    clearEditState();
}

double LineEdit::value()
{
    return value(nullptr);
}

double LineEdit::value(bool *ok)
{
    if (ok)
        *ok = false;
    // Raw content is no number; string variables read it through byteValue().
    if (arrayMode)
        return 0;
    const QString content = text();
    QString digits = content;
    if (content.startsWith(QLatin1String("0x"))) {
        radix = 16;
        digits = content.mid(2);
    } else if (content.startsWith(QLatin1String("0b"))) {
        radix = 2;
        digits = content.mid(2);
    } else if (content.startsWith(QLatin1String("0d"))) {
        radix = 10;
        digits = content.mid(2);
    } else if (content.startsWith(QLatin1Char('#'))) {
        arrayMode = true;
        setText(content.mid(1));
        return 0;
    }
    if (digits.size() != content.size())
        setText(digits);

    bool converted = false;
    const int number = digits.toInt(&converted, radix);
    if (!converted) {
        setStyleSheet(QLatin1String(InvalidStyle));
        return 0;
    }
    if (ok)
        *ok = true;
    return number;
}

bool LineEdit::readNumber(double &number)
{
    // Raw content ("#" in front, or ARRAY chosen) is no number either: a
    // register or number bound here must not get 0 from it.
    bool ok = false;
    number = arrayMode ? 0 : value(&ok);
    if (!ok)
        setStyleSheet(QLatin1String(InvalidStyle));
    return ok;
}

QByteArray LineEdit::byteValue()
{
    return text().toLatin1();
}

void LineEdit::setByteValue(const QByteArray &bytes)
{
    setText(QString::fromLatin1(upToNul(bytes)));
    clearEditState();
}

void LineEdit::prepare()
{
    value();
}

void LineEdit::slot_TextChanged()
{
    markEdited();
}

void LineEdit::slot_ActionMode(bool checked)
{
    // Toggling fires for the action left as well as the one chosen; convert once.
    if (!checked || m_syncingMenu)
        return;
    bool ok = false;
    uint number = text().toUInt(&ok, radix);
    if (!ok)
        number = 0;
    if (m_binAction->isChecked())
        radix = 2;
    else if (m_decAction->isChecked())
        radix = 10;
    else if (m_hexAction->isChecked())
        radix = 16;
    else if (m_arrayAction->isChecked())
        arrayMode = true;
    setValue(number);
}

void LineEdit::slot_triggered()
{
    if (!edited)
        return;
    emit signal_activated();
    // A text the receiver could not read stays marked until it parses or
    // the model value is shown again.
    if (styleSheet() == QLatin1String(InvalidStyle)) {
        edited = false;
        return;
    }
    clearEditState();
}

void LineEdit::mousePressEvent(QMouseEvent *event)
{
    if (handleScriptDragPress(event, ScriptGet | ScriptSet))
        return;
    QLineEdit::mousePressEvent(event);
}

void LineEdit::keyPressEvent(QKeyEvent *event)
{
    QLineEdit::keyPressEvent(event);
    if (isReadOnly())
        return;
    // Stepping shows the new number without marking it, so it is not sent yet.
    if (event->key() == Qt::Key_Up)
        setValue(value() + 1);
    else if (event->key() == Qt::Key_Down)
        setValue(value() - 1);
}

void LineEdit::wheelEvent(QWheelEvent *event)
{
    const int notches = takeWheelNotches(event, s_wheelAccumulator);
    if (notches == 0)
        return;
    setValue(value() + notches);
    markEdited();
}

void LineEdit::focusInEvent(QFocusEvent *event)
{
    EditField::focusInEvent(event);
    // Only a click places the cursor here, so Tab or a window's first focus
    // cannot leave the wheel changing a value the user never chose.
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton))
        clearFocus();
}

void LineEdit::contextMenuEvent(QContextMenuEvent *event)
{
    QAction *current = m_decAction;
    if (arrayMode)
        current = m_arrayAction;
    else if (radix == 2)
        current = m_binAction;
    else if (radix == 16)
        current = m_hexAction;
    // Showing the state is no choice: it must not convert or clear the edit.
    m_syncingMenu = true;
    current->setChecked(true);
    m_syncingMenu = false;
    modeMenu->popup(event->globalPos());
}

} // namespace CustomControls
