#include "controls/realedit.h"

#include <QInputDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QWheelEvent>

#include <cmath>

namespace CustomControls {

namespace {

// Index 3, the space, is the unit itself.
const char PrefixLetters[] = "GMk munp";
const int PrefixCount = 8;
const int UnitIndex = 3;
const double Multipliers[PrefixCount] = {1e9, 1e6, 1e3, 1, 1e-3, 1e-6, 1e-9, 1e-12};
const int Exponents[PrefixCount] = {9, 6, 3, 0, -3, -6, -9, -12};

// Wheel steps of all real edits add up here (apart from the line edits').
int s_wheelAccumulator = 0;

double readDouble(const QString &text)
{
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok ? number : 0;
}

} // namespace

RealEdit::RealEdit(QWidget *parent) : EditField(parent, KindRealEdit)
{
    connect(this, &QLineEdit::textChanged, this, &RealEdit::slot_TextChanged);
    connect(this, &QLineEdit::returnPressed, this, &RealEdit::slot_triggered);
    connect(this, &QLineEdit::editingFinished, this, &RealEdit::slot_triggered);
    setPrecision(2);
}

void RealEdit::setValue(double value)
{
    QString shown;
    if (engineering) {
        // The prefix is chosen before rounding: 999.999 shows as 1000.00.
        int index = UnitIndex;
        for (int i = 0; i < PrefixCount; ++i) {
            if (Multipliers[i] <= std::fabs(value)) {
                index = i;
                break;
            }
        }
        prefixIndex = index;
        shown = QString::number(value / Multipliers[index], 'f', precision);
        if (index != UnitIndex)
            shown += QLatin1Char(PrefixLetters[index]);
    } else {
        shown = QString::number(value, 'f', precision);
    }
    if (shown != text())
        setText(shown);
    m_shownValue = value;
    clearEditState();
}

double RealEdit::value()
{
    const QString content = text();
    prefixIndex = UnitIndex;
    for (int i = PrefixCount - 1; i >= 0; --i) {
        if (content.contains(QLatin1Char(PrefixLetters[i]))) {
            prefixIndex = i;
            break;
        }
    }
    if (!content.contains(QLatin1Char(PrefixLetters[prefixIndex])))
        return readDouble(content);

    const QChar letter = QLatin1Char(PrefixLetters[prefixIndex]);
    const double multiplier = Multipliers[prefixIndex];
    if (content.contains(QLatin1Char('.')) && content.endsWith(letter)) {
        QString number = content;
        number.remove(letter);
        return readDouble(number) * multiplier;
    }

    static const QRegularExpression pattern(QStringLiteral("([0-9]*\\.)?([0-9]+)?[GMkmunp]{1}([0-9]+)?"));
    const QRegularExpressionMatch match = pattern.match(content);
    if (!match.hasMatch())
        return 0;
    const QString whole = match.captured(2);
    const QString decimals = match.captured(3);
    if (decimals.isEmpty())
        return readDouble(whole) * multiplier;
    // Digits after the letter are its decimals for every prefix (4k7, 4M7, 2u2).
    return readDouble(QStringLiteral("%1.%2e%3").arg(whole, decimals).arg(Exponents[prefixIndex]));
}

void RealEdit::setPrecision(int decimals)
{
    precision = qBound(0, decimals, MaxPrecision);
    step = precision == 0 ? 1.0 : std::pow(10.0, -precision);
    setValue(value());
}

void RealEdit::setEngineering(bool on)
{
    engineering = on;
    setValue(value());
}

void RealEdit::slot_CustomPrecision()
{
    bool ok = false;
    const int decimals = QInputDialog::getInt(this, QString(), QStringLiteral("Precision"), precision, 0,
                                              MaxPrecision, 1, &ok);
    if (ok)
        setPrecision(decimals);
}

void RealEdit::slot_TextChanged()
{
    if (!edited)
        savedValue = m_shownValue;
    markEdited();
}

void RealEdit::slot_triggered()
{
    if (!edited)
        return;
    emit signal_activated();
    clearEditState();
}

void RealEdit::mousePressEvent(QMouseEvent *event)
{
    if (isConnected() && handleScriptDragPress(event, ScriptGet | ScriptSet))
        return;
    QLineEdit::mousePressEvent(event);
}

void RealEdit::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (isReadOnly())
            break;
        // The step is in base units whatever prefix is shown.
        setValue(value() + (event->key() == Qt::Key_Up ? step : -step));
        return;
    case Qt::Key_Escape:
        if (!edited)
            break;
        setValue(savedValue);
        return;
    default: break;
    }
    QLineEdit::keyPressEvent(event);
}

void RealEdit::wheelEvent(QWheelEvent *event)
{
    const int notches = takeWheelNotches(event, s_wheelAccumulator);
    if (notches == 0)
        return;
    const double current = value();
    double multiplier = Multipliers[prefixIndex];
    if (event->modifiers() == Qt::ShiftModifier) {
        setValue(current + notches * multiplier);
    } else {
        const double change = notches * step;
        // Stepping down from exactly one unit of a prefix continues in the
        // next smaller one: 1.00k goes to 999.99, not 990.00.
        if (current == multiplier && change < 0 && prefixIndex + 1 < PrefixCount)
            multiplier = Multipliers[prefixIndex + 1];
        setValue(current + change * multiplier);
    }
    markEdited();
}

} // namespace CustomControls
