#include "app/mainapp.h"
#include "app/settings.h"
#include "fulldisk.h"
#include "specialfiles.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void defaults_data();
    void defaults();
    void storedValueWins();
    void directoryNumbering_data();
    void directoryNumbering();
    void fileInWorkingDirectory();
    void fileThatIsNoRegularFile_data();
    void fileThatIsNoRegularFile();
    void fileThroughLink();
    void fullDisk_data();
    void fullDisk();
    void failedWriteIsLogged();
};

void tst_Settings::defaults_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("python_path") << "python_path" << QVariant(QString("python3"));
    QTest::newRow("updater_path") << "updater_path" << QVariant(Settings::defaultUpdaterPath());
    QTest::newRow("_Path0") << "_Path0" << QVariant();
    QTest::newRow("unknown") << "Python_Path" << QVariant();
}

void tst_Settings::defaults()
{
    QFETCH(QString, key);
    QFETCH(QVariant, expected);

    QTemporaryDir dir;
    Settings settings(dir.filePath("hql3318.ini"));
    QCOMPARE(settings.value(key), expected);
    QCOMPARE(settings.value(key).isNull(), expected.isNull());
    QVERIFY(Settings::defaultUpdaterPath().startsWith('/'));
}

void tst_Settings::storedValueWins()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("hql3318.ini");
    {
        Settings settings(path);
        settings.setValue("python_path", "/opt/py/bin/python3");
    }
    Settings again(path);
    QCOMPARE(again.value("python_path").toString(), QString("/opt/py/bin/python3"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("[General]"), text.constData());
}

void tst_Settings::directoryNumbering_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("next");

    QTest::newRow("none") << QStringList{} << QStringList{} << "_Path0";
    QTest::newRow("two") << QStringList{"_Path0", "_Path1"} << QStringList{"/d/_Path0", "/d/_Path1"}
                         << "_Path2";
    // A gap hides what lies after it, and the gap is filled next.
    QTest::newRow("gap") << QStringList{"_Path0", "_Path2"} << QStringList{"/d/_Path0"} << "_Path1";
    QTest::newRow("no first") << QStringList{"_Path1"} << QStringList{} << "_Path0";
}

void tst_Settings::directoryNumbering()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, listed);
    QFETCH(QString, next);

    QTemporaryDir dir;
    Settings settings(dir.filePath("hql3318.ini"));
    for (const QString &key : keys)
        settings.setValue(key, "/d/" + key);
    QCOMPARE(settings.workspaceDirectories(), listed);
    QCOMPARE(settings.firstUnusedDirectoryKey(), next);
}

// The file is found in the working directory exactly as it is spelled: on a
// case-sensitive file system a lower-cased directory would be another one.
void tst_Settings::fileInWorkingDirectory()
{
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkdir("Bench Work"));
    const QString work = root.filePath("Bench Work");
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work));

    QCOMPARE(Settings::defaultFilePath(), work + "/hql3318.ini");
    MainApp *app = MainApp::instance();
    app->setSettingValue("_Path0", "/home/user/benches");
    QCOMPARE(app->settingValue("_Path0").toString(), QString("/home/user/benches"));
    QCOMPARE(app->settingValue("python_path").toString(), QString("python3"));
    QVERIFY(QFile::exists(work + "/hql3318.ini"));
    MainApp::destroyInstance();

    QVERIFY(QDir::setCurrent(previous));
}

void tst_Settings::fileThatIsNoRegularFile_data()
{
    SpecialFiles::addKindRows();
}

// The toolkit opened whatever was there: a pipe blocked the program at start
// and a device was read without end. Now neither is opened, nor replaced.
void tst_Settings::fileThatIsNoRegularFile()
{
    QFETCH(int, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath("hql3318.ini");
    QString whyNot;
    if (!SpecialFiles::make(SpecialFiles::Kind(kind), path, &whyNot))
        QSKIP(qPrintable(whyNot));
    const QString before = SpecialFiles::snapshot(path);
    const QString refusal = SpecialFiles::refusal(SpecialFiles::Kind(kind));

    Settings settings(path);
    QVERIFY2(settings.readError().startsWith("Cannot read settings from " + path + ": "),
             qPrintable(settings.readError()));
    QVERIFY2(settings.readError().contains(refusal), qPrintable(settings.readError()));
    QCOMPARE(settings.value("python_path").toString(), QString("python3"));

    QString error;
    QVERIFY(!settings.setValue("python_path", "/opt/py", &error));
    QVERIFY2(error.startsWith("Cannot save settings to " + path + ": "), qPrintable(error));
    QVERIFY2(error.contains(refusal), qPrintable(error));
    // Kept for the rest of the run.
    QCOMPARE(settings.value("python_path").toString(), QString("/opt/py"));
    QCOMPARE(SpecialFiles::snapshot(path), before);
}

void tst_Settings::fileThroughLink()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("shared"));
    const QString path = dir.filePath("hql3318.ini");
    const QString shared = dir.filePath("shared/bench.ini");
    {
        QSettings ini(shared, QSettings::IniFormat);
        ini.setValue("python_path", "/shared/python3");
    }
    QVERIFY(QFile::link("shared/bench.ini", path));

    Settings settings(path);
    QVERIFY(settings.readError().isEmpty());
    QCOMPARE(settings.value("python_path").toString(), QString("/shared/python3"));
    QVERIFY(settings.setValue("_Path0", "/benches"));
    QVERIFY(QFileInfo(path).isSymLink());
    const QSettings ini(shared, QSettings::IniFormat);
    QCOMPARE(ini.value("_Path0").toString(), QString("/benches"));
    QCOMPARE(ini.value("python_path").toString(), QString("/shared/python3"));
}

void tst_Settings::fullDisk_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::newRow("full tmpfs") << true;
    QTest::newRow("file size limit") << false;
}

// A write the disk cannot take used to go unnoticed. It is reported, the
// file stays as it was, and the value holds and is written with the next
// write that finds room.
void tst_Settings::fullDisk()
{
    QFETCH(bool, tmpfs);
    SmallDisk disk;
    if (tmpfs && !disk.isMounted())
        QSKIP(qPrintable(disk.whyNot()));
    QTemporaryDir scratch;
    const QString path = QDir(tmpfs ? disk.path() : scratch.path()).filePath("hql3318.ini");
    Settings settings(path);
    QVERIFY(settings.setValue("python_path", "/old/python3"));
    const QByteArray old = readFile(path);

    QString error;
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (tmpfs)
            QVERIFY(disk.fill());
        else
            limit = std::make_unique<FileSizeLimit>(0);
        QVERIFY(!settings.setValue("updater_path", "/new/updater", &error));
    }
    QVERIFY2(error.startsWith("Cannot save settings to " + path + ": "), qPrintable(error));
    if (tmpfs)
        QVERIFY2(error.endsWith("No space left on device"), qPrintable(error));
    QCOMPARE(readFile(path), old);
    QCOMPARE(settings.value("updater_path").toString(), QString("/new/updater"));

    if (tmpfs)
        QVERIFY(QFile::remove(disk.filePath("filler")));
    QVERIFY(settings.setValue("_Path0", "/benches"));
    const QSettings ini(path, QSettings::IniFormat);
    QCOMPARE(ini.value("python_path").toString(), QString("/old/python3"));
    QCOMPARE(ini.value("updater_path").toString(), QString("/new/updater"));
    QCOMPARE(ini.value("_Path0").toString(), QString("/benches"));
}

// Each write that fails is one error line in the log, no more.
void tst_Settings::failedWriteIsLogged()
{
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    QVERIFY(QDir().mkdir("hql3318.ini"));
    MainApp *app = MainApp::instance();
    QSignalSpy log(app, &MainApp::signal_log);
    app->setSettingValue("last_port", "/dev/ttyACM0");
    app->setSettingValue("reconnect", true);
    QCOMPARE(log.count(), 2);
    for (const QList<QVariant> &line : log) {
        QCOMPARE(line.at(0).toInt(), -1);
        QCOMPARE(line.at(1).toString(), "Cannot save settings to " + work.filePath("hql3318.ini") +
                                            ": it is a directory, not a regular file");
    }
    QCOMPARE(app->settingValue("last_port").toString(), QString("/dev/ttyACM0"));
    MainApp::destroyInstance();
    QVERIFY(QDir::setCurrent(previous));
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
