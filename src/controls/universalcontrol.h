#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QMouseEvent;
class QWidget;

namespace CustomControls {

// The contract between a bindable widget and its applet. A control derives
// first from a Qt widget and second from this interface; its object name
// (or accessible name) names what it binds to: "cbSR0_4" binds SR0[4].
class UniversalControl
{
public:
    enum Kind
    {
        KindCheckBox = 1,
        KindPushButton = 2,
        KindLineEdit = 4,
        KindRealEdit = 5,
        KindComboBox = 6,
        KindSwitch = 8,
        KindSlider = 11,
    };
    enum ScriptFlag
    {
        ScriptSet = 1,
        ScriptGet = 2,
        ScriptRun = 4
    };

    struct BindingName
    {
        QString prefix;
        QString item;
        QString field;
        QString full;
    };

    virtual ~UniversalControl() = default;

    int kind() const { return m_kind; }
    bool isConnected() const { return m_connected; }

    virtual bool isWritable() = 0;
    virtual void setWritable(bool writable) = 0;
    virtual void setValue(double value) = 0;
    virtual double value() = 0;
    // The value as a number; false when what the user typed is none.
    virtual bool readNumber(double &number)
    {
        number = value();
        return true;
    }
    // 0 the field or argument, 1 the item name, anything else the full name.
    virtual QString name(int part);
    // Calls slot, in the receiver's thread, each time the user commits a
    // value or presses the button; one connection at a time.
    void connectTrigger(QObject *receiver, std::function<void()> slot);
    void disconnectTrigger();
    virtual void setToolTip(const QString &text);
    virtual void setText(const QString &) {}
    virtual QString text() { return QString(); }
    virtual QString toolTip();
    virtual void applyOptions(const QString &) {}
    virtual void setRange(double, double) {}
    virtual QByteArray byteValue() { return QByteArray(); }
    virtual void setByteValue(const QByteArray &) {}
    virtual void prepare() {}

    // "cbSR0_4" -> "SR0[4]": the two-letter type prefix goes, the first '_'
    // opens the bit range, a second one separates its ends.
    static QString bindingFromObjectName(const QString &objectName);
    // Splits a binding such as "CR5A[9:8]" or "Board.SR0[4]" into its parts.
    static BindingName parseBinding(const QString &source);

    // Who the script snippets name as the applet: the widget of the active
    // window. The application sets it; without it the control's window is used.
    static void setActiveAppletProvider(std::function<QWidget *()> provider);

    struct ScriptSnippet
    {
        QString text;
        QList<QPair<QString, QByteArray>> formats;
    };
    ScriptSnippet scriptSnippet(int flags);

protected:
    explicit UniversalControl(int kind) : m_kind(kind) {}

    // The widget this interface belongs to.
    virtual QWidget *controlWidget() = 0;
    // Connects the widget's own trigger signal to slot.
    virtual QMetaObject::Connection connectTriggerSignal(QObject *receiver, std::function<void()> slot) = 0;
    // Parses the binding name into the members below; PushButton has its own rule.
    virtual void parseName();

    // A Ctrl + left press starts the script drag; true when it started one.
    bool handleScriptDragPress(QMouseEvent *event, int flags);
    void startScriptDrag(int flags);
    // Paints the drag hint while Ctrl is held over the control.
    void paintCtrlHint();

    int m_kind = 0;
    bool m_connected = false;
    QString namePrefix;
    QString fullName;
    QString itemName;
    QString fieldSpec;
    bool nameParsed = false;

private:
    QMetaObject::Connection m_trigger;
};

} // namespace CustomControls

Q_DECLARE_INTERFACE(CustomControls::UniversalControl, "UniversalControl")
