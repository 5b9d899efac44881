#include "app/mainapp.h"
#include "app/mainwindow.h"
#include "app/settings.h"
#include "app/windowstatefile.h"
#include "app/workspacecontroller.h"
#include "app/workspacefile.h"
#include "applets/board.h"
#include "benchfixture.h"
#include "chip/registermap.h"
#include "dialogdriver.h"
#include "fulldisk.h"
#include "model/register.h"
#include "testfiles.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Blocks = QList<WorkspaceFile::Block>;

namespace {

// Ticks the named entries of the register choice and presses OK (or Cancel).
std::unique_ptr<DialogDriver> tickRegisters(const QStringList &names, bool accept = true)
{
    return std::make_unique<DialogDriver>("DialogCheckBoxes", [names, accept](QDialog *dialog) {
        for (QCheckBox *box : dialog->findChildren<QCheckBox *>()) {
            if (names.contains(box->text()))
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        }
        auto *buttons = dialog->findChild<QDialogButtonBox *>();
        QTest::mouseClick(buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
                          Qt::LeftButton);
    });
}

// Answers the file dialog with a path, or cancels it when the path is empty.
std::unique_ptr<DialogDriver> answerFileDialog(const QString &path)
{
    return std::make_unique<DialogDriver>("QFileDialog", [path](QDialog *dialog) {
        auto *files = static_cast<QFileDialog *>(dialog);
        if (path.isEmpty()) {
            files->reject();
            return;
        }
        files->setDirectory(QFileInfo(path).absolutePath());
        files->selectFile(QFileInfo(path).fileName());
        // As after "Yes" to replacing a file that exists.
        dialog->done(QDialog::Accepted);
    });
}

QAction *configEntry(MainWindow *window, const QString &text)
{
    for (QAction *action : std::as_const(window->configActions)) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

// Workspace files, the configuration menu and the window-state file, with
// the whole application connected to a simulated board, in a working
// directory of its own.
class tst_Workspace : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void parse_data();
    void parse();
    void saveTwoBlocks();
    void saveCancelled_data();
    void saveCancelled();
    void roundTripToChip();
    void menuFollowsTheDirectory();
    void loadVariants_data();
    void loadVariants();
    void badFiles_data();
    void badFiles();
    void directoryList();
    void windowStateFormat();
    void windowStateBounds_data();
    void windowStateBounds();
    void restoreLast_data();
    void restoreLast();
    void withoutBoard();
    void fullDisk_data();
    void fullDisk();

private:
    uint reg(const QString &ref) const
    {
        return bench->app->registers()->reg(Applet::parameterNameOf(ref))->get(ref);
    }
    void setReg(const QString &ref, uint value)
    {
        bench->app->registers()->reg(Applet::parameterNameOf(ref))->set(ref, value);
    }
    Board *board() const { return bench->applet<Board>("Board"); }
    MainWindow *window() const { return bench->app->mainWindow(); }

    QTemporaryDir workDir;
    QString previousDir;
    std::unique_ptr<BenchFixture> bench;
};

void tst_Workspace::initTestCase()
{
    QVERIFY(workDir.isValid());
    previousDir = QDir::currentPath();
    // The settings and the state file live in the working directory.
    QVERIFY(QDir::setCurrent(workDir.path()));
    bench = std::make_unique<BenchFixture>(QStringList{"--chip-registers"});
    QVERIFY(bench->ok);
    QVERIFY(QTest::qWaitForWindowExposed(window()));
}

void tst_Workspace::cleanupTestCase()
{
    bench.reset();
    QDir::setCurrent(previousDir);
}

void tst_Workspace::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Blocks>("blocks");
    // The block the file ends in, if it was cut short.
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QString>("cutName");

    const Blocks two{{"CR5A", "656"}, {"CR7B", "1465"}};
    QTest::newRow("as written") << QByteArray("CR5A\n{\n656\n}\nCR7B\n{\n1465\n}\n") << two << false << "";
    QTest::newRow("CR LF") << QByteArray("CR5A\r\n{\r\n656\r\n}\r\nCR7B\r\n{\r\n1465\r\n}\r\n") << two
                           << false << "";
    QTest::newRow("no final LF") << QByteArray("CR5A\n{\n656\n}\nCR7B\n{\n1465\n}") << two << false << "";
    QTest::newRow("value over lines")
        << QByteArray("CR5A\n{\n6\n5\r\n6\n}\n") << Blocks{{"CR5A", "656"}} << false << "";
    QTest::newRow("long line whole") << QByteArray("CR5A\n{\n" + QByteArray(2500, '7') + "\n}\n")
                                     << Blocks{{"CR5A", QByteArray(2500, '7')}} << false << "";
    QTest::newRow("last name counts")
        << QByteArray("junk\nCR6A\n{\n1\n}\n") << Blocks{{"CR6A", "1"}} << false << "";
    QTest::newRow("brace outside is a name")
        << QByteArray("}\n{\n1\n}\n") << Blocks{{"}", "1"}} << false << "";
    QTest::newRow("a lone CR is kept")
        << QByteArray("CR5A\r\r\n{\n1\n}\n") << Blocks{{"CR5A\r", "1"}} << false << "";
    QTest::newRow("blank lines after the end")
        << QByteArray("CR5A\n{\n1\n}\n\n \n") << Blocks{{"CR5A", "1"}} << false << "";
    QTest::newRow("cut inside the second block")
        << QByteArray("CR5A\n{\n1\n}\nCR5B\n{\n2\n") << Blocks{{"CR5A", "1"}} << true << "CR5B";
    QTest::newRow("cut before its brace")
        << QByteArray("CR5A\n{\n1\n}\nCR5B\n") << Blocks{{"CR5A", "1"}} << true << "CR5B";
    QTest::newRow("cut inside the first block") << QByteArray("CR5A\n{\n1") << Blocks{} << true << "CR5A";
    QTest::newRow("CR line ends: one line")
        << QByteArray("CR5A\r{\r656\r}\r") << Blocks{} << true << "CR5A\r{\r656\r}";
    QTest::newRow("empty") << QByteArray() << Blocks{} << false << "";
}

void tst_Workspace::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(Blocks, blocks);
    QFETCH(bool, cut);
    QFETCH(QString, cutName);
    const WorkspaceFile::Parsed parsed = WorkspaceFile::parse(text);
    QCOMPARE(parsed.blocks, blocks);
    QCOMPARE(parsed.cut, cut);
    QCOMPARE(parsed.cutName, cutName);
}

void tst_Workspace::saveTwoBlocks()
{
    setReg("CR5A[]", 0x2AB);
    setReg("CR7B[]", 0x5C3);
    QDir(workDir.path()).mkdir("saved configs");
    const QString path = workDir.filePath("saved configs/motor tuned.bench");

    auto ticks = tickRegisters({"CR5A", "CR7B"});
    auto file = answerFileDialog(path);
    window()->configMenu->actions().at(0)->trigger();
    QVERIFY(ticks->hasRun());
    QVERIFY(file->hasRun());
    QCOMPARE(readFile(path), QByteArray("CR5A\n{\n683\n}\nCR7B\n{\n1475\n}\n"));

    // The new directory is known and its file is offered in the menu.
    QCOMPARE(bench->app->workspaces()->directories(),
             (QStringList{QDir::currentPath(), QFileInfo(path).absolutePath()}));
    QAction *entry = configEntry(window(), "motor tuned");
    QVERIFY(entry);
    QCOMPARE(entry->toolTip(), QFileInfo(path).absolutePath());
    QCOMPARE(entry->statusTip(),
             QString("Configuration file motor tuned.bench located %1").arg(QFileInfo(path).absolutePath()));
}

void tst_Workspace::saveCancelled_data()
{
    QTest::addColumn<QStringList>("ticked");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<bool>("fileDialog");

    QTest::newRow("choice cancelled") << QStringList{"CR5A"} << false << false;
    QTest::newRow("nothing ticked") << QStringList{} << true << false;
    QTest::newRow("file dialog cancelled") << QStringList{"CR5A"} << true << true;
}

void tst_Workspace::saveCancelled()
{
    QFETCH(QStringList, ticked);
    QFETCH(bool, accept);
    QFETCH(bool, fileDialog);

    const QStringList before = QDir(workDir.path()).entryList(QDir::Files);
    auto ticks = tickRegisters(ticked, accept);
    auto file = answerFileDialog(QString());
    const int entries = window()->configActions.size();
    window()->slot_SaveConfig();
    QVERIFY(ticks->hasRun());
    QCOMPARE(file->hasRun(), fileDialog);
    QCOMPARE(QDir(workDir.path()).entryList(QDir::Files), before);
    QCOMPARE(window()->configActions.size(), entries);
}

// Save, change, load from the menu, send with the board window's button:
// the chip holds the saved values.
void tst_Workspace::roundTripToChip()
{
    setReg("CR5A[]", 0x1F0);
    setReg("CR7B[]", 0x40F);
    const QString path = workDir.filePath("round trip.bench");
    {
        auto ticks = tickRegisters({"CR5A", "CR7B"});
        auto file = answerFileDialog(path);
        window()->slot_SaveConfig();
    }
    setReg("CR5A[]", 0x011);
    setReg("CR7B[]", 0x422);

    QAction *entry = configEntry(window(), "round trip");
    QVERIFY(entry);
    bench->answerer.clear();
    entry->trigger();
    QCOMPARE(
        bench->answerer.texts(),
        QStringList{"\nLoading of following configuration registers is complete:\n\tCR5A\n\tCR7B\n"
                    "\nTo send them to SPI please use 'Set User Configuration' button in Board window.\n"});
    QCOMPARE(reg("UCR5A[10:0]"), 0x1F0u);
    QCOMPARE(reg("CR5A[10:0]"), 0x1F0u);
    QCOMPARE(reg("UCR7B[10:0]"), 0x40Fu);
    QCOMPARE(reg("CR7B[10:0]"), 0x40Fu);
    QCOMPARE(board()->loadedNames(), (QStringList{"CR5A", "CR7B"}));

    // Loading wrote the model only.
    QByteArray value;
    QVERIFY(bench->app->link()->getParameter("chipCR5A", &value));
    QVERIFY(value != "496");

    auto *send = board()->findChild<QPushButton *>("pbBoard_setLoaded");
    QVERIFY(send);
    board()->showWindow();
    QTest::mouseClick(send, Qt::LeftButton);
    QVERIFY(bench->app->link()->getParameter("chipCR5A", &value));
    QCOMPARE(value, QByteArray("496"));
    QVERIFY(bench->app->link()->getParameter("chipCR7B", &value));
    QCOMPARE(value, QByteArray("1039"));
}

// A file copied into the working directory while the program runs is in
// the menu the next time it opens, and one deleted is gone from it.
void tst_Workspace::menuFollowsTheDirectory()
{
    QMenu *menu = window()->configMenu;
    QVERIFY(writeFile(workDir.filePath("copied in.bench"), "CR6A\n{\n300\n}\n"));
    QVERIFY(!configEntry(window(), "copied in"));
    menu->popup(window()->mapToGlobal(QPoint(10, 10)));
    QTRY_VERIFY(menu->isVisible());
    QAction *entry = configEntry(window(), "copied in");
    QVERIFY(entry);
    QVERIFY(menu->actions().contains(entry));
    menu->hide();
    bench->answerer.clear();
    entry->trigger();
    QCOMPARE(reg("CR6A[10:0]"), 300u);

    QVERIFY(QFile::remove(workDir.filePath("copied in.bench")));
    menu->popup(window()->mapToGlobal(QPoint(10, 10)));
    QTRY_VERIFY(menu->isVisible());
    QVERIFY(!configEntry(window(), "copied in"));
    menu->hide();
}

void tst_Workspace::loadVariants_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QList<uint>>("values");

    QTest::newRow("CR LF") << QByteArray("CR6A\r\n{\r\n300\r\n}\r\nCR8B\r\n{\r\n1100\r\n}\r\n")
                           << QStringList{"CR6A", "CR8B"} << QList<uint>{300, 1100};
    QTest::newRow("no final LF") << QByteArray("CR6A\n{\n300\n}\nCR8B\n{\n1100\n}")
                                 << QStringList{"CR6A", "CR8B"} << QList<uint>{300, 1100};
    QTest::newRow("value over lines")
        << QByteArray("CR6A\n{\n3\n00\n}\n") << QStringList{"CR6A"} << QList<uint>{300};
    QTest::newRow("unknown names") << QByteArray(
                                          "CR9A\n{\n5\n}\nXYZ\n{\n6\n}\ncr6a\n{\n7\n}\nCR6A\n{\n301\n}\n")
                                   << QStringList{"CR6A"} << QList<uint>{301};
}

void tst_Workspace::loadVariants()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, loaded);
    QFETCH(QList<uint>, values);

    setReg("CR6A[]", 0);
    setReg("CR8B[]", 0x400);
    const QString path = workDir.filePath("variant.bench");
    QVERIFY(writeFile(path, text));
    bench->answerer.clear();
    bench->app->workspaces()->load(path);

    QCOMPARE(board()->loadedNames(), loaded);
    for (int i = 0; i < loaded.size(); ++i) {
        QCOMPARE(reg(loaded.at(i) + "[10:0]"), values.at(i));
        QCOMPARE(reg("U" + loaded.at(i) + "[10:0]"), values.at(i));
    }
    QCOMPARE(bench->answerer.count(), 1);
    QString listed;
    for (const QString &name : loaded)
        listed += "\t" + name + "\n";
    QVERIFY2(bench->answerer.texts().at(0).contains("complete:\n" + listed + "\nTo send"),
             qPrintable(bench->answerer.texts().at(0)));
}

void tst_Workspace::badFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");

    QTest::newRow("not a number") << "bad.bench" << QByteArray("CR6A\n{\n77\n}\nCR5A\n{\n12x\n}\n")
                                  << "holds no valid value for CR5A";
    QTest::newRow("wider than the register")
        << "wide.bench" << QByteArray("CR6A\n{\n77\n}\nCR5A\n{\n2048\n}\n")
        << "holds no valid value for CR5A";
    QTest::newRow("empty value") << "empty.bench" << QByteArray("CR5A\n{\n}\n")
                                 << "holds no valid value for CR5A";
    QTest::newRow("cut inside the second block") << "cut.bench" << QByteArray("CR6A\n{\n77\n}\nCR5A\n{\n12")
                                                 << "is cut short in the block of CR5A.\nNothing was loaded.";
    QTest::newRow("cut before a brace") << "cut.bench" << QByteArray("CR6A\n{\n77\n}\nCR5A\n")
                                        << "is cut short in the block of CR5A.\nNothing was loaded.";
    QTest::newRow("random bytes") << "random.bench" << QByteArray::fromHex("8f00e13c7b0a7d0a0affd9")
                                  << "holds no complete register block.\nNothing was loaded.";
    QTest::newRow("CR line ends") << "cr.bench" << QByteArray("CR6A\r{\r77\r}\r")
                                  << "holds no complete register block.\nNothing was loaded.";
    QTest::newRow("empty file") << "nothing.bench" << QByteArray()
                                << "holds no complete register block.\nNothing was loaded.";
    QTest::newRow("no register of the chip")
        << "unknown.bench" << QByteArray("CR9A\n{\n5\n}\nXYZ\n{\n6\n}\n")
        << "names no register of the SPI controller.\nNothing was loaded.";
    QTest::newRow("missing") << "" << QByteArray() << "Cannot read the workspace file";
    QTest::newRow("too large") << "huge.bench" << QByteArray(WorkspaceFile::MaxFileSize + 1, '1')
                               << "larger than";
}

void tst_Workspace::badFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, text);
    QFETCH(QString, message);

    board()->setLoadedNames({"CR8A"});
    setReg("CR5A[]", 0x155);
    setReg("CR6A[]", 0x0AA);
    setReg("UCR6A[]", 0x0AA);
    const QString path = workDir.filePath(name.isEmpty() ? QString("no such.bench") : name);
    if (!name.isEmpty())
        QVERIFY(writeFile(path, text));
    bench->answerer.clear();
    bench->app->workspaces()->load(path);

    QCOMPARE(bench->answerer.count(), 1);
    QCOMPARE(bench->answerer.boxes().at(0).icon, QMessageBox::Warning);
    QVERIFY2(bench->answerer.texts().at(0).contains(message), qPrintable(bench->answerer.texts().at(0)));
    // Nothing changed, not even the blocks before the bad one.
    QCOMPARE(reg("CR5A[]"), 0x155u);
    QCOMPARE(reg("CR6A[]"), 0x0AAu);
    QCOMPARE(reg("UCR6A[]"), 0x0AAu);
    QCOMPARE(board()->loadedNames(), QStringList{"CR8A"});
}

void tst_Workspace::directoryList()
{
    QSettings ini(bench->app->settings().filePath(), QSettings::IniFormat);
    const QStringList before = bench->app->workspaces()->directories();
    QVERIFY(before.size() >= 1);
    QCOMPARE(before.first(), QDir::currentPath());

    QDir(workDir.path()).mkpath("more/other");
    const QString other = workDir.filePath("more/other");
    bench->app->workspaces()->rememberDirectory(other);
    bench->app->workspaces()->rememberDirectory(other);
    bench->app->workspaces()->rememberDirectory(workDir.filePath("more/../more/other/"));
    bench->app->workspaces()->rememberDirectory(QDir::currentPath());
    bench->app->workspaces()->rememberDirectory(".");
    QCOMPARE(bench->app->workspaces()->directories(), before + QStringList{other});
    ini.sync();
    QCOMPARE(ini.value(QString("_Path%1").arg(before.size() - 1)).toString(), other);
    QVERIFY(!ini.contains(QString("_Path%1").arg(before.size())));
    for (const QString &key : ini.allKeys())
        QVERIFY2(ini.value(key).toString() != QDir::currentPath(), qPrintable(key));
}

void tst_Workspace::windowStateFormat()
{
    const QList<Applet *> applets = bench->app->applets();
    applets.at(3)->showWindow();
    const QSize size = applets.at(3)->container()->size();
    applets.at(3)->container()->move(12, 40);
    applets.at(5)->hideWindow();
    bench->app->workspaces()->saveWindowState();

    const QList<QByteArray> lines = readFile("HQL3318.state").split('\n');
    QCOMPARE(lines.size(), applets.size() + 2);
    QCOMPARE(lines.last(), QByteArray());
    QCOMPARE(lines.at(0), window()->saveGeometry().toHex());
    QVERIFY(!lines.at(0).isEmpty());
    QCOMPARE(lines.at(0), lines.at(0).toLower());
    for (int i = 0; i < applets.size(); ++i) {
        const QWidget *c = applets.at(i)->container();
        QCOMPARE(QString::fromLatin1(lines.at(i + 1)), QString("%1,%2,%3,%4,%5,%6")
                                                           .arg(applets.at(i)->objectName())
                                                           .arg(c->x())
                                                           .arg(c->y())
                                                           .arg(c->width())
                                                           .arg(c->height())
                                                           .arg(applets.at(i)->isVisible() ? 1 : 0));
    }
    QCOMPARE(QString::fromLatin1(lines.at(4)),
             QString("SpiController,12,40,%1,%2,1").arg(size.width()).arg(size.height()));
    QVERIFY(lines.at(6).endsWith(",0"));
}

void tst_Workspace::windowStateBounds_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("kept");

    QTest::newRow("on screen") << QByteArray("Board,12,40,620,480,1") << true;
    QTest::newRow("at the bounds") << QByteArray("Board,-65535,65535,65535,0,1") << true;
    // x + width - 1 overflowed an int in the rectangle.
    QTest::newRow("crafted to overflow") << QByteArray("Board,10,10,2147483647,2147483647,1") << false;
    QTest::newRow("far left") << QByteArray("Board,-65536,0,10,10,1") << false;
    QTest::newRow("far down") << QByteArray("Board,0,65536,10,10,1") << false;
    QTest::newRow("too wide") << QByteArray("Board,0,0,65536,10,1") << false;
    QTest::newRow("negative height") << QByteArray("Board,0,0,10,-1,1") << false;
    QTest::newRow("past an int") << QByteArray("Board,0,0,10,4294967306,1") << false;
    // Written back as read: a '%' in a name is no placeholder.
    QTest::newRow("percent in the name") << QByteArray("B%2%1,1,2,3,4,1") << true;
}

void tst_Workspace::windowStateBounds()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, kept);
    const WindowStateFile state = WindowStateFile::parse("00\n" + line + "\nWatchDog,1,2,3,4,0\n");
    QCOMPARE(state.windows.size(), kept ? 2 : 1);
    QCOMPARE(state.windows.last().name, QString("WatchDog"));
    if (kept) {
        const QList<QByteArray> f = line.split(',');
        QCOMPARE(state.windows.first().geometry,
                 QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt()));
        QCOMPARE(state.compose(), "00\n" + line + "\nWatchDog,1,2,3,4,0\n");
    }
}

void tst_Workspace::restoreLast_data()
{
    // SIZE stands for the window's own size.
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<bool>("chipVisible");

    QTest::newRow("six fields") << QByteArray("ChipID,30,20,SIZE,1\n") << true << true;
    QTest::newRow("CR LF") << QByteArray("ChipID,30,20,SIZE,1\r\n") << true << true;
    QTest::newRow("hidden") << QByteArray("ChipID,30,20,SIZE,0\n") << true << false;
    QTest::newRow("seven fields") << QByteArray("ChipID,30,20,SIZE,1,9\n") << false << false;
    QTest::newRow("five fields") << QByteArray("ChipID,30,20,SIZE\n") << false << false;
    QTest::newRow("not a number") << QByteArray("ChipID,30,2O,SIZE,1\n") << false << false;
    QTest::newRow("unknown applet") << QByteArray("Nobody,30,20,SIZE,1\nchipid,30,20,SIZE,1\n") << false
                                    << false;
}

void tst_Workspace::restoreLast()
{
    QFETCH(QByteArray, lines);
    QFETCH(bool, moved);
    QFETCH(bool, chipVisible);

    Applet *chip = bench->app->findApplet("ChipID", MainApp::ByObjectName);
    Applet *watchdog = bench->app->findApplet("WatchDog", MainApp::ByObjectName);
    // The device windows keep the size of their forms; positions move, here
    // within the area of the restored main window.
    const QRect kept(QPoint(5, 6), chip->container()->size());
    const QRect movedTo(QPoint(30, 20), kept.size());
    const QRect watchdogTo(QPoint(50, 60), watchdog->container()->size());
    const auto sizeText = [](const QRect &r) {
        return QByteArray::number(r.width()) + ',' + QByteArray::number(r.height());
    };
    chip->container()->setGeometry(kept);
    chip->hideWindow();
    watchdog->hideWindow();
    // Within the offscreen screen, which a restored window is kept on.
    window()->resize(700, 500);
    const QByteArray geometry = window()->saveGeometry();
    window()->resize(760, 560);

    lines.replace("SIZE", sizeText(movedTo));
    QVERIFY(writeFile("HQL3318.state",
                      geometry.toHex() + "\n" + lines + "WatchDog,50,60," + sizeText(watchdogTo) + ",1\n"));
    bench->answerer.clear();
    QTest::mouseClick(window()->restoreButton, Qt::LeftButton);
    QCOMPARE(bench->answerer.count(), 0);
    QCOMPARE(window()->size(), QSize(700, 500));
    QCOMPARE(chip->container()->geometry(), moved ? movedTo : kept);
    QCOMPARE(chip->isVisible(), chipVisible);
    QCOMPARE(chip->windowAction()->isChecked(), chipVisible);
    // The good line after a bad one still counts.
    QCOMPARE(watchdog->container()->geometry(), watchdogTo);
    QVERIFY(watchdog->isVisible());
}

void tst_Workspace::withoutBoard()
{
    // Disconnecting writes the windows as they were.
    Applet *spi = bench->app->findApplet("SpiController", MainApp::ByObjectName);
    spi->showWindow();
    const QRect geometry(QPoint(7, 8), spi->container()->size());
    spi->container()->setGeometry(geometry);
    QFile::remove("HQL3318.state");
    bench->app->disconnectFromBoard();
    QVERIFY(!bench->app->isBoardConnected());
    const QByteArray line =
        QString("\nSpiController,7,8,%1,%2,1\n").arg(geometry.width()).arg(geometry.height()).toLatin1();
    QVERIFY(readFile("HQL3318.state").contains(line));

    // A second disconnect has nothing to write.
    QFile::remove("HQL3318.state");
    bench->app->disconnectFromBoard();
    QVERIFY(!QFile::exists("HQL3318.state"));

    board()->setLoadedNames({"CR8A"});
    bench->answerer.clear();
    bench->app->workspaces()->load(workDir.filePath("round trip.bench"));
    QTest::mouseClick(window()->restoreButton, Qt::LeftButton);
    QCOMPARE(bench->answerer.texts(),
             (QStringList{"Please connect board before loading configuration registers",
                          "Board is not connected"}));
    QCOMPARE(bench->answerer.boxes().at(1).title, QString("Warning"));
    QCOMPARE(board()->loadedNames(), QStringList{"CR8A"});
}

void tst_Workspace::fullDisk_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::addColumn<bool>("windowState");
    for (bool tmpfs : {true, false}) {
        const char *fault = tmpfs ? "full tmpfs" : "file size limit";
        QTest::addRow("window state, %s", fault) << tmpfs << true;
        QTest::addRow("workspace, %s", fault) << tmpfs << false;
    }
}

// A full disk keeps the old file and says so; it used to leave an empty
// file without a word.
void tst_Workspace::fullDisk()
{
    QFETCH(bool, tmpfs);
    QFETCH(bool, windowState);

    SmallDisk disk;
    if (tmpfs && !disk.isMounted())
        QSKIP(qPrintable(disk.whyNot()));
    // The working directory is a known workspace directory, so saving there
    // writes no settings.
    const QString dir = tmpfs ? disk.path() : workDir.path();
    const QString path = QDir(dir).filePath(windowState ? "HQL3318.state" : "kept.bench");
    const QByteArray old = windowState ? QByteArray("00\nSpiController,1,2,300,200,1\n") : "CR5A\n{\n1\n}\n";
    QVERIFY(writeFile(path, old));
    setReg("CR5A[]", 0x2AB);
    const QString previous = QDir::currentPath();
    auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
    QVERIFY(QDir::setCurrent(dir));

    std::unique_ptr<FileSizeLimit> limit;
    if (tmpfs)
        QVERIFY(disk.fill());
    else
        limit = std::make_unique<FileSizeLimit>(0);
    bench->answerer.clear();
    if (windowState) {
        bench->app->workspaces()->saveWindowState();
    } else {
        auto ticks = tickRegisters({"CR5A"});
        auto file = answerFileDialog(path);
        window()->slot_SaveConfig();
        QVERIFY(file->hasRun());
    }
    limit.reset();

    QCOMPARE(readFile(path), old);
    QCOMPARE(bench->answerer.count(), 1);
    const QString reason = tmpfs ? "No space left on device" : "File too large";
    QCOMPARE(bench->answerer.texts().at(0), "Cannot write " + path + ": " + reason);
}

QTEST_MAIN(tst_Workspace)
#include "tst_workspace.moc"
