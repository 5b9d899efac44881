#include "link/controlboard.h"
#include "link/portusers.h"
#include "link/serialport.h"
#include "simboard.h"
#include "timing.h"
#include "tools/logs.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The link's traffic lines (a spy on signal_traffic) as the log window lists them.
QString logText(const QList<QVariant> &args)
{
    return Logs::formatLinkLine(args.at(0).toInt(), args.at(1).toByteArray(), args.at(2).toLongLong(),
                                args.at(3).toTime());
}

QStringList logTexts(const QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &args : spy)
        lines.append(logText(args));
    return lines;
}

int logLevel(const QList<QVariant> &args)
{
    return Logs::levelOfLinkLine(args.at(0).toInt());
}

// A link connected to a fresh simulated board started with the options.
struct Connected
{
    explicit Connected(const QStringList &options = {}) : sim(options)
    {
        if (sim.isRunning())
            ok = link.connectBoard(sim.path());
    }
    SimBoard sim;
    ControlBoard link;
    bool ok = false;
};

} // namespace

class tst_ControlBoard : public QObject
{
    Q_OBJECT

private slots:
    void connectQueriesVersion();
    void connectAfterAnUnreadAck();
    void transactions_data();
    void transactions();
    void timeoutRestartsOnEveryLine();
    void errorReplyFails();
    void timeoutZero();
    void disconnectedTransact();
    void logFormats();
    void parseValue_data();
    void parseValue();
    void services();
    void speedChangeAndDisconnect();
    void notOurBoard();
    void connectSaysWhy_data();
    void connectSaysWhy();
    void silentBoardIsDropped();
    void silentBoardIsDroppedUnderTraffic();
    void lateReplyIsNotTheNextOnesAnswer();
    void hangUpDuringTransaction();
    void longTransactionIsNotPinged();
    void presenceCheckGivesWay();
    void resetInBackground();
    void commandDuringRestartKeepsItsTimeout();
    void stoppingDuringReset_data();
    void stoppingDuringReset();
    void garbageAndFlood();
    void mockUp();
    void scriptMode();
    void asyncInOrder_data();
    void asyncInOrder();
    void commandsTogether_data();
    void commandsTogether();
    void asyncRespectsReservation();
    void disconnectFailsQueuedAsync();
    void destroyedWithAsyncPending_data();
    void destroyedWithAsyncPending();
};

void tst_ControlBoard::connectQueriesVersion()
{
    SimBoard sim;
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    ControlBoard link;
    QSignalSpy connected(&link, &ControlBoard::signal_connected);
    QVERIFY(link.connectBoard(sim.path()));
    QCOMPARE(connected.count(), 1);
    QVERIFY(link.isConnected());
    QCOMPARE(link.mode(), int(ControlBoard::Serial));
    QCOMPARE(link.firmwareVersion(), 0x0104);
    QVERIFY(link.firmwareBuildDate().isValid());
    QVERIFY(!link.firmwareIdentity().isEmpty());
    QVERIFY(!link.firmwareIdentity().contains('\n'));
    const QStringList lines = sim.transcript();
    QCOMPARE(lines.value(0), QString("<ENQ>"));
    QVERIFY(lines.contains("get VER"));
    QVERIFY(lines.contains("*IDN?"));
}

// Somebody asked the board before (the port search's probe) and left
// before its ACK came over a slow line: that ACK waits in the port, and the
// connect still finds the board.
void tst_ControlBoard::connectAfterAnUnreadAck()
{
    SimBoard sim({"--baud", "115200", "--latency", "16"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    {
        SerialPort probe;
        QVERIFY(probe.open(sim.path(), ControlBoard::LinkBaudRate));
        QCOMPARE(probe.write(QByteArray(1, '\x05')), 1);
    }
    // The ACK is on its way meanwhile; it arrives before the connect asks.
    QTRY_VERIFY(sim.transcript().contains("<ENQ>"));
    QTest::qWait(3 * 16);
    ControlBoard link;
    QVERIFY2(link.connectBoard(sim.path()), qPrintable(link.connectError()));
    QCOMPARE(link.firmwareVersion(), 0x0104);
}

void tst_ControlBoard::transactions_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("no line end") << QByteArray("get DIO22") << true << QByteArray("DIO22=0\n")
                                 << QStringList{"get DIO22"};
    QTest::newRow("two lines") << QByteArray("set DIO22=1\nget DIO22\n") << true << QByteArray("DIO22=1\n")
                               << QStringList{"set DIO22=1", "get DIO22"};
    QTest::newRow("several names") << QByteArray("set PWM0FREQ=1000 PWM0DUTY=20") << true
                                   << QByteArray("PWM0FREQ:ok PWM0DUTY:ok\n")
                                   << QStringList{"set PWM0FREQ=1000 PWM0DUTY=20"};
    QTest::newRow("unknown name") << QByteArray("get NOSUCH") << false << QByteArray()
                                  << QStringList{"get NOSUCH"};
    QTest::newRow("second line fails") << QByteArray("get DIO22\nget NOSUCH\n") << false << QByteArray()
                                       << QStringList{"get DIO22", "get NOSUCH"};
    QTest::newRow("empty") << QByteArray() << false << QByteArray() << QStringList{};
    // Refused whole, never sent cut short.
    QTest::newRow("too long") << QByteArray("set X=") + QByteArray(6000, '1') << false << QByteArray()
                              << QStringList{};
}

void tst_ControlBoard::transactions()
{
    QFETCH(QByteArray, command);
    QFETCH(bool, ok);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, sent);

    Connected c;
    QVERIFY(c.ok);
    const int before = c.sim.transcript().size();
    QByteArray answer("untouched");
    QCOMPARE(c.link.transact(command, &answer), ok);
    if (ok)
        QCOMPARE(answer, reply);
    else
        QCOMPARE(answer, QByteArray("untouched"));
    QTRY_COMPARE(c.sim.transcript().mid(before), sent);
}

void tst_ControlBoard::timeoutRestartsOnEveryLine()
{
    Connected c({"--delay", "400"});
    QVERIFY(c.ok);
    QByteArray answer;
    QVERIFY(c.link.transact("get DIO21\nget DIO22\nget DIO25\n", &answer, 500));
    QCOMPARE(answer, QByteArray("DIO25=1\n"));
    // One line alone may not take longer than the limit.
    QVERIFY(!c.link.transact("get DIO21", &answer, 200));
}

void tst_ControlBoard::errorReplyFails()
{
    Connected c({"--error", "SPI0CS0DATA"});
    QVERIFY(c.ok);
    c.link.setLogging(true);
    QSignalSpy log(&c.link, &ControlBoard::signal_traffic);
    QVERIFY(!c.link.setParameter("SPI0CS0DATA", "021234"));
    const QStringList lines = logTexts(log);
    QVERIFY2(lines.last().startsWith("RX_ERR(+"), qPrintable(lines.join(" | ")));
    QVERIFY(lines.last().endsWith("SPI0CS0DATA:err\n"));
    QCOMPARE(logLevel(log.last()), -1000);
}

void tst_ControlBoard::timeoutZero()
{
    Connected c;
    QVERIFY(c.ok);
    QByteArray answer("x");
    QVERIFY(c.link.transact("set DIO22=1", &answer, 0));
    QVERIFY(answer.isEmpty());
    QTRY_VERIFY(c.sim.transcript().contains("set DIO22=1"));
}

void tst_ControlBoard::disconnectedTransact()
{
    ControlBoard link;
    link.setLogging(true);
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QSignalSpy traffic(&link, &ControlBoard::signal_traffic);
    QByteArray answer("x");
    QVERIFY(!link.transact("get VER", &answer));
    QVERIFY(!link.getParameter("VER", &answer));
    QCOMPARE(answer, QByteArray("x"));
    QCOMPARE(log.count(), 0);
    QCOMPARE(traffic.count(), 0);
}

void tst_ControlBoard::logFormats()
{
    Connected c;
    QVERIFY(c.ok);
    QSignalSpy log(&c.link, &ControlBoard::signal_traffic);
    QVERIFY(c.link.transact("get VER"));
    QCOMPARE(log.count(), 0);

    c.link.setLogging(true);
    QVERIFY(c.link.transact("get DIO22"));
    c.link.log(ControlBoard::INF, "Connected to x");
    QStringList lines = logTexts(log);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(
        QRegularExpression("^TX\\(\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\):get DIO22$").match(lines.at(0)).hasMatch(),
        qPrintable(lines.at(0)));
    QVERIFY2(QRegularExpression("^RX\\(\\+\\d+ms\\):TIMEOUT:500$").match(lines.at(1)).hasMatch(),
             qPrintable(lines.at(1)));
    QVERIFY2(QRegularExpression("^RX\\(\\+\\d+ms\\):DIO22=0&lt;cr&gt; $").match(lines.at(2)).hasMatch(),
             qPrintable(lines.at(2)));
    QVERIFY(QRegularExpression("^INF\\(\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\):Connected to x$")
                .match(lines.at(3))
                .hasMatch());
    QCOMPARE(logLevel(log.at(0)), 109);
    QCOMPARE(logLevel(log.at(1)), 108);
    QCOMPARE(logLevel(log.at(3)), 104);

    // The TX line shows the command as given, before its line end is added.
    log.clear();
    QVERIFY(c.link.transact("get DIO21\nget DIO22\n"));
    QVERIFY(logTexts(log).at(0).endsWith("):get DIO21&lt;cr&gt; get DIO22&lt;cr&gt; "));
}

void tst_ControlBoard::parseValue_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("second word") << QByteArray("AINREF=812 AIN5=410") << "AIN5" << true << QByteArray("410");
    QTest::newRow("spi frame") << QByteArray("SPI0CS0DATA=02ABCD") << "SPI0CS0DATA" << true
                               << QByteArray("02ABCD");
    QTest::newRow("whole names only") << QByteArray("AIN5=410") << "AIN" << false << QByteArray("keep");
    QTest::newRow("other name") << QByteArray("AIN6=410") << "AIN5" << false << QByteArray("keep");
    QTest::newRow("empty value") << QByteArray("AIN5=") << "AIN5" << true << QByteArray();
    QTest::newRow("first equals only") << QByteArray("X=a=b") << "X" << true << QByteArray("a=b");
    QTest::newRow("runs of spaces") << QByteArray("ok   A=1  B=2") << "B" << true << QByteArray("2");
    QTest::newRow("case matters") << QByteArray("ain5=1") << "AIN5" << false << QByteArray("keep");
    QTest::newRow("empty reply") << QByteArray() << "A" << false << QByteArray("keep");
    QTest::newRow("name without value") << QByteArray("AIN5 AIN5=3") << "AIN5" << true << QByteArray("3");
}

void tst_ControlBoard::parseValue()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, name);
    QFETCH(bool, found);
    QFETCH(QByteArray, value);

    QByteArray v("keep");
    QCOMPARE(ControlBoard::parseValue(reply, name, &v), found);
    QCOMPARE(v, value);
}

void tst_ControlBoard::services()
{
    Connected c;
    QVERIFY(c.ok);
    const int before = c.sim.transcript().size();
    QVERIFY(c.link.setParameter("SPI0CS0DATA", QByteArray("021234\0ignored", 14)));
    QByteArray value("old");
    QVERIFY(c.link.getParameter("AIN5", &value));
    QVERIFY(value.toInt() > 0);
    QVERIFY(!value.contains('\n'));
    value = "old";
    QVERIFY(!c.link.getParameter("NOSUCH", &value));
    QCOMPARE(value, QByteArray("old"));
    QTRY_COMPARE(c.sim.transcript().mid(before),
                 (QStringList{"set SPI0CS0DATA=021234", "get AIN5", "get NOSUCH"}));
}

void tst_ControlBoard::speedChangeAndDisconnect()
{
    Connected c;
    QVERIFY(c.ok);
    QVERIFY(c.link.setBaudRate(57600));
    QCOMPARE(c.link.baudRate(), 57600);
    QVERIFY(c.link.transact("get VER"));
    QSignalSpy disconnected(&c.link, &ControlBoard::signal_disconnected);
    c.link.setLogging(true);
    QSignalSpy log(&c.link, &ControlBoard::signal_traffic);
    c.link.disconnectBoard(ControlBoard::ByUser);
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!c.link.isConnected());
    QVERIFY(logTexts(log).last().endsWith("):Disconnect by user"));
    QTRY_COMPARE(c.sim.transcript().mid(c.sim.transcript().indexOf("set baudrate=57600")),
                 (QStringList{"set baudrate=57600", "get VER", "set baudrate=115200"}));
    // The port is free again.
    QVERIFY(c.link.connectBoard(c.sim.path()));
}

void tst_ControlBoard::notOurBoard()
{
    SimBoard stranger({"--enq-reply", "21"});
    SimBoard board;
    QVERIFY(stranger.isRunning() && board.isRunning());
    ControlBoard link;
    QVERIFY(!link.connectBoard(stranger.path()));
    QVERIFY(!link.isConnected());
    QVERIFY(link.connectBoard(board.path()));
}

void tst_ControlBoard::connectSaysWhy_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("missing path") << "missing"
                                  << "^%1 does not exist\\.$";
    QTest::newRow("locked by another process") << "locked"
                                               << "^%1 is in use by flock \\(process %2\\)\\.$";
    QTest::newRow("no board answers") << "silent"
                                      << "^No board answered on %1 after (\\d+) ms\\.$";
}

// A failed connect tells why, as an error, whether or not traffic is logged.
void tst_ControlBoard::connectSaysWhy()
{
    QFETCH(QString, fault);
    QFETCH(QString, pattern);

    SimBoard sim({"--silent-after", "0"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    QTemporaryDir dir;
    QString path = sim.path();
    QProcess holder;
    auto stopHolder = qScopeGuard([&holder] {
        holder.kill();
        holder.waitForFinished(3000);
    });
    if (fault == "missing") {
        path = dir.filePath("ttyACM9");
    } else if (fault == "locked") {
        const QString flock = QStandardPaths::findExecutable("flock");
        if (flock.isEmpty())
            QSKIP("flock(1) is not installed");
        // -o: the lock stays with flock itself, not with its command.
        holder.start(flock, {"-o", path, "sleep", "30"});
        QVERIFY(holder.waitForStarted());
        QTRY_VERIFY(!PortUsers::isFree(path));
        pattern = pattern.arg("%1", QString::number(holder.processId()));
    }
    pattern = pattern.arg(QRegularExpression::escape(path));

    ControlBoard link;
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!link.connectBoard(path));
    const qint64 took = clock.elapsed();
    QVERIFY(!link.isConnected());
    const QRegularExpressionMatch m = QRegularExpression(pattern).match(link.connectError());
    QVERIFY2(m.hasMatch(), qPrintable(link.connectError()));
    QCOMPARE(log.count(), 1);
    QCOMPARE(log.first().at(0).toInt(), -1000);
    QCOMPARE(log.first().at(1).toString(), link.connectError());
    if (fault == "silent") {
        // The wait it names is the wait it had: three ENQs of 100 ms.
        QVERIFY(m.captured(1).toInt() >= 300 && m.captured(1).toInt() <= took);
        QCOMPARE(sim.transcript().count("<ENQ>"), 3);
        QVERIFY(PortUsers::isFree(path));
    }
}

void tst_ControlBoard::silentBoardIsDropped()
{
    // Silent once the version query is done.
    Connected c({"--silent-after", "2"});
    QVERIFY(c.ok);
    c.link.setLogging(true);
    QSignalSpy log(&c.link, &ControlBoard::signal_traffic);
    QSignalSpy disconnected(&c.link, &ControlBoard::signal_disconnected);
    QVERIFY(disconnected.wait(5000));
    QVERIFY(!c.link.isConnected());
    QTRY_VERIFY(!log.isEmpty());
    QVERIFY(logTexts(log).last().endsWith("):Disconnect due to errors"));
    QCOMPARE(logLevel(log.last()), -1000);
}

// Commands that keep failing are no sign of life: only what the board
// sends is.
void tst_ControlBoard::silentBoardIsDroppedUnderTraffic()
{
    Connected c({"--silent-after", "2"});
    QVERIFY(c.ok);
    c.link.setLogging(true);
    QSignalSpy log(&c.link, &ControlBoard::signal_traffic);
    QElapsedTimer clock;
    clock.start();
    while (c.link.isConnected() && clock.elapsed() < 6000)
        QVERIFY(!c.link.transact("get DIO22"));
    QVERIFY2(clock.elapsed() < TestTiming::bound(3500), QByteArray::number(clock.elapsed()).constData());
    QVERIFY(!c.link.isConnected());
    QVERIFY(logTexts(log).filter("):Disconnect due to errors").size() == 1);
}

// The board answers more slowly than the time-out: its old reply arrives
// while the next command waits and must not be taken for that one's.
void tst_ControlBoard::lateReplyIsNotTheNextOnesAnswer()
{
    Connected c({"--delay", "300"});
    QVERIFY(c.ok);
    QByteArray answer;
    QVERIFY(!c.link.transact("get PWM0FREQ", &answer, 200));
    for (const QByteArray name : {"PWM0DUTY", "PWM1FREQ", "PWM1DUTY"}) {
        answer.clear();
        if (c.link.transact("get " + name, &answer, 200))
            QVERIFY2(answer.startsWith(name + '='), answer.constData());
    }
    QVERIFY(c.link.transact("get WDtime", &answer, 1000));
    QCOMPARE(answer, QByteArray("WDtime=20\n"));
    QVERIFY(c.link.isConnected());
}

void tst_ControlBoard::hangUpDuringTransaction()
{
    // The board hangs up right after the version query.
    Connected c({"--hangup-after", "2"});
    QVERIFY(c.ok);
    QSignalSpy disconnected(&c.link, &ControlBoard::signal_disconnected);
    QVERIFY(!c.link.transact("get DIO22", nullptr, 3000));
    QTRY_COMPARE(disconnected.count(), 1);
    QVERIFY(!c.link.isConnected());
    QVERIFY(!c.link.transact("get DIO22"));
}

// A reply that takes longer than the presence time is no silence: nobody
// may put an ENQ between the command and its answer.
void tst_ControlBoard::longTransactionIsNotPinged()
{
    SimBoard sim({"--delay", "2300"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    ControlBoard link;
    link.setDefaultTimeout(4000);
    QVERIFY(link.connectBoard(sim.path()));
    QByteArray answer;
    QVERIFY(link.transact("get DIO22", &answer));
    QCOMPARE(answer, QByteArray("DIO22=0\n"));
    QVERIFY(link.isConnected());
    QCOMPARE(sim.transcript(), (QStringList{"<ENQ>", "get VER", "*IDN?", "get DIO22"}));
}

// While the worker asks a silent board for its presence, a command does
// not wait for all three attempts.
void tst_ControlBoard::presenceCheckGivesWay()
{
    Connected c({"--silent-after", "2"});
    QVERIFY(c.ok);
    QElapsedTimer clock;
    clock.start();
    // The first ENQ is the connect's, the second the worker's.
    while (c.sim.transcript().count("<ENQ>") < 2) {
        QVERIFY(clock.elapsed() < TestTiming::bound(4000));
        QTest::qWait(2);
    }
    clock.restart();
    c.link.transact("set DIO22=1", nullptr, 0);
    const qint64 waited = clock.elapsed();
    QVERIFY2(waited < 150, qPrintable(QString::number(waited)));
}

void tst_ControlBoard::resetInBackground()
{
    Connected c;
    QVERIFY(c.ok);
    QSignalSpy finished(&c.link, &ControlBoard::signal_resetFinished);
    QElapsedTimer clock;
    clock.start();
    c.link.resetBoard();
    QVERIFY2(clock.elapsed() < TestTiming::bound(100), qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
    QCOMPARE(finished.first().first().toBool(), true);
    QCOMPARE(c.sim.transcript().filter("<CAN>").size(), 6);
    QVERIFY(c.link.transact("get VER"));
}

// A board that never comes back holds its restart for ten seconds; a
// command meanwhile gives up after its own time-out, not after the restart.
void tst_ControlBoard::commandDuringRestartKeepsItsTimeout()
{
    Connected c({"--silent-after", "2"});
    QVERIFY(c.ok);
    c.link.setLogging(true);
    QSignalSpy log(&c.link, &ControlBoard::signal_traffic);
    QSignalSpy finished(&c.link, &ControlBoard::signal_resetFinished);
    c.link.resetBoard();
    QTRY_VERIFY(c.sim.transcript().count("<ENQ>") > 3);
    QVERIFY(!c.link.transact("get VER", nullptr, 200));
    // The restart still runs: the command did not wait for its end.
    QVERIFY(finished.isEmpty());
    QVERIFY(c.link.isConnected());
    bool told = false;
    for (const QList<QVariant> &line : std::as_const(log))
        told = told || logText(line).contains("the port stayed busy (a board restart) for 200 ms");
    QVERIFY(told);
    // Only the connect's: the command never went out.
    QCOMPARE(c.sim.transcript().count("get VER"), 1);
    c.link.disconnectBoard(ControlBoard::ByUser);
}

void tst_ControlBoard::stoppingDuringReset_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::newRow("disconnect") << false;
    QTest::newRow("destroy") << true;
}

// A board that never comes back holds its restart for ten seconds; a
// disconnect or the link's end does not wait for them.
void tst_ControlBoard::stoppingDuringReset()
{
    QFETCH(bool, destroy);
    SimBoard sim({"--silent-after", "2"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    auto *link = new ControlBoard;
    QVERIFY(link->connectBoard(sim.path()));
    QSignalSpy finished(link, &ControlBoard::signal_resetFinished);
    link->resetBoard();
    QTRY_VERIFY(sim.transcript().count("<ENQ>") > 3);
    QElapsedTimer clock;
    clock.start();
    if (destroy) {
        delete link;
        QVERIFY2(clock.elapsed() < TestTiming::bound(500), qPrintable(QString::number(clock.elapsed())));
        return;
    }
    link->disconnectBoard(ControlBoard::ByUser);
    QVERIFY2(clock.elapsed() < TestTiming::bound(500), qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!link->isConnected());
    // The spy hears the worker's signal as it is sent.
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 1000);
    QCOMPARE(finished.first().first().toBool(), false);
    delete link;
}

void tst_ControlBoard::garbageAndFlood()
{
    Connected c({"--garbage-after", "3", "--big-reply", "8000"});
    QVERIFY(c.ok);
    c.link.transact("get DIO22");
    // Whatever the garbage did to that exchange, the next ones work.
    QTest::qWait(100);
    QVERIFY(c.link.transact("get DIO21"));
    // A line longer than the queue loses its end: a time-out, not a hang.
    QVERIFY(!c.link.transact("get BIG", nullptr, 300));
    QTest::qWait(100);
    QByteArray answer;
    QVERIFY(c.link.transact("get VER", &answer));
    QVERIFY(answer.startsWith("VER="));
    QVERIFY(c.link.isConnected());
}

void tst_ControlBoard::mockUp()
{
    ControlBoard link;
    QSignalSpy notice(&link, &ControlBoard::signal_notice);
    QVERIFY(link.connectBoard("mockup"));
    QCOMPARE(notice.count(), 1);
    QCOMPARE(notice.at(0).at(0).toString(),
             QString("Software is in Mock-up mode. \n Communication is simulated!"));
    QCOMPARE(link.mode(), int(ControlBoard::MockUp));

    QByteArray first;
    QVERIFY(link.transact("get DIO22 AIN5 X", &first));
    const QRegularExpressionMatch m = QRegularExpression("^DIO22=0 AIN5=(\\d+) X=(\\d+)$").match(first);
    QVERIFY2(m.hasMatch(), first.constData());
    QVERIFY(m.captured(1).toInt() <= 1022);
    QVERIFY(m.captured(2).toInt() <= 32767);
    QByteArray set;
    QVERIFY(link.transact("set A=1 B", &set));
    QCOMPARE(set, QByteArray("A:ok B:ok "));

    link.disconnectBoard(ControlBoard::ByUser);
    QVERIFY(link.connectBoard("mockup"));
    QByteArray again;
    QVERIFY(link.transact("get DIO22 AIN5 X", &again));
    QCOMPARE(again, first);
}

void tst_ControlBoard::scriptMode()
{
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    QTemporaryDir dir;
    const QString script = dir.filePath("board script.py");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("import sys\nprint('echo:' + sys.argv[1])\nprint('second line')\n");
    file.close();

    ControlBoard link;
    link.setPythonPath(python);
    QVERIFY(!link.connectBoard("script:" + dir.filePath("missing.py")));
    link.setScriptPathProvider([] { return QString(); });
    QVERIFY(!link.connectBoard("script"));
    link.setScriptPathProvider([&] { return script; });
    QVERIFY(link.connectBoard("script"));
    QCOMPARE(link.mode(), int(ControlBoard::Script));
    QByteArray answer;
    QVERIFY(link.transact("get VER\n", &answer));
    QCOMPARE(answer, QByteArray("echo:get VERsecond line"));
    // Quotes and shell characters reach the script untouched.
    QVERIFY(link.transact("set X='$(rm -rf /)' \"q\"", &answer));
    QCOMPARE(answer, QByteArray("echo:set X='$(rm -rf /)' \"q\"second line"));
}

// Transactions started without waiting take their place in line when they
// are started: before a blocking command that follows, answers in order.
void tst_ControlBoard::asyncInOrder_data()
{
    QTest::addColumn<bool>("mockUp");
    QTest::newRow("board") << false;
    QTest::newRow("mock-up") << true;
}

void tst_ControlBoard::asyncInOrder()
{
    QFETCH(bool, mockUp);
    SimBoard sim;
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    ControlBoard link;
    QVERIFY(link.connectBoard(mockUp ? QString("mockup") : sim.path()));
    const int before = sim.transcript().size();
    QObject context;
    QList<QPair<bool, QByteArray>> answers;
    const auto record = [&answers](bool ok, const QByteArray &reply) { answers.append({ok, reply}); };
    link.transactAsync("get DIO22", -1, &context, record);
    link.transactAsync("get NOSUCH", -1, &context, record);
    link.transactAsync("get DIO25", -1, &context, record);
    // Called back through the event loop only, never from within the call.
    QVERIFY(answers.isEmpty());
    QVERIFY(link.transact("set DIO22=1"));
    QTRY_COMPARE(answers.size(), 3);
    if (mockUp) {
        QCOMPARE(answers.at(0), qMakePair(true, QByteArray("DIO22=0")));
        QCOMPARE(answers.at(1).first, true);
        QCOMPARE(sim.transcript().size(), before);
        return;
    }
    QCOMPARE(answers.at(0), qMakePair(true, QByteArray("DIO22=0\n")));
    QCOMPARE(answers.at(1), qMakePair(false, QByteArray()));
    QCOMPARE(answers.at(2), qMakePair(true, QByteArray("DIO25=1\n")));
    QCOMPARE(sim.transcript().mid(before),
             (QStringList{"get DIO22", "get NOSUCH", "get DIO25", "set DIO22=1"}));
}

// Commands sent together give one reply each, in order, in every mode and
// on both paths, and the log shows each command's line as if it went alone.
void tst_ControlBoard::commandsTogether_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("async");
    for (const char *mode : {"board", "mock-up", "script"}) {
        QTest::addRow("%s, blocking", mode) << QString(mode) << false;
        QTest::addRow("%s, async", mode) << QString(mode) << true;
    }
}

void tst_ControlBoard::commandsTogether()
{
    QFETCH(QString, mode);
    QFETCH(bool, async);
    SimBoard sim;
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    QTemporaryDir dir;
    ControlBoard link;
    if (mode == "script") {
        const QString python = QStandardPaths::findExecutable("python3");
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        QFile file(dir.filePath("board.py"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("import sys\nprint('echo:' + sys.argv[1])\n");
        file.close();
        link.setPythonPath(python);
        QVERIFY(link.connectBoard("script:" + file.fileName()));
    } else {
        QVERIFY(link.connectBoard(mode == "board" ? sim.path() : QString("mockup")));
    }
    const qsizetype before = sim.transcript().size();
    link.setLogging(true);
    QSignalSpy traffic(&link, &ControlBoard::signal_traffic);
    const QList<LinkCommand> commands{{"get DIO22"}, {"get NOSUCH"}, {"set DIO22=1"}};
    QList<LinkReply> replies;
    bool ok = false;
    if (async) {
        QObject context;
        bool done = false;
        link.transactAsync(commands, &context, [&](bool all, const QList<LinkReply> &got) {
            ok = all;
            replies = got;
            done = true;
        });
        QTRY_VERIFY(done);
    } else {
        ok = link.transact(commands, &replies);
    }

    QByteArrayList sent;
    for (const QList<QVariant> &args : std::as_const(traffic)) {
        if (args.at(0).toInt() == ControlBoard::TX)
            sent.append(args.at(1).toByteArray());
    }
    QCOMPARE(sent, (QByteArrayList{"get DIO22", "get NOSUCH", "set DIO22=1"}));
    QCOMPARE(replies.size(), 3);
    if (mode == "board") {
        QVERIFY(!ok);
        QCOMPARE(replies.at(0).text, QByteArray("DIO22=0\n"));
        QCOMPARE(replies.at(1).text, QByteArray("NOSUCH:err\n"));
        QCOMPARE(replies.at(2).text, QByteArray("DIO22:ok\n"));
        QCOMPARE(QList<bool>({replies.at(0).ok, replies.at(1).ok, replies.at(2).ok}),
                 QList<bool>({true, false, true}));
        QTRY_COMPARE(sim.transcript().mid(before), (QStringList{"get DIO22", "get NOSUCH", "set DIO22=1"}));
        return;
    }
    QVERIFY(ok);
    if (mode == "script") {
        QCOMPARE(replies.at(0).text, QByteArray("echo:get DIO22"));
        QCOMPARE(replies.at(2).text, QByteArray("echo:set DIO22=1"));
    } else {
        QCOMPARE(replies.at(0).text, QByteArray("DIO22=0"));
        QVERIFY(replies.at(1).text.startsWith("NOSUCH="));
        QCOMPARE(replies.at(2).text, QByteArray("DIO22:ok "));
    }
    QCOMPARE(sim.transcript().size(), before);
}

void tst_ControlBoard::asyncRespectsReservation()
{
    Connected c;
    QVERIFY(c.ok);
    const int before = c.sim.transcript().size();
    const int holder = 0;
    c.link.reserve(&holder);
    QObject context;
    QList<bool> results;
    c.link.transactAsync("get DIO21", -1, &context, [&](bool ok, const QByteArray &) { results.append(ok); });
    c.link.transactAsync(
        "get DIO22", -1, &context, [&](bool ok, const QByteArray &) { results.append(ok); }, &holder);
    QTRY_COMPARE(results.size(), 2);
    QCOMPARE(results, (QList<bool>{false, true}));
    c.link.unreserve(&holder);
    QCOMPARE(c.sim.transcript().mid(before), QStringList{"get DIO22"});
}

// One command runs on the link's thread, the next waits behind it; a
// disconnect then fails the waiting one, which never goes out.
void tst_ControlBoard::disconnectFailsQueuedAsync()
{
    Connected c({"--delay", "300"});
    QVERIFY(c.ok);
    QObject context;
    QList<QPair<QByteArray, bool>> results;
    c.link.transactAsync("get DIO21", 1000, &context, [&](bool ok, const QByteArray &) {
        results.append({"first", ok});
    });
    c.link.transactAsync("get DIO22", 1000, &context, [&](bool ok, const QByteArray &) {
        results.append({"second", ok});
    });
    QTRY_VERIFY(c.sim.transcript().contains("get DIO21"));
    c.link.disconnectBoard(ControlBoard::ByUser);
    QVERIFY(!c.link.isConnected());
    QTRY_COMPARE(results.size(), 2);
    QVERIFY(results.contains(qMakePair(QByteArray("second"), false)));
    QVERIFY(!c.sim.transcript().contains("get DIO22"));
    // Started while disconnected: it fails at once, still through the loop.
    bool called = false;
    bool result = true;
    c.link.transactAsync("get DIO22", -1, &context, [&](bool ok, const QByteArray &) {
        called = true;
        result = ok;
    });
    QVERIFY(!called);
    QTRY_VERIFY(called);
    QVERIFY(!result);
}

void tst_ControlBoard::destroyedWithAsyncPending_data()
{
    QTest::addColumn<bool>("contextFirst");
    QTest::newRow("context gone first") << true;
    QTest::newRow("link gone first") << false;
}

// Neither the link's end nor its caller's may leave a callback behind that
// reaches something gone.
void tst_ControlBoard::destroyedWithAsyncPending()
{
    QFETCH(bool, contextFirst);
    SimBoard sim({"--delay", "200"});
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    auto *link = new ControlBoard;
    QVERIFY(link->connectBoard(sim.path()));
    auto *context = new QObject;
    int calls = 0;
    int failures = 0;
    const auto count = [&](bool ok, const QByteArray &) {
        ++calls;
        failures += ok ? 0 : 1;
    };
    link->transactAsync("get DIO21", 1000, context, count);
    link->transactAsync("get DIO22", 1000, context, count);
    QTRY_VERIFY(sim.transcript().contains("get DIO21"));
    if (contextFirst) {
        delete context;
        delete link;
        QCoreApplication::sendPostedEvents();
        QCOMPARE(calls, 0);
        return;
    }
    delete link;
    QTRY_COMPARE(calls, 2);
    QVERIFY(failures >= 1);
    delete context;
}

QTEST_GUILESS_MAIN(tst_ControlBoard)
#include "tst_controlboard.moc"
