#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

// cmake --install into a scratch prefix: the three programs, the desktop
// entry and the icon it names, and an installed application that runs.
class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void installsUnderPrefix();
};

void tst_Install::installsUnderPrefix()
{
    QTemporaryDir prefix;
    // The prefix plays the user's own base (~/.local), so the Python
    // package lands where that Python finds it.
    QProcessEnvironment userBase = QProcessEnvironment::systemEnvironment();
    userBase.insert("PYTHONUSERBASE", prefix.path());
    QProcess install;
    install.setProcessEnvironment(userBase);
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(HQL_CMAKE),
                  {"--install", QStringLiteral(HQL_BUILD_DIR), "--prefix", prefix.path()});
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());

    for (const char *program : {"hql3318", "hql3318-sim", "hql3318-ctl"}) {
        const QFileInfo info(prefix.filePath(QStringLiteral("bin/") + QLatin1String(program)));
        QVERIFY2(info.isFile() && info.isExecutable(), program);
    }

    const QString entry = prefix.filePath("share/applications/hql3318.desktop");
    QVERIFY(QFile::exists(entry));
    QSettings desktop(entry, QSettings::IniFormat);
    desktop.beginGroup("Desktop Entry");
    QCOMPARE(desktop.value("Type").toString(), QString("Application"));
    QCOMPARE(desktop.value("Exec").toString(), QString("hql3318"));
    const QString icon = desktop.value("Icon").toString();
    QSvgRenderer svg(prefix.filePath("share/icons/hicolor/scalable/apps/" + icon + ".svg"));
    QVERIFY(svg.isValid());

    QProcess version;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    version.setProcessEnvironment(env);
    version.start(prefix.filePath("bin/hql3318"), {"--version"});
    QVERIFY(version.waitForFinished(10000));
    QCOMPARE(version.exitCode(), 0);
    QVERIFY(version.readAllStandardOutput().startsWith("hql3318 "));

    if (QString(HQL_PYTHON3).isEmpty())
        QSKIP("python3 is not installed: no Python package to check");
    QProcess python;
    python.setProcessEnvironment(userBase);
    python.setWorkingDirectory(prefix.path());
    python.start(QStringLiteral(HQL_PYTHON3), {"-c", "import hql3318; print(hql3318.__file__)"});
    QVERIFY(python.waitForFinished(30000));
    const QString module = QString::fromUtf8(python.readAllStandardOutput()).trimmed();
    QVERIFY2(python.exitCode() == 0 && module.startsWith(prefix.path() + "/lib/python3"),
             qPrintable(module + python.readAllStandardError()));
}

QTEST_MAIN(tst_Install)
#include "tst_install.moc"
