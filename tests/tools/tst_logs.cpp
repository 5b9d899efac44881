#include "controls/htmllistbox.h"
#include "fulldisk.h"
#include "link/controlboard.h"
#include "messageboxanswerer.h"
#include "simboard.h"
#include "specialfiles.h"
#include "testfiles.h"
#include "timing.h"
#include "tools/beeper.h"
#include "tools/logs.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDockWidget>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <climits>
#include <memory>

namespace {

QString counters(int errors, int warnings, int infos)
{
    return QString("Err:<font color=red>%1</font> Warn:<font color=magenta>%2</font> Inf:<font "
                   "color=black>%3</font>")
        .arg(errors)
        .arg(warnings)
        .arg(infos);
}

QString plainLine(const QString &colour, const QString &text)
{
    return QString("<font color=\"%1\"> ").arg(colour) + text + "</font> <br>";
}

QString todaysLogName()
{
    return QDate::currentDate().toString("yyyyMMdd") + ".log";
}

QList<QMessageBox *> openBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            boxes.append(box);
    }
    return boxes;
}

} // namespace

class tst_Logs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void window();
    void levels_data();
    void levels();
    void linkLines_data();
    void linkLines();
    void linkTrafficIsListed();
    void errorAnnouncement_data();
    void errorAnnouncement();
    void errorsDuringOpenBoxKeepOrder();
    void logFile();
    void logFileOfEarlierRunIsAppended();
    void logFileThatIsNoRegularFile_data();
    void logFileThatIsNoRegularFile();
    void logFileThroughLink();
    void logFileOnFullDisk_data();
    void logFileOnFullDisk();
    void listKeepsNewestLines();
    void translation_data();
    void translation();
    void copy_data();
    void copy();
    void copyAll();
    void contextMenu();
    void commandLine_data();
    void commandLine();
    void commandLineWithoutBoard();
    void logFunction_data();
    void logFunction();
    void statusWidgets_data();
    void statusWidgets();
    void clearAndReset();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
};

void tst_Logs::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void tst_Logs::cleanup()
{
    // Boxes answered after the test's end would be counted by the next one.
    for (QMessageBox *box : openBoxes())
        box->close();
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void tst_Logs::window()
{
    QMainWindow mainWindow;
    Logs logs;
    QCOMPARE(logs.objectName(), QString("Logs"));
    QCOMPARE(logs.windowTitle(), QString("Logs"));
    QVERIFY(!logs.windowIcon().isNull());
    QCOMPARE(logs.size(), QSize(535, 367));
    QCOMPARE(logs.saveLogCheck->text(), todaysLogName());
    QVERIFY(!logs.saveLogCheck->isChecked());
    QCOMPARE(logs.messageBoxCheck->text(), QString("MessageBox"));
    QVERIFY(logs.messageBoxCheck->isChecked());
    QCOMPARE(logs.translaterCheck->text(), QString("Translater"));
    QVERIFY(!logs.translaterCheck->isChecked());
    QCOMPARE(logs.clearButton->text(), QString("Clear"));
    QCOMPARE(logs.counterLabel->text(), counters(0, 0, 0));

    auto *grid = qobject_cast<QGridLayout *>(logs.layout());
    QVERIFY(grid);
    const QList<QPair<QWidget *, QList<int>>> cells = {
        {logs.saveLogCheck, {0, 0, 1, 3}},    {logs.list, {1, 0, 1, 3}},
        {logs.commandLine, {2, 0, 1, 3}},     {logs.clearButton, {3, 0, 1, 1}},
        {logs.translaterCheck, {3, 1, 1, 1}}, {logs.messageBoxCheck, {3, 2, 1, 1}}};
    for (const auto &[widget, cell] : cells) {
        int row, column, rows, columns;
        grid->getItemPosition(grid->indexOf(widget), &row, &column, &rows, &columns);
        QCOMPARE((QList<int>{row, column, rows, columns}), cell);
    }

    auto *dock = qobject_cast<QDockWidget *>(logs.createContainer(Applet::ContainerDock, &mainWindow));
    QVERIFY(dock);
    QCOMPARE(dock->parent(), &mainWindow);
    QCOMPARE(dock->windowTitle(), QString("Logs"));
    QVERIFY(dock->isHidden());
    QCOMPARE(dock->widget(), &logs);
}

void tst_Logs::levels_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("logging");
    QTest::addColumn<QString>("colour"); // empty: not listed
    QTest::addColumn<QString>("expectedCounters");

    QTest::newRow("error, logging off") << -1 << false << "red" << counters(1, 0, 0);
    QTest::newRow("link error, logging on") << -1000 << true << "red" << counters(1, 0, 0);
    QTest::newRow("lowest level") << INT_MIN << false << "red" << counters(1, 0, 0);
    QTest::newRow("information, logging off") << 0 << false << "" << counters(0, 0, 1);
    QTest::newRow("information, logging on") << 0 << true << "black" << counters(0, 0, 1);
    QTest::newRow("warning 1, logging off") << 1 << false << "" << counters(0, 1, 0);
    QTest::newRow("warning 100, logging on") << 100 << true << "magenta" << counters(0, 1, 0);
    QTest::newRow("note 101 not counted") << 101 << true << "#000000" << counters(0, 0, 0);
    QTest::newRow("INF dark grey") << 104 << true << "#808080" << counters(0, 0, 0);
    QTest::newRow("RX green") << 108 << true << "#00ff00" << counters(0, 0, 0);
    QTest::newRow("TX blue") << 109 << true << "#0000ff" << counters(0, 0, 0);
    QTest::newRow("server cyan") << 110 << true << "#00ffff" << counters(0, 0, 0);
    QTest::newRow("server, logging off") << 110 << false << "" << counters(0, 0, 0);
    QTest::newRow("dark yellow") << 118 << true << "#808000" << counters(0, 0, 0);
    QTest::newRow("last predefined colour") << 119 << true << "#000000" << counters(0, 0, 0);
    QTest::newRow("past the colour table") << 120 << true << "#000000" << counters(0, 0, 0);
    QTest::newRow("highest level") << INT_MAX << true << "#000000" << counters(0, 0, 0);
}

void tst_Logs::levels()
{
    QFETCH(int, level);
    QFETCH(bool, logging);
    QFETCH(QString, colour);
    QFETCH(QString, expectedCounters);

    MessageBoxAnswerer answerer;
    ControlBoard board;
    board.setLogging(logging);
    Logs logs;
    logs.setBoard(&board);
    logs.list->clear();

    // Callers send HTML and may send '%' markers: both stay as they are.
    const QString text = "x <b>50%1</b> %2";
    logs.slot_addLog(level, text);

    QCOMPARE(logs.counterLabel->text(), expectedCounters);
    QCOMPARE(logs.counterLabel->toolTip(), expectedCounters);
    if (colour.isEmpty()) {
        QCOMPARE(logs.list->count(), 0);
        return;
    }
    QCOMPARE(logs.list->count(), 1);
    QCOMPARE(logs.list->currentRow(), 0);
    const QString line = logs.list->itemText(0);
    if (level >= 0) {
        QCOMPARE(line, plainLine(colour, text));
        return;
    }
    const QString prefix = QString("C(%1) [").arg(level);
    QVERIFY2(line.startsWith(prefix), qPrintable(line));
    const int close = line.indexOf("]<font");
    QVERIFY2(close > 0, qPrintable(line));
    QCOMPARE(line.mid(close + 1), plainLine("red", text));
    const QDateTime stamp =
        QDateTime::fromString(line.mid(prefix.size(), close - prefix.size()), Qt::TextDate);
    QVERIFY2(stamp.isValid(), qPrintable(line));
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
}

void tst_Logs::linkLines_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("sinceLast");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("level");

    QTest::newRow("rx in seconds") << int(ControlBoard::RX) << QByteArray("second") << qint64(1100)
                                   << "RX(+1s):second" << 108;
    QTest::newRow("rx at one second")
        << int(ControlBoard::RX) << QByteArray("x") << qint64(1000) << "RX(+1000ms):x" << 108;
    QTest::newRow("empty error") << int(ControlBoard::RX_ERR) << QByteArray() << qint64(7)
                                 << "RX_ERR(+7ms):" << -1000;
    QTest::newRow("error keeps line ends")
        << int(ControlBoard::RX_ERR) << QByteArray("A:err\n") << qint64(3) << "RX_ERR(+3ms):A:err\n"
        << -1000;
    QTest::newRow("tx shows the time of day") << int(ControlBoard::TX) << QByteArray("a\nb") << qint64(5000)
                                              << "TX(12:00:00.000):a&lt;cr&gt; b" << 109;
    QTest::newRow("information") << int(ControlBoard::INF) << QByteArray("Board reset") << qint64(1)
                                 << "INF(12:00:00.000):Board reset" << 104;
}

// The link's traffic lines are written where the log lives.
void tst_Logs::linkLines()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, text);
    QFETCH(qint64, sinceLast);
    QFETCH(QString, line);
    QFETCH(int, level);

    QCOMPARE(Logs::formatLinkLine(kind, text, sinceLast, QTime(12, 0)), line);
    QCOMPARE(Logs::levelOfLinkLine(kind), level);
}

void tst_Logs::linkTrafficIsListed()
{
    MessageBoxAnswerer answerer;
    ControlBoard board;
    QVERIFY(board.connectBoard("mockup"));
    board.setLogging(true);
    Logs logs;
    logs.setBoard(&board);
    logs.list->clear();
    QVERIFY(board.transact("get DIO22"));
    QCOMPARE(logs.list->count(), 2);
    QVERIFY2(QRegularExpression("TX\\(\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\):get DIO22<")
                 .match(logs.list->itemText(0))
                 .hasMatch(),
             qPrintable(logs.list->itemText(0)));
    QVERIFY2(logs.list->itemText(1).contains("RX(+"), qPrintable(logs.list->itemText(1)));

    // Another link's lines are not this window's any more.
    ControlBoard other;
    logs.setBoard(&other);
    QVERIFY(board.transact("get DIO22"));
    QCOMPARE(logs.list->count(), 2);
}

void tst_Logs::errorAnnouncement_data()
{
    QTest::addColumn<bool>("messageBox");
    QTest::addColumn<bool>("beep");
    QTest::newRow("box and beep") << true << true;
    QTest::newRow("box, no beep") << true << false;
    QTest::newRow("beep, no box") << false << true;
    QTest::newRow("neither") << false << false;
}

void tst_Logs::errorAnnouncement()
{
    QFETCH(bool, messageBox);
    QFETCH(bool, beep);
    MessageBoxAnswerer answerer;
    Logs logs;
    logs.messageBoxCheck->setChecked(messageBox);
    logs.beepButton->setChecked(beep);

    // Without a sound device the beep must not hold anything up.
    QElapsedTimer timer;
    timer.start();
    logs.slot_addLog(-1, "x <b>y</b>");
    QVERIFY(timer.elapsed() < TestTiming::bound(2000));
    QVERIFY(Beeper::shared()->waitIdle(5000));

    QCOMPARE(answerer.count(), messageBox ? 1 : 0);
    if (messageBox) {
        QCOMPARE(answerer.boxes().at(0).title, QString("Error"));
        QCOMPARE(answerer.boxes().at(0).text, QString("x <b>y</b>"));
        QCOMPARE(answerer.boxes().at(0).icon, QMessageBox::Critical);
    }
    QCOMPARE(logs.list->count(), 2); // the initial empty row and the error
    QCOMPARE(logs.counterLabel->text(), counters(1, 0, 0));
}

void tst_Logs::errorsDuringOpenBoxKeepOrder()
{
    Logs logs;
    logs.list->clear();
    // Nobody reads the boxes: none of them holds up the errors after it
    // (a script's reply, the link's worker), and a flood stops opening
    // boxes at the cap while every error is still listed, in order.
    const int errors = 30;
    for (int i = 1; i <= errors; ++i)
        logs.slot_addLog(-1, QString("e%1").arg(i));
    QList<QMessageBox *> boxes = openBoxes();
    QCOMPARE(boxes.size(), Logs::MaxOpenErrorBoxes);
    QVERIFY(boxes.first()->isModal());
    QCOMPARE(logs.list->count(), errors);
    for (int row = 0; row < errors; ++row)
        QVERIFY2(logs.list->itemText(row).endsWith(plainLine("red", QString("e%1").arg(row + 1))),
                 qPrintable(logs.list->itemText(row)));
    QCOMPARE(logs.counterLabel->text(), counters(errors, 0, 0));

    // Once the boxes are read, the next error opens one again.
    for (QMessageBox *box : boxes)
        box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(openBoxes().isEmpty());
    logs.slot_addLog(-1, "after");
    boxes = openBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->text(), QString("after"));
    boxes.first()->button(QMessageBox::Ok)->click();
}

void tst_Logs::logFile()
{
    MessageBoxAnswerer answerer;
    ControlBoard board;
    Logs logs;
    logs.setBoard(&board);
    const QString name = todaysLogName();

    logs.slot_addLog(-1, "before the switch");
    QVERIFY(!QFile::exists(name));

    logs.saveLogCheck->setChecked(true);
    QVERIFY(QFile::exists(name));
    logs.setTranslation({"x"}, {"Y"});
    logs.translaterCheck->setChecked(true);
    logs.slot_addLog(-1, "x");
    QVERIFY(logs.list->itemText(logs.list->currentRow()).endsWith(plainLine("red", "Y")));
    board.setLogging(true);
    logs.slot_addLog(110, QString::fromUtf8("<i>n%1</i> \u00e9\u20ac"));
    board.setLogging(false);
    logs.slot_addLog(5, "not listed, not written");

    logs.saveLogCheck->setChecked(false);
    logs.slot_addLog(-1, "while closed");
    logs.saveLogCheck->setChecked(true);
    logs.slot_addLog(-2, "after");

    // Flushed line by line: readable while the file is still open.
    QCOMPARE(readFile(name), QByteArray("C(-1)  ::: x \n"
                                        "C(110)  ::: <i>n%1</i> \xe9? \n"
                                        "C(-2)  ::: after \n"));
}

void tst_Logs::logFileOfEarlierRunIsAppended()
{
    const QString name = todaysLogName();
    {
        QFile earlier(name);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("C(-1)  ::: earlier \n");
    }
    MessageBoxAnswerer answerer;
    Logs logs;
    logs.saveLogCheck->setChecked(true);
    logs.slot_addLog(-1, "later");
    QCOMPARE(readFile(name), QByteArray("C(-1)  ::: earlier \nC(-1)  ::: later \n"));
}

void tst_Logs::logFileThatIsNoRegularFile_data()
{
    SpecialFiles::addKindRows();
}

// A pipe in the file's place used to block the window on opening it (and a
// device was written); now the switch goes back off with one error.
void tst_Logs::logFileThatIsNoRegularFile()
{
    QFETCH(int, kind);
    const QString path = QDir::current().absoluteFilePath(todaysLogName());
    QString whyNot;
    if (!SpecialFiles::make(SpecialFiles::Kind(kind), path, &whyNot))
        QSKIP(qPrintable(whyNot));
    const QString before = SpecialFiles::snapshot(path);

    MessageBoxAnswerer answerer;
    Logs logs;
    logs.saveLogCheck->setChecked(true);
    QVERIFY(!logs.saveLogCheck->isChecked());
    QCOMPARE(answerer.count(), 1);
    const QString error = answerer.texts().at(0);
    QVERIFY2(error.startsWith("Cannot write " + path + ": "), qPrintable(error));
    QVERIFY2(error.contains(SpecialFiles::refusal(SpecialFiles::Kind(kind))), qPrintable(error));
    QVERIFY2(error.endsWith("; the log file is switched off."), qPrintable(error));
    QVERIFY(logs.list->itemText(logs.list->currentRow()).endsWith(plainLine("red", error)));

    logs.slot_addLog(-1, "x");
    QCOMPARE(answerer.count(), 2); // the error's own box, none more for the file
    QCOMPARE(SpecialFiles::snapshot(path), before);
}

// A link to a regular file is followed and stays a link.
void tst_Logs::logFileThroughLink()
{
    QVERIFY(QDir().mkdir("elsewhere"));
    {
        QFile earlier("elsewhere/kept.log");
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("C(-1)  ::: earlier \n");
    }
    QVERIFY(QFile::link("elsewhere/kept.log", todaysLogName()));
    MessageBoxAnswerer answerer;
    Logs logs;
    logs.saveLogCheck->setChecked(true);
    logs.slot_addLog(-1, "x");
    QCOMPARE(answerer.texts(), QStringList{"x"});
    QVERIFY(QFileInfo(todaysLogName()).isSymLink());
    QCOMPARE(readFile("elsewhere/kept.log"), QByteArray("C(-1)  ::: earlier \nC(-1)  ::: x \n"));
}

void tst_Logs::logFileOnFullDisk_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::newRow("full tmpfs") << true;
    QTest::newRow("file size limit") << false;
}

// A line the file cannot take is said once, in the list and a box, and the
// switch goes off; it used to be dropped without a word, line after line.
// What part of the line went out is cut off again: the file ends with the
// last whole line.
void tst_Logs::logFileOnFullDisk()
{
    QFETCH(bool, tmpfs);
    SmallDisk disk;
    if (tmpfs && !disk.isMounted())
        QSKIP(qPrintable(disk.whyNot()));
    if (tmpfs)
        QVERIFY(QDir::setCurrent(disk.path()));
    const QString path = QDir::current().absoluteFilePath(todaysLogName());

    MessageBoxAnswerer answerer;
    Logs logs;
    logs.list->clear();
    logs.saveLogCheck->setChecked(true);
    logs.slot_addLog(-1, "before");
    std::unique_ptr<FileSizeLimit> limit;
    if (tmpfs)
        QVERIFY(disk.fill());
    else
        limit = std::make_unique<FileSizeLimit>(QFileInfo(path).size() + 100);
    // Longer than the room left in the file's last page.
    QStringList lost;
    for (int i = 0; i < 3; ++i) {
        lost.append(QString("lost %1 ").arg(i) + QString(5000, 'x'));
        logs.slot_addLog(-1, lost.last());
    }
    limit.reset();

    const QString reason = tmpfs ? "No space left on device" : "File too large";
    const QString error = "Cannot write " + path + ": " + reason + "; the log file is switched off.";
    QCOMPARE(answerer.texts(), (QStringList{"before", lost.at(0), error, lost.at(1), lost.at(2)}));
    QVERIFY(!logs.saveLogCheck->isChecked());
    QCOMPARE(readFile(path), QByteArray("C(-1)  ::: before \n"));
    QCOMPARE(logs.list->count(), 5);
    QVERIFY(logs.list->itemText(2).endsWith(plainLine("red", error)));

    // Once there is room again, the switch appends to the same file.
    if (tmpfs)
        QVERIFY(QFile::remove(disk.filePath("filler")));
    logs.saveLogCheck->setChecked(true);
    logs.slot_addLog(-1, "after");
    QVERIFY(readFile(path).endsWith("C(-1)  ::: after \n"));
}

// The list keeps the newest lines and drops the oldest; the file gets all.
void tst_Logs::listKeepsNewestLines()
{
    ControlBoard board;
    board.setLogging(true);
    Logs logs;
    logs.setBoard(&board);
    logs.list->clear();
    logs.saveLogCheck->setChecked(true);
    const int total = Logs::MaxListLines * 3 / 2 + 7;
    for (int i = 0; i < total; ++i)
        logs.slot_addLog(110, QString("n%1").arg(i));

    const int kept = logs.list->count();
    QVERIFY2(kept >= Logs::MaxListLines && kept <= Logs::MaxListLines * 11 / 10,
             qPrintable(QString::number(kept)));
    for (int row : {0, kept / 2, kept - 1})
        QCOMPARE(logs.list->itemText(row), plainLine("#00ffff", QString("n%1").arg(total - kept + row)));
    QCOMPARE(logs.list->currentRow(), kept - 1);
    const QByteArray file = readFile(todaysLogName());
    QCOMPARE(file.count('\n'), total);
    QVERIFY(file.startsWith("C(110)  ::: n0 \n"));
}

void tst_Logs::translation_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<bool>("translate");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::newRow("switch off") << QStringList{"a"} << QStringList{"A"} << false << "a b"
                                << "a b";
    QTest::newRow("empty dictionary") << QStringList() << QStringList() << true << "a b"
                                      << "a b";
    QTest::newRow("keys in ascending order")
        << QStringList{"b", "ab"} << QStringList{"B", "X"} << true << "abc b"
        << "Xc B";
    QTest::newRow("blank keys skipped")
        << QStringList{" ", "", "a"} << QStringList{"_", "-", "A"} << true << "a a"
        << "A A";
    QTest::newRow("case-sensitive") << QStringList{"err"} << QStringList{"ERR"} << true << "Err err"
                                    << "Err ERR";
    QTest::newRow("key without value") << QStringList{"a", "q"} << QStringList{"A"} << true << "qa"
                                       << "A";
}

void tst_Logs::translation()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, values);
    QFETCH(bool, translate);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    ControlBoard board;
    board.setLogging(true);
    Logs logs;
    logs.setBoard(&board);
    logs.setTranslation(keys, values);
    logs.translaterCheck->setChecked(translate);
    logs.slot_addLog(0, text);
    QCOMPARE(logs.list->itemText(logs.list->currentRow()), plainLine("black", shown));
}

void tst_Logs::copy_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("copied");

    QTest::newRow("line end marker") << 109 << "a&lt;cr&gt; b"
                                     << " a<cr> b";
    QTest::newRow("two commands") << 109 << "get A&lt;cr&gt; get B&lt;cr&gt; "
                                  << " get A<cr> get B<cr> ";
    QTest::newRow("error without its prefix") << -1 << "x"
                                              << " x";
    QTest::newRow("cut at the first closing tag") << 110 << "<b>y</b> z"
                                                  << " <b>y";
}

void tst_Logs::copy()
{
    QFETCH(int, level);
    QFETCH(QString, text);
    QFETCH(QString, copied);
    MessageBoxAnswerer answerer;
    ControlBoard board;
    board.setLogging(true);
    Logs logs;
    logs.setBoard(&board);
    logs.slot_addLog(level, text);
    logs.slot_addLog(0, "later line");
    logs.list->setCurrentRow(1);
    logs.slot_ActionCopy();
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
}

void tst_Logs::copyAll()
{
    MessageBoxAnswerer answerer;
    ControlBoard board;
    board.setLogging(true);
    Logs logs;
    logs.setBoard(&board);
    logs.list->clear();
    logs.slot_addLog(109, "get VER&lt;cr&gt; ");
    logs.slot_addLog(-1, "lost");
    logs.slot_addLog(108, "VER=0104");
    logs.slot_ActionCopyAll();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString(" get VER<cr> \n lost\n VER=0104\n"));

    // Without a current item Copy leaves the clipboard alone; Copy All of
    // an empty list empties it.
    logs.list->clear();
    logs.slot_ActionCopy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString(" get VER<cr> \n lost\n VER=0104\n"));
    logs.slot_ActionCopyAll();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
}

void tst_Logs::contextMenu()
{
    ControlBoard board;
    board.setLogging(true);
    Logs logs;
    logs.setBoard(&board);
    logs.slot_addLog(0, "a&lt;cr&gt;");
    logs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&logs));
    QCOMPARE(logs.list->contextMenuPolicy(), Qt::CustomContextMenu);

    const QPoint at(12, 8);
    emit logs.list->customContextMenuRequested(at);
    QTRY_VERIFY(logs.listMenu->isVisible());
    QCOMPARE(logs.listMenu->pos(), logs.list->viewport()->mapToGlobal(at));
    const QList<QAction *> actions = logs.listMenu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions.at(0)->text(), QString("Copy"));
    QCOMPARE(actions.at(1)->text(), QString("Copy All"));
    actions.at(1)->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("\n a<cr>\n"));
    logs.listMenu->hide();
}

void tst_Logs::commandLine_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("received");

    QTest::newRow("one command") << "get VER" << QStringList{"get VER"};
    QTest::newRow("two commands") << "get VER<cr>*IDN?" << QStringList{"get VER", "*IDN?"};
    QTest::newRow("marker at the end adds no empty line") << "get VER<cr>" << QStringList{"get VER"};
    QTest::newRow("marker is case-sensitive") << "get VER<CR>" << QStringList{"get VER<CR>"};
}

void tst_Logs::commandLine()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, received);
    SimBoard sim;
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    ControlBoard board;
    QVERIFY(board.connectBoard(sim.path()));
    Logs logs;
    logs.setBoard(&board);
    logs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&logs));

    const int before = int(sim.transcript().size());
    logs.commandLine->setFocus();
    QTest::keyClicks(logs.commandLine, typed);
    QTest::keyClick(logs.commandLine, Qt::Key_Return);
    QTRY_COMPARE(sim.transcript().mid(before), received);
    QCOMPARE(logs.commandLine->text(), typed);
    board.disconnectBoard(ControlBoard::ByUser);
}

void tst_Logs::commandLineWithoutBoard()
{
    Logs logs;
    logs.commandLine->setText("get VER");
    emit logs.commandLine->returnPressed();
    QCOMPARE(logs.commandLine->text(), QString("get VER"));
}

void tst_Logs::logFunction_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QVariant>("argument");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("listed");

    QTest::newRow("log") << "log" << QVariant("hello") << true << "hello";
    QTest::newRow("LOG") << "LOG" << QVariant("hello") << true << "hello";
    QTest::newRow("Log with a number") << "Log" << QVariant(42) << true << "42";
    QTest::newRow("other name") << "logs" << QVariant("hello") << false << "";
    QTest::newRow("empty name") << "" << QVariant("hello") << false << "";
    QTest::newRow("null value") << "log" << QVariant() << false << "";
}

void tst_Logs::logFunction()
{
    QFETCH(QString, function);
    QFETCH(QVariant, argument);
    QFETCH(bool, result);
    QFETCH(QString, listed);
    ControlBoard board;
    board.setLogging(true);
    Logs logs;
    logs.setBoard(&board);
    logs.list->clear();
    QCOMPARE(logs.run(function, argument), QVariant(result));
    QCOMPARE(logs.counterLabel->text(), counters(0, 0, result ? 1 : 0));
    if (listed.isEmpty())
        QCOMPARE(logs.list->count(), 0);
    else
        QCOMPARE(logs.list->itemText(0), plainLine("black", listed));
    QVERIFY(logs.functionNames().isEmpty());
}

void tst_Logs::statusWidgets_data()
{
    QTest::addColumn<bool>("logsGoFirst");
    QTest::newRow("log window deleted first") << true;
    QTest::newRow("main window deleted first") << false;
}

void tst_Logs::statusWidgets()
{
    QFETCH(bool, logsGoFirst);
    MessageBoxAnswerer answerer;
    auto *mainWindow = new QMainWindow;
    auto *logs = new Logs;
    QList<QWidget *> placed;
    logs->setStatusHost([&](QWidget *widget) {
        placed.append(widget);
        mainWindow->statusBar()->addWidget(widget);
    });
    logs->slot_addLog(-1, "before init");
    logs->slot_addLog(7, "warning");

    QVERIFY(logs->init());
    QCOMPARE(placed, (QList<QWidget *>{logs->beepButton.data(), logs->counterLabel.data()}));
    QCOMPARE(logs->beepButton->parentWidget(), mainWindow->statusBar());
    QVERIFY(logs->beepButton->isCheckable());
    QVERIFY(logs->beepButton->isChecked());
    QVERIFY(logs->beepButton->text().isEmpty());
    QVERIFY(!logs->beepButton->icon().isNull());
    QCOMPARE(logs->beepButton->size(), QSize(23, 23));
    QCOMPARE(logs->counterLabel->width(), 120);
    QCOMPARE(logs->counterLabel->text(), counters(0, 0, 0));
    QCOMPARE(logs->list->count(), 0);

    // The status bar owns the widgets; either owner may go first.
    if (logsGoFirst) {
        delete logs;
        QCOMPARE(mainWindow->statusBar()->findChildren<QPushButton *>().size(), 1);
        delete mainWindow;
    } else {
        delete mainWindow;
        QVERIFY(!logs->beepButton);
        logs->slot_addLog(-1, "after the status bar went");
        QCOMPARE(logs->list->count(), 1);
        delete logs;
    }
}

void tst_Logs::clearAndReset()
{
    MessageBoxAnswerer answerer;
    ControlBoard board;
    board.setLogging(true);
    Logs logs;
    logs.setBoard(&board);
    logs.slot_addLog(-1, "e");
    logs.slot_addLog(3, "w");
    logs.slot_addLog(0, "i");
    logs.slot_addLog(0, "i");
    QCOMPARE(logs.counterLabel->text(), counters(1, 1, 2));

    QTest::mouseClick(logs.clearButton, Qt::LeftButton);
    QCOMPARE(logs.list->count(), 0);
    QCOMPARE(logs.counterLabel->text(), counters(1, 1, 2));
    logs.slot_ResetStatus();
    QCOMPARE(logs.counterLabel->text(), counters(0, 0, 0));
    QCOMPARE(logs.counterLabel->toolTip(), counters(0, 0, 0));
}

QTEST_MAIN(tst_Logs)
#include "tst_logs.moc"
