// Board actions with the windows live: a real link to the simulated board,
// whose answers take their time, real widgets driven with QTest.
#include "applet/boardactions.h"
#include "boardwait.h"
#include "link/controlboard.h"
#include "simboard.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A window with one button that asks the board, as a device window does,
// and what a person may reach for meanwhile.
struct Desk
{
    explicit Desk(const QStringList &simOptions) : sim(simOptions)
    {
        link.setLiveWait([this](bool entering) { entering ? actions.enterWait() : actions.leaveWait(); });
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        auto *layout = new QVBoxLayout(&window);
        tabs = new QTabWidget;
        tabs->addTab(new QWidget, QStringLiteral("One"));
        tabs->addTab(new QWidget, QStringLiteral("Two"));
        log = new QPlainTextEdit;
        log->setReadOnly(true);
        log->setPlainText(QStringLiteral("line\n").repeated(500));
        ask = new QPushButton(QStringLiteral("Ask"));
        other = new QPushButton(QStringLiteral("Other"));
        edit = new QLineEdit;
        for (QWidget *w :
             {static_cast<QWidget *>(tabs), static_cast<QWidget *>(log), static_cast<QWidget *>(ask),
              static_cast<QWidget *>(other), static_cast<QWidget *>(edit)})
            layout->addWidget(w);
        QObject::connect(ask, &QPushButton::clicked, [this] {
            BoardActions::Running running(&actions, &window);
            done << QStringLiteral("ask begins");
            link.transact("get VER");
            done << QStringLiteral("ask ends");
        });
        QObject::connect(other, &QPushButton::clicked, [this] { done << QStringLiteral("other"); });
        QObject::connect(edit, &QLineEdit::textEdited, [this] { done << QStringLiteral("typed"); });
        window.resize(300, 500);
        window.show();
    }

    bool connect()
    {
        return sim.isRunning() && link.connectBoard(sim.path()) && QTest::qWaitForWindowExposed(&window);
    }

    SimBoard sim;
    ControlBoard link;
    BoardActions actions;
    QWidget window;
    QTabWidget *tabs = nullptr;
    QPlainTextEdit *log = nullptr;
    QPushButton *ask = nullptr;
    QPushButton *other = nullptr;
    QLineEdit *edit = nullptr;
    QStringList done;
};

} // namespace

class tst_BoardActions : public QObject
{
    Q_OBJECT

private slots:
    void inputDuringAnAction_data();
    void inputDuringAnAction();
    void timerWorkWaitsItsTurn();
    void busyWindowShown();
    void restartLeavesTheWindowLive();
};

void tst_BoardActions::inputDuringAnAction_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("handledDuring");

    // What never reaches the board is handled at once; the rest after the
    // action, in the order it came.
    QTest::newRow("tab") << "tab" << QStringList{"ask begins", "ask ends"} << true;
    QTest::newRow("scroll bar") << "scroll bar" << QStringList{"ask begins", "ask ends"} << true;
    QTest::newRow("button") << "button" << QStringList{"ask begins", "ask ends", "other"} << false;
    QTest::newRow("same button") << "same button"
                                 << QStringList{"ask begins", "ask ends", "ask begins", "ask ends"} << false;
    QTest::newRow("keys") << "keys" << QStringList{"ask begins", "ask ends", "typed", "typed"} << false;
    QTest::newRow("button then keys")
        << "button then keys" << QStringList{"ask begins", "ask ends", "other", "typed"} << false;
    QTest::newRow("close") << "close" << QStringList{"ask begins", "ask ends"} << false;
}

void tst_BoardActions::inputDuringAnAction()
{
    QFETCH(QString, input);
    QFETCH(QStringList, expected);
    QFETCH(bool, handledDuring);

    Desk desk({"--delay", "60"});
    QVERIFY(desk.connect());
    desk.edit->setFocus();
    // Whether the input took effect at once, while the action waited.
    bool handled = false;
    whenBoardWaits(desk.actions, &desk.window, [&] {
        if (input == "tab") {
            QTabBar *bar = desk.tabs->tabBar();
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
            handled = desk.tabs->currentIndex() == 1;
        } else if (input == "scroll bar") {
            QScrollBar *bar = desk.log->verticalScrollBar();
            QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 30));
            handled = bar->value() > 0;
        } else if (input == "button") {
            QTest::mouseClick(desk.other, Qt::LeftButton);
        } else if (input == "same button") {
            QTest::mouseClick(desk.ask, Qt::LeftButton);
        } else if (input == "keys") {
            QTest::keyClicks(desk.edit, "ab");
        } else if (input == "button then keys") {
            QTest::mouseClick(desk.other, Qt::LeftButton);
            QTest::keyClicks(desk.edit, "a");
        } else if (input == "close") {
            desk.window.close();
        }
        handled = handled || desk.window.isHidden() || !desk.done.endsWith(QStringLiteral("ask begins"));
    });
    QTest::mouseClick(desk.ask, Qt::LeftButton);
    QTRY_VERIFY(!desk.actions.isBusy());
    QCOMPARE(handled, handledDuring);
    QCOMPARE(desk.done, expected);
    QCOMPARE(desk.window.isHidden(), input == "close");
    if (input.contains("keys"))
        QCOMPARE(desk.edit->text(), input == "keys" ? QString("ab") : QString("a"));
    // Every command of the two actions went out whole, one after the other.
    const int asks = int(expected.count(QStringLiteral("ask begins")));
    QCOMPARE(desk.sim.transcript().count(QStringLiteral("get VER")), asks + 1);
}

void tst_BoardActions::timerWorkWaitsItsTurn()
{
    Desk desk({"--delay", "60"});
    QVERIFY(desk.connect());
    whenBoardWaits(desk.actions, &desk.window, [&] {
        // A timer's work while the action waits: refreshes do not pile up.
        for (int i = 0; i < 3; ++i)
            desk.actions.run([&] { desk.done << QStringLiteral("refresh"); }, QStringLiteral("refresh"));
        desk.actions.run([&] { desk.done << QStringLiteral("status"); });
    });
    QTest::mouseClick(desk.ask, Qt::LeftButton);
    QTRY_VERIFY(!desk.actions.isBusy());
    QCOMPARE(desk.done, QStringList({"ask begins", "ask ends", "refresh", "status"}));

    // With nothing under way, work runs at once.
    desk.actions.run([&] { desk.done << QStringLiteral("now"); }, QStringLiteral("refresh"));
    QCOMPARE(desk.done.last(), QStringLiteral("now"));
}

void tst_BoardActions::busyWindowShown()
{
    // Longer than a window waits before it shows its action.
    Desk desk({"--delay", QString::number(3 * BoardActions::ShowBusyAfterMs)});
    QVERIFY(desk.connect());
    desk.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&desk.window));
    desk.other->setEnabled(false);
    bool cursorBusy = false;
    bool askEnabled = true;
    bool focusKept = false;
    whenBoardWaits(desk.actions, &desk.window, [&] {
        QTimer::singleShot(2 * BoardActions::ShowBusyAfterMs, &desk.window, [&] {
            cursorBusy = desk.window.cursor().shape() == Qt::BusyCursor;
            askEnabled = desk.ask->isEnabled();
        });
    });
    desk.ask->setFocus();
    QTest::mouseClick(desk.ask, Qt::LeftButton);
    QVERIFY(cursorBusy);
    QVERIFY(!askEnabled);
    focusKept = desk.ask->hasFocus();
    // Done: its buttons as they were, the disabled one too.
    QVERIFY(desk.ask->isEnabled());
    QVERIFY(!desk.other->isEnabled());
    QCOMPARE(desk.window.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(focusKept);
}

void tst_BoardActions::restartLeavesTheWindowLive()
{
    Desk desk({"--restart-ms", "400"});
    QVERIFY(desk.connect());
    QSignalSpy restarted(&desk.link, &ControlBoard::signal_resetFinished);
    desk.link.resetBoard();
    int ticks = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start();
    // A command while the board restarts waits for the port, live.
    desk.link.setDefaultTimeout(3000);
    QVERIFY(desk.link.transact("get VER"));
    QCOMPARE(restarted.size(), 1);
    QVERIFY(ticks > 0);
}

QTEST_MAIN(tst_BoardActions)
#include "tst_boardactions.moc"
