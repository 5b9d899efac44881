#include "app/mdiarea.h"

#include <QPainter>

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
