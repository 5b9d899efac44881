#include "app/mdiarea.h"
#include "applets/chipid.h"
#include "applets/spicontroller.h"
#include "applets/spiraw.h"
#include "applets/watchdog.h"
#include "benchfixture.h"
#include "chip/chipservice.h"
#include "chip/registermap.h"
#include "controls/checkbox.h"
#include "controls/combobox.h"
#include "controls/lineedit.h"
#include "controls/pushbutton.h"
#include "model/register.h"
#include "model/variable.h"

#include <QDrag>
#include <QMdiArea>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

namespace {

QStringList framesSent(const QStringList &lines)
{
    QStringList frames;
    for (const QString &line : lines) {
        if (line.startsWith("set SPI0CS0DATA="))
            frames.append(line.mid(16));
    }
    return frames;
}

uint reg(BenchFixture &b, const QString &ref)
{
    return b.app->registers()->reg(Applet::parameterNameOf(ref))->get(ref);
}

} // namespace

class tst_ChipApplets : public QObject
{
    Q_OBJECT

private slots:
    void configurationOnConnect();
    void framesAndWatchdogBit();
    void readRequest();
    void decodeAnswer_data();
    void decodeAnswer();
    void chainText();
    void readAllFillsStatus();
    void failedChainIsResent();
    void clearFunctions();
    void registersClearedByChip_data();
    void registersClearedByChip();
    void mockUpStatusClearsNothing();
    void watchDog();
    void readId();
    void windowControls();
    void mockUpHeader();
    void scriptDragNamesItsWindow_data();
    void scriptDragNamesItsWindow();
};

void tst_ChipApplets::configurationOnConnect()
{
    BenchFixture b;
    QVERIFY(b.ok);
    const QStringList lines = b.sim.transcript();
    const int first = lines.indexOf("set SPI0CS0CONF");
    QVERIFY2(first > 0, qPrintable(lines.join(" | ")));
    QCOMPARE(lines.mid(first, 5), (QStringList{"set SPI0CS0CONF", "set SPI0CS0SPEED=1000000",
                                               "set SPI0CS0CPOL=0", "set SPI0CS0NCPHA=0", "set q913rem=1"}));
    QVERIFY(lines.contains("set WDen=1"));
    QVERIFY(lines.contains("set WDtime=20"));

    // The windows carry their titles and shortcuts.
    const QList<QPair<QString, QString>> titles = {{"SpiController", "(Ctrl+3) SPI Controller"},
                                                   {"SpiRaw", "(Ctrl+4) SPI Raw"},
                                                   {"WatchDog", "(Ctrl+5) WatchDog"},
                                                   {"ChipID", "(Ctrl+6) Chip ID"}};
    for (int i = 0; i < titles.size(); ++i) {
        Applet *applet = b.app->findApplet(titles.at(i).first, MainApp::ByObjectName);
        QVERIFY(applet);
        QCOMPARE(applet->windowTitle(), titles.at(i).second);
        QCOMPARE(applet->shortcutKey(), int(Qt::Key_3) + i);
        QCOMPARE(b.app->findApplet(int(Qt::Key_3) + i, MainApp::ByShortcutKey), applet);
    }
}

void tst_ChipApplets::framesAndWatchdogBit()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    spi->set("WD", 0u, ORIGIN_FORCED);
    spi->set("CR5B[]", 0x1FFu, ORIGIN_FORCED);
    QVERIFY(spi->run("WriteCR5B", QVariant()).toBool());
    QCOMPARE(reg(b, "WD"), 1u);
    QVERIFY(spi->run("WriteCR0", QVariant()).toBool());
    // D10 forced to 1 for the B half; the next frame carries the toggled bit.
    QCOMPARE(framesSent(b.sent()), (QStringList{"0255ff", "020800"}));
    QCOMPARE(b.sent().mid(0, 2), (QStringList{"set SPI0CS0DATA=0255ff", "get SPI0CS0DATA"}));
}

void tst_ChipApplets::readRequest()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    spi->set("WD", 1u, ORIGIN_FORCED);
    QVERIFY(spi->chip()->readFrame());
    QCOMPARE(framesSent(b.sent()), QStringList{"02d800"});
    // RequestRead selects the status register and sends CR0.
    b.markSent();
    spi->set("WD", 0u, ORIGIN_FORCED);
    QVERIFY(spi->run("RequestRead", "4").toBool());
    QCOMPARE(reg(b, "CR0[9:7]"), 4u);
    QCOMPARE(reg(b, "CR0[10]"), 1u);
    QCOMPARE(framesSent(b.sent()), QStringList{"020600"});
}

void tst_ChipApplets::decodeAnswer_data()
{
    QTest::addColumn<uint>("answer");
    QTest::addColumn<uint>("addr");
    QTest::addColumn<uint>("nm");
    QTest::addColumn<uint>("data");
    QTest::addColumn<QString>("status");

    QTest::newRow("SR7") << 0xE123u << 7u << 0u << 0x123u << "SR7";
    QTest::newRow("no SR2") << 0x5ABCu << 2u << 1u << 0xABCu << "";
    QTest::newRow("SR4") << 0x9FFFu << 4u << 1u << 0xFFFu << "SR4";
}

void tst_ChipApplets::decodeAnswer()
{
    QFETCH(uint, answer);
    QFETCH(uint, addr);
    QFETCH(uint, nm);
    QFETCH(uint, data);
    QFETCH(QString, status);

    BenchFixture b;
    QVERIFY(b.ok);
    const QStringList statusRegisters = {"SR0", "SR1", "SR3", "SR4", "SR5", "SR7"};
    for (const QString &sr : statusRegisters)
        b.applet<SpiController>("SpiController")->set(sr + "[]", 0x5u, ORIGIN_FORCED);
    b.applet<SpiController>("SpiController")->chip()->decodeAnswer(answer);
    QCOMPARE(reg(b, "ADDR[3:0]"), addr);
    QCOMPARE(reg(b, "NM"), nm);
    QCOMPARE(reg(b, "DATA[11:0]"), data);
    for (const QString &sr : statusRegisters)
        QCOMPARE(reg(b, sr + "[]"), sr == status ? data : 0x5u);
}

void tst_ChipApplets::chainText()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    spi->set("WD", 0u, ORIGIN_FORCED);
    spi->chip()->chainAdd(0, 0x081);
    spi->chip()->chainAdd(5, 0x7FF);
    QCOMPARE(spi->chip()->pendingChain(), QByteArray(" SPI0CS0DATA=020081 SPI0CS0DATA=0257ff"));
}

void tst_ChipApplets::readAllFillsStatus()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    QVERIFY(spi->run("ReadAll", QVariant()).toBool());
    const QStringList lines = b.sent();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0).count("SPI0CS0DATA=02"), 7);
    QVERIFY(lines.at(0).startsWith("set SPI0CS0DATA=02"));
    QCOMPARE(lines.at(1), QString("get" + QString(" SPI0CS0DATA").repeated(7)));
    QVERIFY(spi->chip()->pendingChain().isEmpty());
    // The simulated chip reports its identification in SR7 and normal mode.
    QCOMPARE(reg(b, "SR7[]"), 0x651u);
    QCOMPARE(reg(b, "NM"), 1u);
}

void tst_ChipApplets::failedChainIsResent()
{
    // The board window writes the default configuration as a chain right
    // after connecting: the first chain fails once and goes out again in
    // front of the next one.
    BenchFixture b({"--error-once", "SPI0CS0DATA"});
    QVERIFY(b.ok);
    QStringList chains;
    for (const QString &line : b.sim.transcript()) {
        if (line.startsWith("set SPI0CS0DATA="))
            chains.append(line);
    }
    QVERIFY(chains.size() >= 2);
    QCOMPARE(chains.at(0).count("SPI0CS0DATA="), 8);
    QVERIFY2(chains.at(1).startsWith(chains.at(0) + " SPI0CS0DATA="), qPrintable(chains.at(1)));
    QCOMPARE(chains.at(1).count("SPI0CS0DATA="), 16);
    QVERIFY(b.applet<SpiController>("SpiController")->chip()->pendingChain().isEmpty());
}

void tst_ChipApplets::clearFunctions()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    for (const char *name : {"CR0", "CR1", "CR3", "CR5A", "CR5B", "CR8B", "SR0", "SR1", "SR7"})
        spi->set(QString(name) + "[]", 0x1FFu, ORIGIN_FORCED);
    QVERIFY(spi->run("Clear", QVariant()).toBool());
    QCOMPARE(reg(b, "CR0[]"), 0u);
    QCOMPARE(reg(b, "CR3[]"), 0u);
    QCOMPARE(reg(b, "SR1[]"), 0u);
    QCOMPARE(reg(b, "CR5A[]"), 0x1FFu);
    QCOMPARE(reg(b, "SR0[]"), 0x1FFu);
    QVERIFY(spi->run("ClearAll", QVariant()).toBool());
    QCOMPARE(reg(b, "CR5A[]"), 0u);
    QCOMPARE(reg(b, "CR5B[]"), 0x400u);
    QCOMPARE(reg(b, "CR8B[]"), 0x400u);
    QCOMPARE(reg(b, "SR0[]"), 0x1FFu);
    QCOMPARE(reg(b, "SR7[]"), 0x1FFu);
    QVERIFY(!spi->run("NoSuchFunction", QVariant()).toBool());
    QVERIFY(b.sent().isEmpty());
}

void tst_ChipApplets::registersClearedByChip_data()
{
    QTest::addColumn<QString>("function");
    QTest::newRow("single read") << "ReadSR0";
    // The chain's first answer reports RCF and its last one has it cleared.
    QTest::newRow("chain") << "ReadAll";
}

void tst_ChipApplets::registersClearedByChip()
{
    QFETCH(QString, function);
    // After power-up the chip reports RCF once: the model is reset.
    BenchFixture b;
    QVERIFY(b.ok);
    // Power the chip down and up again: it reports RCF once more.
    QVERIFY(b.app->link()->transact("set DIO25=0"));
    QVERIFY(b.app->link()->transact("set DIO25=1"));
    auto *spi = b.applet<SpiController>("SpiController");
    spi->set("CR1[]", 0x10Fu, ORIGIN_FORCED);
    QVERIFY(spi->run(function, QVariant()).toBool());
    QCOMPARE(reg(b, "CR1[]"), 0u);
}

void tst_ChipApplets::mockUpStatusClearsNothing()
{
    BenchFixture b({}, "mockup");
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    spi->set("CR1[]", 0x10Fu, ORIGIN_FORCED);
    bool sawRcf = false;
    for (int i = 0; i < 20 && !sawRcf; ++i) {
        QVERIFY(spi->run("ReadSR0", QVariant()).toBool());
        sawRcf = reg(b, "SR0[10]") == 1;
    }
    QVERIFY(sawRcf);
    QCOMPARE(reg(b, "CR1[]"), 0x10Fu);
}

void tst_ChipApplets::watchDog()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *wd = b.applet<WatchDog>("WatchDog");
    QVERIFY(wd->set("WDTime", 20.9, ORIGIN_USER));
    QVERIFY(wd->run("setRoutineTime", QVariant()).toBool());
    QVERIFY(wd->set("WDdio", 1u, ORIGIN_USER));
    QVERIFY(wd->findChild<CustomControls::CheckBox *>("cbWDdio")->isChecked());
    // The same value again sends nothing.
    wd->set("RoutineEN", 1u, ORIGIN_FORCED);
    wd->set("RoutineEN", 0u, ORIGIN_FORCED);
    QCOMPARE(b.sent(), (QStringList{"set WDtime=20", "set DIO21=1", "set WDen=0"}));
    QVERIFY(!wd->set("WDTime", 1001, ORIGIN_USER));
    QCOMPARE(wd->functionNames(), (QStringList{"WDenable", "setRoutineTime"}));
    QCOMPARE(wd->functionDescriptions().value("WDenable"), QString("Sets WD repeat period"));
}

void tst_ChipApplets::readId()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *id = b.applet<ChipID>("ChipID");
    QVERIFY(id->run("ReadID", QVariant()).toBool());
    const uint sr7 = reg(b, "SR7[]");
    QVERIFY(sr7 != 0);
    auto *name = id->findChild<CustomControls::LineEdit *>("leSR7_11_9");
    QCOMPARE(uint(name->value()), sr7 >> 9 & 7);
    QCOMPARE(uint(id->findChild<CustomControls::LineEdit *>("leSR7_2_0")->value()), sr7 & 7);
}

void tst_ChipApplets::windowControls()
{
    BenchFixture b;
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    spi->showWindow();
    auto *enable = spi->findChild<CustomControls::CheckBox *>("cbCR0_0");
    // On the box itself: the layout stretches the widget beyond its text.
    QTest::mouseClick(enable, Qt::LeftButton, {}, QPoint(8, enable->height() / 2));
    QCOMPARE(reg(b, "CR0[0]"), 1u);
    auto *blank = spi->findChild<CustomControls::ComboBox *>("cmCR5A_9_8");
    blank->setCurrentIndex(3);
    emit blank->activated(3);
    QCOMPARE(reg(b, "CR5A[9:8]"), 3u);
    // Editing the model sends nothing until Write is pressed.
    QVERIFY(b.sent().isEmpty());
    spi->set("WD", 0u, ORIGIN_FORCED);
    QTest::mouseClick(spi->findChild<CustomControls::PushButton *>("pbSpiController_WriteCR5A"),
                      Qt::LeftButton);
    // On top of the default configuration 0x290 written at connect.
    QCOMPARE(framesSent(b.sent()), QStringList{"025390"});
    QCOMPARE(spi->findChild<CustomControls::ComboBox *>("cmCR4_10_7")->itemText(12), QString("2.75 us "));
}

void tst_ChipApplets::mockUpHeader()
{
    BenchFixture b({}, "mockup");
    QVERIFY(b.ok);
    auto *spi = b.applet<SpiController>("SpiController");
    // RequestRead selects SR4 with continuous reading: answers keep reporting it.
    QVERIFY(spi->run("RequestRead", 4).toBool());
    QVERIFY(spi->run("WriteCR2", QVariant()).toBool());
    QCOMPARE(reg(b, "ADDR[3:0]"), 4u);
    QCOMPARE(reg(b, "NM"), 1u);
    // Without continuous reading the selection falls back to SR0 after one answer.
    spi->set("CR0[10]", 0u, ORIGIN_FORCED);
    QVERIFY(spi->run("WriteCR2", QVariant()).toBool());
    QCOMPARE(reg(b, "ADDR[3:0]"), 4u);
    QVERIFY(spi->run("WriteCR2", QVariant()).toBool());
    QCOMPARE(reg(b, "ADDR[3:0]"), 0u);
}

void tst_ChipApplets::scriptDragNamesItsWindow_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("other");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");

    // The window dragged from, and one opened after it, so that another is
    // the active window when the drag starts.
    QTest::newRow("SPI Controller") << int(Qt::Key_3) << int(Qt::Key_1) << "cbSR0_4"
                                    << "SpiController.SR0[4] #HQL3318:get,set";
    QTest::newRow("Board") << int(Qt::Key_1) << int(Qt::Key_3) << "cbSR0_4"
                           << "Board.SR0[4] #HQL3318:get,set";
    QTest::newRow("HB Controller") << int(Qt::Key_2) << int(Qt::Key_3) << "cbSR0_4"
                                   << "HBController.SR0[4] #HQL3318:get,set";
    // A switch takes no focus; pressing it still makes its window the active one.
    QTest::newRow("generator switch") << int(Qt::Key_2) << int(Qt::Key_3) << "csPWM1OnOff"
                                      << "HBController.PWM1OnOff #HQL3318:get,set";
}

// A Ctrl+drag from a status bit hands a script snippet that names the
// device window the bit is shown in.
void tst_ChipApplets::scriptDragNamesItsWindow()
{
    QFETCH(int, window);
    QFETCH(int, other);
    QFETCH(QString, control);
    QFETCH(QString, text);

    BenchFixture b;
    QVERIFY(b.ok);
    MainWindow *main = b.app->mainWindow();
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    Applet *applet = b.app->findApplet(window, MainApp::ByShortcutKey);
    QTest::keyClick(main->mdiArea, Qt::Key(window), Qt::ControlModifier);
    QTRY_VERIFY(applet->isVisible());
    QTest::keyClick(main->mdiArea, Qt::Key(other), Qt::ControlModifier);
    QTRY_VERIFY(main->activeApplet() != applet);

    auto *bit = applet->findChild<QWidget *>(control);
    QVERIFY(bit && bit->isVisible());
    QTest::mousePress(bit, Qt::LeftButton, Qt::ControlModifier, QPoint(8, bit->height() / 2));
    auto *drag = main->findChild<QDrag *>();
    QVERIFY(drag);
    QCOMPARE(drag->mimeData()->text(), text);
    QCOMPARE(QString::fromLatin1(drag->mimeData()->data("VBScript Get Data")),
             "# = @HQL3318.get(\"" + text.section(' ', 0, 0) + "\" ) ");
    QTest::mouseRelease(bit, Qt::LeftButton, Qt::ControlModifier, QPoint(8, bit->height() / 2));
}

QTEST_MAIN(tst_ChipApplets)
#include "tst_chipapplets.moc"
