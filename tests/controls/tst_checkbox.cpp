#include "controls/checkbox.h"

#include <QSignalSpy>
#include <QTest>

using CustomControls::CheckBox;

class tst_CheckBox : public QObject
{
    Q_OBJECT

private slots:
    void setValue_data();
    void setValue();
    void click();
    void readOnly();
    void doubleClick();
};

void tst_CheckBox::setValue_data()
{
    QTest::addColumn<double>("model");
    QTest::addColumn<double>("value");

    QTest::newRow("zero") << 0.0 << 0.0;
    QTest::newRow("one") << 1.0 << 1.0;
    QTest::newRow("two") << 2.0 << 1.0;
    QTest::newRow("negative") << -1.0 << 1.0;
    QTest::newRow("fraction") << 0.5 << 1.0;
}

// Showing a model value fires toggled (window slots rely on it) but never
// clicked, which would write the value back.
void tst_CheckBox::setValue()
{
    QFETCH(double, model);
    QFETCH(double, value);

    CheckBox box;
    box.setChecked(value == 0);
    QSignalSpy clicked(&box, &CheckBox::clicked);
    QSignalSpy toggled(&box, &CheckBox::toggled);
    box.setValue(model);
    QCOMPARE(box.value(), value);
    QCOMPARE(box.isChecked(), value != 0);
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(clicked.count(), 0);
}

void tst_CheckBox::click()
{
    CheckBox box;
    box.setText("EN");
    box.adjustSize();
    QSignalSpy clicked(&box, &CheckBox::clicked);
    QTest::mouseClick(&box, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(box.value(), 1.0);
}

void tst_CheckBox::readOnly()
{
    CheckBox box;
    box.setText("SR0[4]");
    box.adjustSize();
    box.setWritable(false);
    QVERIFY(!box.isWritable());
    QSignalSpy clicked(&box, &CheckBox::clicked);
    QTest::mouseClick(&box, Qt::LeftButton);
    QTest::mouseDClick(&box, Qt::LeftButton);
    QTest::keyClick(&box, Qt::Key_Space);
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(box.value(), 0.0);
    // Every new model value still shows.
    box.setValue(1);
    QCOMPARE(box.value(), 1.0);
    box.setValue(0);
    QCOMPARE(box.value(), 0.0);
}

void tst_CheckBox::doubleClick()
{
    CheckBox box;
    box.setText("EN");
    box.adjustSize();
    QSignalSpy doubled(&box, &CheckBox::doubleClick);
    QTest::mouseDClick(&box, Qt::LeftButton);
    QCOMPARE(doubled.count(), 1);
}

QTEST_MAIN(tst_CheckBox)
#include "tst_checkbox.moc"
