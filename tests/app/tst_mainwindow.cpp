#include "app/mainapp.h"
#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "app/portbox.h"
#include "controls/myswitch.h"
#include "dialogdriver.h"
#include "messageboxanswerer.h"
#include "testserver.h"
#include "tools/bootloader.h"
#include "tools/keepawake.h"
#include "tools/measurements.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>

#include <algorithm>

namespace {

QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (QAction *a : actions)
        texts.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

class KeyCounter : public QObject
{
public:
    explicit KeyCounter(int key) : m_key(key) {}
    int presses = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == m_key)
            ++presses;
        return false;
    }

private:
    int m_key;
};

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void title();
    void menus();
    void statusBarOrder();
    void connectedState_data();
    void connectedState();
    void lampTicks();
    void lampTimer();
    void shortcutWithoutBoard_data();
    void shortcutWithoutBoard();
    void shortcutBoxOnce_data();
    void shortcutBoxOnce();
    void windowEntry();
    void connectFails();
    void firmwareWindow();
    void contextMenuOnBackground();
    void chipNameLayout_data();
    void chipNameLayout();
    void keepAwakeEntry();
    void aboutHistoryWrappedOnce();
    void longNamesKeepTheirEnd_data();
    void longNamesKeepTheirEnd();
    void closeQuits();

private:
    MainWindow *window = nullptr;
};

void tst_MainWindow::initTestCase()
{
    MainApp *app = testMainApp();
    app->setAppletFactory([] { return QList<Applet *>(); });
    QVERIFY(app->initialise());
    app->startMainWindow();
    window = app->mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void tst_MainWindow::cleanupTestCase()
{
    MainApp::instance()->shutdown();
    MainApp::destroyInstance();
}

void tst_MainWindow::title()
{
    const QRegularExpression form(
        "^Velmora DemoBoard <<< HQL3318 >> (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{2} \\d{4},"
        "\\d{2}:\\d{2}:\\d{2}$");
    QVERIFY2(form.match(window->windowTitle()).hasMatch(), qPrintable(window->windowTitle()));
}

void tst_MainWindow::menus()
{
    QCOMPARE(actionTexts(window->menuBar()->actions()), (QStringList{"&Service", "&Windows", "&Config"}));
    QCOMPARE(actionTexts(window->serviceMenu->actions()),
             (QStringList{"About", "Update Firmware", "Update Software", "Keep awake", "Record script\u2026",
                          "Reconnect automatically", "-", "Log window"}));
    QCOMPARE(actionTexts(window->configMenu->actions()), (QStringList{"&Save config", "&Load config", "-"}));
    QCOMPARE(window->logWindowAction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    QVERIFY(window->keepAwakeAction->isCheckable());
    QCOMPARE(actionTexts(window->contextMenu.actions()), (QStringList{"Close All", "Close All But Active"}));
    QVERIFY(!window->configMenu->actions().at(0)->icon().isNull());
    for (QAction *action : {window->configMenu->actions().at(0), window->configMenu->actions().at(1),
                            window->updateSoftwareAction, window->keepAwakeAction})
        QVERIFY2(action->isEnabled(), qPrintable(action->text()));
    QVERIFY(window->restoreButton->isEnabled());
    QVERIFY(!window->rescanButton->icon().isNull());
}

void tst_MainWindow::statusBarOrder()
{
    QList<QWidget *> widgets;
    for (QWidget *w : window->statusBar()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisible() &&
            (w->inherits("QLabel") || w->inherits("QAbstractButton") || w->inherits("QComboBox")))
            widgets.append(w);
    }
    std::sort(widgets.begin(), widgets.end(), [](QWidget *a, QWidget *b) { return a->x() < b->x(); });
    const QList<QWidget *> expected = {window->connectButton,  window->portCombo,
                                       window->rescanButton,   window->speedCombo,
                                       window->statusLabel,    window->connectionCaption,
                                       window->connectionLamp, nullptr,
                                       window->rxLamp,         nullptr,
                                       window->txLamp,         window->restoreButton,
                                       window->logCheck};
    // Then the log window's beep switch and counters.
    QCOMPARE(widgets.size(), expected.size() + 2);
    auto *beep = qobject_cast<QPushButton *>(widgets.at(13));
    QVERIFY(beep && beep->isCheckable() && beep->isChecked());
    QCOMPARE(beep->size(), QSize(23, 23));
    auto *counters = qobject_cast<QLabel *>(widgets.at(14));
    QVERIFY(counters && counters->text().startsWith("Err:"));
    for (int i = 0; i < expected.size(); ++i) {
        if (expected.at(i))
            QCOMPARE(widgets.at(i), expected.at(i));
    }
    // As wide as the status bar asks, every widget keeps its own room: none
    // is drawn over its neighbour. (The window starts that wide where the
    // screen allows.)
    const QSize before = window->size();
    window->resize(window->statusBarWidth(), before.height());
    window->statusBar()->layout()->activate();
    for (int i = 1; i < widgets.size(); ++i)
        QVERIFY2(widgets.at(i - 1)->geometry().right() < widgets.at(i)->x(), qPrintable(QString::number(i)));
    window->resize(before);
    QCOMPARE(qobject_cast<QLabel *>(widgets.at(7))->text(), QString(" rx "));
    QCOMPARE(qobject_cast<QLabel *>(widgets.at(9))->text(), QString(" tx "));

    QCOMPARE(window->connectButton->size(), QSize(100, 20));
    QCOMPARE(window->portCombo->size(), QSize(150, 20));
    QCOMPARE(window->rescanButton->size(), QSize(20, 20));
    QCOMPARE(window->statusLabel->width(), 250);
    QCOMPARE(window->txLamp->size(), QSize(20, 20));
    QVERIFY(window->txLamp->isReadOnly());
    QCOMPARE(window->speedCombo->count(), 1);
    QCOMPARE(window->speedCombo->itemText(0), QString("Normal"));
    QCOMPARE(window->selectedBaudRate(), 115200u);
    QCOMPARE(window->logCheck->text(), QString("Log"));
    QVERIFY(!window->logCheck->isChecked());
}

void tst_MainWindow::connectedState_data()
{
    QTest::addColumn<bool>("on");
    QTest::newRow("connected") << true;
    QTest::newRow("disconnected") << false;
}

void tst_MainWindow::connectedState()
{
    QFETCH(bool, on);
    window->setConnectedState(on ? MainWindow::Connection::Connected : MainWindow::Connection::Disconnected);
    QCOMPARE(window->connectButton->text(), on ? QString("Disconnect") : QString("Connect"));
    QCOMPARE(window->connectButton->isChecked(), on);
    QCOMPARE(window->windowsMenu->isEnabled(), on);
    QCOMPARE(window->portCombo->isEnabled(), !on);
    QCOMPARE(window->connectionLamp->stateValue(), on ? 1 : 0);
    QCOMPARE(window->rescanButton->isEnabled(), !on);
    QCOMPARE(window->updateFirmwareAction->isEnabled(), on);
}

void tst_MainWindow::lampTicks()
{
    window->lampTimer.stop();
    window->slot_ActivityRx_LED();
    window->slot_ActivityTx_LED();
    QCOMPARE(window->rxLamp->stateValue(), 1);
    QCOMPARE(window->txLamp->stateValue(), 1);
    // Ticks alternate between the lamps; which one goes first depends on the
    // ticks already taken, so take two and look at both.
    window->slot_supress_led();
    QCOMPARE(window->rxLamp->stateValue() + window->txLamp->stateValue(), 1);
    window->slot_supress_led();
    QCOMPARE(window->rxLamp->stateValue(), 0);
    QCOMPARE(window->txLamp->stateValue(), 0);
    window->lampTimer.start(100);
}

void tst_MainWindow::lampTimer()
{
    QVERIFY(window->lampTimer.isActive());
    QCOMPARE(window->lampTimer.interval(), 100);
    window->slot_ActivityRx_LED();
    QTest::qWait(50);
    window->slot_ActivityRx_LED();
    QCOMPARE(window->rxLamp->stateValue(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(window->rxLamp->stateValue(), 0, 2000);
    QCOMPARE(window->txLamp->stateValue(), 0);
}

void tst_MainWindow::shortcutWithoutBoard_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<bool>("plot");

    QTest::newRow("Ctrl+3") << int(Qt::Key_3) << int(Qt::ControlModifier) << 1 << false;
    QTest::newRow("Ctrl+1") << int(Qt::Key_1) << int(Qt::ControlModifier) << 1 << false;
    QTest::newRow("Ctrl+Shift+9") << int(Qt::Key_9) << int(Qt::ControlModifier | Qt::ShiftModifier) << 1
                                  << false;
    QTest::newRow("plain 3") << int(Qt::Key_3) << int(Qt::NoModifier) << 0 << false;
    QTest::newRow("Ctrl+A") << int(Qt::Key_A) << int(Qt::ControlModifier) << 0 << false;
    // Without device windows the plot has the first key; it needs no board.
    QTest::newRow("Ctrl+0 opens the plot") << int(Qt::Key_0) << int(Qt::ControlModifier) << 0 << true;
}

void tst_MainWindow::shortcutWithoutBoard()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, boxes);
    QFETCH(bool, plot);

    QMdiSubWindow *plotWindow = window->toolSubWindow(MainApp::instance()->measurements());
    QVERIFY(plotWindow);
    plotWindow->hide();
    // The key goes to a widget in a window's layout, so it propagates and the
    // application-wide filter sees it more than once.
    QWidget top;
    auto *edit = new QLineEdit(&top);
    top.show();
    KeyCounter counter(key);
    edit->installEventFilter(&counter);

    MessageBoxAnswerer answerer;
    QTest::keyClick(edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    // The box comes once the key has been delivered; none may follow later.
    QTRY_COMPARE(answerer.count(), boxes);
    QCoreApplication::processEvents();
    QCOMPARE(answerer.count(), boxes);
    if (boxes) {
        QCOMPARE(answerer.boxes().at(0).title, QString());
        QCOMPARE(answerer.boxes().at(0).text, QString("Connect board before window open."));
    }
    QCOMPARE(counter.presses, 1);
    QCOMPARE(plotWindow->isVisible(), plot);
    plotWindow->hide();
}

void tst_MainWindow::shortcutBoxOnce_data()
{
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("closed with Enter") << false;
    QTest::newRow("closed with the mouse") << true;
}

// A person lets go of Ctrl+digit while the box is open and then closes it:
// one box, and the next Ctrl+digit shows it again.
void tst_MainWindow::shortcutBoxOnce()
{
    QFETCH(bool, byMouse);

    window->setConnectedState(MainWindow::Connection::Disconnected);
    window->activateWindow();
    QWidget *typing = window->portCombo->lineEdit();
    typing->setFocus();
    Qt::Key held = Qt::Key_2;
    QStringList texts;
    DialogDriver person("QMessageBox", [&](QDialog *dialog) {
        auto *box = static_cast<QMessageBox *>(dialog);
        texts.append(box->text());
        QTest::keyRelease(typing, held, Qt::ControlModifier);
        if (byMouse)
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        else
            QTest::keyClick(box, Qt::Key_Return);
    });
    for (Qt::Key key : {Qt::Key_2, Qt::Key_5}) {
        held = key;
        const int before = person.runs();
        QTest::keyPress(typing, key, Qt::ControlModifier);
        QTRY_COMPARE(person.runs(), before + 1);
        // A second box would follow at once.
        QTest::qWait(100);
        QCOMPARE(person.runs(), before + 1);
    }
    QCOMPARE(texts, QStringList(2, "Connect board before window open."));
}

// The entry of a window reads "(Ctrl+n) Title" and shows its key where
// menus show shortcuts, without being a second shortcut for the key: that
// would toggle the window away again, or with two of them do nothing.
void tst_MainWindow::windowEntry()
{
    Measurements *plot = MainApp::instance()->measurements();
    QAction *entry = window->toolWindowAction(plot);
    QMdiSubWindow *sub = window->toolSubWindow(plot);
    QCOMPARE(entry->text(), QString("(Ctrl+0) Measurements\tCtrl+0"));
    QCOMPARE(sub->windowTitle(), QString("(Ctrl+0) Measurements"));

    // As with a board: the menu, and a shortcut in it, enabled.
    window->setConnectedState(MainWindow::Connection::Connected);
    sub->hide();
    window->activateWindow();
    for (int press = 0; press < 2; ++press) {
        QTest::keyClick(window->mdiArea, Qt::Key_0, Qt::ControlModifier);
        QTRY_VERIFY(sub->isVisible());
        QCOMPARE(window->activeApplet(), plot);
    }
    sub->hide();
    window->setConnectedState(MainWindow::Connection::Disconnected);
}

void tst_MainWindow::connectFails()
{
    window->setConnectedState(MainWindow::Connection::Disconnected);
    // A typed port where no board answers; the error box says why.
    MessageBoxAnswerer answerer;
    window->portCombo->setEditText("/dev/no-such-port");
    QTest::mouseClick(window->connectButton, Qt::LeftButton);
    QVERIFY(!window->connectButton->isChecked());
    QCOMPARE(window->connectButton->text(), QString("Connect"));
    QVERIFY(window->portCombo->isEnabled());
    QCOMPARE(answerer.texts(), QStringList{"/dev/no-such-port does not exist."});
}

// Made on first use and kept, so a loaded image is still there next time.
void tst_MainWindow::firmwareWindow()
{
    MainApp *app = MainApp::instance();
    window->setConnectedState(MainWindow::Connection::Connected);
    window->updateFirmwareAction->trigger();
    Bootloader *loader = app->firmwareWindow();
    QVERIFY(loader);
    QVERIFY(QTest::qWaitForWindowExposed(loader));
    QCOMPARE(loader->windowTitle(), QString("FIRMWARE Update"));
    loader->close();
    QVERIFY(!loader->isVisible());
    window->updateFirmwareAction->trigger();
    QCOMPARE(app->firmwareWindow(), loader);
    QVERIFY(loader->isVisible());
    loader->close();
    window->setConnectedState(MainWindow::Connection::Disconnected);
}

// A right click on the empty MDI background reaches the main window.
void tst_MainWindow::contextMenuOnBackground()
{
    QWidget *viewport = window->mdiArea->viewport();
    const QPoint pos(40, 40);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &event);
    QTRY_VERIFY(window->contextMenu.isVisible());
    window->contextMenu.hide();
}

void tst_MainWindow::chipNameLayout_data()
{
    QTest::addColumn<QSize>("viewport");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<QPoint>("baseline");

    QTest::newRow("600x400") << QSize(600, 400) << 88 << QPoint(150, 244);
    QTest::newRow("1000x700") << QSize(1000, 700) << 146 << QPoint(250, 423);
    QTest::newRow("odd sizes") << QSize(801, 555) << 117 << QPoint(200, 335);
    QTest::newRow("tiny") << QSize(10, 10) << 1 << QPoint(2, 5);
    QTest::newRow("empty") << QSize(0, 0) << 0 << QPoint(0, 0);
}

void tst_MainWindow::chipNameLayout()
{
    QFETCH(QSize, viewport);
    QFETCH(int, pixelSize);
    QFETCH(QPoint, baseline);

    const MdiArea::ChipNameLayout layout = MdiArea::chipNameLayout(viewport);
    QCOMPARE(layout.pixelSize, pixelSize);
    QCOMPARE(layout.baseline, baseline);
}

// The menu entry drives the service and its renewal timer; the service
// itself is tested against a private bus elsewhere.
void tst_MainWindow::keepAwakeEntry()
{
    const QDBusConnection nowhere = QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "nowhere");
    auto *service = new KeepAwake(nowhere, nowhere);
    window->setKeepAwakeService(service);
    QVERIFY(!window->keepAwakeTimer.isActive());

    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("keep-awake: no session bus"));
    window->keepAwakeAction->trigger();
    QVERIFY(window->keepAwakeAction->isChecked());
    QVERIFY(service->isOn());
    QVERIFY(window->keepAwakeTimer.isActive());
    QCOMPARE(window->keepAwakeTimer.interval(), 200000);

    window->keepAwakeAction->trigger();
    QVERIFY(!service->isOn());
    QVERIFY(!window->keepAwakeTimer.isActive());

    // Turned on again, closing the window lets go of it.
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("keep-awake: no session bus"));
    window->slot_pbDontSleep(true);
    QVERIFY(window->keepAwakeAction->isChecked());
    QVERIFY(service->isOn());
}

// The change history fills the box's text field in whole paragraphs that
// the field wraps at its own width, with nothing cut off at the side.
void tst_MainWindow::aboutHistoryWrappedOnce()
{
    QString history;
    bool fits = false;
    DialogDriver reader("QMessageBox", [&](QDialog *box) {
        if (auto *text = box->findChild<QTextEdit *>()) {
            history = text->toPlainText();
            fits = text->lineWrapMode() != QTextEdit::NoWrap && text->horizontalScrollBar()->maximum() == 0;
        }
        box->accept();
    });
    window->serviceMenu->actions().at(0)->trigger();
    QCOMPARE(reader.runs(), 1);
    QVERIFY(fits);
    QFile file(":/project/changes.txt");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString source = QString::fromLatin1(file.readAll());
    QVERIFY(source.contains("\n  "));
    // Every item is one paragraph: its continuation lines joined it.
    QCOMPARE(history.count("\n- "), source.count("\n- "));
    for (const QString &line : history.split('\n'))
        QVERIFY2(!line.startsWith(' '), qPrintable(line));
}

void tst_MainWindow::longNamesKeepTheirEnd_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");

    const QString byId = "/dev/serial/by-id/usb-Velmora_DemoBoard_A50285BI-if00-port0";
    QTest::newRow("fits") << "/dev/ttyACM0" << 250 << "/dev/ttyACM0"
                          << "/dev/ttyACM0";
    QTest::newRow("a name alone") << byId << 140 << "/dev/"
                                  << "if00-port0";
    QTest::newRow("a name in a sentence")
        << QString("The board on %1 was unplugged.").arg(byId) << 250 << "The board on \u2026"
        << "port0 was unplugged.";
    QTest::newRow("no name to shorten") << QString("word ").repeated(40).trimmed() << 250 << "word"
                                        << "word";
}

// The end of a by-id name tells boards apart: a long one loses its middle,
// and the sentence around it stays whole. The label and the port box keep
// the whole text; only what they paint is shorter.
void tst_MainWindow::longNamesKeepTheirEnd()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, start);
    QFETCH(QString, end);
    const QFontMetrics metrics = window->statusLabel->fontMetrics();
    const QString shown = PortBox::elided(text, metrics, width);
    QVERIFY2(metrics.horizontalAdvance(shown) <= width, qPrintable(shown));
    QVERIFY2(shown.startsWith(start) && shown.endsWith(end), qPrintable(shown));
    QCOMPARE(shown.contains(QChar(0x2026)), shown != text);

    window->setStatusText(text);
    QCOMPARE(window->statusLabel->text(), text);
    QCOMPARE(window->statusLabel->toolTip(), text);
    window->portCombo->setEditText(text);
    QVERIFY(window->portCombo->toolTip().endsWith(text));
    window->setStatusText(QString());
}

void tst_MainWindow::closeQuits()
{
    QWidget other;
    other.show();
    QTimer::singleShot(0, window, [this] { window->close(); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window->isVisible());
    QVERIFY(!window->keepAwakeAction->isChecked());
    QVERIFY(!window->keepAwake()->isOn());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
