#include "controls/combobox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>

using CustomControls::ComboBox;

namespace {

void fill(ComboBox &box)
{
    box.addItems({"0: off", "1: slow", "2: fast"});
}

} // namespace

class tst_ComboBox : public QObject
{
    Q_OBJECT

private slots:
    void setValue_data();
    void setValue();
    void returnCommits_data();
    void returnCommits();
    void choosingCommits();
    void editState();
    void readOnly();
    void byteValue();
    void popupAfterMove_data();
    void popupAfterMove();
};

void tst_ComboBox::setValue_data()
{
    QTest::addColumn<double>("code");
    QTest::addColumn<int>("index");

    QTest::newRow("first") << 0.0 << 0;
    QTest::newRow("last") << 2.0 << 2;
    QTest::newRow("truncated") << 1.9 << 1;
    QTest::newRow("beyond the items") << 3.0 << -1;
    QTest::newRow("negative") << -1.0 << -1;
}

void tst_ComboBox::setValue()
{
    QFETCH(double, code);
    QFETCH(int, index);

    ComboBox box;
    fill(box);
    box.setCurrentIndex(1);
    QSignalSpy activated(&box, &ComboBox::signal_activated);
    box.setValue(code);
    QCOMPARE(box.currentIndex(), index);
    QCOMPARE(box.value(), double(index));
    QCOMPARE(activated.count(), 0);
}

void tst_ComboBox::returnCommits_data()
{
    QTest::addColumn<bool>("editable");
    QTest::newRow("list") << false;
    QTest::newRow("editable") << true;
}

// Return commits what is shown, even when nothing changed.
void tst_ComboBox::returnCommits()
{
    QFETCH(bool, editable);

    ComboBox box;
    box.setEditable(editable);
    fill(box);
    box.setValue(2);
    QSignalSpy activated(&box, &ComboBox::signal_activated);
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(box.value(), 2.0);
    QCOMPARE(box.count(), 3);
}

void tst_ComboBox::choosingCommits()
{
    ComboBox box;
    fill(box);
    box.setValue(0);
    QSignalSpy activated(&box, &ComboBox::signal_activated);
    QTest::keyClick(&box, Qt::Key_Down);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(box.value(), 1.0);
}

void tst_ComboBox::editState()
{
    ComboBox box;
    box.setEditable(true);
    fill(box);
    box.setValue(0);
    QCOMPARE(box.styleSheet(), QString());
    QTest::keyClicks(&box, "x");
    QCOMPARE(box.styleSheet(), QString("color:blue;"));
    box.value();
    QCOMPARE(box.styleSheet(), QString());
    QTest::keyClicks(&box, "y");
    box.setValue(1);
    QCOMPARE(box.styleSheet(), QString());
}

void tst_ComboBox::readOnly()
{
    ComboBox box;
    fill(box);
    box.resize(120, 30);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.setValue(0);
    box.setWritable(false);
    QVERIFY(!box.isWritable());
    QSignalSpy activated(&box, &ComboBox::signal_activated);
    QTest::mouseClick(&box, Qt::LeftButton);
    QVERIFY(!box.view()->isVisible());
    QTest::keyClick(&box, Qt::Key_Down);
    const QPointF pos(60, 15);
    QWheelEvent wheel(pos, box.mapToGlobal(pos), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&box, &wheel);
    QCOMPARE(box.value(), 0.0);
    QCOMPARE(activated.count(), 0);
    box.setValue(2);
    QCOMPARE(box.value(), 2.0);
}

void tst_ComboBox::byteValue()
{
    ComboBox box;
    box.setEditable(true);
    box.setByteValue(QByteArray("abc\0def", 7));
    QCOMPARE(box.currentText(), QString("abc"));
    QCOMPARE(box.byteValue(), QByteArray("abc"));
    QCOMPARE(box.styleSheet(), QString());
}

// A box moved into a tab before it was ever shown, or restyled after, opens
// the same popup as a plain one in the same place.
void tst_ComboBox::popupAfterMove_data()
{
    QTest::addColumn<bool>("restyleAfterShow");
    QTest::newRow("moved before shown") << false;
    QTest::newRow("restyled after shown") << true;
}

void tst_ComboBox::popupAfterMove()
{
    QFETCH(bool, restyleAfterShow);
    const QString oldSheet = qApp->styleSheet();
    qApp->setStyleSheet("QLineEdit[readOnly=\"true\"] { background-color: lightyellow }");
    QTabWidget tabs;
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    auto *box = new ComboBox(page);
    auto *plain = new QComboBox(page);
    layout->addWidget(box);
    layout->addWidget(plain);
    for (QComboBox *each : {static_cast<QComboBox *>(box), plain})
        each->addItems({"0: off", "1: slow", "2: fast"});
    tabs.addTab(page, "page");
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    if (restyleAfterShow)
        qApp->setStyleSheet("QComboBox { padding: 7px; color: darkblue }");
    QCOMPARE(box->sizeHint(), plain->sizeHint());
    QCOMPARE(box->itemDelegate()->metaObject()->className(),
             plain->itemDelegate()->metaObject()->className());
    box->showPopup();
    QTRY_VERIFY(box->view()->isVisible());
    QSignalSpy activated(box, &ComboBox::signal_activated);
    QTest::keyClick(box->view(), Qt::Key_Down);
    QTest::keyClick(box->view(), Qt::Key_Return);
    QTRY_COMPARE(activated.count(), 1);
    QCOMPARE(box->value(), 1.0);
    qApp->setStyleSheet(oldSheet);
}

QTEST_MAIN(tst_ComboBox)
#include "tst_combobox.moc"
