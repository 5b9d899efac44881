#include "app/mainapp.h"
#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "app/portwatcher.h"
#include "asyncclient.h"
#include "controls/htmllistbox.h"
#include "controls/myswitch.h"
#include "dialogdriver.h"
#include "hexfile.h"
#include "link/boarddiscovery.h"
#include "link/controlboard.h"
#include "link/deviceevents.h"
#include "link/flashsession.h"
#include "messageboxanswerer.h"
#include "simboard.h"
#include "terminalprogram.h"
#include "testapplet.h"
#include "testserver.h"
#include "tools/bootloader.h"
#include "tools/logs.h"
#include "tools/measurements.h"

#include "app/localserver.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

// The main window's connection controls against a simulated board.
class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void connectAndLoseBoard();
    void pulledBoardIsLostNotLeft();
    void terminalProgramsPortIsLeftAlone();
    void openOfTheOpenPortReconnects();
    void failedConnectSaysWhy();
    void mockUpBanner();
    void scriptedOpenFollowsThePort();
    void requestNeverWaitsForABox();
    void requestsWaitForTheDownload();
    void trafficInLogWindow();
    void windowShortcutsWhileConnected_data();
    void windowShortcutsWhileConnected();
    void shortcutAfterBoxThenConnect();
    void lastPortPreselected();
    void portBoxFillsInBackground();
    void connectWhileLooking();
    void stableNameChosenAgain();
    void plugAndPull();

private:
    void startApp(const QStringList &ports, DeviceEvents *events = nullptr);
    bool choosePort(const QString &port);

    // Settings and the window-state file go here, not into the build tree.
    QTemporaryDir workDir;
    QString previousDir;
    SimBoard *sim = nullptr;
    MainApp *app = nullptr;
    MainWindow *window = nullptr;
};

void tst_Connection::initTestCase()
{
    QVERIFY(workDir.isValid());
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
}

void tst_Connection::cleanupTestCase()
{
    QDir::setCurrent(previousDir);
}

void tst_Connection::init()
{
    // Every test starts without a remembered port.
    QFile::remove(workDir.filePath("hql3318.ini"));
    sim = new SimBoard;
    QVERIFY2(sim->isRunning(), qPrintable(sim->errorString()));
    startApp({sim->path()});
}

void tst_Connection::cleanup()
{
    app->shutdown();
    MainApp::destroyInstance();
    delete sim;
}

void tst_Connection::startApp(const QStringList &ports, DeviceEvents *events)
{
    app = testMainApp();
    // No device of this machine comes or goes during a test.
    app->ports()->setDeviceEvents(events ? events : new DeviceEvents);
    app->setAppletFactory([] { return makeDeviceApplets(); });
    app->ports()->setExtraPorts(ports);
    QVERIFY(app->initialise());
    app->startMainWindow();
    window = app->mainWindow();
}

bool tst_Connection::choosePort(const QString &port)
{
    const int index = window->portCombo->findText(port);
    window->portCombo->setCurrentIndex(index);
    return index >= 0;
}

void tst_Connection::connectAndLoseBoard()
{
    // The simulated board is found; "mockup" stays last.
    QCOMPARE(window->portCombo->itemText(window->portCombo->count() - 1), QString("mockup"));
    QVERIFY(choosePort(sim->path()));

    QSignalSpy tx(window->txLamp, &CustomControls::MySwitch::signal_StateChanged);
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    QCOMPARE(window->connectButton->text(), QString("Disconnect"));
    QVERIFY(window->connectButton->isChecked());
    QVERIFY(!window->portCombo->isEnabled());
    QVERIFY(!window->rescanButton->isEnabled());
    QVERIFY(window->windowsMenu->isEnabled());
    QCOMPARE(window->connectionLamp->stateValue(), 1);
    QCOMPARE(window->statusLabel->text(),
             QString("   %1 : %2 ").arg(app->link()->firmwareIdentity()).arg(0x0104));
    QVERIFY(!app->link()->firmwareIdentity().isEmpty());
    for (Applet *applet : app->applets())
        QVERIFY(applet->windowAction()->isEnabled());

    // Traffic lights the tx lamp.
    QVERIFY(app->link()->transact("get DIO22"));
    QTRY_VERIFY(!tx.isEmpty());
    QCOMPARE(tx.first().at(0).toInt(), 1);

    // The board goes away: the link drops it and the window follows.
    app->applets().at(1)->showWindow();
    sim->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!app->isBoardConnected(), 5000);
    QTRY_COMPARE(window->connectButton->text(), QString("Connect"));
    QVERIFY(!window->connectButton->isChecked());
    QVERIFY(window->portCombo->isEnabled());
    QCOMPARE(window->connectionLamp->stateValue(), 0);
    QVERIFY(!app->applets().at(1)->container()->isVisible());
    // The board's name goes with the connection; what happened is said.
    QCOMPARE(window->statusLabel->text(), QString("The board on %1 was unplugged.").arg(sim->path()));
}

// A board pulled while a script drives it is lost, not left: one
// "Disconnect due to errors", no error of the command that found it gone,
// the message that it was unplugged, and the port box keeps its name.
void tst_Connection::pulledBoardIsLostNotLeft()
{
    QVERIFY(choosePort(sim->path()));
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    window->logCheck->setChecked(true);
    MessageBoxAnswerer answerer;
    sim->stop();
    // The script's next command finds the board gone.
    QVariant command("get VER");
    QVariant result;
    app->run("write", command, &result);
    QVERIFY(!app->isBoardConnected());

    QCOMPARE(answerer.count(), 1);
    QVERIFY2(answerer.texts().first().endsWith("Disconnect due to errors"),
             qPrintable(answerer.texts().first()));
    QCOMPARE(window->statusLabel->text(), QString("The board on %1 was unplugged.").arg(sim->path()));
    Logs *logs = app->logsApplet();
    QStringList lines;
    for (int i = 0; i < logs->list->count(); ++i)
        lines.append(logs->list->itemText(i));
    QVERIFY(!lines.filter("Disconnect due to errors").isEmpty());
    QVERIFY(lines.filter("Disconnect by user").isEmpty());
    QVERIFY(lines.filter("write error").isEmpty());
    QVERIFY(!lines.filter("was unplugged").isEmpty());
    // A round after the loss does not choose another port.
    window->slot_Rescan();
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());
    QCOMPARE(window->portCombo->currentText(), sim->path());
    window->logCheck->setChecked(false);
}

// A terminal program has the port open without a lock: neither the look for
// boards at start and on Rescan nor Connect opens it, and Connect says who
// has it. The port box offers it, marked as in use.
void tst_Connection::terminalProgramsPortIsLeftAlone()
{
    app->shutdown();
    MainApp::destroyInstance();
    TerminalProgram terminal;
    QVERIFY(terminal.isReady());
    startApp({terminal.path()});
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());
    window->slot_Rescan();
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());

    const int index = window->portCombo->findText(terminal.path());
    QVERIFY(index >= 0);
    QVERIFY(window->portCombo->itemData(index, Qt::ToolTipRole)
                .toString()
                .contains("In use by " + terminal.holder()));
    window->portCombo->setCurrentIndex(index);
    MessageBoxAnswerer answerer;
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(!app->isBoardConnected());
    const QString why = QString("%1 is in use by %2.").arg(terminal.path(), terminal.holder());
    QCOMPARE(window->statusLabel->text(), why);
    QCOMPARE(answerer.texts(), QStringList{why});

    QCOMPARE(terminal.speed(), speed_t(B9600));
    QCOMPARE(terminal.received(), QByteArray());
}

// "open" of the port already open connects afresh: the board is set up
// again, and the mock-up gives the same numbers again.
void tst_Connection::openOfTheOpenPortReconnects()
{
    MessageBoxAnswerer answerer;
    QVariant port(sim->path());
    QVariant result;
    QVERIFY(app->run("open", port, &result));
    QVERIFY(app->isBoardConnected());
    const int before = sim->transcript().count("get VER");
    QVERIFY(app->run("open", port, &result));
    QVERIFY(app->isBoardConnected());
    QCOMPARE(sim->transcript().count("get VER"), before + 1);

    const auto readAin = [this] {
        QVariant command("get AIN5");
        QVariant reply;
        app->run("write", command, &reply);
        return reply.toByteArray();
    };
    port = "mockup";
    QVERIFY(app->run("open", port, &result));
    const QByteArray first = readAin();
    QVERIFY(first.startsWith("AIN5="));
    QVERIFY(app->run("open", port, &result));
    QCOMPARE(readAin(), first);
}

void tst_Connection::failedConnectSaysWhy()
{
    MessageBoxAnswerer answerer;
    const QString missing = workDir.filePath("ttyACM7");
    window->portCombo->setEditText(missing);
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(!app->isBoardConnected());
    QVERIFY(!window->connectButton->isChecked());
    const QString why = missing + " does not exist.";
    QCOMPARE(window->statusLabel->text(), why);
    Logs *logs = app->logsApplet();
    QVERIFY(logs->list->itemText(logs->list->count() - 1).contains(why));
    QCOMPARE(answerer.texts(), QStringList{why});
}

void tst_Connection::mockUpBanner()
{
    QVERIFY(choosePort("mockup"));
    MessageBoxAnswerer answerer;
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QCOMPARE(answerer.texts(), QStringList{"Software is in Mock-up mode. \n Communication is simulated!"});
    QCOMPARE(window->statusLabel->text(),
             QString("<span style=\"background-color:#FF0000;\">!!! SIMULATION !!!</span>"));

    // Disconnecting by the button hides the device windows.
    app->applets().at(3)->showWindow();
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(!app->isBoardConnected());
    QCOMPARE(window->connectButton->text(), QString("Connect"));
    QVERIFY(!app->applets().at(3)->container()->isVisible());
    QVERIFY(!app->applets().at(3)->windowAction()->isEnabled());
    QCOMPARE(window->statusLabel->text(), QString());

    // A board connected after the simulation shows its own name.
    QVERIFY(choosePort(sim->path()));
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QCOMPARE(window->statusLabel->text(),
             QString("   %1 : %2 ").arg(app->link()->firmwareIdentity()).arg(0x0104));
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QCOMPARE(window->statusLabel->text(), QString());
}

// Whoever asks for the connection, the port box and the banner show the
// port that was opened, and the windows treat it as what it is.
void tst_Connection::scriptedOpenFollowsThePort()
{
    QVERIFY(choosePort(sim->path()));
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());

    MessageBoxAnswerer answerer;
    QVariant port("mockup");
    QVariant result;
    QVERIFY(app->run("open", port, &result));
    QCOMPARE(app->link()->mode(), int(ControlBoard::MockUp));
    QCOMPARE(window->portCombo->currentText(), QString("mockup"));
    QCOMPARE(window->statusLabel->text(),
             QString("<span style=\"background-color:#FF0000;\">!!! SIMULATION !!!</span>"));

    // Back to the real board while the box still reads "mockup".
    port = sim->path();
    QVERIFY(app->run("open", port, &result));
    QCOMPARE(app->link()->mode(), int(ControlBoard::Serial));
    QCOMPARE(window->portCombo->currentText(), sim->path());
    QCOMPARE(window->statusLabel->text(),
             QString("   %1 : %2 ").arg(app->link()->firmwareIdentity()).arg(0x0104));
}

// A scripted request never waits for a person: the error box of a failed
// open is shown, but the open's reply and the next request's come while it
// is still open.
void tst_Connection::requestNeverWaitsForABox()
{
    // This test's event loop is the one QTest::qWait runs.
    app->server()->setServeDepth(0);
    const QString path = app->server()->serverPath();
    const QString missing = workDir.filePath("ttyACM9");
    AsyncClient first(path, "run\topen\ts" + missing.toLocal8Bit() + "\n");
    QTRY_VERIFY_WITH_TIMEOUT(first.done(), 5000);
    QCOMPARE(first.reply, QByteArray("i1"));
    QWidget *box = QApplication::activeModalWidget();
    QVERIFY(qobject_cast<QMessageBox *>(box));
    QCOMPARE(qobject_cast<QMessageBox *>(box)->text(), missing + " does not exist.");

    AsyncClient second(path, "get\tversion\n");
    QTRY_VERIFY_WITH_TIMEOUT(second.done(), 5000);
    QCOMPARE(second.reply, QByteArray("i1"));
    QCOMPARE(QApplication::activeModalWidget(), box);
    qobject_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click();
    app->server()->setServeDepth(1);
}

// A request for the board that arrives during a firmware download runs
// after it, in order; one that only asks the application is answered at once.
void tst_Connection::requestsWaitForTheDownload()
{
    // A board that takes its time over each line, so that the download lasts.
    SimBoard slow({"--delay", "5"});
    QVERIFY(slow.isRunning());
    QVERIFY(app->connectToBoard(slow.path()));
    app->openFirmwareWindow();
    Bootloader *firmware = app->firmwareWindow();
    QByteArray image(100 * 256, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7);
    QFile hex(workDir.filePath("big.hex"));
    QVERIFY(hex.open(QIODevice::WriteOnly));
    hex.write(HexFile::image(image, 0));
    hex.close();
    QVERIFY(firmware->loadHexFile(hex.fileName()));

    app->server()->setServeDepth(0);
    const QString path = app->server()->serverPath();
    QSignalSpy flashed(firmware, &Bootloader::signal_flashFinished);
    QTest::mouseClick(firmware->findChild<QPushButton *>("pbFlash"), Qt::LeftButton);
    QVERIFY(firmware->isBusy());
    AsyncClient board(path, "run\twrite\ts*IDN?\n");
    // Sent after the first one is in, so that it is queued behind it.
    QTRY_VERIFY(board.sent);
    AsyncClient close(path, "run\tclose\n");
    QTRY_VERIFY(close.sent);
    AsyncClient version(path, "get\tversion\n");
    QTRY_VERIFY_WITH_TIMEOUT(version.done(), 5000);
    QCOMPARE(version.reply, QByteArray("i1"));
    // Answered while the download still ran; the others wait for its end.
    QVERIFY(flashed.isEmpty());
    QVERIFY(!board.done() && !close.done());
    QTRY_VERIFY_WITH_TIMEOUT(board.done() && close.done(), 60000);
    QCOMPARE(flashed.size(), 1);
    QCOMPARE(flashed.first().first().toInt(), int(FlashSession::Finished));
    QVERIFY2(board.reply.startsWith("x"), board.reply.constData());
    QVERIFY(board.doneAt <= close.doneAt);
    QVERIFY(!app->isBoardConnected());

    // On the wire: the whole download, the marker last, then the request.
    const QStringList lines = slow.transcript();
    const qsizetype idn = lines.lastIndexOf("*IDN?");
    const qsizetype marker = lines.lastIndexOf("set flash=8007fffC1234abcd000000041234abcd");
    QVERIFY(marker >= 0 && idn > marker);
    const qsizetype first = lines.indexOf(QRegularExpression("set flash=.*"));
    QCOMPARE(lines.mid(first, marker - first + 1).filter(QRegularExpression("^set flash=")).size(),
             int(marker - first + 1));
    firmware->close();
    app->server()->setServeDepth(1);
}

void tst_Connection::trafficInLogWindow()
{
    QVERIFY(choosePort(sim->path()));
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    Logs *logs = app->logsApplet();
    const int before = logs->list->count();
    window->logCheck->setChecked(true);
    QVERIFY(app->link()->transact("get DIO22"));
    QStringList lines;
    for (int i = before; i < logs->list->count(); ++i)
        lines.append(logs->list->itemText(i));
    QVERIFY2(lines.size() >= 3, qPrintable(lines.join(" | ")));
    QVERIFY(lines.first().contains("TX("));
    QVERIFY(lines.first().contains("get DIO22"));
    QVERIFY(lines.last().contains("DIO22=0"));

    // "Log window" (Ctrl+L) brings the dock up.
    QVERIFY(!logs->container()->isVisible());
    window->logWindowAction->trigger();
    QVERIFY(logs->container()->isVisible());
}

void tst_Connection::windowShortcutsWhileConnected_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("opens");

    QTest::newRow("Ctrl+3") << int(Qt::Key_3) << "SpiController";
    QTest::newRow("Ctrl+0") << int(Qt::Key_0) << "Basic";
    QTest::newRow("Ctrl+6") << int(Qt::Key_6) << "ChipID";
    QTest::newRow("Ctrl+7 opens the plot") << int(Qt::Key_7) << "Measurements";
    QTest::newRow("Ctrl+9 opens nothing") << int(Qt::Key_9) << "";
}

void tst_Connection::windowShortcutsWhileConnected()
{
    QFETCH(int, key);
    QFETCH(QString, opens);

    QVERIFY(choosePort(sim->path()));
    QVERIFY(app->connectToBoard(sim->path()));
    MessageBoxAnswerer answerer;
    QTest::keyClick(window->mdiArea, Qt::Key(key), Qt::ControlModifier);
    // The key is acted on once it has been delivered.
    QTest::qWait(50);
    QCOMPARE(answerer.count(), 0);
    QStringList shown;
    for (Applet *a : app->applets()) {
        QCOMPARE(a->windowAction()->isChecked(), a->container()->isVisible());
        if (a->container()->isVisible())
            shown.append(a->objectName());
    }
    QMdiSubWindow *plot = window->toolSubWindow(app->measurements());
    if (plot->isVisible())
        shown.append(app->measurements()->objectName());
    QCOMPARE(shown, opens.isEmpty() ? QStringList() : QStringList(opens));
    if (!opens.isEmpty())
        QCOMPARE(window->activeApplet()->objectName(), opens);
}

// A box shown without a board leaves the keys working: once connected, the
// first Ctrl+3 opens its window.
void tst_Connection::shortcutAfterBoxThenConnect()
{
    QWidget *typing = window->portCombo->lineEdit();
    window->activateWindow();
    typing->setFocus();
    DialogDriver person("QMessageBox", [typing](QDialog *dialog) {
        QTest::keyRelease(typing, Qt::Key_3, Qt::ControlModifier);
        QTest::mouseClick(static_cast<QMessageBox *>(dialog)->button(QMessageBox::Ok), Qt::LeftButton);
    });
    QTest::keyPress(typing, Qt::Key_3, Qt::ControlModifier);
    QTRY_COMPARE(person.runs(), 1);

    QVERIFY(choosePort(sim->path()));
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    Applet *spi = app->findApplet("SpiController", MainApp::ByObjectName);
    QVERIFY(!spi->container()->isVisible());
    QTest::keyClick(window->mdiArea, Qt::Key_3, Qt::ControlModifier);
    QTRY_VERIFY(spi->container()->isVisible());
    QCOMPARE(person.runs(), 1);
}

// The port of the last connect is the port box's choice at the next start,
// as long as it is still offered.
void tst_Connection::lastPortPreselected()
{
    QCOMPARE(window->portCombo->currentIndex(), 0);
    QVERIFY(choosePort("mockup"));
    MessageBoxAnswerer answerer;
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(!app->isBoardConnected());
    QSettings stored(workDir.filePath("hql3318.ini"), QSettings::IniFormat);
    QCOMPARE(stored.value("last_port").toString(), QString("mockup"));

    app->shutdown();
    MainApp::destroyInstance();
    startApp({sim->path()});
    QCOMPARE(window->portCombo->currentText(), QString("mockup"));

    // A port no longer offered leaves the first one chosen.
    app->setSettingValue("last_port", "/dev/gone");
    window->slot_Rescan();
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());
    QCOMPARE(window->portCombo->currentIndex(), 0);
    QCOMPARE(window->portCombo->currentText(), sim->path());
}

// The window is there before any port is probed; boards go to the top of
// the port box as they answer.
void tst_Connection::portBoxFillsInBackground()
{
    app->shutdown();
    MainApp::destroyInstance();
    SimBoard stranger({"--enq-reply", "21"});
    QVERIFY(stranger.isRunning());
    startApp({stranger.path(), sim->path()});
    QVERIFY(app->ports()->discovery()->isRunning());
    QCOMPARE(window->statusLabel->text(), QString("Looking for boards\u2026"));
    QCOMPARE(window->portCombo->itemText(window->portCombo->count() - 1), QString("mockup"));
    QVERIFY(window->portCombo->findText(sim->path()) >= 0);

    QTRY_COMPARE(window->statusLabel->text(), QString());
    QStringList offered;
    for (int i = 0; i < window->portCombo->count(); ++i)
        offered << window->portCombo->itemText(i);
    QCOMPARE(offered.first(), sim->path());
    QVERIFY(offered.indexOf(stranger.path()) > 0);
    QCOMPARE(offered.last(), QString("mockup"));
    QCOMPARE(window->portCombo->currentText(), sim->path());
}

// A port picked while the probes run connects at once; the probe of it
// gives way, and the end of the search leaves the board's name shown.
void tst_Connection::connectWhileLooking()
{
    QVERIFY(app->ports()->discovery()->isRunning());
    QVERIFY(choosePort(sim->path()));
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    const QString shown = window->statusLabel->text();
    QVERIFY(shown.contains(app->link()->firmwareIdentity()));
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());
    QCOMPARE(window->statusLabel->text(), shown);
    QCOMPARE(window->portCombo->currentText(), sim->path());
}

// A board under its stable name is chosen again at the next start, though
// its terminal has another number now; --port takes that name too.
void tst_Connection::stableNameChosenAgain()
{
    app->shutdown();
    MainApp::destroyInstance();
    QTemporaryDir byId;
    QVERIFY(byId.isValid());
    const QString link = byId.filePath("usb-Velmora_DemoBoard_0042-if00");
    QVERIFY(QFile::link(sim->path(), link));
    {
        QSettings ini(workDir.filePath("hql3318.ini"), QSettings::IniFormat);
        ini.setValue("port_directories", QStringList{byId.path()});
    }
    startApp({sim->path()});
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());
    QCOMPARE(window->portCombo->findText(sim->path()), -1);
    const int item = window->portCombo->findText(link);
    QCOMPARE(item, 0);
    QVERIFY(window->portCombo->itemData(item, Qt::ToolTipRole).toString().contains(sim->path()));
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    QCOMPARE(app->link()->portName(), link);
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    app->shutdown();
    MainApp::destroyInstance();

    // The board comes back on another terminal; a stranger is listed first.
    delete sim;
    sim = new SimBoard;
    QVERIFY(sim->isRunning());
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(sim->path(), link));
    SimBoard stranger({"--enq-reply", "21"});
    startApp({stranger.path(), link});
    QCOMPARE(window->portCombo->currentText(), link);
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());
    QCOMPARE(window->portCombo->currentText(), link);
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    QCOMPARE(window->portCombo->currentText(), link);
    // Opened by its terminal's name, the board keeps its stable name in the box.
    QVariant port(sim->path());
    QVariant result;
    MessageBoxAnswerer answerer;
    QVERIFY(app->run("open", port, &result));
    QCOMPARE(window->portCombo->currentText(), link);
    QCOMPARE(window->portCombo->findText(sim->path()), -1);
}

// Devices coming and going, as the system would announce them: a board
// plugged in is offered without Rescan, a pulled one is dropped at once,
// and with "Reconnect automatically" it is connected again on its return.
void tst_Connection::plugAndPull()
{
    app->shutdown();
    MainApp::destroyInstance();
    QTemporaryDir byId;
    QVERIFY(byId.isValid());
    {
        QSettings ini(workDir.filePath("hql3318.ini"), QSettings::IniFormat);
        ini.setValue("port_directories", QStringList{byId.path()});
    }
    auto *events = new DeviceEvents;
    startApp({}, events);
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());
    const QString link = byId.filePath("usb-Velmora_DemoBoard_0042-if00");
    QCOMPARE(window->portCombo->findText(link), -1);

    QVERIFY(QFile::link(sim->path(), link));
    emit events->signal_added(link);
    QTRY_COMPARE(window->portCombo->itemText(0), link);
    QTRY_VERIFY(!app->ports()->discovery()->isRunning());
    QCOMPARE(window->portCombo->currentText(), link);
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());

    // Another device going changes nothing.
    emit events->signal_removed("/dev/ttyACM7");
    QVERIFY(app->isBoardConnected());

    QVERIFY(QFile::remove(link));
    emit events->signal_removed(link);
    QVERIFY(!app->isBoardConnected());
    QCOMPARE(window->connectButton->text(), QString("Connect"));
    QCOMPARE(window->statusLabel->text(), QString("The board on %1 was unplugged.").arg(link));
    QTRY_COMPARE(window->portCombo->findText(link), -1);

    // Now with the option: the board is awaited and taken back.
    QVERIFY(!window->reconnectAction->isChecked());
    window->reconnectAction->trigger();
    QVERIFY(app->ports()->reconnectsAutomatically());
    QVERIFY(QFile::link(sim->path(), link));
    emit events->signal_added(link);
    QTRY_COMPARE(window->portCombo->itemText(0), link);
    window->portCombo->setCurrentIndex(0);
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->isBoardConnected());
    QVERIFY(QFile::remove(link));
    emit events->signal_removed(link);
    QVERIFY(!app->isBoardConnected());
    QCOMPARE(window->statusLabel->text(), QString("Waiting for the board\u2026"));
    QCOMPARE(app->ports()->awaitedPort(), link);

    const int before = sim->transcript().size();
    QVERIFY(QFile::link(sim->path(), link));
    emit events->signal_added(link);
    QTRY_VERIFY(app->isBoardConnected());
    QCOMPARE(app->link()->portName(), link);
    QVERIFY(window->statusLabel->text().contains(app->link()->firmwareIdentity()));
    QVERIFY(app->ports()->awaitedPort().isEmpty());
    // Set up again as by a connect by hand.
    QVERIFY(sim->transcript().mid(before).contains("get VER"));

    // Disconnecting by hand ends the waiting for good.
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(app->ports()->awaitedPort().isEmpty());
    QSettings stored(workDir.filePath("hql3318.ini"), QSettings::IniFormat);
    QCOMPARE(stored.value("reconnect_automatically").toBool(), true);
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
