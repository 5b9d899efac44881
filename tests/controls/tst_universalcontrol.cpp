#include "controls/checkbox.h"
#include "controls/combobox.h"
#include "controls/lineedit.h"
#include "controls/pushbutton.h"
#include "controls/realedit.h"
#include "controls/slider.h"
#include "controls/switch.h"

#include <QDrag>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using CustomControls::UniversalControl;

namespace {

// The widget of the named class, as a form would create it.
QWidget *makeControl(const QString &className, QWidget *parent = nullptr)
{
    if (className == "CheckBox")
        return new CustomControls::CheckBox(parent);
    if (className == "ComboBox")
        return new CustomControls::ComboBox(parent);
    if (className == "LineEdit")
        return new CustomControls::LineEdit(parent);
    if (className == "PushButton")
        return new CustomControls::PushButton(parent);
    if (className == "RealEdit")
        return new CustomControls::RealEdit(parent);
    if (className == "Slider")
        return new CustomControls::Slider(parent);
    if (className == "Switch")
        return new CustomControls::Switch(parent);
    return nullptr;
}

QStringList allClasses()
{
    return {"CheckBox", "ComboBox", "LineEdit", "PushButton", "RealEdit", "Slider", "Switch"};
}

// Receives the trigger as an applet would.
class Receiver : public QObject
{
    Q_OBJECT

public:
    int count = 0;

public slots:
    void slot_ControlTriggered() { ++count; }
};

} // namespace

class tst_UniversalControl : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void bindingName_data();
    void bindingName();
    void nameParsedOnce();
    void caption_data();
    void caption();
    void trigger_data();
    void trigger();
    void scriptSnippet_data();
    void scriptSnippet();
    void scriptDrag_data();
    void scriptDrag();
    void ctrlHint_data();
    void ctrlHint();
};

void tst_UniversalControl::cleanup()
{
    UniversalControl::setActiveAppletProvider(nullptr);
}

void tst_UniversalControl::bindingName_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("full");

    QTest::newRow("one bit") << "CheckBox"
                             << "cbSR0_4"
                             << "" << 1 << "SR0"
                             << "4"
                             << "SR0[4]";
    QTest::newRow("bit range") << "ComboBox"
                               << "cmCR5A_9_8"
                               << "" << 6 << "CR5A"
                               << "9:8"
                               << "CR5A[9:8]";
    QTest::newRow("wide range") << "LineEdit"
                                << "leSR7_11_9"
                                << "" << 4 << "SR7"
                                << "11:9"
                                << "SR7[11:9]";
    QTest::newRow("no underscore") << "CheckBox"
                                   << "cbEN"
                                   << "" << 1 << "EN"
                                   << ""
                                   << "EN";
    // Only two underscores are replaced; the third stays in the field.
    QTest::newRow("three underscores") << "LineEdit"
                                       << "leA_B_C_D"
                                       << "" << 4 << "A"
                                       << "B:C_D"
                                       << "A[B:C_D]";
    QTest::newRow("slider") << "Slider"
                            << "hsPWM1_Duty"
                            << "" << 11 << "PWM1"
                            << "Duty"
                            << "PWM1[Duty]";
    QTest::newRow("switch") << "Switch"
                            << "csPWM1OnOff"
                            << "" << 8 << "PWM1OnOff"
                            << ""
                            << "PWM1OnOff";
    QTest::newRow("accessible wins") << "CheckBox"
                                     << "cbSR0_4"
                                     << "PWM1_FREQ" << 1 << "PWM1_FREQ"
                                     << ""
                                     << "PWM1_FREQ";
    QTest::newRow("accessible field") << "RealEdit"
                                      << "leX"
                                      << "SR0[4]" << 5 << "SR0"
                                      << "4"
                                      << "SR0[4]";
    QTest::newRow("accessible call") << "RealEdit"
                                     << "leX"
                                     << "setPWM1_Freq()" << 5 << "setPWM1_Freq"
                                     << ""
                                     << "setPWM1_Freq()";
    QTest::newRow("four parts") << "ComboBox"
                                << "cmX"
                                << "Board.SR0[4]" << 6 << "SR0"
                                << "4"
                                << "Board.SR0[4]";
    QTest::newRow("five parts") << "CheckBox"
                                << "cbX"
                                << "A.B.C[1]" << 1 << ""
                                << ""
                                << "A.B.C[1]";
    QTest::newRow("button") << "PushButton"
                            << "pbBoard_setActive"
                            << "" << 2 << "setActive"
                            << ""
                            << "setActive";
    QTest::newRow("button stop") << "PushButton"
                                 << "pbBoard_setStop1"
                                 << "" << 2 << "setStop1"
                                 << ""
                                 << "setStop1";
    QTest::newRow("button argument") << "PushButton"
                                     << "pbHBController_WriteCR1_3"
                                     << "" << 2 << "WriteCR1"
                                     << "3"
                                     << "WriteCR1";
    QTest::newRow("button accessible") << "PushButton"
                                       << "pbBoard_setStop1"
                                       << "getADC" << 2 << "getADC"
                                       << ""
                                       << "getADC";
    QTest::newRow("button accessible call") << "PushButton"
                                            << "pbX"
                                            << "setPWM1_Freq()" << 2 << "setPWM1_Freq"
                                            << ""
                                            << "setPWM1_Freq()";
}

void tst_UniversalControl::bindingName()
{
    QFETCH(QString, className);
    QFETCH(QString, objectName);
    QFETCH(QString, accessibleName);
    QFETCH(int, kind);
    QFETCH(QString, item);
    QFETCH(QString, field);
    QFETCH(QString, full);

    std::unique_ptr<QWidget> widget(makeControl(className));
    widget->setObjectName(objectName);
    widget->setAccessibleName(accessibleName);
    QObject *object = widget.get();
    auto *control = qobject_cast<UniversalControl *>(object);
    QVERIFY(control);
    QCOMPARE(control->kind(), kind);
    QVERIFY(!control->isConnected());
    QCOMPARE(control->name(1), item);
    QCOMPARE(control->name(0), field);
    QCOMPARE(control->name(2), full);
    // Other parts name the whole binding, except on a switch, which names its item.
    QCOMPARE(control->name(3), className == "Switch" ? item : full);
}

void tst_UniversalControl::nameParsedOnce()
{
    for (const QString &className : allClasses()) {
        std::unique_ptr<QWidget> widget(makeControl(className));
        widget->setObjectName("xxBoard_SR0_4");
        auto *control = qobject_cast<UniversalControl *>(widget.get());
        const QString first = control->name(2);
        widget->setAccessibleName("Other");
        widget->setObjectName("xxOther");
        QCOMPARE(control->name(2), first);
    }
}

void tst_UniversalControl::caption_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("hasCaption");

    for (const QString &className : allClasses())
        QTest::newRow(qPrintable(className)) << className << (className == "CheckBox");
}

// Binding fills in empty captions; only a check box has one, and no other
// control may lose its text (a switch's options, a button's label) to it.
void tst_UniversalControl::caption()
{
    QFETCH(QString, className);
    QFETCH(bool, hasCaption);

    std::unique_ptr<QWidget> widget(makeControl(className));
    widget->setProperty("text", "designer");
    auto *control = qobject_cast<UniversalControl *>(widget.get());
    QCOMPARE(control->text(), hasCaption ? QString("designer") : QString());
    control->setText("EN");
    QCOMPARE(control->text(), hasCaption ? QString("EN") : QString());
    if (widget->metaObject()->indexOfProperty("text") >= 0)
        QCOMPARE(widget->property("text").toString(), hasCaption ? QString("EN") : QString("designer"));

    control->setToolTip("tip <b>x</b>");
    QCOMPARE(widget->toolTip(), QString("tip <b>x</b>"));
    QCOMPARE(control->toolTip(), QString("tip <b>x</b>"));
}

void tst_UniversalControl::trigger_data()
{
    QTest::addColumn<QString>("className");
    for (const QString &className : allClasses())
        QTest::newRow(qPrintable(className)) << className;
}

// The user's action that commits a value reaches the applet's slot once, and
// no more after the trigger is disconnected.
void tst_UniversalControl::trigger()
{
    QFETCH(QString, className);

    std::unique_ptr<QWidget> widget(makeControl(className));
    auto *control = qobject_cast<UniversalControl *>(widget.get());
    Receiver receiver;
    control->connectTrigger(&receiver, [&receiver] { receiver.slot_ControlTriggered(); });
    QVERIFY(control->isConnected());

    int step = 0;
    const auto act = [&] {
        ++step;
        if (className == "CheckBox" || className == "PushButton") {
            widget->setProperty("text", "bit");
            widget->adjustSize();
            QTest::mouseClick(widget.get(), Qt::LeftButton);
        } else if (className == "ComboBox") {
            QTest::keyClick(widget.get(), Qt::Key_Return);
        } else if (className == "LineEdit" || className == "RealEdit") {
            QTest::keyClicks(widget.get(), "1");
            QTest::keyClick(widget.get(), Qt::Key_Return);
        } else if (className == "Slider") {
            static_cast<QSlider *>(widget.get())->setValue(step * 10);
        } else if (className == "Switch") {
            auto *sw = static_cast<CustomControls::Switch *>(widget.get());
            sw->setType(6);
            sw->resize(32, 32);
            QTest::mouseClick(sw, Qt::LeftButton);
        }
    };
    act();
    QCOMPARE(receiver.count, 1);
    control->disconnectTrigger();
    act();
    QCOMPARE(receiver.count, 1);
    QVERIFY(control->isConnected());
}

void tst_UniversalControl::scriptSnippet_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QStringList>("contents");

    const QString init = "Set @HQL3318 = GetObject(,\"HQL3318.Bench\") ";
    const QString cleanUp = "Set @HQL3318 = Nothing ";
    QTest::newRow("get and set") << "CheckBox"
                                 << "cbSR0_4"
                                 << int(UniversalControl::ScriptGet | UniversalControl::ScriptSet)
                                 << "SpiController.SR0[4] #HQL3318:get,set"
                                 << QStringList{"VBScript Init Object", "VBScript Get Data",
                                                "VBScript Set Data", "VBScript Clean-up"}
                                 << QStringList{init, "# = @HQL3318.get(\"SpiController.SR0[4]\" ) ",
                                                "call @HQL3318.set(\"SpiController.SR0[4]\", # ) ", cleanUp};
    QTest::newRow("run") << "PushButton"
                         << "pbSpiController_WriteCR5A" << int(UniversalControl::ScriptRun)
                         << "SpiController.WriteCR5A #HQL3318:run"
                         << QStringList{"VBScript Init Object", "VBScript Set Data", "VBScript Clean-up"}
                         << QStringList{init, "call @HQL3318.run(\"SpiController.WriteCR5A\", \"\" ) ",
                                        cleanUp};
    QTest::newRow("run with argument")
        << "PushButton"
        << "pbSpiController_log_hello" << int(UniversalControl::ScriptRun) << "SpiController.log #HQL3318:run"
        << QStringList{"VBScript Init Object", "VBScript Set Data", "VBScript Clean-up"}
        << QStringList{init, "call @HQL3318.run(\"SpiController.log\", \"hello\" ) ", cleanUp};
    // Names of any length fit.
    const QString longName = QString(300, 'R');
    QTest::newRow("long name")
        << "LineEdit"
        << "le" + longName + "_7" << int(UniversalControl::ScriptGet)
        << "SpiController." + longName + "[7] #HQL3318:get"
        << QStringList{"VBScript Init Object", "VBScript Get Data", "VBScript Clean-up"}
        << QStringList{init, "# = @HQL3318.get(\"SpiController." + longName + "[7]\" ) ", cleanUp};
}

void tst_UniversalControl::scriptSnippet()
{
    QFETCH(QString, className);
    QFETCH(QString, objectName);
    QFETCH(int, flags);
    QFETCH(QString, text);
    QFETCH(QStringList, formats);
    QFETCH(QStringList, contents);

    QWidget applet;
    applet.setObjectName("SpiController");
    QWidget *widget = makeControl(className, &applet);
    widget->setObjectName(objectName);
    UniversalControl::setActiveAppletProvider([&applet] { return &applet; });

    const UniversalControl::ScriptSnippet snippet =
        qobject_cast<UniversalControl *>(widget)->scriptSnippet(flags);
    QCOMPARE(snippet.text, text);
    QStringList gotFormats;
    QStringList gotContents;
    for (const auto &format : snippet.formats) {
        gotFormats << format.first;
        gotContents << QString::fromLatin1(format.second);
    }
    QCOMPARE(gotFormats, formats);
    QCOMPARE(gotContents, contents);
}

void tst_UniversalControl::scriptDrag_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("bound");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");

    const int left = Qt::LeftButton;
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("check box") << "CheckBox" << false << left << ctrl << "Bench.SR0[4] #HQL3318:get,set";
    QTest::newRow("ctrl+shift") << "CheckBox" << false << left << int(Qt::ControlModifier | Qt::ShiftModifier)
                                << "";
    QTest::newRow("right button") << "CheckBox" << false << int(Qt::RightButton) << ctrl << "";
    QTest::newRow("no ctrl") << "CheckBox" << false << left << int(Qt::NoModifier) << "";
    QTest::newRow("button runs") << "PushButton" << false << left << ctrl << "Bench.SR0 #HQL3318:run";
    QTest::newRow("line edit unbound")
        << "LineEdit" << false << left << ctrl << "Bench.SR0[4] #HQL3318:get,set";
    QTest::newRow("real edit unbound") << "RealEdit" << false << left << ctrl << "";
    QTest::newRow("real edit bound") << "RealEdit" << true << left << ctrl << "Bench.SR0[4] #HQL3318:get,set";
    QTest::newRow("combo box unbound") << "ComboBox" << false << left << ctrl << "";
    QTest::newRow("combo box bound") << "ComboBox" << true << left << ctrl << "Bench.SR0[4] #HQL3318:get,set";
    QTest::newRow("slider") << "Slider" << false << left << ctrl << "Bench.SR0[4] #HQL3318:get,set";
    QTest::newRow("switch") << "Switch" << false << left << ctrl << "Bench.SR0[4] #HQL3318:get,set";
}

// A Ctrl + left press hands a drag with the snippet to the drag system; the
// drag belongs to the active applet and offers to copy.
void tst_UniversalControl::scriptDrag()
{
    QFETCH(QString, className);
    QFETCH(bool, bound);
    QFETCH(int, button);
    QFETCH(int, modifiers);
    QFETCH(QString, text);

    QWidget applet;
    applet.setObjectName("Bench");
    QWidget *widget = makeControl(className, &applet);
    widget->setObjectName(className == "PushButton" ? "pbBench_SR0" : "xxSR0_4");
    widget->resize(40, 40);
    auto *control = qobject_cast<UniversalControl *>(widget);
    Receiver receiver;
    if (bound)
        control->connectTrigger(&receiver, [&receiver] { receiver.slot_ControlTriggered(); });
    UniversalControl::setActiveAppletProvider([&applet] { return &applet; });

    QTest::mousePress(widget, Qt::MouseButton(button), Qt::KeyboardModifiers(modifiers), QPoint(5, 5));
    QDrag *drag = applet.findChild<QDrag *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(drag != nullptr, !text.isEmpty());
    if (drag) {
        QCOMPARE(drag->mimeData()->text(), text);
        QCOMPARE(drag->supportedActions(), Qt::CopyAction);
        QVERIFY(drag->mimeData()->hasFormat("VBScript Init Object"));
        QVERIFY(drag->mimeData()->hasFormat("VBScript Clean-up"));
        QVERIFY(drag->mimeData()->hasFormat("VBScript Set Data"));
        QCOMPARE(drag->mimeData()->hasFormat("VBScript Get Data"), className != "PushButton");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!applet.findChild<QDrag *>());
    }
    QTest::mouseRelease(widget, Qt::MouseButton(button), Qt::KeyboardModifiers(modifiers), QPoint(5, 5));
}

void tst_UniversalControl::ctrlHint_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("bound");
    QTest::addColumn<bool>("hint");

    for (const QString &className : allClasses()) {
        const bool onlyBound = className == "ComboBox" || className == "LineEdit" || className == "RealEdit";
        QTest::newRow(qPrintable(className + " unbound")) << className << false << !onlyBound;
        if (onlyBound)
            QTest::newRow(qPrintable(className + " bound")) << className << true << true;
    }
}

// Holding Ctrl over a control tints it orange to show it can be dragged.
void tst_UniversalControl::ctrlHint()
{
    QFETCH(QString, className);
    QFETCH(bool, bound);
    QFETCH(bool, hint);

    QWidget window;
    window.resize(120, 60);
    QWidget *widget = makeControl(className, &window);
    widget->setGeometry(10, 10, 80, 30);
    Receiver receiver;
    if (bound)
        qobject_cast<UniversalControl *>(widget)->connectTrigger(
            &receiver, [&receiver] { receiver.slot_ControlTriggered(); });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(widget, QPoint(40, 15));
    QTRY_VERIFY(widget->underMouse());

    // Earlier Ctrl presses may have left the modifier state set.
    QTest::keyRelease(window.windowHandle(), Qt::Key_Control, Qt::NoModifier);
    const QImage plain = widget->grab().toImage();
    QTest::keyPress(window.windowHandle(), Qt::Key_Control, Qt::ControlModifier);
    const QImage tinted = widget->grab().toImage();
    QTest::keyRelease(window.windowHandle(), Qt::Key_Control, Qt::NoModifier);
    const QImage released = widget->grab().toImage();

    QCOMPARE(released, plain);
    QCOMPARE(tinted != plain, hint);
    if (hint) {
        // The tint is orange at alpha 100 over what was painted.
        const QColor before = plain.pixelColor(1, 1);
        const QColor after = tinted.pixelColor(1, 1);
        QCOMPARE(after.blue(), qRound(before.blue() * 155 / 255.0));
        QVERIFY(qAbs(after.red() - qRound(before.red() * 155 / 255.0 + 100)) <= 1);
    }
}

QTEST_MAIN(tst_UniversalControl)
#include "tst_universalcontrol.moc"
