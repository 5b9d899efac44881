#include "controls/slider.h"

#include <QSignalSpy>
#include <QTest>

using CustomControls::Slider;

class tst_Slider : public QObject
{
    Q_OBJECT

private slots:
    void repeatedValueNotEmitted();
    void refusedMoveComesBack();
    void readOnly();
};

// Every valueChanged reaches the applet as a write, so showing the same
// model value again must stay silent.
void tst_Slider::repeatedValueNotEmitted()
{
    Slider slider;
    slider.setRange(0, 100);
    QSignalSpy changed(&slider, &Slider::valueChanged);
    slider.setValue(50.0);
    QCOMPARE(changed.count(), 1);
    slider.setValue(50.7);
    slider.setValue(50.0);
    QCOMPARE(changed.count(), 1);
    slider.setValue(60.0);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(slider.value(), 60.0);
    // A value beyond the form's range is held by the slider, and not re-sent.
    slider.setValue(150.0);
    QCOMPARE(slider.value(), 100.0);
    slider.setValue(150.0);
    QCOMPARE(changed.count(), 3);
}

// The user moves to a value the model refuses; the model's value, shown
// again, must bring the handle back.
void tst_Slider::refusedMoveComesBack()
{
    Slider slider;
    slider.setRange(0, 100);
    slider.setValue(50.0);
    QTest::keyClick(&slider, Qt::Key_End);
    QCOMPARE(slider.value(), 100.0);
    slider.setValue(50.0);
    QCOMPARE(slider.value(), 50.0);
}

void tst_Slider::readOnly()
{
    Slider slider;
    slider.setOrientation(Qt::Horizontal);
    slider.setRange(0, 100);
    slider.resize(200, 30);
    slider.setValue(50.0);
    slider.setWritable(false);
    QVERIFY(!slider.isWritable());
    QSignalSpy changed(&slider, &Slider::valueChanged);
    QTest::mouseClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(190, 15));
    QTest::keyClick(&slider, Qt::Key_End);
    QCOMPARE(changed.count(), 0);
    // The model still shows through.
    slider.setValue(20.0);
    QCOMPARE(slider.value(), 20.0);

    slider.setWritable(true);
    QTest::mouseClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(190, 15));
    QVERIFY(slider.value() > 20.0);
}

QTEST_MAIN(tst_Slider)
#include "tst_slider.moc"
