#pragma once

#include <QList>
#include <QMdiArea>
#include <QPoint>
#include <QRect>

class QMdiSubWindow;

// MDI area that paints the chip name across its empty background, gives
// each window a place of its own the first time it is shown and keeps the
// windows it shows, opens or arranges inside what can be seen of it.
class MdiArea : public QMdiArea
{
    Q_OBJECT

public:
    explicit MdiArea(QWidget *parent = nullptr);

    struct ChipNameLayout
    {
        int pixelSize;
        QPoint baseline;
    };
    static ChipNameLayout chipNameLayout(const QSize &viewport);

    // Where a window of the given size goes among the shown ones: a place
    // where it covers no other window's title bar, inside the area where it
    // fits, overlapping the others as little as it can; a cascade step from
    // the top left when every place would cover one. titleHeight is the
    // height of a window's title bar, which is also the cascade step.
    static QPoint freePlace(const QSize &size, const QList<QRect> &shown, const QSize &area, int titleHeight);

    // The geometry a window gets to lie inside the area: moved just enough,
    // and a window that can shrink (minimum smaller than its size) made no
    // larger than the area. A window larger than the area even at its
    // minimum starts at the area's top left.
    static QRect keptInside(const QRect &window, const QSize &minimum, const QSize &area);

    struct Tiling
    {
        // One per window, in the order given.
        QList<QRect> geometries;
        // The windows' indexes from bottom to top: any larger than the
        // area, those side by side, then those laid over them.
        QList<int> stacking;
    };
    // Tiles windows of the given sizes and minimum sizes into the area. As
    // many as fit go side by side without overlap, the largest first, each
    // at its own size, else as large as the area, else at its minimum size,
    // as high and then as far left as it goes. The rest are laid over them,
    // the tallest first, each where it leaves the title bars of those below
    // it whole and covers as little of them as it can; where no such place
    // is left, at the freePlace of its size. Every window lies inside the
    // area unless it is larger even at its minimum size; such a window
    // starts at the top left, under the others.
    static Tiling tiled(const QList<QSize> &sizes, const QList<QSize> &minimums, const QSize &area,
                        int titleHeight);

    // Moves (and where it can, shrinks) a shown window into the visible area.
    void bringIntoView(QMdiSubWindow *window);

public slots:
    void tileSideBySide();

protected:
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeOnFirstShow(QMdiSubWindow *window);
    // What can be seen of the area once it shows the scroll bars that the
    // shown windows larger than it need.
    QSize roomInSight() const;
    void updateScrollRange();
};
