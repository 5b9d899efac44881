#pragma once

#include <QMdiArea>
#include <QPoint>

// MDI area that paints the chip name across its empty background.
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

protected:
    void paintEvent(QPaintEvent *event) override;
};
