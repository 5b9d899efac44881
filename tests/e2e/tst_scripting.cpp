#include "appprocess.h"
#include "fulldisk.h"
#include "link/portusers.h"
#include "link/serialport.h"
#include "simboard.h"

#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using App = AppProcess;

CtlReply ctl(const QString &pipe, const QStringList &args, const QByteArray &input = QByteArray())
{
    return runCtl(pipe, args, input);
}

} // namespace

class tst_Scripting : public QObject
{
    Q_OBJECT

private slots:
    void driveTheBoard();
    void errorsWhileDisconnected();
    void replyOnTerminal();
    void shutdownEndsTheProcess();
    void staleSocketAfterKill();
    void secondInstanceKeepsAway();
    void twoBoardsSideBySide();
    void permissionDeniedSaysWhy();
    void pythonExample();
    void concurrentClients();
    void fullDisk();
};

void tst_Scripting::driveTheBoard()
{
    SimBoard sim;
    QVERIFY(sim.isRunning());
    const QString pipe = uniquePipe("drive");
    App app(pipe, {"--port", sim.path()});
    QVERIFY(app.waitReady());

    QCOMPARE(ctl(pipe, {"get", "version"}).out, QByteArray("i1\n"));
    QCOMPARE(ctl(pipe, {"run", "open", "s" + sim.path()}).out, QByteArray("i1\n"));
    CtlReply r = ctl(pipe, {"set", "SpiController.CR5A[9:8]", "i2"});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QByteArray("ok\n"));
    QCOMPARE(ctl(pipe, {"get", "SpiController.CR5A[9:8]"}).out, QByteArray("i2\n"));
    QCOMPARE(ctl(pipe, {"run", "SpiController.WriteCR5A"}).out, QByteArray("i1\n"));
    // Address 5, the watchdog bit as it stands, the default configuration
    // 0x290 written at connect already has BLANK1 = 2.
    QVERIFY(sim.transcript().contains("set SPI0CS0DATA=025290") ||
            sim.transcript().contains("set SPI0CS0DATA=025a90"));
    QCOMPARE(ctl(pipe, {"run", "SpiController.ReadAll"}).out, QByteArray("i1\n"));
    QCOMPARE(ctl(pipe, {"get", "SpiController.SR7[]"}).out, QByteArray("i1617\n"));
    r = ctl(pipe, {"run", "write", "sget DIO25"});
    QCOMPARE(r.out, QByteArray("x") + QByteArray("DIO25=1\n").toHex() + '\n');
    // Several lines from standard input make one request.
    r = ctl(pipe, {"-"}, "get\tversion\nset\tWatchDog.WDTime\tf1001\n");
    QCOMPARE(r.status, 1);
    QCOMPARE(r.out, QByteArray("i1err\n"));
}

void tst_Scripting::errorsWhileDisconnected()
{
    const QString pipe = uniquePipe("errors");
    App app(pipe);
    QVERIFY(app.waitReady());
    const CtlReply r = ctl(pipe, {"get", "SpiController.CR0"});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.out, QByteArray("err\n"));
    // Headless: the error box is written, not shown.
    QByteArray said;
    QTRY_VERIFY((said += app.m_process.readAll()).contains("Error GET SpiController.CR0"));
    QCOMPARE(ctl(uniquePipe("nobody"), {"get", "version"}).status, 2);
}

// In a terminal every reply ends its line, so the shell's prompt starts on
// a line of its own.
void tst_Scripting::replyOnTerminal()
{
    const QString pipe = uniquePipe("terminal");
    App app(pipe);
    QVERIFY(app.waitReady());
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    auto closeMaster = qScopeGuard([master] { ::close(master); });
    const QString terminal = QString::fromLocal8Bit(ptsname(master));

    const QList<QPair<QStringList, QByteArray>> cases = {
        {{"get", "version"}, "i1\r\n"},
        {{"get", "SpiController.CR0"}, "err\r\n"},
        {{"run", "open", "smockup"}, "i1\r\n"},
    };
    for (const auto &[args, shown] : cases) {
        QProcess p;
        p.setStandardOutputFile(terminal);
        p.start(QStringLiteral(HQL_CTL_PATH), QStringList{"--pipe", pipe} + args);
        QVERIFY(p.waitForFinished(30000));
        QByteArray seen;
        pollfd ready{master, POLLIN, 0};
        while (::poll(&ready, 1, 200) > 0) {
            char buffer[256];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            seen.append(buffer, n);
        }
        QCOMPARE(seen, shown);
    }
}

void tst_Scripting::shutdownEndsTheProcess()
{
    const QString pipe = uniquePipe("shutdown");
    App app(pipe);
    QVERIFY(app.waitReady());
    QCOMPARE(ctl(pipe, {"run", "shutdown"}).out, QByteArray("i1\n"));
    QVERIFY(app.m_process.waitForFinished(10000));
    QCOMPARE(app.m_process.exitCode(), 0);
    QVERIFY(!QFile::exists(app.m_path));
}

void tst_Scripting::staleSocketAfterKill()
{
    const QString pipe = uniquePipe("stale");
    {
        App crashed(pipe);
        QVERIFY(crashed.waitReady());
        ::kill(pid_t(crashed.m_process.processId()), SIGKILL);
        QVERIFY(crashed.m_process.waitForFinished(5000));
        QVERIFY(QFile::exists(crashed.m_path));
    }
    App next(pipe);
    QVERIFY(next.waitReady());
    QTRY_COMPARE(ctl(pipe, {"get", "version"}).out, QByteArray("i1\n"));
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(next.m_path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0077, 0u);
}

void tst_Scripting::secondInstanceKeepsAway()
{
    const QString pipe = uniquePipe("second");
    App first(pipe);
    QVERIFY(first.waitReady());
    App second(pipe);
    QVERIFY(second.m_process.waitForFinished(10000));
    QCOMPARE(second.m_process.exitCode(), 0);
    QCOMPARE(ctl(pipe, {"get", "version"}).out, QByteArray("i1\n"));
}

// The example of the scripting guide, run as it stands.
// Two instances, each with its own board and socket: each holds its own
// port, and the other one's is neither free nor taken from it.
void tst_Scripting::twoBoardsSideBySide()
{
    SimBoard simA;
    SimBoard simB;
    QVERIFY(simA.isRunning() && simB.isRunning());
    const QString pipeA = uniquePipe("boardA");
    const QString pipeB = uniquePipe("boardB");
    App appA(pipeA, {"--port", simA.path()});
    App appB(pipeB, {"--port", simA.path(), "--port", simB.path()});
    QVERIFY(appA.waitReady() && appB.waitReady());

    // B's first look for boards may hold A's port for a moment, and an open
    // meanwhile is refused as for any other program: A tries again.
    const QString holderA = QString("hql3318 (process %1)").arg(appA.m_process.processId());
    QVERIFY(QTest::qWaitFor(
        [&] {
            return ctl(pipeA, {"run", "open", "s" + simA.path()}).out == "i1\n" &&
                   PortUsers::holderOf(simA.path()) == holderA;
        },
        10000));
    QVERIFY(PortUsers::isFree(simB.path()));
    // The open's result is not reported on the socket; the reason goes to the log.
    QCOMPARE(ctl(pipeB, {"run", "open", "s" + simA.path()}).out, QByteArray("i1\n"));
    const QString inUse = QString("%1 is in use by %2.").arg(simA.path(), holderA);
    QTRY_VERIFY(appB.output().contains(inUse.toLocal8Bit()));
    QCOMPARE(ctl(pipeB, {"run", "open", "s" + simB.path()}).out, QByteArray("i1\n"));
    QVERIFY(!PortUsers::isFree(simB.path()));

    for (const auto &[pipe, sim] : {std::pair{pipeA, &simA}, std::pair{pipeB, &simB}}) {
        const int before = sim->transcript().size();
        QCOMPARE(ctl(pipe, {"run", "write", "sget DIO25"}).out,
                 QByteArray("x") + QByteArray("DIO25=1\n").toHex() + '\n');
        QTRY_COMPARE(sim->transcript().mid(before), QStringList{"get DIO25"});
    }
    QCOMPARE(ctl(pipeA, {"run", "close"}).out, QByteArray("i1\n"));
    QTRY_VERIFY(PortUsers::isFree(simA.path()));
    QVERIFY(!PortUsers::isFree(simB.path()));
}

// A user outside the device's group is told which group to join.
void tst_Scripting::permissionDeniedSaysWhy()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run the program as another user; as an ordinary user, run it on a port "
              "whose group you are not in");
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (setpriv.isEmpty())
        QSKIP("setpriv(1) is not installed");
    SimBoard sim;
    QVERIFY(sim.isRunning());
    struct stat st
    {
    };
    QVERIFY(::stat(QFile::encodeName(sim.path()).constData(), &st) == 0);
    // The user nobody neither owns the terminal nor is in its group, and others may not use it.
    QVERIFY((st.st_mode & 0006) == 0);

    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ReadOther | QFile::WriteOther | QFile::ExeOther));
    const QString pipe = dir.filePath("socket");
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("HOME", dir.path());
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(dir.path());
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", "--", HQL_APP_PATH, "--headless",
                        "--pipe", pipe, "--port", sim.path()});
    auto stop = qScopeGuard([&app] {
        app.terminate();
        if (!app.waitForFinished(3000))
            app.kill();
        app.waitForFinished(3000);
    });
    QVERIFY(
        QTest::qWaitFor([&] { return QFile::exists(pipe) || app.state() == QProcess::NotRunning; }, 10000));
    QVERIFY2(app.state() == QProcess::Running, app.readAll().constData());
    // The server answers its own user only.
    const auto asNobody = [&](const QStringList &args) {
        QProcess client;
        const QStringList user{"--reuid=65534", "--regid=65534", "--clear-groups", "--"};
        client.start(setpriv, user + QStringList{HQL_CTL_PATH, "--pipe", pipe} + args);
        client.waitForFinished(30000);
        return client.readAllStandardOutput();
    };
    QCOMPARE(asNobody({"run", "open", "s" + sim.path()}), QByteArray("i1\n"));
    // What the message says for which mode is tested on its own; here, that
    // it reaches the person.
    const QString why = PortUsers::permissionMessage(sim.path());
    QVERIFY(why.startsWith("Permission denied on " + sim.path()));
    QByteArray said;
    QTRY_VERIFY2((said += app.readAll()).contains(why.toLocal8Bit()), said.constData());
    QCOMPARE(asNobody({"get", "SpiController.CR0"}), QByteArray("err\n"));
}

void tst_Scripting::pythonExample()
{
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    QFile guide(QStringLiteral(HQL_SOURCE_DIR "/docs/scripting.md"));
    QVERIFY(guide.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(guide.readAll());
    // The example of the protocol without the package.
    const int start = text.indexOf("```python\n", text.indexOf("### The socket without the package"));
    const int end = text.indexOf("```", start + 10);
    QVERIFY(start >= 0 && end > start);
    const QString example = text.mid(start + 10, end - start - 10);

    // A path: the example and the application agree on it whatever the
    // environment says about names.
    QTemporaryDir dir;
    const QString pipe = dir.filePath("socket");
    App app(pipe);
    QVERIFY(app.waitReady());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    p.setProcessEnvironment(env);
    // The example talks to the default name; point it at this test's socket.
    QString script = example;
    script.replace("name=\"HQL3318\"", "name=\"" + pipe + "\"");
    p.start(python, {"-c", script});
    QVERIFY(p.waitForFinished(30000));
    const QByteArray out = p.readAllStandardOutput();
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(out.startsWith("i1\ni"), out.constData());
}

// Eight clients at once, each with requests whose replies name them.
void tst_Scripting::concurrentClients()
{
    const QString pipe = uniquePipe("busy");
    App app(pipe);
    QVERIFY(app.waitReady());
    QCOMPARE(ctl(pipe, {"run", "open", "smockup"}).out, QByteArray("i1\n"));
    const QString path = app.m_path;
    std::atomic<int> wrong{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c) {
        clients.emplace_back([c, path, &wrong] {
            for (int i = 0; i < 500; ++i) {
                const QByteArray name = "C" + QByteArray::number(c) + "R" + QByteArray::number(i);
                QLocalSocket socket;
                socket.connectToServer(path);
                if (!socket.waitForConnected(5000)) {
                    ++wrong;
                    continue;
                }
                socket.write("run\twrite\tsget " + name + "\n");
                socket.waitForBytesWritten(5000);
                QByteArray reply;
                while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(5000))
                    reply += socket.readAll();
                reply += socket.readAll();
                if (!reply.startsWith("x" + (name + "=").toHex()))
                    ++wrong;
            }
        });
    }
    for (std::thread &t : clients)
        t.join();
    QCOMPARE(wrong.load(), 0);
}

// Headless, a file that cannot be written is an error on the socket, on
// standard error and in the daily log file, and the old file stays.
void tst_Scripting::fullDisk()
{
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.whyNot()));
    const QString path = disk.filePath("kept.csv");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old\n") == 4);
    old.close();
    QVERIFY(disk.fill());

    const QString pipe = uniquePipe("full");
    App app(pipe);
    QVERIFY(app.waitReady());
    const CtlReply r = ctl(pipe, {"run", "export_measurements", "s" + path});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.out, QByteArray("err\n"));
    QCOMPARE(QFile(path).size(), 4);
    const QByteArray error = "Cannot write " + path.toLocal8Bit() + ": No space left on device";
    QByteArray said;
    QTRY_VERIFY((said += app.m_process.readAll()).contains(error));
    QFile log(QDir(app.m_dir.path()).filePath(QDate::currentDate().toString("yyyyMMdd") + ".log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains(error));
}

QTEST_GUILESS_MAIN(tst_Scripting)
#include "tst_scripting.moc"
