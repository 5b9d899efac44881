#include "app/localserver.h"
#include "applet/boardactions.h"
#include "applets/basic.h"
#include "applets/board.h"
#include "applets/chipid.h"
#include "applets/spicontroller.h"
#include "applets/spiraw.h"
#include "applets/watchdog.h"
#include "asyncclient.h"
#include "benchfixture.h"
#include "boardwait.h"
#include "chip/registermap.h"
#include "controls/realedit.h"
#include "model/register.h"
#include "model/variable.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace {

QList<Applet *> boardApplets()
{
    return {new Basic, new Board, nullptr, new SpiController, new SpiRaw, new WatchDog, new ChipID};
}

// Lines with the watchdog bit (11) of every frame cleared: the raw SPI
// window toggles it frame by frame, so it depends on the history.
QStringList withoutWatchdogBit(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : lines) {
        if (!line.startsWith("set SPI0CS0DATA=")) {
            out.append(line);
            continue;
        }
        QStringList words = line.split(' ');
        for (QString &word : words) {
            if (word.startsWith("SPI0CS0DATA=02")) {
                const uint frame = word.mid(14).toUInt(nullptr, 16) & 0xF7FF;
                word = QStringLiteral("SPI0CS0DATA=02%1").arg(frame, 4, 16, QLatin1Char('0'));
            }
        }
        out.append(words.join(' '));
    }
    return out;
}

// The application with the board applets, connected, after the board
// applet's start-up status update has gone out.
struct Bench : BenchFixture
{
    explicit Bench(const QStringList &simOptions = {}) : BenchFixture(simOptions, QString(), &boardApplets)
    {
        if (ok)
            ok = QTest::qWaitFor([this] { return sim.transcript().contains("get AINREF"); }, 3000);
        markSent();
        board = applet<Board>("Board");
        basic = applet<Basic>("Basic");
    }
    QStringList sent() const { return withoutWatchdogBit(BenchFixture::sent()); }
    uint reg(const QString &ref) const
    {
        return app->registers()->reg(Applet::parameterNameOf(ref))->get(ref);
    }
    double var(const QString &name) const { return app->registers()->var(name)->value(); }
    Board *board = nullptr;
    Basic *basic = nullptr;
};

// Frames in the lines as they travelled ("set SPI0CS0DATA=02XXXX ...").
QList<quint16> framesIn(const QString &line)
{
    QList<quint16> frames;
    if (!line.startsWith("set "))
        return frames;
    for (const QString &word : line.mid(4).split(' ')) {
        if (word.startsWith("SPI0CS0DATA=02"))
            frames.append(quint16(word.mid(14).toUInt(nullptr, 16)));
    }
    return frames;
}

// Writes to CR0..CR3 as "address:bits", with the half-bridge bits of
// CR0..CR2 and the PWM input selects of CR3.
QStringList bridgeWrites(const QStringList &lines)
{
    QStringList writes;
    for (const QString &line : lines) {
        for (quint16 frame : framesIn(line)) {
            const int address = frame >> 12;
            if (address > 3)
                continue;
            const uint mask = address == 3 ? 0x55 : 0xF;
            writes.append(QStringLiteral("%1:%2").arg(address).arg(frame & mask, 0, 16));
        }
    }
    return writes;
}

const QString defaultChain =
    "set SPI0CS0DATA=025290 SPI0CS0DATA=0255b9 SPI0CS0DATA=026290 SPI0CS0DATA=0265b9 "
    "SPI0CS0DATA=027290 SPI0CS0DATA=0275b9 SPI0CS0DATA=028290 SPI0CS0DATA=0285b9";

} // namespace

class tst_Board : public QObject
{
    Q_OBJECT

private slots:
    void startUp();
    void functionTable();
    void motorSequences_data();
    void motorSequences();
    void basicRunSequences_data();
    void basicRunSequences();
    void configurations();
    void setLoadedWithoutWorkspace();
    void setFSM_data();
    void setFSM();
    void measurements_data();
    void measurements();
    void currentsFollowMotor();
    void userRunsMotorFromBasicWindow();
    void deviceEnable();
    void automaticRefresh_data();
    void automaticRefresh();
    void clickedActionRunsWhole();
    void readsInFewRoundTrips_data();
    void readsInFewRoundTrips();
    void disconnectRestores();
    void pwmPinState_data();
    void pwmPinState();
};

void tst_Board::startUp()
{
    Bench b;
    QVERIFY(b.ok);
    QVERIFY(b.board && b.basic);
    QVERIFY(b.board->windowTitle().endsWith("Board"));
    QVERIFY(b.basic->windowTitle().endsWith("Basic"));
    // The status update: remote mode, default configuration, reference.
    const QStringList lines = withoutWatchdogBit(b.sim.transcript());
    const int remote = lines.lastIndexOf("set q913rem=1");
    QVERIFY(remote >= 0);
    QVERIFY(lines.indexOf(defaultChain, remote) > remote);
    QCOMPARE(b.board->adcReference(), quint16(3000));
    QCOMPARE(b.board->dioSnapshot(), 1u);
    // The basic window shows itself, and its slider drives the duty.
    QVERIFY(b.basic->windowAction()->isChecked());
    auto *slider = b.basic->findChild<QSlider *>("hsPWM1_Duty");
    QVERIFY(slider);
    slider->setValue(30);
    QCOMPARE(b.var("PWM1_DUTY"), 30.0);
}

void tst_Board::functionTable()
{
    Bench b;
    QVERIFY(b.ok);
    QCOMPARE(b.board->run("", QVariant()).toBool(), false);
    QCOMPARE(b.board->functionNames().size(), 27);
    const auto &descriptions = b.board->functionDescriptions();
    QCOMPARE(descriptions.value("setPWM1_Duty"), QString("Sets PWM1 Frequency"));
    QCOMPARE(descriptions.value("setPWM2_Duty"), QString("Sets PWM2 Frequency"));
    QCOMPARE(descriptions.value("setLoaded"), QString("Sets Loaded Configuration saved in UCR reg Values"));
    QCOMPARE(b.basic->run("", QVariant()).toBool(), false);
    QCOMPARE(b.basic->functionNames(), (QStringList{"setBackward1", "setBackward2", "setForward1",
                                                    "setForward2", "setStop1", "setStop2"}));
    QCOMPARE(b.basic->run("nosuch", QVariant()).toBool(), false);

    // Wildcards pick the first match in table order: setStop1.
    QCOMPARE(b.board->run("setStop?", QVariant()).toBool(), true);
    QCOMPARE(bridgeWrites(b.sent()), (QStringList{"0:0", "2:0"}));

    // Parameters and unknown names move nothing; only the three names act.
    b.markSent();
    QVERIFY(b.board->transfer(Applet::WriteToBoard, "CR0"));
    QVERIFY(b.board->transfer(Applet::WriteToBoard, "nosuch"));
    QVERIFY(b.board->transfer(Applet::ReadFromBoard, "HBConf_Def"));
    QVERIFY(b.sent().isEmpty());
    QVERIFY(b.board->transfer(Applet::WriteToBoard, "Q913_REMOTE"));
    QCOMPARE(b.sent().value(0), QString("set q913rem=1"));
    QVERIFY(b.sent().contains(defaultChain));
}

void tst_Board::motorSequences_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<int>("framesInOneLine");
    QTest::addColumn<int>("waitMs");

    QTest::newRow("forward 1") << "setForward1" << QStringList{"0:0", "2:1", "1:1", "0:5"} << 1 << 100;
    QTest::newRow("backward 1") << "setBackward1" << QStringList{"0:0", "2:4", "1:4", "0:5"} << 1 << 100;
    QTest::newRow("stop 1") << "setStop1" << QStringList{"0:0", "2:0"} << 1 << 0;
    QTest::newRow("brake 1") << "setBrake1" << QStringList{"2:0", "1:0", "0:0"} << 2 << 50;
    QTest::newRow("forward 2") << "setForward2" << QStringList{"0:0", "2:2", "1:2", "0:a"} << 1 << 100;
    QTest::newRow("backward 2") << "setBackward2" << QStringList{"0:0", "2:8", "1:8", "0:a"} << 1 << 100;
    QTest::newRow("stop 2") << "setStop2" << QStringList{"0:0", "2:0"} << 1 << 0;
    QTest::newRow("brake 2") << "setBrake2" << QStringList{"2:0", "1:0", "0:0"} << 2 << 20;
}

void tst_Board::motorSequences()
{
    QFETCH(QString, function);
    QFETCH(QStringList, writes);
    QFETCH(int, framesInOneLine);
    QFETCH(int, waitMs);

    Bench b;
    QVERIFY(b.ok);
    bool eventRan = false;
    QTimer::singleShot(0, b.board, [&eventRan] { eventRan = true; });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(b.board->run(function, QVariant()).toBool(), true);
    QVERIFY(clock.elapsed() >= waitMs);
    // Its waits keep the application responsive.
    if (waitMs > 0)
        QVERIFY(eventRan);

    const QStringList lines = b.sent();
    QCOMPARE(bridgeWrites(lines), writes);
    int most = 0;
    for (const QString &line : lines)
        most = qMax(most, int(framesIn(line).size()));
    QCOMPARE(most, framesInOneLine);
}

void tst_Board::basicRunSequences_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QStringList>("lastWrites");
    QTest::addColumn<bool>("bringsUp");

    QTest::newRow("forward 1") << "setForward1" << QStringList{"2:1", "3:0", "1:1", "0:5"} << true;
    QTest::newRow("backward 1") << "setBackward1" << QStringList{"2:4", "3:0", "1:4", "0:5"} << true;
    QTest::newRow("forward 2") << "setForward2" << QStringList{"2:2", "3:44", "1:2", "0:a"} << true;
    QTest::newRow("backward 2") << "setBackward2" << QStringList{"2:8", "3:44", "1:8", "0:a"} << true;
    QTest::newRow("stop 1") << "setStop1" << QStringList{"0:0"} << false;
    QTest::newRow("stop 2") << "setStop2" << QStringList{"0:0"} << false;
}

void tst_Board::basicRunSequences()
{
    QFETCH(QString, function);
    QFETCH(QStringList, lastWrites);
    QFETCH(bool, bringsUp);

    Bench b;
    QVERIFY(b.ok);
    QCOMPARE(b.basic->run(function, QVariant()).toBool(), true);
    const QStringList lines = b.sent();
    const QStringList writes = bridgeWrites(lines);
    QVERIFY2(writes.size() >= lastWrites.size(), qPrintable(writes.join(' ')));
    QCOMPARE(writes.mid(writes.size() - lastWrites.size()), lastWrites);
    if (!bringsUp) {
        QCOMPARE(writes, lastWrites);
        QVERIFY(!lines.contains("set DIO25=1"));
        return;
    }
    // Drivers first, then the default configuration, then the enable pin.
    const QList<quint16> first = framesIn(lines.value(0));
    QCOMPARE(first.size(), 1);
    QCOMPARE(first.at(0) >> 12, 1);
    QCOMPARE(first.at(0) & 0x600, 0x600);
    const int defaults = lines.indexOf(defaultChain);
    const int enable = lines.indexOf("set DIO25=1");
    QVERIFY(defaults > 0);
    QVERIFY2(enable > defaults, qPrintable(lines.join(" | ")));
    QCOMPARE(b.reg("DIO[EN]"), 1u);
    QCOMPARE(b.var("PWM1OnOff"), 1.0);
}

void tst_Board::configurations()
{
    Bench b({"--chip-registers"});
    QVERIFY(b.ok);
    // The defaults reach the chip although the function reports false.
    QCOMPARE(b.board->run("setDefault", QVariant()), QVariant(false));
    QCOMPARE(b.sent(),
             (QStringList{defaultChain, "get SPI0CS0DATA SPI0CS0DATA SPI0CS0DATA SPI0CS0DATA SPI0CS0DATA "
                                        "SPI0CS0DATA SPI0CS0DATA SPI0CS0DATA"}));
    QByteArray value;
    QVERIFY(b.app->link()->getParameter("chipCR7A", &value));
    QCOMPARE(value, QByteArray("656"));
    QVERIFY(b.app->link()->getParameter("chipCR8B", &value));
    QCOMPARE(value, QByteArray("1465"));
    QCOMPARE(b.reg("CR6B[]"), 0x5B9u);

    // Loaded: the user copies in loading order, bit 10 choosing the half.
    b.app->registers()->reg("UCR5A")->set("UCR5A[]", 0x7AB);
    b.app->registers()->reg("UCR6B")->set("UCR6B[]", 0x123);
    b.board->setLoadedNames({"CR6B", "CR5A"});
    b.markSent();
    QCOMPARE(b.board->run("setLoaded", QVariant()), QVariant(false));
    QCOMPARE(b.sent().value(0), QString("set SPI0CS0DATA=026523 SPI0CS0DATA=0253ab"));
    QCOMPARE(b.reg("CR5A[]"), 0x3ABu);
    QCOMPARE(b.reg("CR6B[]"), 0x523u);

    // User: the model's current values, A and B of each pair.
    b.markSent();
    QCOMPARE(b.board->run("setUserConf", QVariant()), QVariant(false));
    QCOMPARE(b.sent().value(0), QString("set SPI0CS0DATA=0253ab SPI0CS0DATA=0255b9 SPI0CS0DATA=026290 "
                                        "SPI0CS0DATA=026523 SPI0CS0DATA=027290 SPI0CS0DATA=0275b9 "
                                        "SPI0CS0DATA=028290 SPI0CS0DATA=0285b9"));
}

// "Set User Configuration" before any workspace was loaded sends nothing
// and says why, with no error box.
void tst_Board::setLoadedWithoutWorkspace()
{
    Bench b;
    QVERIFY(b.ok);
    QVERIFY(b.board->loadedNames().isEmpty());
    b.board->showWindow();
    QVERIFY(QTest::qWaitForWindowExposed(b.board));
    auto *send = b.board->findChild<QPushButton *>("pbBoard_setLoaded");
    QVERIFY(send && send->isVisible());
    b.answerer.clear();
    QTest::mouseClick(send, Qt::LeftButton);
    QTRY_COMPARE(b.answerer.count(), 1);
    QCOMPARE(b.answerer.boxes().at(0).icon, QMessageBox::Information);
    QVERIFY2(b.answerer.texts().at(0).startsWith("No workspace is loaded"),
             qPrintable(b.answerer.texts().at(0)));
    QCOMPARE(b.sent(), QStringList());
}

void tst_Board::setFSM_data()
{
    QTest::addColumn<uint>("fsm");
    QTest::addColumn<uint>("enable");
    QTest::addColumn<QString>("pinCommand");
    QTest::addColumn<uint>("routine");
    QTest::addColumn<bool>("userConfiguration");

    QTest::newRow("fail-safe") << 1u << 1u << "set DIO22=1" << 0u << false;
    QTest::newRow("normal, enabled") << 0u << 1u << "set DIO22=0" << 1u << true;
    QTest::newRow("normal, disabled") << 0u << 0u << "set DIO22=0" << 0u << true;
}

void tst_Board::setFSM()
{
    QFETCH(uint, fsm);
    QFETCH(uint, enable);
    QFETCH(QString, pinCommand);
    QFETCH(uint, routine);
    QFETCH(bool, userConfiguration);

    Bench b;
    QVERIFY(b.ok);
    b.app->registers()->reg("RoutineEN")->set("RoutineEN", 0);
    b.app->registers()->reg("FSM")->set("FSM[FSM]", fsm);
    b.app->registers()->reg("DIO")->set("DIO[EN]", enable);
    b.markSent();
    QCOMPARE(b.board->run("setFSM", QVariant()).toBool(), true);
    const QStringList lines = b.sent();
    QCOMPARE(lines.value(0), pinCommand);
    QCOMPARE(b.reg("RoutineEN"), routine);
    // The chip reports the pin in SR0 (read by ReadSR0 or ReadAll).
    QCOMPARE(b.reg("SR0[9]"), fsm);
    bool userChain = false;
    for (const QString &line : lines)
        userChain = userChain || framesIn(line).size() == 8;
    QCOMPARE(userChain, userConfiguration);
}

void tst_Board::measurements_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<bool>("referenceRead");
    QTest::addColumn<int>("reference");
    QTest::addColumn<double>("supply");

    QTest::newRow("reference read") << QStringList{} << true << 3000 << 12.0;
    QTest::newRow("reference fails") << QStringList{"--error", "AINREF"} << false << 0 << 0.0;
}

void tst_Board::measurements()
{
    QFETCH(QStringList, simOptions);
    QFETCH(bool, referenceRead);
    QFETCH(int, reference);
    QFETCH(double, supply);

    Bench b(simOptions);
    QVERIFY(b.ok);
    b.app->registers()->var("ADC_Result4")->setValue(5.0, ORIGIN_FORCED);
    QCOMPARE(b.board->run("getADC_ref", QVariant()).toBool(), referenceRead);
    QCOMPARE(b.board->run("getADC", QVariant()).toBool(), true);
    QCOMPARE(int(b.board->adcReference()), reference);
    QVERIFY2(qAbs(b.var("ADC_Result4") - supply) < 0.1, qPrintable(QString::number(b.var("ADC_Result4"))));
    QCOMPARE(b.var("ADC_Result1"), 0.0);
    QCOMPARE(b.var("ADC_Result2"), 0.0);
    QVERIFY(b.sent().contains("get AINREF"));
    QVERIFY(b.sent().indexOf("get AINREF") < b.sent().indexOf("get AIN5"));
}

void tst_Board::currentsFollowMotor()
{
    Bench b;
    QVERIFY(b.ok);
    QVERIFY(b.app->link()->transact("set PWM0START"));
    QVERIFY(b.board->run("setActive", QVariant()).toBool());
    QCOMPARE(b.reg("CR1[10:9]"), 3u);
    QVERIFY(b.board->run("setForward1", QVariant()).toBool());
    QVERIFY(b.board->run("refresh", QVariant()).toBool());
    // 1500 mA at the generator's 50 %.
    QVERIFY2(qAbs(b.var("ADC_Result1") - 0.75) < 0.03, qPrintable(QString::number(b.var("ADC_Result1"))));
    QCOMPARE(b.var("ADC_Result2"), 0.0);
    QVERIFY(b.board->run("setBrake1", QVariant()).toBool());
    QVERIFY(b.board->run("refresh", QVariant()).toBool());
    QCOMPARE(b.var("ADC_Result1"), 0.0);
}

void tst_Board::userRunsMotorFromBasicWindow()
{
    // All seven windows, as a user has them: the slider reaches the board
    // through the half-bridge controller.
    BenchFixture b;
    QVERIFY(b.ok);
    QVERIFY(QTest::qWaitFor([&] { return b.sim.transcript().contains("get AINREF"); }, 3000));
    auto *basic = b.applet<Basic>("Basic");
    auto *board = b.applet<Board>("Board");
    QVERIFY(basic && board);
    basic->show();
    board->show();
    auto *current1 = board->findChild<CustomControls::RealEdit *>("leT10ACM_3");
    QVERIFY(current1);
    const auto isen1 = [&] {
        QTest::mouseClick(board->findChild<QPushButton *>("pbBoard_refresh"), Qt::LeftButton);
        return b.app->registers()->var("ADC_Result1")->value();
    };

    QTest::mouseClick(basic->findChild<QPushButton *>("pbBasic_setForward1"), Qt::LeftButton);
    const double atHalf = isen1();
    QVERIFY2(atHalf > 0.5, qPrintable(QString::number(atHalf)));
    QCOMPARE(current1->value(), atHalf);

    // Drag the speed slider's handle from the middle to four fifths.
    auto *slider = basic->findChild<QSlider *>("hsPWM1_Duty");
    QVERIFY(QTest::qWaitForWindowExposed(slider));
    b.markSent();
    const int y = slider->height() / 2;
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, y));
    for (int x = slider->width() / 2; x <= slider->width() * 4 / 5; x += 8)
        QTest::mouseMove(slider, QPoint(x, y));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() * 4 / 5, y));
    QVERIFY2(slider->value() > 65, qPrintable(QString::number(slider->value())));
    QCOMPARE(b.app->registers()->var("PWM1_DUTY")->value(), double(slider->value()));
    bool dutySent = false;
    for (const QString &line : b.sent())
        dutySent = dutySent || (line.startsWith("set PWM") && line.contains("DUTY="));
    QVERIFY2(dutySent, qPrintable(b.sent().join(" | ")));
    const double faster = isen1();
    QVERIFY2(faster > atHalf + 0.2, qPrintable(QString("%1 -> %2").arg(atHalf).arg(faster)));

    QTest::mouseClick(basic->findChild<QPushButton *>("pbBasic_setStop1"), Qt::LeftButton);
    QCOMPARE(isen1(), 0.0);
    QCOMPARE(current1->value(), 0.0);
    QVERIFY(!current1->text().isEmpty());
}

void tst_Board::deviceEnable()
{
    Bench b;
    QVERIFY(b.ok);
    auto *enable = b.board->findChild<QCheckBox *>("cbEN");
    QVERIFY(enable && enable->isChecked());
    const QStringList greyed = {"pbBoard_setActive", "pbBoard_setStandby", "pbBoard_setDefault",
                                "grMotor1",          "grMotor2",           "grStatus"};
    for (bool on : {false, true}) {
        b.markSent();
        enable->click();
        QCOMPARE(enable->isChecked(), on);
        QCOMPARE(b.reg("DIO[EN]"), uint(on));
        QCOMPARE(b.sent().value(0), QString(on ? "set DIO25=1" : "set DIO25=0"));
        for (const QString &name : greyed)
            QVERIFY2(b.board->findChild<QWidget *>(name)->isEnabled() == on, qPrintable(name));
        QVERIFY(b.board->findChild<QWidget *>("pbBoard_setLoaded")->isEnabled());
        QCOMPARE(b.reg("RoutineEN"), uint(on));
        // Enabling reads the status and writes the user configuration again.
        bool userChain = false;
        for (const QString &line : b.sent())
            userChain = userChain || framesIn(line).size() == 8;
        QCOMPARE(userChain, on);
    }
}

void tst_Board::automaticRefresh_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<bool>("running");

    QTest::newRow("zero period") << 0 << false;
    QTest::newRow("short period") << 200 << true;
}

void tst_Board::automaticRefresh()
{
    QFETCH(int, period);
    QFETCH(bool, running);

    Bench b;
    QVERIFY(b.ok);
    auto *spin = b.board->findChild<QSpinBox *>("lePeriod");
    auto *box = b.board->findChild<QCheckBox *>("cbAutoRefresh");
    QVERIFY(spin && box);
    QCOMPARE(spin->value(), 2000);
    spin->setMinimum(0);
    spin->setValue(period);
    box->click();
    QCOMPARE(box->isChecked(), running);
    QCOMPARE(b.board->isAutoRefreshing(), running);
    if (running) {
        QTRY_VERIFY(b.sent().count("get Isen1") >= 2);
    } else {
        // Stopped, it reads nothing of its own for several periods.
        QTest::qWait(3 * qMax(period, 100));
        QVERIFY(b.sent().count("get Isen1") < 2);
    }
    if (running) {
        box->click();
        QVERIFY(!b.board->isAutoRefreshing());
    }
}

// A person's board action runs whole while the board takes its time: the
// refresh ticks and a script's request that come meanwhile run after it,
// and the refreshes do not pile up.
void tst_Board::clickedActionRunsWhole()
{
    Bench b({"--delay", "20"});
    QVERIFY(b.ok);
    b.board->showWindow();
    auto *spin = b.board->findChild<QSpinBox *>("lePeriod");
    auto *box = b.board->findChild<QCheckBox *>("cbAutoRefresh");
    auto *button = b.board->findChild<QPushButton *>("pbBoard_setActive");
    QVERIFY(spin && box && button);
    spin->setMinimum(0);
    spin->setValue(10);
    box->click();
    QTRY_VERIFY(b.sent().count("get AIN5") >= 1);
    // No refresh runs now: they run from the event loop.
    b.markSent();

    b.app->server()->setServeDepth(0);
    std::unique_ptr<AsyncClient> request;
    whenBoardWaits(*b.app->boardActions(), b.board, [&] {
        request = std::make_unique<AsyncClient>(b.app->server()->serverPath(), "run\tBoard.getADC\n");
    });
    QTest::mouseClick(button, Qt::LeftButton);
    const QStringList action = b.sent();
    QVERIFY(request && request->sent);
    QTRY_VERIFY_WITH_TIMEOUT(request->done(), 5000);
    b.app->server()->setServeDepth(1);
    QCOMPARE(request->reply, QByteArray("i1"));
    box->click();
    QTRY_VERIFY(!b.app->boardActions()->isBusy());
    b.settle();

    // The click's lines, and nothing read in between.
    QVERIFY(action.size() > 4);
    QCOMPARE(action.count("get AINREF"), 0);
    // After it, the ticks that came meanwhile gave one refresh, and the
    // request ran after the refresh: reads by fours, never mixed.
    const QStringList reads =
        b.sent().mid(action.size()).filter(QRegularExpression("^get (AINREF|Isen|AIN5)"));
    QVERIFY(reads.size() >= 8);
    QCOMPARE(reads.size() % 4, 0);
    for (qsizetype i = 0; i < reads.size(); i += 4)
        QCOMPARE(reads.mid(i, 4), QStringList({"get AINREF", "get Isen1", "get Isen2", "get AIN5"}));
}

// Reads that do not wait for each other's answers share a round trip (the
// board marks each in its transcript); the lines and their order stay those
// of the reads one by one: the four readings, then ReadAll's two lines.
void tst_Board::readsInFewRoundTrips_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<bool>("withStatus");
    QTest::addColumn<int>("roundTrips");

    QTest::newRow("getADC") << "getADC" << false << 1;
    QTest::newRow("refresh") << "refresh" << true << 2;
}

void tst_Board::readsInFewRoundTrips()
{
    QFETCH(QString, function);
    QFETCH(bool, withStatus);
    QFETCH(int, roundTrips);

    Bench b({"--count-round-trips"});
    QVERIFY(b.ok);
    // A presence check of the link may come in between: it is no read.
    const auto split = [](const QStringList &lines, int *trips) {
        QStringList wire;
        *trips = 0;
        for (int i = 0; i < lines.size(); ++i) {
            if (lines.at(i) == "<ROUND TRIP>")
                *trips += lines.value(i + 1) == "<ENQ>" ? 0 : 1;
            else if (lines.at(i) != "<ENQ>")
                wire.append(lines.at(i));
        }
        return wire;
    };
    int trips = 0;
    Applet *spi = b.applet<Applet>("SpiController");
    QVERIFY(spi && spi->run("ReadAll", QVariant()).toBool());
    const QStringList readAll = split(b.sent(), &trips);
    QCOMPARE(readAll.size(), 2);
    b.markSent();

    QVERIFY(b.board->run(function, QVariant()).toBool());
    QStringList expected{"get AINREF", "get Isen1", "get Isen2", "get AIN5"};
    if (withStatus)
        expected += readAll;
    QCOMPARE(split(b.sent(), &trips), expected);
    QCOMPARE(trips, roundTrips);
}

void tst_Board::disconnectRestores()
{
    Bench b;
    QVERIFY(b.ok);
    auto *box = b.board->findChild<QCheckBox *>("cbAutoRefresh");
    box->click();
    QVERIFY(b.board->isAutoRefreshing());
    b.app->registers()->reg("DIO")->set("DIO[EN]", 0);
    b.app->registers()->reg("DIO")->set("DIO[PWM1]", 1);
    b.app->disconnectFromBoard();
    QVERIFY(!b.board->isAutoRefreshing());
    QVERIFY(!box->isChecked());
    QCOMPARE(b.reg("DIO[]"), b.board->dioSnapshot());
    QCOMPARE(b.board->findChild<QCheckBox *>("cbEN")->isChecked(), true);
}

void tst_Board::pwmPinState_data()
{
    QTest::addColumn<int>("generator");
    QTest::addColumn<double>("onOff");

    QTest::newRow("PWM1 on") << 1 << 1.0;
    QTest::newRow("PWM1 off") << 1 << 0.0;
    QTest::newRow("PWM2 on") << 2 << 1.0;
    QTest::newRow("PWM2 off") << 2 << 0.0;
}

void tst_Board::pwmPinState()
{
    QFETCH(int, generator);
    QFETCH(double, onOff);

    Bench b;
    QVERIFY(b.ok);
    const QString n = QString::number(generator);
    const QString other = QString::number(3 - generator);
    b.app->registers()->var("PWM" + n + "OnOff")->setValue(onOff, ORIGIN_FORCED);
    b.app->registers()->var("PWM" + other + "OnOff")->setValue(1.0 - onOff, ORIGIN_FORCED);
    QCOMPARE(b.board->run("setPWM" + n + "_DIO", QVariant()).toBool(), true);
    auto *clock = b.board->findChild<QLabel *>("lblCLK" + n);
    auto *pin = b.board->findChild<QWidget *>("cbPWM" + n + "_DIO");
    QVERIFY(clock && pin);
    QCOMPARE(clock->styleSheet(),
             onOff != 0 ? QString("image: url(:/board/img_signal_clock.png)") : QString());
    QCOMPARE(pin->isEnabled(), onOff == 0);
    // The other generator's widgets wait for their own function.
    QVERIFY(b.board->findChild<QLabel *>("lblCLK" + other)->styleSheet().isEmpty());
    QVERIFY(b.board->findChild<QWidget *>("cbPWM" + other + "_DIO")->isEnabled());
}

QTEST_MAIN(tst_Board)
#include "tst_board.moc"
