#include "app/mdiarea.h"

#include <QChildEvent>
#include <QMdiSubWindow>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <limits>

namespace {

// The position a window had when it joined the area; it is placed on its
// first show only if nobody (a restored window state) moved it since.
const char *const JoinedAt = "hqlJoinedAt";

QRect titleBar(const QRect &window, int titleHeight)
{
    return QRect(window.topLeft(), QSize(window.width(), qMin(titleHeight, window.height())));
}

// How much of the other windows a place would cover.
qint64 overlapOf(const QRect &place, const QList<QRect> &others)
{
    qint64 overlap = 0;
    for (const QRect &other : others) {
        const QRect common = place.intersected(other);
        overlap += qint64(common.width()) * common.height();
    }
    return overlap;
}

} // namespace

MdiArea::MdiArea(QWidget *parent) : QMdiArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Light enough for the grey chip name to read as a watermark.
    setBackground(QColor(0xE8, 0xEA, 0xED));
}

MdiArea::ChipNameLayout MdiArea::chipNameLayout(const QSize &viewport)
{
    const double s = (viewport.width() / 1.5) * 0.125 * 1.76;
    const int x = viewport.width() / 4;
    const int y = static_cast<int>(viewport.height() / 2 + s * 0.5);
    return {static_cast<int>(s), QPoint(x, y)};
}

void MdiArea::paintEvent(QPaintEvent *event)
{
    QMdiArea::paintEvent(event);
    const ChipNameLayout layout = chipNameLayout(viewport()->size());
    if (layout.pixelSize < 1)
        return;
    QPainter painter(viewport());
    QFont font;
    font.setPixelSize(layout.pixelSize);
    painter.setFont(font);
    painter.setPen(QColor(167, 167, 167));
    painter.drawText(layout.baseline, QStringLiteral("HQL3318"));
}

QPoint MdiArea::freePlace(const QSize &size, const QList<QRect> &shown, const QSize &area, int titleHeight)
{
    const int step = qMax(titleHeight, 1);
    const bool fits = size.width() <= area.width() && size.height() <= area.height();
    // Cascade steps from the top left; where the window fits, also the places
    // beside and below every shown window and the area's far corners.
    QList<QPoint> candidates;
    for (int i = 0; i <= shown.size(); ++i)
        candidates.append(QPoint(i * step, i * step));
    if (fits) {
        for (const QRect &other : shown) {
            candidates.append(QPoint(other.right() + 1, other.top()));
            candidates.append(QPoint(other.left(), other.bottom() + 1));
            candidates.append(QPoint(other.right() + 1, 0));
            candidates.append(QPoint(0, other.bottom() + 1));
        }
        candidates.append(QPoint(area.width() - size.width(), 0));
        candidates.append(QPoint(0, area.height() - size.height()));
    }

    QPoint best(-1, -1);
    qint64 bestOverlap = std::numeric_limits<qint64>::max();
    for (const QPoint &at : std::as_const(candidates)) {
        const QRect place(at, size);
        if (at.x() < 0 || at.y() < 0 ||
            (fits && (place.right() >= area.width() || place.bottom() >= area.height())))
            continue;
        if (std::any_of(shown.cbegin(), shown.cend(),
                        [&](const QRect &other) { return place.contains(titleBar(other, titleHeight)); }))
            continue;
        const qint64 overlap = overlapOf(place, shown);
        if (overlap < bestOverlap) {
            best = at;
            bestOverlap = overlap;
        }
    }
    if (best.x() >= 0)
        return best;
    // Every place covers a title bar: the next cascade step, wrapped so that
    // the window starts inside the area.
    const int room = qMin(area.width() - size.width(), area.height() - size.height());
    const int steps = qMax(1, room / step + 1);
    const int i = int(shown.size() % steps);
    return QPoint(i * step, i * step);
}

QRect MdiArea::keptInside(const QRect &window, const QSize &minimum, const QSize &area)
{
    const QSize size = window.size().boundedTo(area).expandedTo(minimum).boundedTo(window.size());
    const int x = qBound(0, window.x(), qMax(0, area.width() - size.width()));
    const int y = qBound(0, window.y(), qMax(0, area.height() - size.height()));
    return QRect(QPoint(x, y), size);
}

namespace {

// The highest, then leftmost place inside the area where a window of the
// given size overlaps none of the placed ones; false when there is none.
bool freeSpot(const QSize &size, const QList<QRect> &placed, const QSize &area, QPoint *spot)
{
    QList<int> xs{0};
    QList<int> ys{0};
    for (const QRect &other : placed) {
        xs.append(other.right() + 1);
        ys.append(other.bottom() + 1);
    }
    bool found = false;
    for (const int y : std::as_const(ys)) {
        for (const int x : std::as_const(xs)) {
            const QRect place(QPoint(x, y), size);
            if (place.right() >= area.width() || place.bottom() >= area.height())
                continue;
            if (std::any_of(placed.cbegin(), placed.cend(),
                            [&place](const QRect &other) { return other.intersects(place); }))
                continue;
            if (!found || y < spot->y() || (y == spot->y() && x < spot->x()))
                *spot = QPoint(x, y);
            found = true;
        }
    }
    return found;
}

// A place inside the area that leaves the title bar of every placed window
// whole in sight, overlapping the placed windows as little as it can, then
// as high and as far left as it goes; false when there is none.
bool clearOfTitleBars(const QSize &size, const QList<QRect> &placed, const QSize &area, int titleHeight,
                      QPoint *spot)
{
    QList<int> xs{0, area.width() - size.width()};
    QList<int> ys{0, area.height() - size.height()};
    for (const QRect &other : placed) {
        xs << other.left() << other.right() + 1 << other.right() + 1 - size.width()
           << other.left() - size.width();
        ys << other.top() + titleHeight << other.bottom() + 1 << other.top() - size.height();
    }
    bool found = false;
    qint64 least = 0;
    for (const int y : std::as_const(ys)) {
        for (const int x : std::as_const(xs)) {
            const QRect place(QPoint(x, y), size);
            if (x < 0 || y < 0 || place.right() >= area.width() || place.bottom() >= area.height())
                continue;
            if (std::any_of(placed.cbegin(), placed.cend(), [&](const QRect &other) {
                    return place.intersects(titleBar(other, titleHeight));
                }))
                continue;
            const qint64 overlap = overlapOf(place, placed);
            const bool better = !found || overlap < least ||
                                (overlap == least && (y < spot->y() || (y == spot->y() && x < spot->x())));
            if (better) {
                *spot = QPoint(x, y);
                least = overlap;
                found = true;
            }
        }
    }
    return found;
}

} // namespace

MdiArea::Tiling MdiArea::tiled(const QList<QSize> &sizes, const QList<QSize> &minimums, const QSize &area,
                               int titleHeight)
{
    Tiling tiling;
    tiling.geometries = QList<QRect>(sizes.size());
    const auto fitsArea = [&area](const QSize &size) {
        return size.width() <= area.width() && size.height() <= area.height();
    };
    const auto smallest = [&](int i) { return minimums.at(i).boundedTo(sizes.at(i)); };
    // Own size first, then as large as the area, then as small as it goes.
    const auto sizesToTry = [&](int i) {
        const QSize own = sizes.at(i);
        return QList<QSize>{own, own.boundedTo(area).expandedTo(smallest(i)), smallest(i)};
    };
    QList<QRect> placed;
    const auto place = [&](int i, const QRect &geometry) {
        tiling.geometries[i] = geometry;
        placed.append(geometry);
        tiling.stacking.append(i);
    };
    // Laid over the others, clear of their title bars where it can be.
    const auto placeOver = [&](int i) {
        const QSize size = keptInside(QRect(QPoint(), sizes.at(i)), minimums.at(i), area).size();
        QPoint spot;
        if (!clearOfTitleBars(size, placed, area, titleHeight, &spot))
            spot = freePlace(size, placed, area, titleHeight);
        place(i, keptInside(QRect(spot, size), size, area));
    };

    // A window larger than the area even at its smallest starts at its top
    // left, under the others, which leave the rest of its title bar in sight.
    for (int i = 0; i < sizes.size(); ++i) {
        if (!fitsArea(smallest(i)))
            place(i, keptInside(QRect(QPoint(), sizes.at(i)), minimums.at(i), area));
    }
    QList<int> order;
    for (int i = 0; i < sizes.size(); ++i) {
        if (!tiling.stacking.contains(i))
            order.append(i);
    }
    std::stable_sort(order.begin(), order.end(), [&sizes](int a, int b) {
        return qint64(sizes.at(a).width()) * sizes.at(a).height() >
               qint64(sizes.at(b).width()) * sizes.at(b).height();
    });
    QList<QRect> packed;
    QList<int> over;
    for (const int i : std::as_const(order)) {
        bool fitted = false;
        for (const QSize &size : sizesToTry(i)) {
            QPoint spot;
            if (fitsArea(size) && freeSpot(size, packed, area, &spot)) {
                packed.append(QRect(spot, size));
                place(i, packed.last());
                fitted = true;
                break;
            }
        }
        if (!fitted)
            over.append(i);
    }
    // The tallest first: each leaves a title bar the later ones keep clear of.
    std::stable_sort(over.begin(), over.end(),
                     [&sizes](int a, int b) { return sizes.at(a).height() > sizes.at(b).height(); });
    for (const int i : std::as_const(over))
        placeOver(i);
    return tiling;
}

namespace {

// The smallest size a window can be given: a device window's fixed size, or
// what its content needs.
QSize minimumOf(const QMdiSubWindow *window)
{
    return window->minimumSizeHint().expandedTo(window->minimumSize()).boundedTo(window->size());
}

} // namespace

QSize MdiArea::roomInSight() const
{
    // The area shows or hides its scroll bars only once back in the event
    // loop: a window larger than the room it leaves brings one that is not
    // there yet.
    QSize room = viewport()->size();
    bool vertical = verticalScrollBar()->isVisible();
    bool horizontal = horizontalScrollBar()->isVisible();
    for (int pass = 0; pass < 2; ++pass) {
        for (const QMdiSubWindow *window : subWindowList()) {
            if (window->isHidden() || window->isMinimized())
                continue;
            const QSize smallest = minimumOf(window);
            if (!vertical && smallest.height() > room.height()) {
                vertical = true;
                room.rwidth() -= verticalScrollBar()->sizeHint().width();
            }
            if (!horizontal && smallest.width() > room.width()) {
                horizontal = true;
                room.rheight() -= horizontalScrollBar()->sizeHint().height();
            }
        }
    }
    return room;
}

void MdiArea::tileSideBySide()
{
    QList<QMdiSubWindow *> windows;
    QList<QSize> sizes;
    QList<QSize> minimums;
    for (QMdiSubWindow *window : subWindowList()) {
        if (!window->isVisible() || window->isMinimized())
            continue;
        if (window->isMaximized())
            window->showNormal();
        windows.append(window);
        sizes.append(window->size());
        minimums.append(minimumOf(window));
    }
    if (windows.isEmpty())
        return;
    // Tiled from the area's origin, so that no scroll range is left over.
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    const int titleHeight =
        windows.first()->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows.first());
    // In the stacking of the tiling, which keeps the title bars in sight,
    // even if that puts the active window under others.
    const Tiling tiling = tiled(sizes, minimums, roomInSight(), titleHeight);
    for (const int i : tiling.stacking) {
        windows.at(i)->setGeometry(tiling.geometries.at(i));
        windows.at(i)->raise();
    }
}

void MdiArea::bringIntoView(QMdiSubWindow *window)
{
    if (!window || !window->isVisible() || window->isMinimized() || window->isMaximized())
        return;
    const QRect inside = keptInside(window->geometry(), minimumOf(window), roomInSight());
    if (inside != window->geometry())
        window->setGeometry(inside);
}

void MdiArea::updateScrollRange()
{
    const QList<QMdiSubWindow *> windows = subWindowList();
    // With nothing left in sight the view goes back to the area's origin,
    // which the scroll range always includes.
    if (std::all_of(windows.cbegin(), windows.cend(), [](QMdiSubWindow *w) { return w->isHidden(); })) {
        horizontalScrollBar()->setValue(0);
        verticalScrollBar()->setValue(0);
    }
    // The area sets its scroll range only when it or a window moves or
    // resizes, not when a window is hidden.
    QResizeEvent same(viewport()->size(), viewport()->size());
    QMdiArea::resizeEvent(&same);
}

bool MdiArea::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ChildAdded) {
        if (auto *window = qobject_cast<QMdiSubWindow *>(static_cast<QChildEvent *>(event)->child())) {
            window->setProperty(JoinedAt, window->pos());
            window->installEventFilter(this);
        }
    }
    return QMdiArea::viewportEvent(event);
}

bool MdiArea::eventFilter(QObject *watched, QEvent *event)
{
    auto *window = qobject_cast<QMdiSubWindow *>(watched);
    // Only a window shown or hidden itself: not one that comes and goes
    // with the main window, where the user may have left it half outside.
    const bool shown = window && event->type() == QEvent::Show && !event->spontaneous();
    const bool hidden = window && event->type() == QEvent::Hide && window->isHidden();
    if (shown) {
        placeOnFirstShow(window);
        bringIntoView(window);
    }
    const bool handled = QMdiArea::eventFilter(watched, event);
    if (shown || hidden)
        updateScrollRange();
    return handled;
}

void MdiArea::placeOnFirstShow(QMdiSubWindow *window)
{
    const QVariant joinedAt = window->property(JoinedAt);
    if (!joinedAt.isValid())
        return;
    window->setProperty(JoinedAt, QVariant());
    if (window->pos() != joinedAt.toPoint() || window->isMaximized())
        return;
    QList<QRect> shown;
    for (QMdiSubWindow *other : subWindowList()) {
        if (other != window && other->isVisible() && !other->isMinimized())
            shown.append(other->geometry());
    }
    const int titleHeight = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    // Clear of every title bar where there is such a place, else leaving at
    // least a part of each in sight.
    QPoint spot;
    const QSize room = roomInSight();
    if (!clearOfTitleBars(window->size(), shown, room, titleHeight, &spot))
        spot = freePlace(window->size(), shown, room, titleHeight);
    window->move(spot);
}
