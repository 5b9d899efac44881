#include "controls/htmllistbox.h"
#include "controls/htmltextitemdelegate.h"

#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>

using CustomControls::HtmlListBox;

namespace {

// Whether any pixel of the rows from y0 to y1 (exclusive) is mostly red.
bool hasRed(const QImage &image, int y0, int y1)
{
    for (int y = qMax(0, y0); y < qMin(image.height(), y1); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 90 && c.blue() < 90)
                return true;
        }
    }
    return false;
}

} // namespace

class tst_HtmlListBox : public QObject
{
    Q_OBJECT

private slots:
    void newListHoldsOneEmptyRow();
    void addItemAppends_data();
    void addItemAppends();
    void clearLeavesNoRows();
    void itemAccess();
    void currentRow();
    void rowsAreFixedSize();
    void resizeSetsItemWidth_data();
    void resizeSetsItemWidth();
    void resizeKeepsLastRowReachable();
    void paintsMarkupClippedToRow();
    void rowsCannotBeEdited();
};

void tst_HtmlListBox::newListHoldsOneEmptyRow()
{
    HtmlListBox list;
    QCOMPARE(list.count(), 1);
    QCOMPARE(list.itemText(0), QString());
    QCOMPARE(list.htmlDelegate()->itemHeight, 20);
    QCOMPARE(list.htmlDelegate()->itemWidth, list.width() / 2 - 10);
    QCOMPARE(list.itemModel()->columnCount(), 1);
}

void tst_HtmlListBox::addItemAppends_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("empty") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("three") << 3;
}

void tst_HtmlListBox::addItemAppends()
{
    QFETCH(int, rows);
    HtmlListBox list(rows, nullptr);
    QCOMPARE(list.count(), rows);
    list.addItem("<b>new</b>");
    QCOMPARE(list.count(), rows + 1);
    QCOMPARE(list.itemText(rows), QString("<b>new</b>"));
}

void tst_HtmlListBox::clearLeavesNoRows()
{
    HtmlListBox list;
    list.addItem("a");
    list.clear();
    QCOMPARE(list.count(), 0);
    QCOMPARE(list.itemModel()->columnCount(), 1);
    list.addItem("b");
    QCOMPARE(list.count(), 1);
    QCOMPARE(list.itemText(0), QString("b"));
}

void tst_HtmlListBox::itemAccess()
{
    HtmlListBox list;
    list.setItems({"a", "<i>b</i>", "c"});
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.itemText(1), QString("<i>b</i>"));
    list.setItemText(2, "z");
    QCOMPARE(list.itemText(2), QString("z"));

    // Rows that are not there and data that is not text read as empty.
    list.setItemText(7, "ignored");
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.itemText(-1), QString());
    QCOMPARE(list.itemText(3), QString());
    list.itemModel()->setData(list.itemModel()->index(0, 0), 42, Qt::EditRole);
    QCOMPARE(list.itemText(0), QString());
}

void tst_HtmlListBox::currentRow()
{
    HtmlListBox list(3, nullptr);
    QCOMPARE(list.currentRow(), -1);
    list.setCurrentRow(2);
    QCOMPARE(list.currentRow(), 2);
    list.setCurrentRow(5);
    QCOMPARE(list.currentRow(), -1);
}

void tst_HtmlListBox::rowsAreFixedSize()
{
    HtmlListBox list(0, nullptr);
    list.addItem("short");
    list.addItem("a<br>long<br>entry<br>of<br>many<br>lines " + QString(300, 'x'));
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    for (int row = 0; row < 2; ++row) {
        const QRect rect = list.visualRect(list.itemModel()->index(row, 0));
        QCOMPARE(rect.height(), 20);
        QCOMPARE(rect.top(), row * 20);
    }
}

void tst_HtmlListBox::resizeSetsItemWidth_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("itemWidth");
    QTest::newRow("400") << 400 << 190;
    QTest::newRow("odd width rounds down") << 401 << 190;
    QTest::newRow("wide") << 1000 << 490;
}

void tst_HtmlListBox::resizeSetsItemWidth()
{
    QFETCH(int, width);
    QFETCH(int, itemWidth);
    HtmlListBox list;
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.resize(width, 150);
    QTRY_COMPARE(list.htmlDelegate()->itemWidth, itemWidth);
    QCOMPARE(list.htmlDelegate()->itemHeight, 20);
}

void tst_HtmlListBox::resizeKeepsLastRowReachable()
{
    HtmlListBox list(0, nullptr);
    for (int i = 0; i < 100; ++i)
        list.addItem(QString::number(i));
    list.resize(300, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.resize(300, 150);
    QTRY_COMPARE(list.height(), 150);
    list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
    const QRect last = list.visualRect(list.itemModel()->index(99, 0));
    QVERIFY2(list.viewport()->rect().contains(last), "the last row must be reachable after the list shrank");
}

void tst_HtmlListBox::paintsMarkupClippedToRow()
{
    HtmlListBox list(0, nullptr);
    list.addItem("<font color=\"red\">RRRR<br>RRRR<br>RRRR<br>RRRR</font>");
    list.addItem("<font color=\"black\">plain</font>");
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    const QImage image = list.viewport()->grab().toImage();
    QVERIFY2(hasRed(image, 0, 20), "the markup of the first row shows as red text");
    QVERIFY2(!hasRed(image, 20, image.height()), "the first row's text stays inside its 20 pixels");
}

void tst_HtmlListBox::rowsCannotBeEdited()
{
    HtmlListBox list(0, nullptr);
    list.addItem("<b>entry</b>");
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    const QRect rect = list.visualRect(list.itemModel()->index(0, 0));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, rect.center());
    QTest::keyClick(list.viewport(), Qt::Key_F2);
    QCOMPARE(list.findChild<QLineEdit *>(), nullptr);
    QCOMPARE(list.itemText(0), QString("<b>entry</b>"));
}

QTEST_MAIN(tst_HtmlListBox)
#include "tst_htmllistbox.moc"
