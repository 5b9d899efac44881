#include "app/dialogprogressbar.h"
#include "app/mainapp.h"
#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "dialogdriver.h"
#include "messageboxanswerer.h"
#include "testapplet.h"
#include "testserver.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

class tst_MainApp : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void startUp();
    void titles_data();
    void titles();
    void findApplet();
    void failingApplet_data();
    void failingApplet();
    void closeAll();
    void simulationBanner();
    void aboutBox();

private:
    PrivateWorkDirectory workDirectory;
    MainApp *start(const QString &failing = QString(), TestApplet::Outcome outcome = TestApplet::Fails);
};

MainApp *tst_MainApp::start(const QString &failing, TestApplet::Outcome outcome)
{
    MainApp *app = testMainApp();
    app->setAppletFactory([=] { return makeDeviceApplets(failing, outcome); });
    return app;
}

void tst_MainApp::cleanup()
{
    MainApp::instance()->shutdown();
    MainApp::destroyInstance();
}

void tst_MainApp::startUp()
{
    MainApp *app = start();
    QSignalSpy progress(app->progressDialog(), &DialogProgressBar::signal_progress);
    QVERIFY(app->initialise());
    QVERIFY(app->mainWindow());
    QCOMPARE(app->applets().size(), 7);
    QCOMPARE(app->mainWindow()->x(), 200);

    app->startMainWindow();
    QList<int> values;
    for (const QList<QVariant> &args : progress)
        values.append(args.at(0).toInt());
    // The bar ignores values above its maximum, so the sum stops at 100.
    const QList<int> expected = {0, 10, 20, 20, 21, 23, 26, 30, 35, 41, 90, 90, 91, 93, 96, 100, 100, 100};
    QCOMPARE(values, expected);
    QVERIFY(!app->progressDialog());
    QVERIFY(app->mainWindow()->isVisible());

    // Every applet lives in the MDI area, hidden, with its action in "&Windows";
    // the measurements plot follows them, then the arranging entries.
    QCOMPARE(app->mainWindow()->mdiArea->subWindowList().size(), 8);
    const QList<QAction *> actions = app->mainWindow()->windowsMenu->actions();
    QCOMPARE(actions.size(), 11);
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(actions.at(i), app->applets().at(i)->windowAction());
        QVERIFY(!actions.at(i)->isEnabled());
        QVERIFY(!app->applets().at(i)->container()->isVisible());
    }
    // Every entry reads alike, its key shown on the right as menus show
    // shortcuts.
    QCOMPARE(actions.at(2)->text(), QString("(Ctrl+2) HB Controller\tCtrl+2"));
    QCOMPARE(actions.at(7)->text(), QString("(Ctrl+7) Measurements\tCtrl+7"));
}

void tst_MainApp::titles_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("key");

    QTest::newRow("Basic") << 0 << "Basic"
                           << "(Ctrl+0) Basic" << int(Qt::Key_0);
    QTest::newRow("Board") << 1 << "Board"
                           << "(Ctrl+1) Board" << int(Qt::Key_1);
    QTest::newRow("HBController") << 2 << "HBController"
                                  << "(Ctrl+2) HB Controller" << int(Qt::Key_2);
    QTest::newRow("SpiController") << 3 << "SpiController"
                                   << "(Ctrl+3) SPI Controller" << int(Qt::Key_3);
    QTest::newRow("SpiRaw") << 4 << "SpiRaw"
                            << "(Ctrl+4) SPI Raw" << int(Qt::Key_4);
    QTest::newRow("WatchDog") << 5 << "WatchDog"
                              << "(Ctrl+5) WatchDog" << int(Qt::Key_5);
    QTest::newRow("ChipID") << 6 << "ChipID"
                            << "(Ctrl+6) Chip ID" << int(Qt::Key_6);
}

void tst_MainApp::titles()
{
    QFETCH(int, index);
    QFETCH(QString, objectName);
    QFETCH(QString, title);
    QFETCH(int, key);

    MainApp *app = start();
    QVERIFY(app->initialise());
    Applet *applet = app->applets().at(index);
    QCOMPARE(applet->objectName(), objectName);
    QCOMPARE(applet->windowTitle(), title);
    QCOMPARE(applet->shortcutKey(), key);
}

void tst_MainApp::findApplet()
{
    MainApp *app = start();
    QVERIFY(app->initialise());
    QCOMPARE(app->findApplet("SpiRaw", MainApp::ByObjectName), app->applets().at(4));
    QCOMPARE(app->findApplet("spiraw", MainApp::ByObjectName), nullptr);
    QCOMPARE(app->findApplet(int(Qt::Key_3), MainApp::ByShortcutKey), app->applets().at(3));
    QCOMPARE(app->findApplet(int(Qt::Key_7), MainApp::ByShortcutKey), nullptr);
    QCOMPARE(app->findApplet("Logs", MainApp::ByObjectName), nullptr);
}

void tst_MainApp::failingApplet_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QList<int>>("progress");

    // A refusing applet is still titled, then the loop stops.
    QTest::newRow("fails") << int(TestApplet::Fails) << false
                           << QStringList{"(Ctrl+0) Basic", "(Ctrl+1) Board", "(Ctrl+2) HB Controller",
                                          "SPI Controller", "SPI Raw",        "WatchDog",
                                          "Chip ID"}
                           << QList<int>{0, 10, 20, 20, 21};
    // An exception skips that applet's title and key; the others go on.
    QTest::newRow("throws") << int(TestApplet::Throws) << true
                            << QStringList{"(Ctrl+0) Basic",          "(Ctrl+1) Board",   "HB Controller",
                                           "(Ctrl+2) SPI Controller", "(Ctrl+3) SPI Raw", "(Ctrl+4) WatchDog",
                                           "(Ctrl+5) Chip ID"}
                            << QList<int>{0, 10, 20, 20, 21, 23, 26, 30, 35, 41};
}

void tst_MainApp::failingApplet()
{
    QFETCH(int, outcome);
    QFETCH(bool, result);
    QFETCH(QStringList, titles);
    QFETCH(QList<int>, progress);

    MainApp *app = start("HBController", TestApplet::Outcome(outcome));
    QSignalSpy spy(app->progressDialog(), &DialogProgressBar::signal_progress);
    QCOMPARE(app->initialise(), result);
    QStringList shown;
    for (Applet *applet : app->applets())
        shown.append(applet->windowTitle());
    QCOMPARE(shown, titles);
    QList<int> values;
    for (const QList<QVariant> &args : spy)
        values.append(args.at(0).toInt());
    QCOMPARE(values, progress);
}

void tst_MainApp::closeAll()
{
    MainApp *app = start();
    QVERIFY(app->initialise());
    app->startMainWindow();
    MainWindow *window = app->mainWindow();
    for (Applet *applet : app->applets())
        applet->showWindow();
    Applet *active = app->applets().at(3);
    window->mdiArea->setActiveSubWindow(static_cast<QMdiSubWindow *>(active->container()));
    QCOMPARE(window->activeApplet(), active);

    window->slot_CloseAllButActive();
    for (Applet *applet : app->applets()) {
        QCOMPARE(applet->container()->isVisible(), applet == active);
        QCOMPARE(applet->windowAction()->isChecked(), applet == active);
    }
    window->slot_CloseAll();
    QVERIFY(!active->container()->isVisible());
    QVERIFY(!active->windowAction()->isChecked());
}

void tst_MainApp::simulationBanner()
{
    MainApp *app = start();
    QVERIFY(app->initialise());
    app->startMainWindow();
    MainWindow *window = app->mainWindow();
    window->setPortList({"/dev/ttyUSB0", "mockup"});
    // The banner follows the port the link opened, not the box's text.
    window->portCombo->setCurrentIndex(0);
    {
        MessageBoxAnswerer answerer;
        QVERIFY(app->connectToBoard("mockup"));
    }
    QCOMPARE(window->portCombo->currentText(), QString("mockup"));
    QCOMPARE(window->statusLabel->text(),
             QString("<span style=\"background-color:#FF0000;\">!!! SIMULATION !!!</span>"));
    QCOMPARE(window->connectButton->text(), QString("Disconnect"));
    for (Applet *applet : app->applets())
        QVERIFY(applet->windowAction()->isEnabled());

    // Disconnecting hides every device window and disables its action.
    app->applets().at(0)->showWindow();
    app->slot_disconnected();
    QCOMPARE(window->connectButton->text(), QString("Connect"));
    for (Applet *applet : app->applets()) {
        QVERIFY(!applet->windowAction()->isEnabled());
        QVERIFY(!applet->container()->isVisible());
    }
}

void tst_MainApp::aboutBox()
{
    const QRegularExpression form("^<p>PROJECT:<b>HQL3318</b></p><p>COMPILATION:<font color=blue> "
                                  "[A-Z][a-z]{2} \\d{2} \\d{4}  \\d{2}:\\d{2}:\\d{2}</color></p>$");
    QVERIFY2(form.match(MainApp::aboutText()).hasMatch(), qPrintable(MainApp::aboutText()));

    // The change history sits below the text.
    QString history;
    QSize historySize;
    QString title;
    DialogDriver reader("QMessageBox", [&](QDialog *box) {
        title = box->windowTitle();
        if (auto *text = box->findChild<QTextEdit *>()) {
            history = text->toPlainText();
            historySize = text->size();
        }
        box->accept();
    });
    MainApp::instance()->showAbout();
    QCOMPARE(reader.runs(), 1);
    QCOMPARE(title, QString("About"));
    QCOMPARE(historySize, QSize(400, 500));
    QVERIFY2(history.startsWith("HQL3318 evaluation application"), qPrintable(history.left(80)));
    QVERIFY(history.contains("Workspaces"));
}

QTEST_MAIN(tst_MainApp)
#include "tst_mainapp.moc"
