#include "controls/lineedit.h"
#include "input.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

using CustomControls::LineEdit;

namespace {

const QString Clean;
const QString Blue = "color:blue;";
const QString Red = "color:red";

QAction *modeAction(LineEdit &edit, const QString &mode)
{
    const QList<QAction *> actions = edit.findChild<QMenu *>()->actions();
    for (QAction *action : actions) {
        if (action->text() == mode)
            return action;
    }
    return nullptr;
}

// Chooses a mode from the context menu, as the user would.
void chooseMode(LineEdit &edit, const QString &mode)
{
    modeAction(edit, mode)->trigger();
}

} // namespace

class tst_LineEdit : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
    void parse_data();
    void parse();
    void prefixSelectsRadixAtBinding();
    void arrayMode();
    void commit();
    void modeMenu();
    void contextMenuKeepsEdit();
    void arrowKeys();
    void wheel();
    void focusOnlyByClick();
    void byteValue();
};

void tst_LineEdit::format_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("decimal") << "DEC" << 42.0 << "42";
    QTest::newRow("hex upper case") << "HEX" << 31.0 << "1F";
    QTest::newRow("binary") << "BIN" << 5.0 << "101";
    QTest::newRow("hex minus one") << "HEX" << -1.0 << "FFFFFFFF";
    QTest::newRow("decimal minus one") << "DEC" << -1.0 << "4294967295";
    QTest::newRow("low 32 bits") << "HEX" << 4294967296.0 + 7 << "7";
    QTest::newRow("truncated") << "DEC" << 3.9 << "3";
    QTest::newRow("truncated negative") << "DEC" << -3.9 << "4294967293";
    QTest::newRow("not a number") << "DEC" << std::numeric_limits<double>::quiet_NaN() << "0";
    QTest::newRow("beyond 64 bits") << "HEX" << 1e30 << "FFFFFFFF";
}

void tst_LineEdit::format()
{
    QFETCH(QString, mode);
    QFETCH(double, value);
    QFETCH(QString, text);

    LineEdit edit;
    chooseMode(edit, mode);
    edit.setText("junk");
    QCOMPARE(edit.styleSheet(), Blue);
    edit.setValue(value);
    QCOMPARE(edit.text(), text);
    // Showing a model value ends any edit.
    QCOMPARE(edit.styleSheet(), Clean);
}

void tst_LineEdit::parse_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");
    // What the field shows for 255 afterwards, which tells the radix in use.
    QTest::addColumn<QString>("shows255");

    QTest::newRow("decimal") << "DEC"
                             << "42" << 42.0 << "42" << Blue << "255";
    QTest::newRow("negative decimal") << "DEC"
                                      << "-5" << -5.0 << "-5" << Blue << "255";
    QTest::newRow("hex digits") << "HEX"
                                << "7fffffff" << 2147483647.0 << "7fffffff" << Blue << "FF";
    QTest::newRow("0x prefix") << "DEC"
                               << "0x20" << 32.0 << "20" << Blue << "FF";
    QTest::newRow("0b prefix") << "DEC"
                               << "0b101" << 5.0 << "101" << Blue << "11111111";
    QTest::newRow("0d prefix") << "HEX"
                               << "0d15" << 15.0 << "15" << Blue << "255";
    QTest::newRow("upper-case X is no prefix") << "DEC"
                                               << "0X20" << 0.0 << "0X20" << Red << "255";
    QTest::newRow("hex beyond int") << "HEX"
                                    << "FFFFFFFF" << 0.0 << "FFFFFFFF" << Red << "FF";
    QTest::newRow("letters in decimal") << "DEC"
                                        << "12a" << 0.0 << "12a" << Red << "255";
    QTest::newRow("two in binary") << "BIN"
                                   << "102" << 0.0 << "102" << Red << "11111111";
    QTest::newRow("empty") << "DEC"
                           << "" << 0.0 << "" << Red << "255";
    QTest::newRow("prefix and junk") << "DEC"
                                     << "0xZZ" << 0.0 << "ZZ" << Red << "FF";
    QTest::newRow("raw text") << "DEC"
                              << "#abc" << 0.0 << "abc" << Blue << "abc";
}

void tst_LineEdit::parse()
{
    QFETCH(QString, mode);
    QFETCH(QString, typed);
    QFETCH(double, value);
    QFETCH(QString, text);
    QFETCH(QString, style);
    QFETCH(QString, shows255);

    LineEdit edit;
    chooseMode(edit, mode);
    edit.setText(typed);
    QCOMPARE(edit.value(), value);
    QCOMPARE(edit.text(), text);
    QCOMPARE(edit.styleSheet(), style);
    edit.setValue(255);
    QCOMPARE(edit.text(), shows255);
}

void tst_LineEdit::prefixSelectsRadixAtBinding()
{
    LineEdit edit;
    edit.setText("0x00");
    edit.prepare();
    edit.setValue(32);
    QCOMPARE(edit.text(), QString("20"));
}

void tst_LineEdit::arrayMode()
{
    LineEdit edit;
    edit.setText("#0x20");
    QCOMPARE(edit.value(), 0.0);
    QCOMPARE(edit.text(), QString("0x20"));
    // Raw content is never parsed again, nor replaced by numbers.
    QCOMPARE(edit.value(), 0.0);
    QCOMPARE(edit.text(), QString("0x20"));
    edit.setValue(7);
    QCOMPARE(edit.text(), QString("0x20"));
    QCOMPARE(edit.styleSheet(), Clean);
    QCOMPARE(edit.byteValue(), QByteArray("0x20"));

    // It stays raw text whatever radix is chosen afterwards.
    chooseMode(edit, "HEX");
    edit.setText("12");
    QCOMPARE(edit.value(), 0.0);
    QCOMPARE(edit.text(), QString("12"));
}

void tst_LineEdit::commit()
{
    LineEdit edit;
    QSignalSpy activated(&edit, &LineEdit::signal_activated);
    edit.setValue(5);

    // Leaving or confirming an unchanged field writes nothing.
    QTest::keyClick(&edit, Qt::Key_Return);
    emit edit.editingFinished();
    QCOMPARE(activated.count(), 0);

    QTest::keyClick(&edit, Qt::Key_End);
    QTest::keyClicks(&edit, "7");
    QCOMPARE(edit.styleSheet(), Blue);
    QTest::keyClick(&edit, Qt::Key_Return);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(edit.value(), 57.0);
    QCOMPARE(edit.styleSheet(), Clean);
    emit edit.editingFinished();
    QCOMPARE(activated.count(), 1);
}

void tst_LineEdit::modeMenu()
{
    LineEdit edit;
    QVERIFY(modeAction(edit, "DEC")->isChecked());
    chooseMode(edit, "HEX");
    edit.setValue(0x1F);
    QCOMPARE(edit.text(), QString("1F"));

    QSignalSpy activated(&edit, &LineEdit::signal_activated);
    edit.selectAll();
    QTest::keyClicks(&edit, "0x20");
    QTest::keyClick(&edit, Qt::Key_Return);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(edit.value(), 32.0);
    edit.setValue(32);
    QCOMPARE(edit.text(), QString("20"));

    chooseMode(edit, "DEC");
    QCOMPARE(edit.text(), QString("32"));
    chooseMode(edit, "BIN");
    QCOMPARE(edit.text(), QString("100000"));
    chooseMode(edit, "HEX");
    QCOMPARE(edit.text(), QString("20"));
    // Only the user's own edits are sent.
    QCOMPARE(activated.count(), 1);

    // A text that does not read in the old radix converts to 0.
    edit.setText("xyz");
    chooseMode(edit, "DEC");
    QCOMPARE(edit.text(), QString("0"));
}

// Opening the menu shows the mode a typed prefix chose; showing it must not
// convert the field or drop the pending edit.
void tst_LineEdit::contextMenuKeepsEdit()
{
    LineEdit edit;
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QSignalSpy activated(&edit, &LineEdit::signal_activated);
    edit.setText("0x20");
    QCOMPARE(edit.value(), 32.0);

    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), edit.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&edit, &event);
    auto *menu = edit.findChild<QMenu *>();
    QTRY_VERIFY(menu->isVisible());
    QVERIFY(modeAction(edit, "HEX")->isChecked());
    QCOMPARE(edit.text(), QString("20"));
    QCOMPARE(edit.styleSheet(), Blue);
    menu->close();

    emit edit.returnPressed();
    QCOMPARE(activated.count(), 1);
}

void tst_LineEdit::arrowKeys()
{
    LineEdit edit;
    QSignalSpy activated(&edit, &LineEdit::signal_activated);
    edit.setValue(9);
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), QString("10"));
    QTest::keyClick(&edit, Qt::Key_Down);
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), QString("8"));
    // Stepped values are shown, not sent.
    QCOMPARE(edit.styleSheet(), Clean);
    QTest::keyClick(&edit, Qt::Key_Return);
    QCOMPARE(activated.count(), 0);

    edit.setWritable(false);
    QVERIFY(!edit.isWritable());
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), QString("8"));
}

void tst_LineEdit::wheel()
{
    QWidget window;
    auto *edit = new LineEdit(&window);
    auto *other = new LineEdit(&window);
    other->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setValue(10);

    // Without the focus the wheel belongs to the window.
    sendWheel(edit, 120);
    QCOMPARE(edit->text(), QString("10"));

    QTest::mouseClick(edit, Qt::LeftButton);
    QVERIFY(edit->hasFocus());
    sendWheel(edit, 40);
    sendWheel(edit, 40);
    QCOMPARE(edit->text(), QString("10"));
    QCOMPARE(edit->styleSheet(), Clean);
    sendWheel(edit, 40);
    QCOMPARE(edit->text(), QString("11"));
    // A wheel change is an edit the user still has to commit.
    QCOMPARE(edit->styleSheet(), Blue);
    sendWheel(edit, -240);
    QCOMPARE(edit->text(), QString("9"));

    // Partial notches add up across all line edits.
    sendWheel(edit, 60);
    QTest::mouseClick(other, Qt::LeftButton);
    other->setValue(0);
    sendWheel(other, 60);
    QCOMPARE(other->text(), QString("1"));

    other->setWritable(false);
    sendWheel(other, 120);
    QCOMPARE(other->text(), QString("1"));
}

void tst_LineEdit::focusOnlyByClick()
{
    QWidget window;
    auto *first = new QLineEdit(&window);
    auto *edit = new LineEdit(&window);
    edit->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    first->setFocus();
    QVERIFY(first->hasFocus());

    QTest::keyClick(first, Qt::Key_Tab);
    QVERIFY(!edit->hasFocus());
    QTest::mouseClick(edit, Qt::LeftButton);
    QVERIFY(edit->hasFocus());
}

void tst_LineEdit::byteValue()
{
    LineEdit edit;
    edit.setByteValue(QByteArray("ab\0cd", 5));
    QCOMPARE(edit.text(), QString("ab"));
    QCOMPARE(edit.styleSheet(), Clean);
    edit.setText(QString::fromLatin1("x\xe9y"));
    QCOMPARE(edit.byteValue(), QByteArray("x\xe9y"));
}

QTEST_MAIN(tst_LineEdit)
#include "tst_lineedit.moc"
