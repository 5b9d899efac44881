#include "controls/myswitch.h"
#include "controls/switch.h"

#include <QImageReader>
#include <QPainter>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTest>

#include <algorithm>

using CustomControls::MySwitch;
using CustomControls::Switch;

namespace {

// The picture's source drawn straight at the given device pixel size over
// the background: what a sharp switch shows.
QImage reference(const QString &image, const QSize &pixels, const QColor &background)
{
    QImage out(pixels, QImage::Format_ARGB32);
    out.fill(background);
    QSvgRenderer source(image);
    QPainter painter(&out);
    source.render(&painter);
    return out;
}

int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            largest = std::max(
                {largest, qAbs(p.red() - q.red()), qAbs(p.green() - q.green()), qAbs(p.blue() - q.blue())});
        }
    }
    return largest;
}

} // namespace

class tst_MySwitch : public QObject
{
    Q_OBJECT

private slots:
    void imageTable_data();
    void imageTable();
    void picturesLoad();
    void setTypeAppends();
    void setCurrentState();
    void click_data();
    void click();
    void clickIgnored();
    void selectValue();
    void paintsOnlyThePicture_data();
    void paintsOnlyThePicture();
    void sizeHint();
};

void tst_MySwitch::imageTable_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<QStringList>("images");
    QTest::addColumn<int>("regions");

    const QString sw = ":/switches/";
    QTest::newRow("0") << 0 << "[/--]" << QStringList{sw + "img_sw_off", sw + "img_sw_on"} << 0;
    QTest::newRow("1") << 1 << "[/-2]" << QStringList{sw + "img_sw1_2_on2", sw + "img_sw1_2_on1"} << 2;
    QTest::newRow("3") << 3 << "[/-4]"
                       << QStringList{sw + "img_sw1_4_on4", sw + "img_sw1_4_on3", sw + "img_sw1_4_on2",
                                      sw + "img_sw1_4_on1"}
                       << 4;
    QTest::newRow("7") << 7 << "[R]" << QStringList{sw + "img_btn_off", sw + "img_btn_on_red"} << 0;
    QTest::newRow("9") << 9 << "[GREEN]" << QStringList{":/leds/img_led_gray", ":/leds/img_led_green"} << 0;
    QTest::newRow("10") << 10 << ""
                        << QStringList{":/leds/img_led_gray", ":/leds/img_led_green", ":/leds/img_led_red"}
                        << 0;
    QTest::newRow("11") << 11 << "" << QStringList{} << 0;
}

void tst_MySwitch::imageTable()
{
    QFETCH(int, type);
    QFETCH(QString, typeName);
    QFETCH(QStringList, images);
    QFETCH(int, regions);

    QCOMPARE(MySwitch::imageTable().size(), 12);
    const CustomControls::SwitchImageSet &set = MySwitch::imageTable().at(type);
    QCOMPARE(set.typeName, typeName);
    QCOMPARE(set.images, images);
    QCOMPARE(set.regions.size(), regions);

    MySwitch sw;
    sw.setType(type);
    QCOMPARE(sw.count(), images.size());
    for (int i = 0; i < images.size(); ++i) {
        QCOMPARE(sw.state(i).value, i);
        QCOMPARE(sw.state(i).image, images.at(i));
        QCOMPARE(sw.state(i).region.isNull(), i >= regions);
    }
}

// Click regions are in picture pixels, so every picture must load at the size
// its regions were drawn for.
void tst_MySwitch::picturesLoad()
{
    for (const CustomControls::SwitchImageSet &set : MySwitch::imageTable()) {
        for (const QString &image : set.images) {
            const QPixmap picture(image);
            QVERIFY2(!picture.isNull(), qPrintable(image));
            for (const QRect &region : set.regions)
                QVERIFY2(QRect(QPoint(0, 0), picture.size()).contains(region), qPrintable(image));
        }
    }
    QCOMPARE(QPixmap(":/switches/img_sw1_2_on1").size(), QSize(32, 32));
    QCOMPARE(QPixmap(":/switches/img_sw1_4_on1").size(), QSize(36, 50));
}

void tst_MySwitch::setTypeAppends()
{
    MySwitch sw;
    sw.addState("a", ":/switches/img_sw_off");
    sw.addState("b", ":/switches/img_sw_on", 7);
    QCOMPARE(sw.state(0).value, 0);
    QCOMPARE(sw.state(1).value, 7);
    sw.setCurrentState(1);
    sw.setType(2);
    QCOMPARE(sw.currentIndex(), 0);
    QCOMPARE(sw.count(), 5);
    // New states are numbered by their place in the set, regions follow them.
    QCOMPARE(sw.state(2).value, 0);
    QCOMPARE(sw.state(4).value, 2);
    QCOMPARE(sw.state(2).region, QRect(QPoint(0, 22), QPoint(31, 31)));
    QVERIFY(sw.state(1).region.isNull());
}

void tst_MySwitch::setCurrentState()
{
    MySwitch sw;
    sw.setType(6);
    QSignalSpy changed(&sw, &MySwitch::signal_StateChanged);
    QVERIFY(!sw.setCurrentState(0));
    QVERIFY(!sw.setCurrentState(2));
    QVERIFY(!sw.setCurrentState(-1));
    QCOMPARE(changed.count(), 0);
    QVERIFY(sw.setCurrentState(1));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 1);
    QCOMPARE(sw.stateValue(), 1);
}

void tst_MySwitch::click_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("mirrorX");
    QTest::addColumn<bool>("mirrorY");
    QTest::addColumn<int>("start");
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<int>("target");

    QTest::newRow("button steps anywhere") << 6 << QSize(32, 32) << false << false << 1 << QPoint(3, 3) << 0;
    QTest::newRow("two-way lower region") << 1 << QSize(32, 32) << false << false << 1 << QPoint(5, 25) << 0;
    QTest::newRow("two-way upper region") << 1 << QSize(32, 32) << false << false << 0 << QPoint(5, 5) << 1;
    QTest::newRow("two-way between steps") << 1 << QSize(32, 32) << false << false << 0 << QPoint(5, 15) << 1;
    QTest::newRow("two-way current region")
        << 1 << QSize(32, 32) << false << false << 0 << QPoint(5, 25) << 0;
    QTest::newRow("scaled widget") << 1 << QSize(64, 64) << false << false << 1 << QPoint(10, 50) << 0;
    QTest::newRow("mirrored y") << 1 << QSize(32, 32) << false << true << 1 << QPoint(5, 5) << 0;
    QTest::newRow("three-way middle") << 2 << QSize(32, 32) << false << false << 0 << QPoint(16, 16) << 1;
    QTest::newRow("four-way top right") << 3 << QSize(36, 50) << false << false << 0 << QPoint(30, 5) << 3;
    QTest::newRow("four-way left edge") << 3 << QSize(36, 50) << false << false << 0 << QPoint(0, 30) << 1;
    // Mirrored in x, the widget's left edge is the picture's right edge.
    QTest::newRow("four-way mirrored x") << 3 << QSize(36, 50) << true << false << 1 << QPoint(1, 40) << 0;
    QTest::newRow("four-way no hit") << 3 << QSize(36, 50) << false << false << 3 << QPoint(30, 25) << 0;
    // A wider widget shows the picture centred; presses map through it.
    QTest::newRow("four-way wide widget") << 3 << QSize(72, 50) << false << false << 3 << QPoint(34, 40) << 1;
}

void tst_MySwitch::click()
{
    QFETCH(int, type);
    QFETCH(QSize, size);
    QFETCH(bool, mirrorX);
    QFETCH(bool, mirrorY);
    QFETCH(int, start);
    QFETCH(QPoint, press);
    QFETCH(int, target);

    MySwitch sw;
    sw.setType(type);
    sw.resize(size);
    sw.setMirroredX(mirrorX);
    sw.setMirroredY(mirrorY);
    sw.setCurrentState(start);

    QSignalSpy changed(&sw, &MySwitch::signal_StateChanged);
    QSignalSpy clicked(&sw, &MySwitch::signal_clicked);
    QTest::mouseClick(&sw, Qt::LeftButton, Qt::NoModifier, press);
    QCOMPARE(sw.currentIndex(), target);
    QCOMPARE(changed.count(), target == start ? 0 : 1);
    QCOMPARE(clicked.count(), 1);
}

void tst_MySwitch::clickIgnored()
{
    MySwitch sw;
    sw.setType(0);
    sw.resize(32, 32);
    QSignalSpy clicked(&sw, &MySwitch::signal_clicked);
    QTest::mouseClick(&sw, Qt::RightButton);
    sw.setReadOnly(true);
    QCOMPARE(sw.cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(&sw, Qt::LeftButton);
    QCOMPARE(sw.currentIndex(), 0);
    QCOMPARE(clicked.count(), 0);

    MySwitch empty;
    empty.resize(20, 20);
    QSignalSpy emptyClicked(&empty, &MySwitch::signal_clicked);
    QTest::mouseClick(&empty, Qt::LeftButton);
    QCOMPARE(emptyClicked.count(), 0);
    QCOMPARE(empty.stateValue(), -1);
}

void tst_MySwitch::selectValue()
{
    MySwitch sw;
    sw.addState("off", ":/leds/img_led_gray", 0);
    sw.addState("on", ":/leds/img_led_green", 5);
    sw.addState("on too", ":/leds/img_led_red", 5);
    QSignalSpy changed(&sw, &MySwitch::signal_StateChanged);
    sw.selectValue(5);
    // Every matching state is selected in turn; the last one stays.
    QCOMPARE(sw.currentIndex(), 2);
    QCOMPARE(changed.count(), 2);
}

void tst_MySwitch::paintsOnlyThePicture_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("state");
    QTest::addColumn<double>("angle");
    QTest::addColumn<QSize>("size");

    // The generator switches of the board windows: a round button in a cell
    // of another shape, with the caption "ON_OFF" as their option text.
    QTest::newRow("button in a wide cell") << 6 << 1 << 0.0 << QSize(48, 24);
    QTest::newRow("button in a tall cell") << 6 << 0 << 0.0 << QSize(24, 48);
    QTest::newRow("button enlarged") << 6 << 1 << 0.0 << QSize(96, 64);
    QTest::newRow("lamp") << 9 << 1 << 0.0 << QSize(20, 20);
    QTest::newRow("four-way turned") << 3 << 2 << 90.0 << QSize(120, 40);
}

// Rendered as a person sees it: nothing but the state's picture, in its own
// shape, and as sharp as its source at the screen's pixel ratio (the test
// also runs with QT_SCALE_FACTOR=2).
void tst_MySwitch::paintsOnlyThePicture()
{
    QFETCH(int, type);
    QFETCH(int, state);
    QFETCH(double, angle);
    QFETCH(QSize, size);

    Switch sw;
    sw.setText("ON_OFF");
    sw.setType(type);
    sw.setAngle(angle);
    sw.setCurrentState(state);
    sw.resize(size);

    const QImage shot = sw.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const qreal ratio = shot.devicePixelRatio();
    QCOMPARE(ratio, qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble());
    const QColor background = sw.palette().color(sw.backgroundRole());
    QRect drawn;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixelColor(x, y) != background)
                drawn |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY(!drawn.isEmpty());

    // The turned picture's box, centred, in device pixels.
    const QRectF picture = sw.pictureRect();
    const QRectF turned = QTransform()
                              .translate(picture.center().x(), picture.center().y())
                              .rotate(angle)
                              .translate(-picture.center().x(), -picture.center().y())
                              .mapRect(picture);
    const QRect shown = QRectF(turned.topLeft() * ratio, turned.size() * ratio).toAlignedRect();
    QVERIFY2(shown.contains(drawn), qPrintable(QStringLiteral("drawn (%1,%2 %3x%4) outside the picture")
                                                   .arg(drawn.x())
                                                   .arg(drawn.y())
                                                   .arg(drawn.width())
                                                   .arg(drawn.height())));
    const QSize natural = QImageReader(sw.state(state).image).size();
    QCOMPARE(QSizeF(picture.size()).width() * natural.height(),
             QSizeF(picture.size()).height() * natural.width());
    if (angle != 0)
        return;
    // Round pictures stay round.
    QVERIFY2(qAbs(drawn.width() - drawn.height()) <= 1,
             qPrintable(QStringLiteral("%1x%2").arg(drawn.width()).arg(drawn.height())));
    const QImage expected = reference(sw.state(state).image, shown.size(), background);
    QVERIFY2(largestDifference(shot.copy(shown), expected) <= 12, "the picture is not sharp");
}

// Layouts give a switch its picture's own size, turned with it.
void tst_MySwitch::sizeHint()
{
    MySwitch sw;
    sw.setText("ON_OFF");
    sw.setType(3);
    QCOMPARE(sw.sizeHint(), QSize(36, 50));
    QCOMPARE(sw.minimumSizeHint(), QSize(36, 50));
    sw.setAngle(90);
    QCOMPARE(sw.sizeHint(), QSize(50, 36));
}

QTEST_MAIN(tst_MySwitch)
#include "tst_myswitch.moc"
