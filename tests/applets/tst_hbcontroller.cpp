#include "app/mainwindow.h"
#include "app/portwatcher.h"
#include "applets/chipid.h"
#include "applets/hbcontroller.h"
#include "applets/spicontroller.h"
#include "applets/spiraw.h"
#include "applets/watchdog.h"
#include "benchfixture.h"
#include "chip/registermap.h"
#include "controls/checkbox.h"
#include "controls/combobox.h"
#include "controls/lineedit.h"
#include "controls/pushbutton.h"
#include "controls/slider.h"
#include "controls/switch.h"
#include "model/register.h"
#include "model/variable.h"
#include "tools/bootloader.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

// The application with the half-bridge window in its place, connected.
class HbBench : public BenchFixture
{
public:
    HbBench()
        : BenchFixture({}, QString(), [] {
              return QList<Applet *>{nullptr,    nullptr,      new HBController, new SpiController,
                                     new SpiRaw, new WatchDog, new ChipID};
          })
    {
    }

    HBController *hb() const { return applet<HBController>("HBController"); }
    Variable *var(const QString &name) const { return app->registers()->var(name); }

    // Puts both generators in a known state; the commands that causes are forgotten.
    void prepare(int onOff1, int onOff2, double freq, double duty, bool pin1, bool pin2)
    {
        for (const char *g : {"PWM1", "PWM2"}) {
            const QString pwm = QLatin1String(g);
            var(pwm + "OnOff")->setValue(pwm == "PWM1" ? onOff1 : onOff2, ORIGIN_FORCED);
            var(pwm + "_FREQ")->setValue(freq, ORIGIN_FORCED);
            var(pwm + "_DUTY")->setValue(duty, ORIGIN_FORCED);
        }
        hb()->findChild<QCheckBox *>("cbPWM1_DIO")->setChecked(pin1);
        hb()->findChild<QCheckBox *>("cbPWM2_DIO")->setChecked(pin2);
        markSent();
    }
};

// The chip frames sent, without the watchdog bit (bit 11), which toggles.
QList<uint> framesSent(const QStringList &lines)
{
    QList<uint> frames;
    for (const QString &line : lines) {
        if (line.startsWith("set SPI0CS0DATA=02"))
            frames.append(line.mid(18).toUInt(nullptr, 16) & ~0x800u);
    }
    return frames;
}

QList<uint> addressesOf(const QList<uint> &frames)
{
    QList<uint> addresses;
    for (uint frame : frames)
        addresses.append(frame >> 12);
    return addresses;
}

// The frames of ReadHB: status selections 1 and 3, then SR5 with its read.
const QList<uint> readHbFrames = {0x0480, 0x0580, 0x0680, 0xD000};

} // namespace

class tst_HBController : public QObject
{
    Q_OBJECT

private slots:
    void connectStartsGenerators();
    void registration();
    void pwmFunctions_data();
    void pwmFunctions();
    void transferBlocks_data();
    void transferBlocks();
    void generatorWindowState_data();
    void generatorWindowState();
    void chipFunctions_data();
    void chipFunctions();
    void readHbFromEveryTab_data();
    void readHbFromEveryTab();
    void dutySlider_data();
    void dutySlider();
    void pinCheckBox();
    void frequencyTypo();
    void restartAsksToReconnect();
    void restartReconnectsAutomatically();
    void pulledBoardIsNoWriteError_data();
    void pulledBoardIsNoWriteError();
};

void tst_HBController::connectStartsGenerators()
{
    HbBench b;
    QVERIFY(b.ok);
    // Both generators are on by default; while connecting the reset sends no duty again.
    const QStringList lines = b.sim.transcript();
    const int first = lines.indexOf("set PWM0CONF");
    QVERIFY2(first >= 0, qPrintable(lines.join(" | ")));
    QCOMPARE(lines.mid(first, 14),
             (QStringList{"set PWM0CONF", "set PWM0START", "set PWM0DUTY=50", "set PWM0FREQ=20000",
                          "set PWM0CONF", "set PWM0FREQ=20000", "set PWM0DUTY=50", "set PWM1CONF",
                          "set PWM1START", "set PWM1DUTY=50", "set PWM1FREQ=20000", "set PWM1CONF",
                          "set PWM1FREQ=20000", "set PWM1DUTY=50"}));
    QCOMPARE(lines.count("set PWM0START"), 1);
    QCOMPARE(lines.count("set PWM1START"), 1);
}

void tst_HBController::registration()
{
    HbBench b;
    QVERIFY(b.ok);
    HBController *hb = b.hb();
    QCOMPARE(hb->windowTitle(), QString("(Ctrl+2) HB Controller"));
    QCOMPARE(b.app->findApplet(int(Qt::Key_2), MainApp::ByShortcutKey), hb);
    QStringList names = hb->parameterNames();
    names.sort();
    QStringList expected = {"NM",   "CR0",  "CR1",  "CR2",  "CR3",  "CR4",  "CR5A", "CR5B",
                            "CR6A", "CR6B", "CR7A", "CR7B", "CR8A", "CR8B", "CR12", "CR14",
                            "SR0",  "SR1",  "SR3",  "SR4",  "SR5",  "SR7"};
    for (const char *g : {"PWM1", "PWM2"}) {
        for (const char *suffix : {"OnOff", "_FREQ", "_DUTY", "_DIO"})
            expected.append(QLatin1String(g) + QLatin1String(suffix));
    }
    expected.sort();
    QCOMPARE(names, expected);
    // The registers are the SPI controller's own objects.
    QCOMPARE(hb->parameter("CR5A")->reg, b.app->registers()->reg("CR5A"));
    QCOMPARE(hb->findChild<CustomControls::Switch *>("csPWM1OnOff")->model(), 6);
    QCOMPARE(hb->findChild<CustomControls::Switch *>("csPWM2OnOff")->model(), 6);
    // The function table stays empty: the help lists nothing.
    QVERIFY(!hb->run(QString(), QVariant(0)).toBool());
    QVERIFY(hb->functionNames().isEmpty());

    // Controls bound by object or accessible name.
    QVERIFY(hb->set("PWM2_FREQ", 1234, ORIGIN_FORCED));
    QCOMPARE(hb->findChild<CustomControls::LineEdit *>("leCLK2Freq")->value(), 1234.0);
    QVERIFY(hb->set("PWM1_DUTY", 37, ORIGIN_FORCED));
    QCOMPARE(hb->findChild<CustomControls::Slider *>("hsPWM1_Duty")->value(), 37.0);
    QCOMPARE(hb->findChild<CustomControls::LineEdit *>("lePWM1_Duty")->value(), 37.0);
    auto *vds = hb->findChild<CustomControls::ComboBox *>("cmCR6B_9_7");
    QVERIFY(vds->isConnected());
    QCOMPARE(vds->name(2), QString("CR6B[9:7]"));
    QCOMPARE(vds->itemText(7), QString("1000 mV"));
    vds->setCurrentIndex(5);
    emit vds->activated(5);
    QCOMPARE(b.app->registers()->reg("CR6B")->get("CR6B[9:7]"), 5u);
    QVERIFY(hb->findChild<CustomControls::CheckBox *>("cbSR1_7")->isConnected());
    QCOMPARE(hb->findChild<CustomControls::CheckBox *>("cbSR1_7")->text(), QString("GH"));
}

void tst_HBController::pwmFunctions_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<int>("onOff1");
    QTest::addColumn<int>("onOff2");
    QTest::addColumn<double>("freq");
    QTest::addColumn<double>("duty");
    QTest::addColumn<bool>("pin");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("empty") << "" << 1 << 1 << 20000.0 << 50.0 << false << false << QStringList();
    QTest::newRow("lower case") << "writehb1" << 1 << 1 << 20000.0 << 50.0 << false << false << QStringList();
    QTest::newRow("unknown") << "setPWM3_Freq" << 1 << 1 << 20000.0 << 50.0 << false << false
                             << QStringList();
    QTest::newRow("prefix only") << "setPWM1" << 1 << 1 << 20000.0 << 50.0 << false << false << QStringList();
    QTest::newRow("freq truncated") << "setPWM1_Freq" << 1 << 1 << 1234.9 << 50.0 << false << true
                                    << QStringList{"set PWM0FREQ=1234"};
    QTest::newRow("freq while off") << "setPWM2_Freq" << 1 << 0 << 29999.99 << 50.0 << false << true
                                    << QStringList{"set PWM1FREQ=29999"};
    QTest::newRow("duty while off") << "setPWM1_Duty" << 0 << 1 << 20000.0 << 42.0 << false << true
                                    << QStringList();
    QTest::newRow("duty while on") << "setPWM2_Duty" << 0 << 1 << 20000.0 << 33.7 << false << true
                                   << QStringList{"set PWM1DUTY=33"};
    QTest::newRow("pin low") << "setPWM1_DIO" << 0 << 0 << 20000.0 << 50.0 << false << true
                             << QStringList{"set PWM0DUTY=0"};
    // The pin level is sent whatever the generator does.
    QTest::newRow("pin high") << "setPWM2_DIO" << 1 << 1 << 20000.0 << 50.0 << true << true
                              << QStringList{"set PWM1DUTY=100"};
    QTest::newRow("update one on, one off") << "updatePWM" << 1 << 0 << 1500.5 << 25.0 << true << true
                                            << QStringList{"set PWM0CONF", "set PWM0START", "set PWM0DUTY=25",
                                                           "set PWM0FREQ=1500", "set PWM1DUTY=100"};
}

void tst_HBController::pwmFunctions()
{
    QFETCH(QString, function);
    QFETCH(int, onOff1);
    QFETCH(int, onOff2);
    QFETCH(double, freq);
    QFETCH(double, duty);
    QFETCH(bool, pin);
    QFETCH(bool, result);
    QFETCH(QStringList, sent);

    HbBench b;
    QVERIFY(b.ok);
    b.prepare(onOff1, onOff2, freq, duty, pin, pin);
    QCOMPARE(b.hb()->run(function, QVariant("1")).toBool(), result);
    QCOMPARE(b.sent(), sent);
}

void tst_HBController::transferBlocks_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("onOff1");
    QTest::addColumn<int>("onOff2");
    QTest::addColumn<QStringList>("sent");

    // Generators prepared at 1500.5 Hz and 30 %, pins high.
    QTest::newRow("read") << 1 << "PWM1_DUTY" << 1 << 1 << QStringList();
    QTest::newRow("read all") << 1 << "*" << 1 << 1 << QStringList();
    QTest::newRow("op 2") << 2 << "PWM1OnOff" << 1 << 1 << QStringList();
    QTest::newRow("frequency") << 0 << "PWM1_FREQ" << 1 << 1 << QStringList();
    QTest::newRow("pin level") << 0 << "PWM2_DIO" << 0 << 0 << QStringList();
    QTest::newRow("unknown") << 0 << "CR0" << 1 << 1 << QStringList();
    QTest::newRow("duty on") << 0 << "PWM1_DUTY" << 1 << 0 << QStringList{"set PWM0DUTY=30"};
    QTest::newRow("duty off") << 0 << "PWM2_DUTY" << 1 << 0 << QStringList();
    QTest::newRow("switch on") << 0 << "PWM2OnOff" << 0 << 1
                               << QStringList{"set PWM1CONF", "set PWM1START", "set PWM1DUTY=30",
                                              "set PWM1FREQ=1500"};
    QTest::newRow("switch off") << 0 << "PWM1OnOff" << 0 << 1 << QStringList{"set PWM0DUTY=100"};
    // The new duty reaches the board once more through its notification.
    QTest::newRow("defaults") << 0 << "PWM1" << 1 << 0
                              << QStringList{"set PWM0CONF", "set PWM0FREQ=20000", "set PWM0DUTY=50",
                                             "set PWM0DUTY=50"};
    QTest::newRow("defaults off") << 0 << "PWM2" << 1 << 0
                                  << QStringList{"set PWM1CONF", "set PWM1FREQ=20000", "set PWM1DUTY=50"};
    QTest::newRow("all, both on")
        << 0 << "*" << 1 << 1
        << QStringList{"set PWM0CONF", "set PWM0START",      "set PWM0DUTY=30", "set PWM0FREQ=1500",
                       "set PWM0CONF", "set PWM0FREQ=20000", "set PWM0DUTY=50", "set PWM0DUTY=50",
                       "set PWM1CONF", "set PWM1START",      "set PWM1DUTY=30", "set PWM1FREQ=1500",
                       "set PWM1CONF", "set PWM1FREQ=20000", "set PWM1DUTY=50", "set PWM1DUTY=50"};
    QTest::newRow("all, both off") << 0 << "*" << 0 << 0
                                   << QStringList{"set PWM0DUTY=100",   "set PWM0CONF",
                                                  "set PWM0FREQ=20000", "set PWM0DUTY=50",
                                                  "set PWM1DUTY=100",   "set PWM1CONF",
                                                  "set PWM1FREQ=20000", "set PWM1DUTY=50"};
}

void tst_HBController::transferBlocks()
{
    QFETCH(int, op);
    QFETCH(QString, name);
    QFETCH(int, onOff1);
    QFETCH(int, onOff2);
    QFETCH(QStringList, sent);

    HbBench b;
    QVERIFY(b.ok);
    b.prepare(onOff1, onOff2, 1500.5, 30, true, true);
    // Reads do nothing; a write fails only when a command fails.
    QCOMPARE(b.hb()->transfer(Applet::TransferOp(op), name), op == 0);
    QCOMPARE(b.sent(), sent);
    // The defaults land in the variables as well.
    for (const char *g : {"PWM1", "PWM2"}) {
        const QString pwm = QLatin1String(g);
        const bool reset = op == 0 && (name == "*" || name == pwm);
        QCOMPARE(b.var(pwm + "_FREQ")->value(), reset ? 20000.0 : 1500.5);
        QCOMPARE(b.var(pwm + "_DUTY")->value(), reset ? 50.0 : 30.0);
    }
}

void tst_HBController::generatorWindowState_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("onOff");

    QTest::newRow("PWM1 on") << 1 << 1;
    QTest::newRow("PWM1 off") << 1 << 0;
    QTest::newRow("PWM2 on") << 2 << 1;
    QTest::newRow("PWM2 off") << 2 << 0;
}

void tst_HBController::generatorWindowState()
{
    QFETCH(int, n);
    QFETCH(int, onOff);

    HbBench b;
    QVERIFY(b.ok);
    HBController *hb = b.hb();
    const QString pwm = QString("PWM%1").arg(n);
    auto *clock = hb->findChild<QLabel *>(QString("lblCLK%1").arg(n));
    auto *pin = hb->findChild<QCheckBox *>(QString("cbPWM%1_DIO").arg(n));
    auto *onOffSwitch =
        hb->findChild<CustomControls::Switch *>(QString("cs%1OnOff").arg(n == 1 ? "PWM1" : "PWM2"));
    // Flip the state first so that the transfer under test changes it.
    b.prepare(!onOff, !onOff, 20000, 50, false, false);
    b.var(pwm + "OnOff")->setValue(onOff, ORIGIN_FORCED);
    QVERIFY(hb->transfer(Applet::WriteToBoard, pwm + "OnOff"));
    QCOMPARE(clock->styleSheet(), onOff ? QString("image: url(:/board/img_signal_clock.png)") : QString());
    QCOMPARE(pin->isEnabled(), !onOff);
    QCOMPARE(onOffSwitch->value(), double(onOff));
}

void tst_HBController::chipFunctions_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QList<uint>>("addresses");

    QTest::newRow("WriteCR1") << "WriteCR1" << QList<uint>{1};
    QTest::newRow("ReadSR0") << "ReadSR0" << QList<uint>{0, 13};
    QTest::newRow("ReadHB") << "ReadHB" << QList<uint>{0, 0, 0, 13};
    QTest::newRow("WriteHB1") << "WriteHB1" << QList<uint>{0, 1, 2, 3, 5, 5};
    QTest::newRow("WriteHB2") << "WriteHB2" << QList<uint>{0, 1, 2, 3, 6, 6};
    QTest::newRow("WriteHB3") << "WriteHB3" << QList<uint>{0, 1, 2, 3, 7, 7};
    QTest::newRow("WriteHB4") << "WriteHB4" << QList<uint>{0, 1, 2, 3, 8, 8};
    QTest::newRow("WriteRead2") << "WriteRead2" << QList<uint>{0, 1, 2, 3, 6, 6, 0, 0, 0, 13};
    QTest::newRow("WriteRead4") << "WriteRead4" << QList<uint>{0, 1, 2, 3, 8, 8, 0, 0, 0, 13};
}

void tst_HBController::chipFunctions()
{
    QFETCH(QString, function);
    QFETCH(QList<uint>, addresses);

    HbBench b;
    QVERIFY(b.ok);
    QVERIFY(b.hb()->run(function, QVariant()).toBool());
    QCOMPARE(addressesOf(framesSent(b.sent())), addresses);
    // Nothing but chip frames and their answers.
    for (const QString &line : b.sent())
        QVERIFY2(line.contains("SPI0CS0DATA"), qPrintable(line));
}

void tst_HBController::readHbFromEveryTab_data()
{
    QTest::addColumn<int>("tab");
    for (int n = 1; n <= 4; ++n)
        QTest::addRow("HB%d", n) << n;
}

void tst_HBController::readHbFromEveryTab()
{
    QFETCH(int, tab);

    HbBench b;
    QVERIFY(b.ok);
    HBController *hb = b.hb();
    hb->set("CR0[]", 0u, ORIGIN_FORCED);
    auto *read = hb->findChild<CustomControls::PushButton *>(QString("pbHBController_ReadHB_%1").arg(tab));
    QVERIFY(read && read->isConnected());
    read->click();
    QCOMPARE(framesSent(b.sent()), readHbFrames);

    // Write && Read of the same tab: its configuration pair, then the same reads.
    b.markSent();
    hb->findChild<CustomControls::PushButton *>(QString("pbHBController_WriteRead_%1").arg(tab))->click();
    const QList<uint> frames = framesSent(b.sent());
    QCOMPARE(addressesOf(frames.mid(0, 6)), (QList<uint>{0, 1, 2, 3, uint(tab + 4), uint(tab + 4)}));
    QCOMPARE(frames.mid(6), readHbFrames);
}

void tst_HBController::dutySlider_data()
{
    QTest::addColumn<int>("onOff");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("running") << 1 << QStringList{"set PWM1DUTY=70", "set PWM1DUTY=70"};
    QTest::newRow("stopped") << 0 << QStringList();
}

void tst_HBController::dutySlider()
{
    QFETCH(int, onOff);
    QFETCH(QStringList, sent);

    HbBench b;
    QVERIFY(b.ok);
    b.prepare(1, onOff, 20000, 50, false, false);
    auto *slider = b.hb()->findChild<CustomControls::Slider *>("hsPWM2_Duty");
    slider->setSliderDown(true);
    slider->setSliderPosition(70);
    slider->setSliderDown(false);
    QCOMPARE(b.var("PWM2_DUTY")->value(), 70.0);
    QCOMPARE(b.var("PWM1_DUTY")->value(), 50.0);
    QCOMPARE(b.sent(), sent);
}

void tst_HBController::pinCheckBox()
{
    HbBench b;
    QVERIFY(b.ok);
    b.prepare(0, 0, 20000, 50, false, false);
    auto *pin = b.hb()->findChild<CustomControls::CheckBox *>("cbPWM1_DIO");
    QVERIFY(pin->isEnabled());
    pin->click();
    QCOMPARE(b.var("PWM1_DIO")->value(), 1.0);
    pin->click();
    QCOMPARE(b.var("PWM1_DIO")->value(), 0.0);
    QCOMPARE(b.sent(), (QStringList{"set PWM0DUTY=100", "set PWM0DUTY=0"}));
}

// A frequency the field cannot read stays red until the user mends it;
// the model and the Set button keep the last good value meanwhile.
void tst_HBController::frequencyTypo()
{
    HbBench b;
    QVERIFY(b.ok);
    b.hb()->showWindow();
    QVERIFY(QTest::qWaitForWindowExposed(b.hb()));
    auto *field = b.hb()->findChild<CustomControls::LineEdit *>("leCLK1Freq");
    auto *set = b.hb()->findChild<QPushButton *>("pbBoard_setCLK1_Freq");
    QVERIFY(field && set && field->isVisible());
    b.markSent();

    QTest::mouseClick(field, Qt::LeftButton);
    QVERIFY(field->hasFocus());
    field->selectAll();
    QTest::keyClicks(field, "15k");
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(field->text(), QString("15k"));
    QCOMPARE(field->styleSheet(), QString("color:red"));
    QCOMPARE(b.var("PWM1_FREQ")->value(), 20000.0);
    // Leaving the field does not clear the mark either.
    QTest::mouseClick(set, Qt::LeftButton);
    QCOMPARE(field->styleSheet(), QString("color:red"));
    QCOMPARE(b.sent(), QStringList{"set PWM0FREQ=20000"});

    QTest::mouseClick(field, Qt::LeftButton);
    field->selectAll();
    QTest::keyClicks(field, "15000");
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(field->styleSheet(), QString());
    QCOMPARE(b.var("PWM1_FREQ")->value(), 15000.0);
    b.markSent();
    QTest::mouseClick(set, Qt::LeftButton);
    QCOMPARE(b.sent(), QStringList{"set PWM0FREQ=15000"});
}

// After the firmware window's Restart the board runs its defaults (the
// generators stopped): the application disconnects and says to connect
// again, and connecting sets the generators up as the window shows them.
void tst_HBController::restartAsksToReconnect()
{
    HbBench b;
    QVERIFY(b.ok);
    MainWindow *window = b.app->mainWindow();
    b.hb()->showWindow();
    QCOMPARE(b.var("PWM1OnOff")->value(), 1.0);
    QVERIFY(!window->statusLabel->text().isEmpty());

    window->updateFirmwareAction->trigger();
    Bootloader *firmware = b.app->firmwareWindow();
    QVERIFY(firmware && firmware->isVisible());
    QSignalSpy restarted(firmware, &Bootloader::signal_restartFinished);
    b.answerer.clear();
    QTest::mouseClick(firmware->findChild<QPushButton *>("pbRestart"), Qt::LeftButton);
    QVERIFY(restarted.wait(15000));
    QCOMPARE(b.answerer.texts(), QStringList{"The board was restarted and has been disconnected.\n"
                                             "Press Connect to use it again."});
    QVERIFY(!b.app->isBoardConnected());
    QCOMPARE(window->connectButton->text(), QString("Connect"));
    QCOMPARE(window->statusLabel->text(), QString());
    QVERIFY(!b.hb()->container()->isVisible());

    // Connect works with the firmware window still open.
    QVERIFY(firmware->isVisible());
    QTRY_VERIFY(!QApplication::activeModalWidget());
    b.markSent();
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(b.app->isBoardConnected());
    QTRY_VERIFY(b.sent().contains("set PWM0START"));
    QCOMPARE(b.var("PWM1OnOff")->value(), 1.0);
    firmware->close();
}

// With "Reconnect automatically" the restarted board is connected again by
// itself and set up as after a connect by hand.
void tst_HBController::restartReconnectsAutomatically()
{
    HbBench b;
    QVERIFY(b.ok);
    MainWindow *window = b.app->mainWindow();
    b.app->ports()->setReconnectAutomatically(true);
    window->updateFirmwareAction->trigger();
    Bootloader *firmware = b.app->firmwareWindow();
    QVERIFY(firmware && firmware->isVisible());
    b.answerer.clear();
    b.markSent();
    QTest::mouseClick(firmware->findChild<QPushButton *>("pbRestart"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(b.sent().contains("set PWM0START"), 15000);
    QTRY_VERIFY(b.app->isBoardConnected());
    QCOMPARE(window->connectButton->text(), QString("Disconnect"));
    QVERIFY(b.app->ports()->awaitedPort().isEmpty());
    QCOMPARE(b.answerer.count(), 0);
    firmware->close();
}

void tst_HBController::pulledBoardIsNoWriteError_data()
{
    QTest::addColumn<QString>("function");
    QTest::newRow("one frame") << "SpiController.WriteCR1";
    QTest::newRow("a chain") << "SpiController.WriteCR5";
}

// A board pulled in the middle of a function: the disconnect tells it, the
// function's failed write does not add an error of its own.
void tst_HBController::pulledBoardIsNoWriteError()
{
    QFETCH(QString, function);
    HbBench b;
    QVERIFY(b.ok);
    b.answerer.clear();
    b.sim.stop();
    QVariant none;
    QVariant result;
    QVERIFY(b.app->run(function, none, &result));
    QVERIFY(!b.app->isBoardConnected());
    QCOMPARE(b.answerer.texts(), QStringList());
    QCOMPARE(b.app->mainWindow()->statusLabel->text(),
             QString("The board on %1 was unplugged.").arg(b.sim.path()));
}

QTEST_MAIN(tst_HBController)
#include "tst_hbcontroller.moc"
