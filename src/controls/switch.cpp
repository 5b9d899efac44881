#include "controls/switch.h"

#include "controls/truncation.h"

#include <QMouseEvent>

namespace CustomControls {

namespace {

int typeForName(const QString &typeName)
{
    // "[RED-GREEN]" has always meant the green lamp; stored forms rely on it.
    static const QList<QPair<QString, int>> types = {
        {QStringLiteral("[/--]"), MySwitch::Toggle},
        {QStringLiteral("[/-2]"), MySwitch::TwoWay},
        {QStringLiteral("[/-3]"), MySwitch::ThreeWay},
        {QStringLiteral("[/-4]"), MySwitch::FourWay},
        {QStringLiteral("[x]"), MySwitch::Signal},
        {QStringLiteral("[<>]"), MySwitch::Buffer},
        {QStringLiteral("[*]"), MySwitch::Button},
        {QStringLiteral("[R]"), MySwitch::RedButton},
        {QStringLiteral("[RED]"), MySwitch::RedLamp},
        {QStringLiteral("[GREEN]"), MySwitch::GreenLamp},
        {QStringLiteral("[RED-GREEN]"), MySwitch::GreenLamp},
    };
    for (const auto &type : types) {
        if (type.first == typeName)
            return type.second;
    }
    return -1;
}

bool readFlag(const QString &text)
{
    if (text.isEmpty())
        return false;
    if (text.at(0).isDigit()) {
        // Any non-zero digit before the first other character makes it set.
        for (const QChar c : text) {
            if (!c.isDigit())
                break;
            if (c != QLatin1Char('0'))
                return true;
        }
        return false;
    }
    return text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
}

} // namespace

Switch::Switch(QWidget *parent) : MySwitch(parent), UniversalControl(KindSwitch)
{
    setMouseTracking(true);
}

bool Switch::isWritable()
{
    return !isReadOnly();
}

void Switch::setWritable(bool on)
{
    setReadOnly(!on);
}

void Switch::setValue(double value)
{
    selectValue(truncateTo<int>(value));
}

double Switch::value()
{
    return stateValue();
}

QString Switch::name(int part)
{
    if (part == 0 || part == 2)
        return UniversalControl::name(part);
    return UniversalControl::name(1);
}

void Switch::setModel(int type)
{
    m_model = type;
    setType(type);
}

void Switch::prepare()
{
    const QString options = MySwitch::text();
    if (options.isEmpty())
        return;

    QString typeName;
    double angle = 0;
    bool mirrorX = false;
    bool mirrorY = mirroredY();
    if (options.startsWith(QLatin1Char('['))) {
        // Short form "type,angle,mirrorX": each field runs to the end of the
        // text, so "[*],90,1" has no readable angle.
        typeName = options.section(QLatin1Char(','), 0, 0);
        angle = options.section(QLatin1Char(','), 1).toDouble();
        mirrorX = options.section(QLatin1Char(','), 2).toInt() != 0;
    } else {
        mirrorY = false;
        for (const QString &item : options.split(QLatin1Char(','))) {
            const QStringList keyValue = item.trimmed().split(QLatin1Char('='));
            if (keyValue.size() != 2)
                continue;
            const QString key = keyValue.at(0).trimmed();
            const QString value = keyValue.at(1).trimmed();
            if (key == QLatin1String("type"))
                typeName = value;
            else if (key == QLatin1String("angle"))
                angle = value.toDouble();
            else if (key == QLatin1String("mirrorX"))
                mirrorX = readFlag(value);
            else if (key == QLatin1String("mirrorY"))
                mirrorY = readFlag(value);
        }
    }
    const int type = typeForName(typeName);
    if (type >= 0)
        setModel(type);
    setAngle(angle);
    setMirroredX(mirrorX);
    setMirroredY(mirrorY);
}

void Switch::paintEvent(QPaintEvent *event)
{
    MySwitch::paintEvent(event);
    paintCtrlHint();
}

void Switch::mousePressEvent(QMouseEvent *event)
{
    // The click is handled first, so a Ctrl+click also changes the state.
    MySwitch::mousePressEvent(event);
    handleScriptDragPress(event, ScriptGet | ScriptSet);
}

void Switch::mouseMoveEvent(QMouseEvent *event)
{
    MySwitch::mouseMoveEvent(event);
    update();
}

void Switch::leaveEvent(QEvent *event)
{
    MySwitch::leaveEvent(event);
    update();
}

} // namespace CustomControls
