#pragma once

#include <QListView>
#include <QString>
#include <QStringList>

class QStandardItemModel;

namespace CustomControls {

class HtmlTextItemDelegate;

// A one-column list whose rows are HTML fragments drawn as rich text on
// rows of one fixed height (the log window's list).
class HtmlListBox : public QListView
{
    Q_OBJECT

public:
    explicit HtmlListBox(QWidget *parent = nullptr);
    HtmlListBox(int rows, QWidget *parent = nullptr);

    void addItem(const QString &html);
    void clear();
    int count() const;
    QString itemText(int row) const;
    int currentRow() const;
    void setCurrentRow(int row);
    void setItemText(int row, const QString &html);
    void setItems(const QStringList &items);
    void setItemSize(int width, int height);

    QStandardItemModel *itemModel() const { return m_model; }
    HtmlTextItemDelegate *htmlDelegate() const { return m_delegate; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QStandardItemModel *m_model;
    HtmlTextItemDelegate *m_delegate;
};

} // namespace CustomControls
