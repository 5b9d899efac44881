#include "fulldisk.h"
#include "specialfiles.h"
#include "testfiles.h"
#include "util/safefile.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

enum Writer
{
    // One write far below the file's buffer: the case that used to report
    // success and leave an empty file.
    SmallWrite,
    SeveralWrites,
    // More than the buffer holds: the write itself fails.
    LargeWrite,
    // A picture written through device(), as the window grabs are.
    Picture,
};

bool writeWith(Writer writer, SafeFile &file)
{
    if (!file.open())
        return false;
    switch (writer) {
    case SmallWrite: file.write("CR5A\n{\n341\n}\n"); break;
    case SeveralWrites:
        for (int i = 0; i < 20; ++i)
            file.write(QByteArray(100, char('a' + i)));
        break;
    case LargeWrite: file.write(QByteArray(1 << 20, 'L')); break;
    case Picture: {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.save(file.device(), "PNG");
        break;
    }
    }
    return file.commit();
}

} // namespace

class tst_SafeFile : public QObject
{
    Q_OBJECT

private slots:
    void replacesWhole_data();
    void replacesWhole();
    void fullDisk_data();
    void fullDisk();
    void cannotOpen();
    void cancelled();
    void refusesWhatIsNoRegularFile_data();
    void refusesWhatIsNoRegularFile();
    void writesThroughLinks_data();
    void writesThroughLinks();
    void nodePutInPlaceMeanwhile_data();
    void nodePutInPlaceMeanwhile();
};

void tst_SafeFile::replacesWhole_data()
{
    QTest::addColumn<int>("writer");
    QTest::newRow("small write") << int(SmallWrite);
    QTest::newRow("several writes") << int(SeveralWrites);
    QTest::newRow("large write") << int(LargeWrite);
    QTest::newRow("picture") << int(Picture);
}

void tst_SafeFile::replacesWhole()
{
    QFETCH(int, writer);
    QTemporaryDir dir;
    const QString path = dir.filePath("out");
    QVERIFY(writeFile(path, QByteArray(100000, '#')));
    SafeFile file(path);
    QVERIFY(writeWith(Writer(writer), file));
    QVERIFY(file.errorString().isEmpty());
    const QByteArray written = readFile(path);
    QVERIFY(!written.contains('#'));
    QVERIFY(!written.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out"});
}

void tst_SafeFile::fullDisk_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::addColumn<int>("writer");
    QTest::addColumn<QString>("reason");

    for (bool tmpfs : {true, false}) {
        const char *fault = tmpfs ? "full tmpfs" : "file size limit";
        const QString reason = tmpfs ? "No space left on device" : "File too large";
        QTest::addRow("%s, small write", fault) << tmpfs << int(SmallWrite) << reason;
        QTest::addRow("%s, several writes", fault) << tmpfs << int(SeveralWrites) << reason;
        QTest::addRow("%s, large write", fault) << tmpfs << int(LargeWrite) << reason;
        QTest::addRow("%s, picture", fault) << tmpfs << int(Picture) << reason;
    }
}

// The old file survives every failure, and the error says why.
void tst_SafeFile::fullDisk()
{
    QFETCH(bool, tmpfs);
    QFETCH(int, writer);
    QFETCH(QString, reason);

    SmallDisk disk;
    QTemporaryDir scratch;
    if (tmpfs && !disk.isMounted())
        QSKIP(qPrintable(disk.whyNot()));
    const QString dir = tmpfs ? disk.path() : scratch.path();
    const QString path = QDir(dir).filePath("kept.txt");
    const QByteArray old = "the old file\n";
    QVERIFY(writeFile(path, old));
    QStringList files = QDir(dir).entryList(QDir::Files);

    std::unique_ptr<FileSizeLimit> limit;
    if (tmpfs) {
        QVERIFY(disk.fill());
        files = QDir(dir).entryList(QDir::Files);
    } else {
        limit = std::make_unique<FileSizeLimit>(0);
    }
    SafeFile file(path);
    const bool written = writeWith(Writer(writer), file);
    limit.reset();

    QVERIFY(!written);
    QVERIFY(file.failed());
    QVERIFY2(file.errorString().startsWith("Cannot write " + path + ": "), qPrintable(file.errorString()));
    QVERIFY2(file.errorString().contains(reason), qPrintable(file.errorString()));
    QCOMPARE(readFile(path), old);
    // No temporary file is left behind.
    QCOMPARE(QDir(dir).entryList(QDir::Files), files);
    // A failure sticks: nothing more is written or committed.
    QVERIFY(!file.write("more"));
    QVERIFY(!file.commit());
    QCOMPARE(readFile(path), old);
}

void tst_SafeFile::cannotOpen()
{
    QTemporaryDir dir;
    QString error;
    const QString path = dir.filePath("missing/out");
    QVERIFY(!SafeFile::save(path, "x", &error));
    QVERIFY2(error.startsWith("Cannot write " + path + ": "), qPrintable(error));
    QVERIFY(error.size() > QString("Cannot write " + path + ": ").size());
    QVERIFY(SafeFile::save(dir.filePath("out"), "x", &error));
    QCOMPARE(readFile(dir.filePath("out")), QByteArray("x"));
}

void tst_SafeFile::cancelled()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out");
    QVERIFY(writeFile(path, "old"));
    SafeFile file(path);
    QVERIFY(file.open());
    QVERIFY(file.write("new"));
    file.cancel("the picture could not be encoded");
    QVERIFY(!file.commit());
    QCOMPARE(file.errorString(), "Cannot write " + path + ": the picture could not be encoded");
    QCOMPARE(readFile(path), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out"});
}

void tst_SafeFile::refusesWhatIsNoRegularFile_data()
{
    SpecialFiles::addKindRows();
}

// A device node or a pipe used to be replaced by a regular file (the rename
// of the new file took its place); now it is left alone with a reason.
void tst_SafeFile::refusesWhatIsNoRegularFile()
{
    QFETCH(int, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath("out");
    QString whyNot;
    if (!SpecialFiles::make(SpecialFiles::Kind(kind), path, &whyNot))
        QSKIP(qPrintable(whyNot));
    const QString before = SpecialFiles::snapshot(path);
    const QStringList entries =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);

    for (Writer writer : {SmallWrite, Picture}) {
        SafeFile file(path);
        QVERIFY(!writeWith(writer, file));
        QVERIFY2(file.errorString().startsWith("Cannot write " + path + ": "),
                 qPrintable(file.errorString()));
        QVERIFY2(file.errorString().contains(SpecialFiles::refusal(SpecialFiles::Kind(kind))),
                 qPrintable(file.errorString()));
        QCOMPARE(SpecialFiles::snapshot(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), entries);
    }
}

void tst_SafeFile::writesThroughLinks_data()
{
    QTest::addColumn<QStringList>("links");
    // Each link names the next; the last names the file.
    QTest::newRow("relative link") << QStringList{"out", "file"};
    QTest::newRow("absolute link") << QStringList{"out", "/file"};
    QTest::newRow("two links") << QStringList{"out", "sub/middle", "../file"};
    QTest::newRow("link through a directory") << QStringList{"out", "sub/../file"};
}

// The file a link leads to is replaced and the links stay: a rename over the
// link itself would have put a file in its place.
void tst_SafeFile::writesThroughLinks()
{
    QFETCH(QStringList, links);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    const QString file = dir.filePath("file");
    QVERIFY(writeFile(file, "old"));
    for (int i = 0; i + 1 < links.size(); ++i) {
        const QString next = links.at(i + 1).startsWith('/') ? dir.path() + links.at(i + 1) : links.at(i + 1);
        QVERIFY(QFile::link(next, dir.filePath(links.at(i))));
    }
    QString error;
    QVERIFY2(SafeFile::save(dir.filePath("out"), "new", &error), qPrintable(error));
    QCOMPARE(readFile(file), QByteArray("new"));
    for (int i = 0; i + 1 < links.size(); ++i)
        QVERIFY2(QFileInfo(dir.filePath(links.at(i))).isSymLink(), qPrintable(links.at(i)));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoSymLinks), QStringList{"file"});
}

void tst_SafeFile::nodePutInPlaceMeanwhile_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("fileWasThere");
    for (bool there : {false, true}) {
        for (SpecialFiles::Kind kind : {SpecialFiles::Fifo, SpecialFiles::Device, SpecialFiles::LinkToFifo})
            QTest::addRow("%s, %s", SpecialFiles::name(kind), there ? "over a file" : "new file")
                << int(kind) << there;
    }
}

// A node that takes the file's place while it is written is not replaced
// either: the check is made again just before the rename.
void tst_SafeFile::nodePutInPlaceMeanwhile()
{
    QFETCH(int, kind);
    QFETCH(bool, fileWasThere);
    QTemporaryDir dir;
    const QString path = dir.filePath("out");
    if (fileWasThere)
        QVERIFY(writeFile(path, "old"));
    SafeFile file(path);
    QVERIFY(file.open());
    QVERIFY(file.write("new"));
    QFile::remove(path);
    QString whyNot;
    if (!SpecialFiles::make(SpecialFiles::Kind(kind), path, &whyNot))
        QSKIP(qPrintable(whyNot));
    const QString before = SpecialFiles::describe(path);
    QVERIFY(!file.commit());
    QVERIFY2(file.errorString().startsWith("Cannot write " + path + ": "), qPrintable(file.errorString()));
    QCOMPARE(SpecialFiles::describe(path), before);
}

QTEST_MAIN(tst_SafeFile)
#include "tst_safefile.moc"
