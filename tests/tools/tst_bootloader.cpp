#include "hexfile.h"
#include "link/controlboard.h"
#include "messageboxanswerer.h"
#include "simboard.h"
#include "timing.h"
#include "tools/bootloader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <memory>

namespace {

const QString marker = "set flash=8007fffC1234abcd000000041234abcd";
const QString sendError = "Some error during sending appears";
const QString notConnectedText = "VelmoraMCU board is not connected!";

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, 0);
    for (char &b : bytes)
        b = char(random.generate() & 0xFF);
    return bytes;
}

QStringList flashLines(const QStringList &transcript)
{
    return transcript.filter(QRegularExpression("^set flash="));
}

// The firmware window, shown, and what its boxes said; with a board, a
// simulated one that dumps its flash into the fixture's directory.
class Fixture
{
public:
    explicit Fixture(bool withBoard, const QStringList &simOptions = {})
    {
        if (withBoard) {
            sim = std::make_unique<SimBoard>(simOptions + QStringList{"--flash-dump", dumpPath()});
            if (sim->isRunning())
                connected = link.connectBoard(sim->path());
        }
        window.setBoard(&link);
        window.show();
        exposed = QTest::qWaitForWindowExposed(&window);
    }

    QString writeFile(const QString &name, const QByteArray &text)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
        return path;
    }
    bool load(const QByteArray &text) { return window.loadHexFile(writeFile("image.hex", text)); }

    QString dumpPath() const { return dir.filePath("flash.bin"); }
    QByteArray dump() const
    {
        QFile file(dumpPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no dump>");
    }

    QPushButton *button(const char *name) const { return window.findChild<QPushButton *>(name); }
    QString log() const { return window.findChild<QPlainTextEdit *>("pteLog")->toPlainText(); }
    QProgressBar *progress() const { return window.findChild<QProgressBar *>("progressBar"); }

    // Presses a button and waits for the flashing to end; its outcome.
    int flash()
    {
        QSignalSpy done(&window, &Bootloader::signal_flashFinished);
        QTest::mouseClick(button("pbFlash"), Qt::LeftButton);
        if (done.isEmpty() && !done.wait(60000))
            return -1;
        return done.first().first().toInt();
    }

    QTemporaryDir dir;
    std::unique_ptr<SimBoard> sim;
    ControlBoard link;
    Bootloader window;
    MessageBoxAnswerer boxes;
    bool connected = false;
    bool exposed = false;
};

} // namespace

class tst_Bootloader : public QObject
{
    Q_OBJECT

private slots:
    void window();
    void loadRejected_data();
    void loadRejected();
    void badChecksumPerRecord();
    void loadShowsAddresses();
    void unreadableFileRefused_data();
    void unreadableFileRefused();
    void refusalClearsWhatWentBefore_data();
    void refusalClearsWhatWentBefore();
    void blockLines();
    void zeroBlock();
    void readBack_data();
    void readBack();
    void downloadHasTheBoardToItself();
    void errorReplySendsNothingMore();
    void unconfirmedMarker();
    void notConnected();
    void closingCancels();
    void restart();
    void restartSilentBoard();
};

void tst_Bootloader::window()
{
    Fixture f(false);
    QVERIFY(f.exposed);
    QCOMPARE(f.window.windowTitle(), QString("FIRMWARE Update"));
    QCOMPARE(f.window.size(), QSize(518, 163));
    QCOMPARE(f.window.minimumSize(), f.window.maximumSize());
    // Idle, it lets the main window's Connect work beside it.
    QCOMPARE(f.window.windowModality(), Qt::NonModal);
    QVERIFY(f.window.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(f.window.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!f.window.findChild<QLabel *>("lbPicture")->pixmap().isNull());

    auto *grid = qobject_cast<QGridLayout *>(f.window.layout());
    QVERIFY(grid);
    const QStringList names{"pbLoadHex", "pbDefault", "pbFlash", "pbRestart"};
    const QStringList texts{"LoadHex", "Default", "Flash", "Restart"};
    for (int row = 0; row < 4; ++row) {
        auto *b = qobject_cast<QPushButton *>(grid->itemAtPosition(row, 2)->widget());
        QVERIFY(b);
        QCOMPARE(b->objectName(), names.at(row));
        QCOMPARE(b->text(), texts.at(row));
    }
    QCOMPARE(grid->itemAtPosition(0, 1)->widget()->objectName(), QString("pteLog"));
    QCOMPARE(grid->itemAtPosition(4, 0)->widget(), f.progress());
    QCOMPARE(f.progress()->value(), 0);
    // No built-in image ships, and nothing is loaded yet.
    QVERIFY(!f.button("pbDefault")->isEnabled());
    QVERIFY(!f.button("pbFlash")->isEnabled());
    QVERIFY(f.button("pbLoadHex")->isEnabled());
}

void tst_Bootloader::loadRejected_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");

    const QByteArray two("\x01\x02");
    QTest::newRow("not HEX") << QByteArray("hello\n:00000001FF\n") << QString("bad HEX file format!");
    QTest::newRow("cut short") << QByteArray(HexFile::data(0, two) + HexFile::data(2, two))
                               << QString("The HEX file ends without its end-of-file record (cut short?); "
                                          "nothing loaded.");
    QTest::newRow("two files joined")
        << QByteArray(HexFile::image(two, 0) + HexFile::image(two, 0x100))
        << QString("The HEX file goes on after its end-of-file record (files joined together?); "
                   "nothing loaded.");
    QTest::newRow("regions 16 MiB apart")
        << QByteArray(HexFile::linear(0x0800) + HexFile::data(0, two) + HexFile::linear(0x0900) +
                      HexFile::data(0x10, two) + HexFile::endOfFile())
        << QString("HEX record at address 0x09000010 reaches beyond the 200000-byte firmware image; "
                   "nothing loaded.");
    QTest::newRow("before the first data address")
        << QByteArray(HexFile::data(0x100, two) + HexFile::data(0xFF, two) + HexFile::endOfFile())
        << QString("HEX record at address 0x000000FF lies before the first data address 0x00000100; "
                   "nothing loaded.");
    QTest::newRow("beyond the image")
        << QByteArray(HexFile::data(0, two) + HexFile::linear(3) + HexFile::data(0x0D3F, two) +
                      HexFile::endOfFile())
        << QString("HEX record at address 0x00030D3F reaches beyond the 200000-byte firmware image; "
                   "nothing loaded.");
    QTest::newRow("no data") << QByteArray(HexFile::linear(0) + HexFile::endOfFile())
                             << QString("The HEX file holds no data; nothing loaded.");
}

void tst_Bootloader::loadRejected()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);

    Fixture f(false);
    QVERIFY(f.load(HexFile::image("abc", 0)));
    QVERIFY(f.button("pbFlash")->isEnabled());
    QCOMPARE(f.boxes.count(), 0);

    QVERIFY(!f.load(text));
    QCOMPARE(f.boxes.texts(), QStringList{message});
    QCOMPARE(f.boxes.boxes().first().title, QString("Error"));
    QCOMPARE(f.boxes.boxes().first().icon, QMessageBox::Warning);
    QVERIFY(!f.button("pbFlash")->isEnabled());
    // Only the refusal is left in the log, in red.
    QCOMPARE(f.log(), message);
    QVERIFY(f.window.findChild<QPlainTextEdit *>("pteLog")->document()->toHtml().contains("#ff0000"));
    // Nothing of the rejected file reached the image.
    QCOMPARE(f.window.loadedImage().bytes().left(4), QByteArray("abc\xFF"));
}

void tst_Bootloader::badChecksumPerRecord()
{
    Fixture f(false);
    QByteArray bad1 = HexFile::data(0, "ab");
    bad1[bad1.size() - 2] = bad1[bad1.size() - 2] == '0' ? '1' : '0';
    QByteArray bad2 = HexFile::data(4, "ef");
    bad2[bad2.size() - 3] = bad2[bad2.size() - 3] == '0' ? '1' : '0';
    QVERIFY(f.load(bad1 + HexFile::data(2, "cd") + bad2 + HexFile::endOfFile()));
    QCOMPARE(f.boxes.texts(), (QStringList{"Error in HEX file!", "Error in HEX file!"}));
    QCOMPARE(f.boxes.boxes().first().title, QString());
    QVERIFY(f.button("pbFlash")->isEnabled());
    QVERIFY(f.log().contains("File loaded ::" + f.dir.filePath("image.hex")));
}

// Where the file's data lay and where the board gets it, before flashing;
// a record of an unknown type is skipped with a warning.
void tst_Bootloader::loadShowsAddresses()
{
    Fixture f(false);
    QByteArray text = HexFile::image(QByteArray(0x1300, 'x'), 0x08000000);
    text.insert(text.indexOf('\n') + 1, HexFile::record(0x0A, 0, "?"));
    QVERIFY(f.load(text));
    QCOMPARE(f.boxes.count(), 0);
    QVERIFY(f.button("pbFlash")->isEnabled());
    QVERIFY2(f.log().endsWith("HEX record of unknown type 0A on line 2 skipped.\n"
                              "File loaded ::" +
                              f.dir.filePath("image.hex") +
                              "\n"
                              "Addresses 0x08000000 to 0x080012FF (4864 bytes), flashed from board address "
                              "0x80050000."),
             qPrintable(f.log()));

    // objcopy's usual output: data records from the start, no address record.
    QVERIFY(f.load(HexFile::data(0, QByteArray(16, 'y')) + HexFile::endOfFile()));
    QVERIFY(f.log().endsWith("Addresses 0x00000000 to 0x0000000F (16 bytes), flashed from board address "
                             "0x80050000."));
    QCOMPARE(f.window.loadedImage().bytes().left(17), QByteArray(16, 'y') + '\xFF');
}

void tst_Bootloader::unreadableFileRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("logged");
    QTest::newRow("missing") << "missing.hex"
                             << "Cannot open";
    QTest::newRow("endless device") << "/dev/zero"
                                    << "is too large";
}

// A file that cannot be read is refused like a bad one, without a box;
// the image loaded before stays in memory but is no longer offered.
void tst_Bootloader::unreadableFileRefused()
{
    QFETCH(QString, path);
    QFETCH(QString, logged);
    Fixture f(false);
    if (QDir::isRelativePath(path))
        path = f.dir.filePath(path);
    else if (!QFile::exists(path))
        QSKIP("no such device here");
    QVERIFY(f.load(HexFile::image("xyz", 0)));
    QVERIFY(!f.window.loadHexFile(path));
    QCOMPARE(f.boxes.count(), 0);
    QVERIFY(!f.log().contains('\n'));
    QVERIFY(f.log().contains(path));
    QVERIFY(f.log().contains(logged));
    QVERIFY(!f.button("pbFlash")->isEnabled());
    QCOMPARE(f.window.loadedImage().bytes().left(3), QByteArray("xyz"));
    // Choosing no file changes nothing.
    QVERIFY(!f.window.loadHexFile(QString()));
    QVERIFY(f.log().contains(logged));
}

void tst_Bootloader::refusalClearsWhatWentBefore_data()
{
    QTest::addColumn<bool>("readable");
    QTest::newRow("bad file") << true;
    QTest::newRow("missing file") << false;
}

// After a flash, a refused file leaves only its red line: nothing of the
// file before, no progress, nothing to flash.
void tst_Bootloader::refusalClearsWhatWentBefore()
{
    QFETCH(bool, readable);
    Fixture f(true);
    QVERIFY(f.connected);
    QVERIFY(f.load(HexFile::image(randomBytes(0x300, 3), 0)));
    QCOMPARE(f.flash(), int(FlashSession::Finished));
    QVERIFY(f.progress()->value() > 0);

    const QString path = readable ? f.writeFile("bad.hex", "hello\n") : f.dir.filePath("missing.hex");
    QVERIFY(!f.window.loadHexFile(path));
    QCOMPARE(f.log().count('\n'), 0);
    QVERIFY2(f.log().contains(readable ? "bad HEX file format!" : "Cannot open"), qPrintable(f.log()));
    QCOMPARE(f.progress()->value(), 0);
    QVERIFY(!f.button("pbFlash")->isEnabled());
    QVERIFY(f.button("pbLoadHex")->isEnabled());
}

// 0x2A5 bytes: two full blocks, one of 0xA5 bytes, then the marker; the
// board checks every check value itself.
void tst_Bootloader::blockLines()
{
    Fixture f(true);
    QVERIFY(f.connected);
    const QByteArray bytes = randomBytes(0x2A5, 7);
    QVERIFY(f.load(HexFile::image(bytes, 0x0100)));
    QCOMPARE(f.flash(), int(FlashSession::Finished));
    QCOMPARE(f.boxes.count(), 0);

    const QStringList lines = flashLines(f.sim->transcript());
    QCOMPARE(lines.size(), 4);
    const QRegularExpression form("^set flash=([0-9a-f]{8})([0-9a-f]{8})([0-9a-f]{8})([0-9a-f]*)$");
    const QStringList addresses{"80050000", "80050100", "80050200"};
    const QStringList lengths{"00000100", "00000100", "000000a5"};
    for (int k = 0; k < 3; ++k) {
        const QRegularExpressionMatch m = form.match(lines.at(k));
        QVERIFY2(m.hasMatch(), qPrintable(lines.at(k).left(60)));
        QCOMPARE(m.captured(1), addresses.at(k));
        QCOMPARE(m.captured(3), lengths.at(k));
        QCOMPARE(m.captured(4).toLatin1(), bytes.mid(256 * k, 256).toHex());
    }
    QVERIFY(lines.at(0).mid(18, 8) != lines.at(1).mid(18, 8));
    QCOMPARE(lines.at(3), marker);
    QCOMPARE(f.dump(), bytes);
    QCOMPARE(f.progress()->value(), f.progress()->maximum());
    QVERIFY(f.log().contains("Flash...\nFinished."));
}

void tst_Bootloader::zeroBlock()
{
    Fixture f(true);
    QVERIFY(f.connected);
    QVERIFY(f.load(HexFile::image(QByteArray(256, 0), 0)));
    QCOMPARE(f.flash(), int(FlashSession::Finished));
    QCOMPARE(flashLines(f.sim->transcript()),
             (QStringList{"set flash=800500000000000000000100" + QString(512, '0'), marker}));
}

void tst_Bootloader::readBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<int>("perRecord");

    QTest::newRow("64 KiB boundary crossed with extension records")
        << randomBytes(6000, 1) << quint32(0x8005F000) << 32;
    QTest::newRow("100 KiB generated file") << randomBytes(100 * 1024, 2) << quint32(0) << 16;
    QTest::newRow("one byte") << QByteArray("\x5A") << quint32(0x20) << 16;
    QTest::newRow("whole image") << randomBytes(HexImage::Capacity, 3) << quint32(0x08000000) << 255;
}

void tst_Bootloader::readBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, start);
    QFETCH(int, perRecord);

    Fixture f(true);
    QVERIFY(f.connected);
    QVERIFY(f.load(HexFile::image(bytes, start, perRecord)));
    QCOMPARE(f.window.loadedImage().length(), bytes.size());
    QCOMPARE(f.flash(), int(FlashSession::Finished));
    QCOMPARE(f.boxes.count(), 0);
    QCOMPARE(f.dump(), bytes);
    const QStringList lines = flashLines(f.sim->transcript());
    QCOMPARE(lines.size(), (bytes.size() + 255) / 256 + 1);
    QCOMPARE(lines.last(), marker);
}

void tst_Bootloader::downloadHasTheBoardToItself()
{
    Fixture f(true);
    QVERIFY(f.connected);
    QVERIFY(f.load(HexFile::image(randomBytes(40 * 256, 7), 0)));
    QSignalSpy done(&f.window, &Bootloader::signal_flashFinished);
    QTest::mouseClick(f.button("pbFlash"), Qt::LeftButton);
    QVERIFY(f.window.isBusy());
    QCOMPARE(f.window.windowModality(), Qt::ApplicationModal);
    QVERIFY(f.window.isVisible());

    // Anybody else's command is held back, not sent between two blocks.
    QVERIFY(!f.link.transact("*IDN?"));
    QVERIFY(done.wait(60000));
    QCOMPARE(done.first().first().toInt(), int(FlashSession::Finished));
    QCOMPARE(f.window.windowModality(), Qt::NonModal);
    QVERIFY(f.window.isVisible());

    const QStringList transcript = f.sim->transcript();
    const qsizetype first = transcript.indexOf(QRegularExpression("set flash=.*"));
    const qsizetype last = transcript.lastIndexOf(marker);
    QVERIFY(first >= 0 && last > first);
    QCOMPARE(transcript.mid(first, last - first + 1), flashLines(transcript));
    // Free again for everybody.
    QVERIFY(f.link.transact("*IDN?"));
}

void tst_Bootloader::errorReplySendsNothingMore()
{
    Fixture f(true, {"--error", "flash"});
    QVERIFY(f.connected);
    QVERIFY(f.load(HexFile::image(randomBytes(1000, 4), 0)));
    QCOMPARE(f.flash(), int(FlashSession::BlockFailed));
    QCOMPARE(flashLines(f.sim->transcript()).size(), 1);
    QCOMPARE(f.boxes.texts(), QStringList{sendError});
    QCOMPARE(f.boxes.boxes().first().title, QString());
    QVERIFY(f.log().contains("Error"));
    QVERIFY(!f.log().contains("Finished"));
    // Ready for another try.
    QVERIFY(f.button("pbFlash")->isEnabled());
    QVERIFY(f.button("pbLoadHex")->isEnabled());
}

// The board falls silent before the marker: not a success.
void tst_Bootloader::unconfirmedMarker()
{
    // Connecting takes two lines (version and identity), the image one.
    Fixture f(true, {"--silent-after", "3"});
    QVERIFY(f.connected);
    QVERIFY(f.load(HexFile::image("tiny", 0)));
    QCOMPARE(f.flash(), int(FlashSession::MarkerFailed));
    QCOMPARE(flashLines(f.sim->transcript()).last(), marker);
    QCOMPARE(f.boxes.texts(), QStringList{sendError});
    QVERIFY(!f.log().contains("Finished"));
}

void tst_Bootloader::notConnected()
{
    Fixture f(false);
    QVERIFY(f.load(HexFile::image("data", 0)));
    QSignalSpy finished(&f.window, &Bootloader::signal_flashFinished);
    QSignalSpy restarted(&f.window, &Bootloader::signal_restartFinished);
    QTest::mouseClick(f.button("pbFlash"), Qt::LeftButton);
    QTest::mouseClick(f.button("pbRestart"), Qt::LeftButton);
    QCOMPARE(f.boxes.texts(), (QStringList{notConnectedText, notConnectedText}));
    QCOMPARE(finished.count(), 0);
    QCOMPARE(restarted.count(), 0);
    QVERIFY(!f.log().contains("Flash..."));
}

void tst_Bootloader::closingCancels()
{
    Fixture f(true, {"--delay", "2"});
    QVERIFY(f.connected);
    QVERIFY(f.load(HexFile::image(randomBytes(100 * 1024, 5), 0)));
    QSignalSpy finished(&f.window, &Bootloader::signal_flashFinished);
    QTest::mouseClick(f.button("pbFlash"), Qt::LeftButton);
    QVERIFY(f.window.isBusy());
    QVERIFY(!f.button("pbLoadHex")->isEnabled());
    QVERIFY(!f.button("pbFlash")->isEnabled());
    QVERIFY(!f.button("pbRestart")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(f.progress()->value() >= 5, 10000);
    f.window.close();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), int(FlashSession::Cancelled));
    const int sent = flashLines(f.sim->transcript()).size();
    QTest::qWait(100);
    const QStringList lines = flashLines(f.sim->transcript());
    QCOMPARE(lines.size(), sent);
    QVERIFY(lines.size() < 400);
    QVERIFY(!lines.contains(marker));
}

void tst_Bootloader::restart()
{
    Fixture f(true);
    QVERIFY(f.connected);
    QSignalSpy restarted(&f.window, &Bootloader::signal_restartFinished);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(f.button("pbRestart"), Qt::LeftButton);
    QVERIFY(restarted.wait(15000));
    // An answering board ends the wait well before a silent one's 10 s.
    QVERIFY(clock.elapsed() < TestTiming::bound(9000));
    QVERIFY(f.log().contains("Restarting...\nDone!"));
    QCOMPARE(f.sim->transcript().filter("<CAN>").size(), 6);
    QVERIFY(f.link.transact("get VER"));
    QCOMPARE(f.boxes.count(), 0);
}

void tst_Bootloader::restartSilentBoard()
{
    Fixture f(true, {"--silent-after", "2"});
    QVERIFY(f.connected);
    QSignalSpy restarted(&f.window, &Bootloader::signal_restartFinished);
    // The window keeps answering while the link waits for the board.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(100);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(f.button("pbRestart"), Qt::LeftButton);
    QVERIFY(!f.button("pbRestart")->isEnabled());
    QVERIFY(restarted.wait(20000));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 10000 && elapsed < 13000, qPrintable(QString::number(elapsed)));
    QVERIFY2(ticks > 50, qPrintable(QString::number(ticks)));
    QVERIFY(f.button("pbRestart")->isEnabled());
    QVERIFY(f.log().contains("Restarting...\nDone!"));
}

QTEST_MAIN(tst_Bootloader)
#include "tst_bootloader.moc"
