#pragma once

#include <QStyledItemDelegate>

namespace CustomControls {

// Paints each row's text as rich text on a row of one fixed size, so the
// markup of an entry shows as formatting while the selection still comes
// from the style.
class HtmlTextItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit HtmlTextItemDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // Rows hold markup, not text to type over: no editor.
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;

    int itemWidth = 0;
    int itemHeight = 20;
};

} // namespace CustomControls
