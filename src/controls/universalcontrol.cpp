#include "controls/universalcontrol.h"

#include <QDrag>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>

namespace CustomControls {

namespace {

const char *const ChipName = "HQL3318";

std::function<QWidget *()> &activeAppletProvider()
{
    static std::function<QWidget *()> provider;
    return provider;
}

bool s_dragRunning = false;

} // namespace

void UniversalControl::setActiveAppletProvider(std::function<QWidget *()> provider)
{
    activeAppletProvider() = std::move(provider);
}

QString UniversalControl::bindingFromObjectName(const QString &objectName)
{
    QString name = objectName.mid(2);
    const int first = name.indexOf(QLatin1Char('_'));
    if (first < 0)
        return name;
    name[first] = QLatin1Char('[');
    const int second = name.indexOf(QLatin1Char('_'));
    if (second > 0)
        name[second] = QLatin1Char(':');
    return name + QLatin1Char(']');
}

UniversalControl::BindingName UniversalControl::parseBinding(const QString &source)
{
    BindingName result;
    result.full = source;
    QString copy = source;
    for (QChar &c : copy) {
        if (c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('[') ||
            c == QLatin1Char(']') || c == QLatin1Char('.'))
            c = QLatin1Char(' ');
    }
    const QStringList parts = copy.split(QLatin1Char(' '));
    switch (parts.size()) {
    case 1: result.item = parts.at(0); break;
    case 2:
    case 3:
        result.item = parts.at(0);
        result.field = parts.at(1);
        break;
    case 4:
        result.prefix = parts.at(0);
        result.item = parts.at(1);
        result.field = parts.at(2);
        break;
    default: break;
    }
    return result;
}

void UniversalControl::parseName()
{
    QWidget *w = controlWidget();
    const QString accessible = w->accessibleName();
    const BindingName parsed =
        parseBinding(accessible.isEmpty() ? bindingFromObjectName(w->objectName()) : accessible);
    namePrefix = parsed.prefix;
    itemName = parsed.item;
    fieldSpec = parsed.field;
    fullName = parsed.full;
}

QString UniversalControl::name(int part)
{
    if (!nameParsed) {
        parseName();
        nameParsed = true;
    }
    if (part == 0)
        return fieldSpec;
    if (part == 1)
        return itemName;
    return fullName;
}

void UniversalControl::connectTrigger(QObject *receiver, std::function<void()> slot)
{
    disconnectTrigger();
    m_connected = true;
    m_trigger = connectTriggerSignal(receiver, std::move(slot));
}

void UniversalControl::disconnectTrigger()
{
    QObject::disconnect(m_trigger);
}

void UniversalControl::setToolTip(const QString &text)
{
    controlWidget()->setToolTip(text);
}

QString UniversalControl::toolTip()
{
    return controlWidget()->toolTip();
}

UniversalControl::ScriptSnippet UniversalControl::scriptSnippet(int flags)
{
    QWidget *applet = activeAppletProvider() ? activeAppletProvider()() : nullptr;
    if (!applet)
        applet = controlWidget()->window();
    const QString chip = QString::fromLatin1(ChipName);
    const QString q = applet->objectName() + QLatin1Char('.') + name(2);

    ScriptSnippet snippet;
    snippet.formats.append(
        {QStringLiteral("VBScript Init Object"), QStringLiteral("Set @%1 = GetObject(,\"%2.%3\") ")
                                                     .arg(chip, chip, QStringLiteral("Bench"))
                                                     .toLatin1()});
    if (flags & ScriptRun) {
        snippet.formats.append(
            {QStringLiteral("VBScript Set Data"),
             QStringLiteral("call @%1.run(\"%2\", \"%3\" ) ").arg(chip, q, name(0)).toLatin1()});
    } else {
        if (flags & ScriptGet)
            snippet.formats.append({QStringLiteral("VBScript Get Data"),
                                    QStringLiteral("# = @%1.get(\"%2\" ) ").arg(chip, q).toLatin1()});
        if (flags & ScriptSet)
            snippet.formats.append({QStringLiteral("VBScript Set Data"),
                                    QStringLiteral("call @%1.set(\"%2\", # ) ").arg(chip, q).toLatin1()});
    }
    snippet.formats.append(
        {QStringLiteral("VBScript Clean-up"), QStringLiteral("Set @%1 = Nothing ").arg(chip).toLatin1()});

    snippet.text = q + QStringLiteral(" #%1:").arg(chip);
    if (flags & ScriptGet)
        snippet.text += QLatin1String("get");
    if (flags & ScriptSet)
        snippet.text += QLatin1String(",set");
    if (flags & ScriptRun)
        snippet.text += QLatin1String("run");
    return snippet;
}

bool UniversalControl::handleScriptDragPress(QMouseEvent *event, int flags)
{
    if (event->button() != Qt::LeftButton || event->modifiers() != Qt::ControlModifier)
        return false;
    startScriptDrag(flags);
    return true;
}

void UniversalControl::startScriptDrag(int flags)
{
    if (s_dragRunning)
        return;
    const ScriptSnippet snippet = scriptSnippet(flags);
    QWidget *applet = activeAppletProvider() ? activeAppletProvider()() : nullptr;
    auto *mime = new QMimeData;
    for (const auto &format : snippet.formats)
        mime->setData(format.first, format.second);
    mime->setText(snippet.text);
    QPointer<QDrag> drag = new QDrag(applet ? static_cast<QObject *>(applet) : controlWidget());
    drag->setMimeData(mime);
    s_dragRunning = true;
    drag->exec(Qt::CopyAction);
    s_dragRunning = false;
    if (drag)
        drag->deleteLater();
}

void UniversalControl::paintCtrlHint()
{
    QWidget *w = controlWidget();
    if (!(QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) || !w->underMouse())
        return;
    QPainter painter(w);
    painter.fillRect(w->rect(), QColor(255, 170, 0, 100));
}

} // namespace CustomControls
