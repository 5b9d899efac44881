#include "app/mainapp.h"
#include "app/settings.h"

#include <QDir>
#include <QFile>
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

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
