#include "controls/realedit.h"
#include "input.h"

#include <QInputDialog>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <limits>

using CustomControls::RealEdit;

namespace {

const QString Clean;
const QString Blue = "color:blue;";

} // namespace

class tst_RealEdit : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
    void plainNotation();
    void parse_data();
    void parse();
    void commitAndEscape();
    void arrowKeys();
    void wheel_data();
    void wheel();
    void wheelAccumulates();
    void precision_data();
    void precision();
    void precisionDialog();
};

void tst_RealEdit::format_data()
{
    QTest::addColumn<int>("precision");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << 2 << 0.0 << "0.00";
    // The prefix is chosen before rounding.
    QTest::newRow("just below kilo") << 2 << 999.999 << "1000.00";
    QTest::newRow("kilo") << 2 << 1500.0 << "1.50k";
    QTest::newRow("milli") << 2 << 0.0047 << "4.70m";
    QTest::newRow("unit") << 2 << 20.0 << "20.00";
    QTest::newRow("negative kilo") << 2 << -1500.0 << "-1.50k";
    QTest::newRow("micro") << 2 << 2.2e-6 << "2.20u";
    QTest::newRow("pico") << 2 << 4.7e-12 << "4.70p";
    QTest::newRow("giga") << 3 << 1e9 << "1.000G";
    QTest::newRow("mega") << 1 << 2.5e6 << "2.5M";
    QTest::newRow("below pico") << 2 << 1e-13 << "0.00";
    QTest::newRow("no decimals") << 0 << 1234.0 << "1k";
}

void tst_RealEdit::format()
{
    QFETCH(int, precision);
    QFETCH(double, value);
    QFETCH(QString, text);

    RealEdit edit;
    QCOMPARE(edit.text(), QString("0.00"));
    edit.setPrecision(precision);
    edit.setText("typed");
    edit.setValue(value);
    QCOMPARE(edit.text(), text);
    QCOMPARE(edit.styleSheet(), Clean);
}

void tst_RealEdit::plainNotation()
{
    RealEdit edit;
    edit.setValue(1500);
    edit.setEngineering(false);
    QCOMPARE(edit.text(), QString("1500.00"));
    edit.setValue(0.0047);
    QCOMPARE(edit.text(), QString("0.00"));
}

void tst_RealEdit::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");

    QTest::newRow("plain") << "1.5" << 1.5;
    QTest::newRow("plain negative") << "-20" << -20.0;
    QTest::newRow("shown kilo") << "1.00k" << 1000.0;
    QTest::newRow("decimal kilo") << "1.5k" << 1500.0;
    QTest::newRow("decimal micro") << "2.2u" << 2.2e-6;
    QTest::newRow("decimal milli") << "4.70m" << 0.0047;
    QTest::newRow("whole kilo") << "15k" << 15000.0;
    QTest::newRow("resistor one digit") << "4k7" << 4700.0;
    QTest::newRow("resistor two digits") << "4k75" << 4750.0;
    QTest::newRow("resistor three digits") << "1k001" << 1001.0;
    QTest::newRow("resistor no whole") << "k7" << 700.0;
    // A space outranks k, so only the letter matches, without digits.
    QTest::newRow("space before letter") << "15 k" << 0.0;
    // Not ending in the letter: the digit before it is read, the rest ignored.
    QTest::newRow("unit after letter") << "1.5kHz" << 5000.0;
    // Digits after any prefix letter are its decimals.
    QTest::newRow("mega digits") << "4M7" << 4.7e6;
    QTest::newRow("micro digits") << "2u2" << 2.2e-6;
    QTest::newRow("many kilo digits") << "4k7532" << 4753.2;
    QTest::newRow("not a number") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
}

void tst_RealEdit::parse()
{
    QFETCH(QString, text);
    QFETCH(double, value);

    RealEdit edit;
    edit.setText(text);
    QCOMPARE(edit.value(), value);
    // A text that does not read stays marked as an edit, not as an error.
    QCOMPARE(edit.styleSheet(), Blue);
}

void tst_RealEdit::commitAndEscape()
{
    RealEdit edit;
    QSignalSpy activated(&edit, &RealEdit::signal_activated);
    edit.setValue(1500);
    QTest::keyClick(&edit, Qt::Key_Return);
    QCOMPARE(activated.count(), 0);

    QTest::keyClicks(&edit, "99");
    QCOMPARE(edit.styleSheet(), Blue);
    QTest::keyClick(&edit, Qt::Key_Escape);
    QCOMPARE(edit.text(), QString("1.50k"));
    QCOMPARE(edit.styleSheet(), Clean);
    QCOMPARE(activated.count(), 0);

    edit.selectAll();
    QTest::keyClicks(&edit, "4k7");
    QTest::keyClick(&edit, Qt::Key_Return);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(edit.value(), 4700.0);
    QCOMPARE(edit.styleSheet(), Clean);
    emit edit.editingFinished();
    QCOMPARE(activated.count(), 1);
}

void tst_RealEdit::arrowKeys()
{
    RealEdit edit;
    edit.setValue(20);
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), QString("20.01"));
    QTest::keyClick(&edit, Qt::Key_Down);
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), QString("19.99"));
    QCOMPARE(edit.styleSheet(), Clean);

    // The step is in base units, whatever prefix is shown.
    edit.setPrecision(0);
    edit.setValue(1000);
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), QString("999"));

    edit.setWritable(false);
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), QString("999"));
}

void tst_RealEdit::wheel_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<int>("delta");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QString>("text");

    QTest::newRow("down from one kilo") << 1000.0 << -120 << false << "999.99";
    QTest::newRow("down from two kilo") << 2000.0 << -120 << false << "1.99k";
    QTest::newRow("up from one kilo") << 1000.0 << 120 << false << "1.01k";
    QTest::newRow("down from one unit") << 1.0 << -120 << false << "999.99m";
    QTest::newRow("two notches") << 20.0 << 240 << false << "20.02";
    QTest::newRow("shift steps the prefix") << 1500.0 << 120 << true << "2.50k";
    QTest::newRow("shift in units") << 20.0 << -240 << true << "18.00";
}

void tst_RealEdit::wheel()
{
    QFETCH(double, start);
    QFETCH(int, delta);
    QFETCH(bool, shift);
    QFETCH(QString, text);

    RealEdit edit;
    edit.show();
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    edit.setFocus(Qt::TabFocusReason);
    QVERIFY(edit.hasFocus());
    edit.setValue(start);
    sendWheel(&edit, delta, shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(edit.text(), text);
    QCOMPARE(edit.styleSheet(), Blue);

    // Escape brings back the value shown before the wheel.
    QTest::keyClick(&edit, Qt::Key_Escape);
    QCOMPARE(edit.value(), start);
    QCOMPARE(edit.styleSheet(), Clean);
}

void tst_RealEdit::wheelAccumulates()
{
    QWidget window;
    new QLineEdit(&window);
    auto *edit = new RealEdit(&window);
    edit->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setValue(5);

    sendWheel(edit, 120);
    QCOMPARE(edit->text(), QString("5.00"));

    edit->setFocus();
    sendWheel(edit, 40);
    sendWheel(edit, 40);
    QCOMPARE(edit->text(), QString("5.00"));
    sendWheel(edit, 40);
    QCOMPARE(edit->text(), QString("5.01"));

    edit->setWritable(false);
    sendWheel(edit, 120);
    QCOMPARE(edit->text(), QString("5.01"));
}

void tst_RealEdit::precision_data()
{
    QTest::addColumn<int>("precision");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("afterUp");

    QTest::newRow("three") << 3 << "20.000"
                           << "20.001";
    QTest::newRow("none") << 0 << "20"
                          << "21";
    // Out-of-range precisions are held to 0 .. 15.
    QTest::newRow("negative") << -4 << "20"
                              << "21";
    QTest::newRow("huge") << 1000 << "20.000000000000000"
                          << "20.000000000000000";
}

void tst_RealEdit::precision()
{
    QFETCH(int, precision);
    QFETCH(QString, text);
    QFETCH(QString, afterUp);

    RealEdit edit;
    edit.setValue(20);
    edit.setPrecision(precision);
    QCOMPARE(edit.text(), text);
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), afterUp);
}

void tst_RealEdit::precisionDialog()
{
    RealEdit edit;
    edit.setValue(1500);
    bool seen = false;
    QTimer::singleShot(0, &edit, [&seen] {
        auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = dialog->windowTitle().isEmpty() && dialog->labelText() == "Precision" &&
               dialog->intValue() == 2 && dialog->intMinimum() == 0 && dialog->intMaximum() == 15;
        dialog->setIntValue(4);
        dialog->accept();
    });
    edit.slot_CustomPrecision();
    QVERIFY(seen);
    QCOMPARE(edit.text(), QString("1.5000k"));
}

QTEST_MAIN(tst_RealEdit)
#include "tst_realedit.moc"
