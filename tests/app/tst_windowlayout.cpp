#include "app/mainwindow.h"
#include "app/mdiarea.h"
#include "applet/applet.h"
#include "benchfixture.h"
#include "tools/measurements.h"

#include <QAction>
#include <QFile>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
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

// Every shown window keeps part of its title bar in sight (or with whole,
// all of it): none of the windows above it covers the whole bar (or any of
// it). A window larger than the area has no room but its top left.
QString coveredTitleBar(MainWindow *main, bool whole = false)
{
    const QList<QMdiSubWindow *> shown = shownWindows(main);
    const QSize area = main->mdiArea->viewport()->size();
    for (int below = 0; below < shown.size(); ++below) {
        for (int above = below + 1; above < shown.size(); ++above) {
            if (shown.at(above)->size().boundedTo(area) != shown.at(above)->size())
                continue;
            const QRect over = shown.at(above)->geometry();
            const QRect bar = titleBar(shown.at(below));
            if (whole ? over.intersects(bar) : over.contains(bar))
                return shown.at(above)->windowTitle() + QStringLiteral(" covers ") +
                       shown.at(below)->windowTitle();
        }
    }
    return QString();
}

// Every shown window lies inside what can be seen of the area; one larger
// than the area starts at its top left. Empty when all do.
QString outsideTheArea(MainWindow *main)
{
    const QRect view = main->mdiArea->viewport()->rect();
    for (QMdiSubWindow *w : shownWindows(main)) {
        const QRect place = w->geometry();
        const bool wide = place.width() > view.width();
        const bool high = place.height() > view.height();
        const bool inside =
            (wide ? place.left() == 0 : (place.left() >= 0 && place.right() <= view.right())) &&
            (high ? place.top() == 0 : (place.top() >= 0 && place.bottom() <= view.bottom()));
        if (!inside)
            return QStringLiteral("%1 at %2,%3 %4x%5 in %6x%7")
                .arg(w->windowTitle())
                .arg(place.x())
                .arg(place.y())
                .arg(place.width())
                .arg(place.height())
                .arg(view.width())
                .arg(view.height());
    }
    return QString();
}

// Nothing to scroll to: the scroll bars cover only what is in sight.
bool nothingToScroll(MainWindow *main)
{
    const QScrollBar *h = main->mdiArea->horizontalScrollBar();
    const QScrollBar *v = main->mdiArea->verticalScrollBar();
    return h->minimum() == 0 && h->maximum() == 0 && v->minimum() == 0 && v->maximum() == 0;
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
    void keptInside_data();
    void keptInside();
    void tiled_data();
    void tiled();
    void mainWindowOnScreen();
    void newWindowsKeepTheirTitleBars();
    void restoredWindowKeepsItsPlace();
    void cascadeAndTile();
    void openedInsideTheArea_data();
    void openedInsideTheArea();
    void noScrollRangeAfterClosing_data();
    void noScrollRangeAfterClosing();
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

void tst_WindowLayout::keptInside_data()
{
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QRect>("expected");

    // In an area of 1000 x 600.
    QTest::newRow("inside stays") << QRect(100, 50, 300, 200) << QSize(300, 200) << QRect(100, 50, 300, 200);
    QTest::newRow("beyond the bottom right")
        << QRect(1500, 900, 300, 200) << QSize(300, 200) << QRect(700, 400, 300, 200);
    QTest::newRow("above and left") << QRect(-50, -10, 300, 200) << QSize(300, 200) << QRect(0, 0, 300, 200);
    QTest::newRow("half over the right edge")
        << QRect(850, 100, 300, 200) << QSize(300, 200) << QRect(700, 100, 300, 200);
    QTest::newRow("fixed and larger")
        << QRect(40, 30, 1200, 700) << QSize(1200, 700) << QRect(0, 0, 1200, 700);
    QTest::newRow("shrinks to the area")
        << QRect(40, 30, 1200, 700) << QSize(500, 300) << QRect(0, 0, 1000, 600);
    QTest::newRow("shrinks no further than its minimum")
        << QRect(40, 30, 1200, 700) << QSize(1100, 300) << QRect(0, 0, 1100, 600);
}

void tst_WindowLayout::keptInside()
{
    QFETCH(QRect, window);
    QFETCH(QSize, minimum);
    QFETCH(QRect, expected);
    QCOMPARE(MdiArea::keptInside(window, minimum, QSize(1000, 600)), expected);
}

void tst_WindowLayout::tiled_data()
{
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::addColumn<QList<QSize>>("minimums");
    QTest::addColumn<QSize>("area");
    // Empty where only the rules checked for every row matter.
    QTest::addColumn<QList<QRect>>("expected");
    // Every title bar whole in sight, not only a part of it.
    QTest::addColumn<bool>("wholeTitleBars");

    QTest::newRow("side by side") << QList<QSize>{{300, 200}, {400, 300}}
                                  << QList<QSize>{{300, 200}, {400, 300}} << QSize(1000, 700)
                                  << QList<QRect>{{400, 0, 300, 200}, {0, 0, 400, 300}} << true;
    // The largest goes first; a small one fills the room beside it.
    QTest::newRow("beside the largest")
        << QList<QSize>{{628, 455}, {310, 235}, {270, 205}}
        << QList<QSize>{{628, 455}, {310, 235}, {270, 205}} << QSize(1213, 713)
        << QList<QRect>{{0, 0, 628, 455}, {628, 0, 310, 235}, {938, 0, 270, 205}} << true;
    QTest::newRow("a window shrinks to fit")
        << QList<QSize>{{900, 700}, {400, 500}} << QList<QSize>{{900, 700}, {250, 300}} << QSize(1200, 700)
        << QList<QRect>{{0, 0, 900, 700}, {900, 0, 250, 300}} << true;
    // The second large one is laid over below the first one's title bar;
    // the third finds no such place left.
    QTest::newRow("more than fit") << QList<QSize>{{700, 500}, {700, 500}, {700, 500}, {300, 300}}
                                   << QList<QSize>{{700, 500}, {700, 500}, {700, 500}, {300, 300}}
                                   << QSize(1200, 700) << QList<QRect>{} << false;
    // The device windows of the application in its smallest main window:
    // three times the area, yet every title bar stays whole in sight.
    const QList<QSize> devices{{624, 455},  {954, 601}, {730, 555}, {937, 636},
                               {1209, 365}, {310, 235}, {270, 205}, {720, 420}};
    QList<QSize> minimums = devices;
    minimums.last() = QSize(586, 376);
    QTest::newRow("all eight windows") << devices << minimums << QSize(1209, 681) << QList<QRect>{} << true;
    QTest::newRow("larger than the area")
        << QList<QSize>{{1300, 800}, {1300, 800}} << QList<QSize>{{1300, 800}, {500, 400}} << QSize(1200, 700)
        << QList<QRect>{{0, 0, 1300, 800}, {0, 0, 1200, 700}} << false;
}

void tst_WindowLayout::tiled()
{
    QFETCH(QList<QSize>, sizes);
    QFETCH(QList<QSize>, minimums);
    QFETCH(QSize, area);
    QFETCH(QList<QRect>, expected);
    QFETCH(bool, wholeTitleBars);

    const int title = 24;
    const MdiArea::Tiling tiling = MdiArea::tiled(sizes, minimums, area, title);
    if (!expected.isEmpty())
        QCOMPARE(tiling.geometries, expected);
    QCOMPARE(tiling.geometries.size(), sizes.size());
    QList<int> order = tiling.stacking;
    std::sort(order.begin(), order.end());
    QCOMPARE(order.size(), sizes.size());
    for (int i = 0; i < order.size(); ++i)
        QCOMPARE(order.at(i), i);

    const QRect inside(QPoint(0, 0), area);
    for (int i = 0; i < sizes.size(); ++i) {
        const QRect place = tiling.geometries.at(i);
        const QString name = QString::number(i);
        // No larger than it was, no smaller than it can be.
        QVERIFY2(place.width() <= sizes.at(i).width() && place.height() <= sizes.at(i).height(),
                 qPrintable(name));
        QVERIFY2(place.width() >= minimums.at(i).width() && place.height() >= minimums.at(i).height(),
                 qPrintable(name));
        if (place.width() <= area.width() && place.height() <= area.height())
            QVERIFY2(inside.contains(place), qPrintable(name));
        else
            QCOMPARE(place.topLeft(), QPoint(0, 0));
    }
    // Each title bar keeps a part in sight of the windows stacked above it.
    for (int below = 0; below < tiling.stacking.size(); ++below) {
        const QRect window = tiling.geometries.at(tiling.stacking.at(below));
        const QRect bar(window.topLeft(), QSize(window.width(), title));
        for (int above = below + 1; above < tiling.stacking.size(); ++above) {
            const QRect over = tiling.geometries.at(tiling.stacking.at(above));
            const QString what =
                QStringLiteral("%1 over %2").arg(tiling.stacking.at(above)).arg(tiling.stacking.at(below));
            if (wholeTitleBars)
                QVERIFY2(!over.intersects(bar), qPrintable(what));
            else if (over.size().boundedTo(area) == over.size())
                QVERIFY2(!over.contains(bar), qPrintable(what));
        }
    }
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

    // Tiled, every window lies in sight with its title bar, all eight too.
    main->tileAction->trigger();
    QVERIFY2(outsideTheArea(main).isEmpty(), qPrintable(outsideTheArea(main)));
    QVERIFY2(coveredTitleBar(main).isEmpty(), qPrintable(coveredTitleBar(main)));

    for (int digit = 0; digit <= 7; ++digit)
        pressCtrlDigit(main, digit);
    QTRY_COMPARE(shownWindows(main).size(), 8);
    // Scrolled away first, as a user may have left it.
    main->mdiArea->horizontalScrollBar()->setValue(main->mdiArea->horizontalScrollBar()->maximum());
    main->tileAction->trigger();
    QVERIFY2(outsideTheArea(main).isEmpty(), qPrintable(outsideTheArea(main)));
    // Where every window fits the area, all title bars stay whole in sight
    // and nothing is left to scroll to.
    const QSize area = main->mdiArea->viewport()->size();
    const QList<QMdiSubWindow *> all = shownWindows(main);
    const bool allFit = std::all_of(all.cbegin(), all.cend(), [&area](QMdiSubWindow *w) {
        return w->size().boundedTo(area) == w->size();
    });
    QVERIFY2(coveredTitleBar(main, allFit).isEmpty(), qPrintable(coveredTitleBar(main, allFit)));
    if (allFit)
        QVERIFY(nothingToScroll(main));
    // Reopened with its key, a window comes back where Tile put it.
    QMdiSubWindow *board =
        qobject_cast<QMdiSubWindow *>(bench.app->findApplet("Board", MainApp::ByObjectName)->container());
    const QRect tiledAt = board->geometry();
    board->close();
    pressCtrlDigit(main, 1);
    QTRY_VERIFY(board->isVisible());
    QCOMPARE(board->geometry(), tiledAt);
}

void tst_WindowLayout::openedInsideTheArea_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QSize>("mainSize");
    // A window open beside it that is larger than the area, so that the
    // area's scroll bars come up and take their room.
    QTest::addColumn<QString>("larger");

    const QSize roomy(0, 0);
    const QSize small(700, 500);
    QTest::newRow("earlier place beyond") << "ChipID"
                                          << "reopen" << roomy << "";
    QTest::newRow("open, beyond") << "ChipID"
                                  << "key while open" << roomy << "";
    QTest::newRow("area smaller since") << "WatchDog"
                                        << "reopen" << small << "";
    QTest::newRow("larger than the area") << "SpiController"
                                          << "reopen" << small << "";
    QTest::newRow("plot shrinks to the area") << "Measurements"
                                              << "reopen" << small << "";
    QTest::newRow("beside one larger than the area") << "ChipID"
                                                     << "reopen" << small << "SpiController";
    QTest::newRow("Restore last, stored beyond") << "ChipID"
                                                 << "restore" << roomy << "";
    QTest::newRow("Restore last, open and beyond") << "WatchDog"
                                                   << "restore open" << small << "";
    QTest::newRow("Restore last, beside one larger") << "ChipID"
                                                     << "restore" << small << "Board";
}

// A window opened with its key or by "Restore last" comes up in sight,
// however far outside its earlier or stored place lies now.
void tst_WindowLayout::openedInsideTheArea()
{
    QFETCH(QString, window);
    QFETCH(QString, how);
    QFETCH(QSize, mainSize);
    QFETCH(QString, larger);

    BenchFixture bench;
    QVERIFY(bench.ok);
    MainWindow *main = bench.app->mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    main->activateWindow();
    QMdiSubWindow *sub = nullptr;
    int digit = 7;
    if (window == "Measurements") {
        sub = main->toolSubWindow(bench.app->measurements());
    } else {
        Applet *applet = bench.app->findApplet(window, MainApp::ByObjectName);
        sub = qobject_cast<QMdiSubWindow *>(applet->container());
        digit = applet->shortcutKey() - Qt::Key_0;
    }
    QVERIFY(sub);
    const QSize ownSize = sub->size();

    pressCtrlDigit(main, digit);
    QTRY_VERIFY(sub->isVisible());
    const QSize area = main->mdiArea->viewport()->size();
    const QPoint beyond(area.width() + 200, area.height() + 100);
    sub->move(beyond);
    if (how != "key while open" && how != "restore open")
        sub->close();
    if (mainSize.isValid() && !mainSize.isEmpty()) {
        main->resize(mainSize);
        QTRY_VERIFY(main->mdiArea->viewport()->width() < area.width());
    }
    if (!larger.isEmpty()) {
        Applet *big = bench.app->findApplet(larger, MainApp::ByObjectName);
        big->showWindow();
        big->container()->move(0, 0);
        QVERIFY(big->container()->width() > main->mdiArea->viewport()->width());
    }
    if (how.startsWith("restore")) {
        const QByteArray line = QStringLiteral("%1,%2,%3,%4,%5,1\n")
                                    .arg(bench.app->findApplet(window, MainApp::ByObjectName)->objectName())
                                    .arg(beyond.x())
                                    .arg(beyond.y())
                                    .arg(ownSize.width())
                                    .arg(ownSize.height())
                                    .toLatin1();
        QFile state("HQL3318.state");
        QVERIFY(state.open(QIODevice::WriteOnly));
        state.write(main->saveGeometry().toHex() + "\n" + line);
        state.close();
        QTest::mouseClick(main->restoreButton, Qt::LeftButton);
    } else {
        pressCtrlDigit(main, digit);
    }
    QTRY_VERIFY(sub->isVisible());
    if (!larger.isEmpty())
        QTRY_VERIFY(main->mdiArea->horizontalScrollBar()->isVisible() &&
                    main->mdiArea->verticalScrollBar()->isVisible());
    QVERIFY2(outsideTheArea(main).isEmpty(), qPrintable(outsideTheArea(main)));
    const QSize now = main->mdiArea->viewport()->size();
    // Moved no further than it takes.
    QCOMPARE(sub->x(), qMax(0, now.width() - sub->width()));
    QCOMPARE(sub->y(), qMax(0, now.height() - sub->height()));
    if (window == "Measurements")
        QCOMPARE(sub->size(), ownSize.boundedTo(now).expandedTo(sub->minimumSizeHint()));
    else
        QCOMPARE(sub->size(), ownSize);
}

void tst_WindowLayout::noScrollRangeAfterClosing_data()
{
    QTest::addColumn<bool>("butActive");
    QTest::newRow("Close All") << false;
    QTest::newRow("Close All But Active") << true;
}

// The area scrolls to windows out of sight; once they are closed, the
// scroll bars go with them.
void tst_WindowLayout::noScrollRangeAfterClosing()
{
    QFETCH(bool, butActive);

    BenchFixture bench;
    QVERIFY(bench.ok);
    MainWindow *main = bench.app->mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    main->activateWindow();
    pressCtrlDigit(main, 6);
    pressCtrlDigit(main, 5);
    auto *chip =
        qobject_cast<QMdiSubWindow *>(bench.app->findApplet("ChipID", MainApp::ByObjectName)->container());
    auto *watchdog =
        qobject_cast<QMdiSubWindow *>(bench.app->findApplet("WatchDog", MainApp::ByObjectName)->container());
    QTRY_VERIFY(chip->isVisible() && watchdog->isVisible());
    // Dragged half out at the bottom right, and the view scrolled after it.
    const QSize area = main->mdiArea->viewport()->size();
    chip->move(area.width() - 50, area.height() - 40);
    QTRY_VERIFY(!nothingToScroll(main));
    main->mdiArea->horizontalScrollBar()->setValue(main->mdiArea->horizontalScrollBar()->maximum());
    main->mdiArea->verticalScrollBar()->setValue(main->mdiArea->verticalScrollBar()->maximum());
    main->mdiArea->setActiveSubWindow(watchdog);

    if (butActive)
        main->slot_CloseAllButActive();
    else
        main->slot_CloseAll();
    QCOMPARE(watchdog->isVisible(), butActive);
    QVERIFY(!chip->isVisible());
    QVERIFY(nothingToScroll(main));
    QVERIFY(!main->mdiArea->horizontalScrollBar()->isVisible());
    QVERIFY(!main->mdiArea->verticalScrollBar()->isVisible());
    QVERIFY2(outsideTheArea(main).isEmpty(), qPrintable(outsideTheArea(main)));
}

QTEST_MAIN(tst_WindowLayout)
#include "tst_windowlayout.moc"
