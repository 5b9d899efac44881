#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "applet/applet.h"
#include "benchfixture.h"

#include <QAction>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QTest>

namespace {

int titleHeight(const QWidget *window)
{
    return window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
}

QRect titleBar(const QMdiSubWindow *window)
{
    return QRect(window->pos(), QSize(window->width(), titleHeight(window)));
}

QList<QMdiSubWindow *> shownWindows(MainWindow *main)
{
    QList<QMdiSubWindow *> shown;
    for (QMdiSubWindow *w : main->mdiArea->subWindowList(QMdiArea::StackingOrder)) {
        if (w->isVisible())
            shown.append(w);
    }
    return shown;
}

// Every shown window keeps part of its title bar in sight: none of the
// windows above it covers the whole bar.
QString coveredTitleBar(MainWindow *main)
{
    const QList<QMdiSubWindow *> shown = shownWindows(main);
    for (int below = 0; below < shown.size(); ++below) {
        for (int above = below + 1; above < shown.size(); ++above) {
            if (shown.at(above)->geometry().contains(titleBar(shown.at(below))))
                return shown.at(above)->windowTitle() + QStringLiteral(" covers ") +
                       shown.at(below)->windowTitle();
        }
    }
    return QString();
}

void pressCtrlDigit(MainWindow *main, int digit)
{
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : main;
    QTest::keyClick(target, Qt::Key(Qt::Key_0 + digit), Qt::ControlModifier);
    // The window opens once the key press has been delivered, as between two
    // presses of a person.
    QCoreApplication::processEvents();
}

} // namespace

// The main window and the windows in its MDI area on this run's screen; CTest
// runs the program again on screens of several sizes.
class tst_WindowLayout : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void freePlace_data();
    void freePlace();
    void tiledPlaces_data();
    void tiledPlaces();
    void mainWindowOnScreen();
    void newWindowsKeepTheirTitleBars();
    void restoredWindowKeepsItsPlace();
    void cascadeAndTile();
};

void tst_WindowLayout::placement_data()
{
    QTest::addColumn<QSize>("wanted");
    QTest::addColumn<QPoint>("preferred");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("expected");

    // With 16 x 40 pixels kept for the window manager's frame.
    QTest::newRow("fits where preferred")
        << QSize(1200, 760) << QPoint(200, 0) << QRect(0, 0, 1920, 1080) << QRect(200, 0, 1200, 760);
    QTest::newRow("1280 wide: moved left")
        << QSize(1220, 760) << QPoint(200, 0) << QRect(0, 0, 1280, 1024) << QRect(44, 0, 1220, 760);
    QTest::newRow("1366x768: moved and shortened")
        << QSize(1220, 790) << QPoint(200, -100) << QRect(0, 0, 1366, 740) << QRect(130, 0, 1220, 700);
    QTest::newRow("narrow screen: as wide as it")
        << QSize(1220, 760) << QPoint(200, 0) << QRect(0, 0, 1024, 768) << QRect(0, 0, 1008, 728);
    QTest::newRow("panel on the left")
        << QSize(1000, 600) << QPoint(0, 0) << QRect(64, 30, 1216, 770) << QRect(64, 30, 1000, 600);
}

void tst_WindowLayout::placement()
{
    QFETCH(QSize, wanted);
    QFETCH(QPoint, preferred);
    QFETCH(QRect, available);
    QFETCH(QRect, expected);
    QCOMPARE(MainWindow::placement(wanted, preferred, available, QSize(16, 40)), expected);
}

void tst_WindowLayout::freePlace_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<QRect>>("shown");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QPoint>("expected");

    const QSize area(1200, 700);
    QTest::newRow("first window at the origin") << QSize(600, 400) << QList<QRect>{} << area << QPoint(0, 0);
    QTest::newRow("beside one that leaves room")
        << QSize(500, 400) << QList<QRect>{QRect(0, 0, 600, 450)} << area << QPoint(600, 0);
    QTest::newRow("below a wide one")
        << QSize(900, 200) << QList<QRect>{QRect(0, 0, 1100, 450)} << area << QPoint(0, 450);
    // No place without overlap: the least overlap that leaves the title bar.
    QTest::newRow("large over large")
        << QSize(950, 600) << QList<QRect>{QRect(0, 0, 950, 600)} << area << QPoint(250, 0);
    QTest::newRow("larger than the area")
        << QSize(1300, 800) << QList<QRect>{QRect(0, 0, 500, 300)} << area << QPoint(24, 24);
}

void tst_WindowLayout::freePlace()
{
    QFETCH(QSize, size);
    QFETCH(QList<QRect>, shown);
    QFETCH(QSize, area);
    QFETCH(QPoint, expected);
    const QPoint at = MdiArea::freePlace(size, shown, area, 24);
    QCOMPARE(at, expected);
    for (const QRect &other : shown)
        QVERIFY(!QRect(at, size).contains(QRect(other.topLeft(), QSize(other.width(), 24))));
}

void tst_WindowLayout::tiledPlaces_data()
{
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<QPoint>>("expected");

    QTest::newRow("one row") << QList<QSize>{{300, 200}, {400, 300}} << 1000
                             << QList<QPoint>{{400, 0}, {0, 0}};
    // The largest goes first; a small one fills the room beside it.
    QTest::newRow("beside the largest")
        << QList<QSize>{{628, 455}, {958, 605}, {941, 640}, {310, 235}, {270, 205}} << 1213
        << QList<QPoint>{{0, 1245}, {0, 640}, {0, 0}, {628, 1245}, {941, 0}};
    QTest::newRow("wider than the area")
        << QList<QSize>{{1300, 300}, {200, 100}} << 1000 << QList<QPoint>{{0, 0}, {0, 300}};
}

void tst_WindowLayout::tiledPlaces()
{
    QFETCH(QList<QSize>, sizes);
    QFETCH(int, width);
    QFETCH(QList<QPoint>, expected);
    QCOMPARE(MdiArea::tiledPlaces(sizes, width), expected);
}

// The whole main window is on the screen, and where the screen allows, the
// largest device window fits in its MDI area.
void tst_WindowLayout::mainWindowOnScreen()
{
    BenchFixture bench;
    QVERIFY(bench.ok);
    MainWindow *main = bench.app->mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    const QRect available = main->screen()->availableGeometry();
    QVERIFY2(available.contains(main->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                                                       .arg(main->x())
                                                                       .arg(main->y())
                                                                       .arg(main->width())
                                                                       .arg(main->height())
                                                                       .arg(available.width())
                                                                       .arg(available.height())));
    QSize largest;
    for (Applet *applet : bench.app->applets())
        largest = largest.expandedTo(applet->container()->size());
    const QSize viewport = main->mdiArea->viewport()->size();
    // Every size of screen tried here is wide enough; a tall enough one
    // also shows the tallest window whole.
    if (available.width() >= 1280)
        QVERIFY2(viewport.width() >= largest.width(),
                 qPrintable(QStringLiteral("%1 < %2").arg(viewport.width()).arg(largest.width())));
    if (available.height() >= 768)
        QVERIFY2(viewport.height() >= largest.height(),
                 qPrintable(QStringLiteral("%1 < %2").arg(viewport.height()).arg(largest.height())));
}

// Each window opened with its Ctrl+digit key finds a place where the title
// bars of the windows already shown stay in sight.
void tst_WindowLayout::newWindowsKeepTheirTitleBars()
{
    BenchFixture bench;
    QVERIFY(bench.ok);
    MainWindow *main = bench.app->mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    main->activateWindow();
    for (int digit = 0; digit <= 7; ++digit) {
        const int before = int(shownWindows(main).size());
        pressCtrlDigit(main, digit);
        if (digit > 0)
            QTRY_COMPARE(shownWindows(main).size(), before + 1);
        const QString covered = coveredTitleBar(main);
        QVERIFY2(covered.isEmpty(), qPrintable(covered));
    }
    QCOMPARE(shownWindows(main).size(), 8);
    // Shown again after being closed, a window keeps the place it had.
    QMdiSubWindow *board =
        qobject_cast<QMdiSubWindow *>(bench.app->findApplet("Board", MainApp::ByObjectName)->container());
    QVERIFY(board);
    const QPoint where = board->pos();
    board->close();
    QTRY_VERIFY(!board->isVisible());
    pressCtrlDigit(main, 1);
    QTRY_VERIFY(board->isVisible());
    QCOMPARE(board->pos(), where);
}

// A window whose place came from a saved window state is shown there.
void tst_WindowLayout::restoredWindowKeepsItsPlace()
{
    BenchFixture bench;
    QVERIFY(bench.ok);
    Applet *chip = bench.app->findApplet("ChipID", MainApp::ByObjectName);
    QVERIFY(chip && !chip->container()->isVisible());
    const QRect saved(QPoint(70, 50), chip->container()->size());
    chip->container()->setGeometry(saved);
    chip->showWindow();
    QTRY_VERIFY(chip->container()->isVisible());
    QCOMPARE(chip->container()->geometry(), saved);
}

// "Cascade" and "Tile" end the "&Windows" menu and arrange the shown windows.
void tst_WindowLayout::cascadeAndTile()
{
    BenchFixture bench;
    QVERIFY(bench.ok);
    MainWindow *main = bench.app->mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    QStringList texts;
    for (QAction *action : main->windowsMenu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(texts.size(), bench.app->applets().size() + 4);
    QCOMPARE(texts.mid(texts.size() - 3), (QStringList{"-", "&Cascade", "&Tile"}));

    for (const char *name : {"Board", "SpiController", "WatchDog", "ChipID"})
        bench.app->findApplet(QString::fromLatin1(name), MainApp::ByObjectName)->showWindow();
    QTRY_COMPARE(shownWindows(main).size(), 5);

    main->cascadeAction->trigger();
    QList<QMdiSubWindow *> shown = main->mdiArea->subWindowList(QMdiArea::StackingOrder);
    shown.erase(std::remove_if(shown.begin(), shown.end(), [](QMdiSubWindow *w) { return !w->isVisible(); }),
                shown.end());
    for (int i = 1; i < shown.size(); ++i) {
        QVERIFY(shown.at(i)->x() > shown.at(i - 1)->x());
        QVERIFY(shown.at(i)->y() > shown.at(i - 1)->y());
    }
    QVERIFY(coveredTitleBar(main).isEmpty());

    // Tiled, the windows keep their sizes and stand side by side.
    main->tileAction->trigger();
    const QList<QMdiSubWindow *> tiled = shownWindows(main);
    const int width = main->mdiArea->viewport()->width();
    for (int i = 0; i < tiled.size(); ++i) {
        const QRect place = tiled.at(i)->geometry();
        QVERIFY2(place.left() >= 0 && place.top() >= 0 && (place.right() < width || place.left() == 0),
                 qPrintable(tiled.at(i)->windowTitle()));
        for (int j = i + 1; j < tiled.size(); ++j)
            QVERIFY2(!place.intersects(tiled.at(j)->geometry()),
                     qPrintable(tiled.at(i)->windowTitle() + " / " + tiled.at(j)->windowTitle()));
    }
}

QTEST_MAIN(tst_WindowLayout)
#include "tst_windowlayout.moc"
