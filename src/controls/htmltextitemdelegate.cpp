#include "controls/htmltextitemdelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextDocument>

namespace CustomControls {

HtmlTextItemDelegate::HtmlTextItemDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

void HtmlTextItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);

    painter->save();
    QTextDocument document;
    document.setDefaultFont(opt.font);
    document.setHtml(opt.text);
    opt.text.clear();

    // The style draws background, selection and focus; the document only the text.
    QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    painter->translate(opt.rect.topLeft());
    document.drawContents(painter, QRectF(0, 0, opt.rect.width(), opt.rect.height()));
    painter->restore();
}

QSize HtmlTextItemDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(itemWidth, itemHeight);
}

QWidget *HtmlTextItemDelegate::createEditor(QWidget *, const QStyleOptionViewItem &,
                                            const QModelIndex &) const
{
    return nullptr;
}

} // namespace CustomControls
