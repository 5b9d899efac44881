// A board that goes away and comes back, with the real application, the
// simulated board and the scripting client as separate processes. The
// board's terminal is reached through a link in a watched directory, as a
// stable name in /dev/serial/by-id would be.
#include "appprocess.h"
#include "simboard.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class tst_Hotplug : public QObject
{
    Q_OBJECT

private slots:
    void reconnectsWhenTheBoardReturns();
};

void tst_Hotplug::reconnectsWhenTheBoardReturns()
{
    QTemporaryDir work;
    QTemporaryDir watched;
    QVERIFY(work.isValid() && watched.isValid());
    {
        QSettings ini(QDir(work.path()).filePath("hql3318.ini"), QSettings::IniFormat);
        ini.setValue("port_directories", QStringList{watched.path()});
        ini.setValue("reconnect_automatically", true);
    }
    const QString link = watched.filePath("usb-Velmora_DemoBoard_0042-if00");
    // The connect's set-up takes about 40 lines; the board hangs up soon after.
    auto first = std::make_unique<SimBoard>(QStringList{"--link", link, "--hangup-after", "60"});
    QVERIFY2(first->isRunning(), qPrintable(first->errorString()));
    QVERIFY(QFileInfo(link).isSymLink());

    const QString pipe = uniquePipe("hotplug");
    QProcess program;
    program.setWorkingDirectory(work.path());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(HQL_APP_PATH), {"--headless", "--pipe", pipe});
    QVERIFY(QTest::qWaitFor(
        [&] {
            QLocalSocket probe;
            probe.connectToServer(LocalServer::socketPath(pipe));
            return probe.waitForConnected(100);
        },
        10000));

    QCOMPARE(runCtl(pipe, {"run", "open", "s" + link}).out.trimmed(), QByteArray("i1"));
    QVERIFY(runCtl(pipe, {"run", "write", "sget VER"}).out.startsWith("x"));

    // Requests until the board hangs up; then its link is gone.
    bool hungUp = false;
    for (int i = 0; i < 100 && !hungUp; ++i)
        hungUp = !runCtl(pipe, {"run", "write", "sget DIO22"}).out.startsWith("x");
    QVERIFY(hungUp);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink(), 5000);
    first.reset();

    // The same stable name comes back on a new terminal.
    SimBoard second({"--link", link});
    QVERIFY2(second.isRunning(), qPrintable(second.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(second.transcript().contains("get VER"), 10000);
    // Set up again and read, as after a connect by hand.
    QTRY_VERIFY_WITH_TIMEOUT(second.transcript().contains("get AINREF"), 10000);
    QVERIFY(runCtl(pipe, {"run", "write", "sget VER"}).out.startsWith("x"));

    runCtl(pipe, {"run", "shutdown"});
    QVERIFY(program.waitForFinished(10000));
}

QTEST_MAIN(tst_Hotplug)
#include "tst_hotplug.moc"
