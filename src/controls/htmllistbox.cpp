#include "controls/htmllistbox.h"

#include "controls/htmltextitemdelegate.h"

#include <QResizeEvent>
#include <QStandardItem>
#include <QStandardItemModel>

namespace CustomControls {

HtmlListBox::HtmlListBox(QWidget *parent) : HtmlListBox(1, parent) {}

HtmlListBox::HtmlListBox(int rows, QWidget *parent)
    : QListView(parent), m_model(new QStandardItemModel(qMax(rows, 0), 1, this)),
      m_delegate(new HtmlTextItemDelegate(this))
{
    m_delegate->itemWidth = width() / 2 - 10;
    m_delegate->itemHeight = 20;
    setItemDelegate(m_delegate);
    setModel(m_model);
}

void HtmlListBox::addItem(const QString &html)
{
    auto *item = new QStandardItem;
    item->setData(html, Qt::EditRole);
    m_model->appendRow(item);
}

void HtmlListBox::clear()
{
    m_model->clear();
    m_model->setColumnCount(1);
}

int HtmlListBox::count() const
{
    return m_model->rowCount();
}

QString HtmlListBox::itemText(int row) const
{
    const QVariant data = m_model->data(m_model->index(row, 0), Qt::DisplayRole);
    if (data.metaType().id() != QMetaType::QString)
        return QString();
    return data.toString();
}

int HtmlListBox::currentRow() const
{
    const QModelIndex index = currentIndex();
    return index.isValid() ? index.row() : -1;
}

void HtmlListBox::setCurrentRow(int row)
{
    setCurrentIndex(m_model->index(row, 0));
}

void HtmlListBox::setItemText(int row, const QString &html)
{
    const QModelIndex index = m_model->index(row, 0);
    if (index.isValid())
        m_model->setData(index, html, Qt::EditRole);
}

void HtmlListBox::setItems(const QStringList &items)
{
    m_model->setRowCount(int(items.size()));
    for (int row = 0; row < items.size(); ++row)
        m_model->setData(m_model->index(row, 0), items.at(row), Qt::EditRole);
}

void HtmlListBox::setItemSize(int width, int height)
{
    m_delegate->itemWidth = width;
    m_delegate->itemHeight = height;
}

void HtmlListBox::resizeEvent(QResizeEvent *event)
{
    m_delegate->itemWidth = width() / 2 - 10;
    // The view's own handling recomputes the scroll range; without it the
    // last rows of a list that shrank could not be scrolled to.
    QListView::resizeEvent(event);
}

} // namespace CustomControls
