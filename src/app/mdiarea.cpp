#include "app/mdiarea.h"

#include <QChildEvent>
#include <QMdiSubWindow>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <limits>
#include <numeric>

namespace {

// The position a window had when it joined the area; it is placed on its
// first show only if nobody (a restored window state) moved it since.
const char *const JoinedAt = "hqlJoinedAt";

QRect titleBar(const QRect &window, int titleHeight)
{
    return QRect(window.topLeft(), QSize(window.width(), qMin(titleHeight, window.height())));
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
        qint64 overlap = 0;
        bool coversTitle = false;
        for (const QRect &other : shown) {
            coversTitle = coversTitle || place.contains(titleBar(other, titleHeight));
            const QRect common = place.intersected(other);
            overlap += qint64(common.width()) * common.height();
        }
        if (!coversTitle && overlap < bestOverlap) {
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

QList<QPoint> MdiArea::tiledPlaces(const QList<QSize> &sizes, int width)
{
    QList<int> order(sizes.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&sizes](int a, int b) {
        return qint64(sizes.at(a).width()) * sizes.at(a).height() >
               qint64(sizes.at(b).width()) * sizes.at(b).height();
    });
    QList<QPoint> places(sizes.size());
    QList<QRect> placed;
    int bottom = 0;
    for (const int i : std::as_const(order)) {
        const QSize size = sizes.at(i);
        QList<QPoint> candidates{QPoint(0, 0), QPoint(0, bottom)};
        for (const QRect &other : std::as_const(placed)) {
            candidates.append(QPoint(other.right() + 1, other.top()));
            candidates.append(QPoint(other.left(), other.bottom() + 1));
        }
        QPoint best(0, bottom);
        for (const QPoint &at : std::as_const(candidates)) {
            const QRect place(at, size);
            if (at.x() > 0 && place.right() >= width)
                continue;
            const bool free = std::none_of(placed.cbegin(), placed.cend(),
                                           [&place](const QRect &other) { return other.intersects(place); });
            if (free && (at.y() < best.y() || (at.y() == best.y() && at.x() < best.x())))
                best = at;
        }
        places[i] = best;
        placed.append(QRect(best, size));
        bottom = qMax(bottom, placed.last().bottom() + 1);
    }
    return places;
}

void MdiArea::tileSideBySide()
{
    QList<QMdiSubWindow *> windows;
    QList<QSize> sizes;
    for (QMdiSubWindow *window : subWindowList()) {
        if (!window->isVisible() || window->isMinimized())
            continue;
        if (window->isMaximized())
            window->showNormal();
        windows.append(window);
        sizes.append(window->size());
    }
    const QList<QPoint> places = tiledPlaces(sizes, viewport()->width());
    for (int i = 0; i < windows.size(); ++i)
        windows.at(i)->move(places.at(i));
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
    if (event->type() == QEvent::Show) {
        if (auto *window = qobject_cast<QMdiSubWindow *>(watched))
            placeOnFirstShow(window);
    }
    return QMdiArea::eventFilter(watched, event);
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
    window->move(freePlace(window->size(), shown, viewport()->size(), titleHeight));
}
