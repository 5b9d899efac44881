#pragma once

#include <QList>
#include <QMdiArea>
#include <QPoint>
#include <QRect>

class QMdiSubWindow;

// MDI area that paints the chip name across its empty background and gives
// each window a place of its own the first time it is shown.
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

    // Places for windows of the given sizes side by side without overlap,
    // the largest first, each as high and then as far left as it goes within
    // the width; whatever does not fit below is reached by scrolling.
    static QList<QPoint> tiledPlaces(const QList<QSize> &sizes, int width);

public slots:
    // The device windows have fixed sizes and cannot shrink into a grid, so
    // tiling sets the shown windows side by side at their own sizes.
    void tileSideBySide();

protected:
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeOnFirstShow(QMdiSubWindow *window);
};
