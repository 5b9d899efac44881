#include "controls/switch.h"

#include <QSignalSpy>
#include <QTest>

using CustomControls::Switch;

class tst_Switch : public QObject
{
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void emptyOptionsKeepState();
    void setValue();
    void click();
    void properties();
};

void tst_Switch::options_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("angle");
    QTest::addColumn<bool>("mirrorX");
    QTest::addColumn<bool>("mirrorY");

    QTest::newRow("keys") << "type=[*],angle=90" << 6 << 90.0 << false << false;
    QTest::newRow("short") << "[*],90" << 6 << 90.0 << false << false;
    // Each short field runs to the end, so with a third one the angle is no number.
    QTest::newRow("short mirrored") << "[*],90,1" << 6 << 0.0 << true << false;
    QTest::newRow("short type only") << "[/-2]" << 1 << 0.0 << false << false;
    QTest::newRow("caption only") << "ON_OFF" << -1 << 0.0 << false << false;
    QTest::newRow("unknown type") << "type=[?],angle=45" << -1 << 45.0 << false << false;
    QTest::newRow("spaces and flags")
        << " type = [RED-GREEN] , mirrorY = TRUE, mirrorX=0" << 9 << 0.0 << false << true;
    QTest::newRow("flag true any case") << "type=[x],mirrorX=true" << 4 << 0.0 << true << false;
    QTest::newRow("flag digits") << "type=[R],mirrorX=2,mirrorY=00" << 7 << 0.0 << true << false;
    QTest::newRow("flag other word") << "type=[RED],mirrorX=yes" << 8 << 0.0 << false << false;
    QTest::newRow("item without value") << "type=[GREEN],angle,angle=180=1" << 9 << 0.0 << false << false;
    QTest::newRow("four-way") << "type=[/-4],angle=-90" << 3 << -90.0 << false << false;
}

void tst_Switch::options()
{
    QFETCH(QString, options);
    QFETCH(int, type);
    QFETCH(double, angle);
    QFETCH(bool, mirrorX);
    QFETCH(bool, mirrorY);

    Switch sw;
    sw.setText(options);
    sw.prepare();
    QCOMPARE(sw.model(), type);
    const int states = type < 0 ? 0 : Switch::imageTable().at(type).images.size();
    QCOMPARE(sw.count(), states);
    QCOMPARE(sw.angle(), angle);
    QCOMPARE(sw.mirroredX(), mirrorX);
    QCOMPARE(sw.mirroredY(), mirrorY);
    // The options are the switch's own text; binding does not replace them.
    QCOMPARE(sw.text(), options);
}

void tst_Switch::emptyOptionsKeepState()
{
    Switch sw;
    sw.setType(6);
    sw.setAngle(180);
    sw.setMirroredY(true);
    sw.prepare();
    QCOMPARE(sw.count(), 2);
    QCOMPARE(sw.angle(), 180.0);
    QVERIFY(sw.mirroredY());

    // The short form leaves mirroring in y alone.
    sw.setText("[*],90");
    sw.prepare();
    QVERIFY(sw.mirroredY());
}

void tst_Switch::setValue()
{
    Switch sw;
    sw.setType(2);
    QSignalSpy clicked(&sw, &Switch::signal_clicked);
    sw.setValue(1.9);
    QCOMPARE(sw.currentIndex(), 1);
    QCOMPARE(sw.value(), 1.0);
    sw.setValue(7);
    QCOMPARE(sw.value(), 1.0);
    QCOMPARE(clicked.count(), 0);
}

void tst_Switch::click()
{
    Switch sw;
    sw.setText("type=[*]");
    sw.prepare();
    sw.resize(32, 32);
    QSignalSpy clicked(&sw, &Switch::signal_clicked);
    QTest::mouseClick(&sw, Qt::LeftButton);
    QCOMPARE(sw.value(), 1.0);
    QCOMPARE(clicked.count(), 1);

    sw.setWritable(false);
    QVERIFY(!sw.isWritable());
    QTest::mouseClick(&sw, Qt::LeftButton);
    QCOMPARE(sw.value(), 1.0);
    QCOMPARE(clicked.count(), 1);
    sw.setValue(0);
    QCOMPARE(sw.value(), 0.0);
}

void tst_Switch::properties()
{
    Switch sw;
    QVERIFY(sw.setProperty("model", 6));
    QCOMPARE(sw.count(), 2);
    QVERIFY(sw.setProperty("currentState", 1));
    QCOMPARE(sw.property("currentState").toInt(), 1);
    QVERIFY(sw.setProperty("angle", 270.0));
    QVERIFY(sw.setProperty("mirroredX", true));
    QVERIFY(sw.setProperty("mirroredY", true));
    QCOMPARE(sw.angle(), 270.0);
    QVERIFY(sw.mirroredX() && sw.mirroredY());
    // The three-state lamp set is reached only through the property.
    Switch lamp;
    lamp.setProperty("model", 10);
    QCOMPARE(lamp.count(), 3);
}

QTEST_MAIN(tst_Switch)
#include "tst_switch.moc"
