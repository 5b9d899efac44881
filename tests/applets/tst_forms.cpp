#include "applets/basic.h"
#include "applets/board.h"
#include "benchfixture.h"
#include "chip/registermap.h"
#include "controls/myswitch.h"
#include "model/variable.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTest>

#include <memory>

namespace {

// What a person sees of a window's contents: the application's font and
// style sheet, as the program sets them at start-up.
void useProgramLook()
{
    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);
    QFile styleSheet(QStringLiteral(":/stylesheet/stylesheet"));
    if (styleSheet.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromLatin1(styleSheet.readAll()));
}

// The x, in the window's coordinates, of the slider's tick for value v: the
// centre of the handle standing at v.
int tickX(QSlider *slider, int v, QWidget *window)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = v;
    option.sliderValue = v;
    option.tickPosition = slider->tickPosition();
    option.tickInterval = slider->tickInterval();
    option.subControls = QStyle::SC_All;
    const QRect handle =
        slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
    return slider->mapTo(window, handle.center()).x();
}

// Where a label's text is drawn, in the window's coordinates.
QRect textRect(QLabel *label, QWidget *window)
{
    const QRect text = label->style()->itemTextRect(label->fontMetrics(), label->contentsRect(),
                                                    label->alignment(), true, label->text());
    return QRect(label->mapTo(window, text.topLeft()), text.size());
}

} // namespace

// The device windows' forms as drawn, with the program's font and style sheet:
// nothing drawn over anything else, scales under their ticks.
class tst_Forms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void boardClockBesideCaption_data();
    void boardClockBesideCaption();
    void basicScaleUnderTicks_data();
    void basicScaleUnderTicks();
    void generatorSwitchesKeepTheirShape_data();
    void generatorSwitchesKeepTheirShape();

private:
    std::unique_ptr<BenchFixture> bench;
};

void tst_Forms::initTestCase()
{
    useProgramLook();
    bench = std::make_unique<BenchFixture>();
    QVERIFY(bench->ok);
    QVERIFY(QTest::qWaitForWindowExposed(bench->app->mainWindow()));
}

void tst_Forms::cleanupTestCase()
{
    bench.reset();
}

void tst_Forms::boardClockBesideCaption_data()
{
    QTest::addColumn<int>("generator");
    QTest::newRow("PWM1 Pin") << 1;
    QTest::newRow("PWM2 Pin") << 2;
}

// The running generator's clock picture and the label's caption both show,
// side by side.
void tst_Forms::boardClockBesideCaption()
{
    QFETCH(int, generator);
    auto *board = bench->applet<Board>("Board");
    QVERIFY(board);
    bench->app->registers()->var(QStringLiteral("PWM%1OnOff").arg(generator))->setValue(1, ORIGIN_FORCED);
    QVERIFY(board->run(QStringLiteral("setPWM%1_DIO").arg(generator), QVariant()).toBool());
    board->showWindow();
    auto *label = board->findChild<QLabel *>(QStringLiteral("lblCLK%1").arg(generator));
    QVERIFY(label);
    QTRY_VERIFY(label->isVisible());
    QCOMPARE(label->text(), QStringLiteral("PWM%1 Pin").arg(generator));

    const QImage shot = label->grab().toImage();
    QRect text;
    QRect clock;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.green() > c.red() + 40 && c.green() > c.blue() + 30)
                clock |= QRect(x, y, 1, 1);
            else if (c.value() < 120 && c.saturation() < 40)
                text |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY2(!clock.isEmpty(), "no clock picture");
    QVERIFY2(!text.isEmpty(), "no caption");
    QVERIFY2(!text.intersects(clock), qPrintable(QStringLiteral("caption %1..%2 under the clock %3..%4")
                                                     .arg(text.left())
                                                     .arg(text.right())
                                                     .arg(clock.left())
                                                     .arg(clock.right())));
}

void tst_Forms::basicScaleUnderTicks_data()
{
    QTest::addColumn<int>("motor");
    QTest::newRow("motor 1") << 1;
    QTest::newRow("motor 2") << 2;
}

// "0%", "50%" and "100%" stand under the slider's ticks for 0, 50 and 100.
void tst_Forms::basicScaleUnderTicks()
{
    QFETCH(int, motor);
    auto *basic = bench->applet<Basic>("Basic");
    QVERIFY(basic);
    basic->showWindow();
    auto *slider = basic->findChild<QSlider *>(QStringLiteral("hsPWM%1_Duty").arg(motor));
    QVERIFY(slider);
    QTRY_VERIFY(slider->isVisible());
    for (const int percent : {0, 50, 100}) {
        auto *label = basic->findChild<QLabel *>(QStringLiteral("lbScale%1_%2").arg(percent).arg(motor));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("%1%").arg(percent));
        const int tick = tickX(slider, percent, basic);
        const QRect text = textRect(label, basic);
        const QString where = QStringLiteral("%1: tick at %2, text %3..%4")
                                  .arg(label->text())
                                  .arg(tick)
                                  .arg(text.left())
                                  .arg(text.right());
        QVERIFY2(text.left() <= tick && tick <= text.right(), qPrintable(where));
        if (percent == 50)
            QVERIFY2(qAbs(text.center().x() - tick) <= 2, qPrintable(where));
    }
}

void tst_Forms::generatorSwitchesKeepTheirShape_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::newRow("Board PWM1") << "Board"
                                << "csPWM1OnOff";
    QTest::newRow("Board PWM2") << "Board"
                                << "csPWM2OnOff";
    QTest::newRow("HB Controller PWM1") << "HBController"
                                        << "csPWM1OnOff";
    QTest::newRow("HB Controller PWM2") << "HBController"
                                        << "csPWM2OnOff";
}

// The round generator buttons show round and whole, at their own size.
void tst_Forms::generatorSwitchesKeepTheirShape()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    Applet *applet = bench->app->findApplet(window, MainApp::ByObjectName);
    QVERIFY(applet);
    applet->showWindow();
    auto *sw = applet->findChild<CustomControls::MySwitch *>(name);
    QVERIFY(sw);
    QTRY_VERIFY(sw->isVisible());
    QCOMPARE(sw->pictureRect().size(), QSizeF(32, 32));
}

QTEST_MAIN(tst_Forms)
#include "tst_forms.moc"
