#include "link/boarddiscovery.h"
#include "link/controlboard.h"
#include "link/serialport.h"
#include "simboard.h"
#include "terminalprogram.h"
#include "timing.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList names(const QList<PortEntry> &ports)
{
    QStringList out;
    for (const PortEntry &port : ports)
        out << port.displayName();
    return out;
}

// Runs one round over the given ports; false when it did not end in time.
bool runRound(BoardDiscovery &discovery, const QStringList &ports, int timeoutMs = 5000)
{
    QSignalSpy finished(&discovery, &BoardDiscovery::signal_finished);
    discovery.start(ports);
    return finished.wait(timeoutMs);
}

} // namespace

class tst_BoardDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void boardsFirstThenTheRest();
    void terminalProgramsPortIsLeftAlone();
    void probesRunSideBySide();
    void probeCancelledForARealOpen();
    void connectRightAfterCancel();
    void stableNamesFromDirectories();

private:
    // No stable-name directory of the machine gets into the results.
    QTemporaryDir m_dir;
};

void tst_BoardDiscovery::init()
{
    QVERIFY(m_dir.isValid());
}

// A port that answers ENQ with something else, a missing path and a port
// another program holds are no boards; the missing one is not offered, the
// held one comes last, with its holder.
void tst_BoardDiscovery::boardsFirstThenTheRest()
{
    SimBoard stranger({"--enq-reply", "21"});
    SimBoard held;
    SimBoard board;
    QVERIFY(stranger.isRunning() && held.isRunning() && board.isRunning());
    SerialPort other;
    QVERIFY(other.open(held.path(), 115200));

    BoardDiscovery discovery;
    discovery.setDirectories({m_dir.path()});
    QSignalSpy changed(&discovery, &BoardDiscovery::signal_portsChanged);
    const QStringList given{stranger.path(), held.path(), "/dev/no-such-port", board.path()};
    QVERIFY(runRound(discovery, given));
    QVERIFY(!discovery.isRunning());
    QVERIFY(!changed.isEmpty());

    const QStringList listed = names(discovery.ports());
    QVERIFY2(listed.indexOf(board.path()) == 0, qPrintable(listed.join(' ')));
    QVERIFY(listed.contains(stranger.path()));
    QVERIFY2(listed.indexOf(held.path()) > listed.indexOf(stranger.path()), qPrintable(listed.join(' ')));
    const PortEntry heldEntry = discovery.ports().at(listed.indexOf(held.path()));
    QVERIFY2(heldEntry.holder.contains(QString("(process %1)").arg(QCoreApplication::applicationPid())),
             qPrintable(heldEntry.holder));
    QVERIFY(!listed.contains("/dev/no-such-port"));
    QCOMPARE(discovery.state(board.path()), BoardDiscovery::Board);
    QCOMPARE(discovery.state(stranger.path()), BoardDiscovery::NoBoard);
    QCOMPARE(discovery.state(held.path()), BoardDiscovery::Held);

    // Every probe let go of its port.
    SerialPort port;
    QVERIFY(port.open(board.path(), 115200));
}

// A terminal program holds its line without a lock: the round neither
// opens the port nor changes its speed nor sends it anything, and neither
// does an open for real, which says who has it.
void tst_BoardDiscovery::terminalProgramsPortIsLeftAlone()
{
    TerminalProgram terminal;
    QVERIFY(terminal.isReady());
    QCOMPARE(terminal.speed(), speed_t(B9600));

    BoardDiscovery discovery;
    discovery.setDirectories({m_dir.path()});
    QVERIFY(runRound(discovery, {terminal.path()}));
    QCOMPARE(discovery.state(terminal.path()), BoardDiscovery::Held);
    const QList<PortEntry> ports = discovery.ports();
    const auto shown = std::find_if(ports.cbegin(), ports.cend(),
                                    [&](const PortEntry &entry) { return entry.path == terminal.path(); });
    QVERIFY(shown != ports.cend());
    QCOMPARE(shown->holder, terminal.holder());

    SerialPort port;
    QVERIFY(!port.open(terminal.path(), 115200));
    QCOMPARE(port.errorString(), QString("%1 is in use by %2.").arg(terminal.path(), terminal.holder()));
    ControlBoard link;
    QVERIFY(!link.connectBoard(terminal.path()));
    QCOMPARE(link.connectError(), port.errorString());

    QCOMPARE(terminal.speed(), speed_t(B9600));
    QCOMPARE(terminal.received(), QByteArray());
}

// A port without a board costs the whole presence check (three ENQs of
// 100 ms); three of them one after the other would take 900 ms.
void tst_BoardDiscovery::probesRunSideBySide()
{
    SimBoard a({"--enq-reply", "21"});
    SimBoard b({"--enq-reply", "21"});
    SimBoard c({"--enq-reply", "21"});
    QVERIFY(a.isRunning() && b.isRunning() && c.isRunning());
    BoardDiscovery discovery;
    discovery.setDirectories({m_dir.path()});
    QElapsedTimer clock;
    clock.start();
    QVERIFY(runRound(discovery, {a.path(), b.path(), c.path()}));
    QVERIFY2(clock.elapsed() < TestTiming::bound(800), qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(discovery.state(c.path()), BoardDiscovery::NoBoard);
}

void tst_BoardDiscovery::probeCancelledForARealOpen()
{
    SimBoard stranger({"--enq-reply", "21"});
    QVERIFY(stranger.isRunning());
    BoardDiscovery discovery;
    discovery.setDirectories({m_dir.path()});
    QSignalSpy finished(&discovery, &BoardDiscovery::signal_finished);
    discovery.start({stranger.path()});

    // The probe holds the port: an open fails meanwhile.
    SerialPort port;
    QVERIFY(QTest::qWaitFor(
        [&] {
            if (!port.open(stranger.path(), 115200))
                return true;
            port.close();
            return false;
        },
        2000));
    QElapsedTimer clock;
    clock.start();
    discovery.cancelProbe(stranger.path());
    QVERIFY2(clock.elapsed() < TestTiming::bound(100), qPrintable(QString::number(clock.elapsed())));
    QVERIFY(port.open(stranger.path(), 115200));

    // Cut short, the probe tells nothing: the port stays on offer.
    QVERIFY(finished.wait(3000));
    QCOMPARE(discovery.state(stranger.path()), BoardDiscovery::Unknown);
    QVERIFY(names(discovery.ports()).contains(stranger.path()));
}

// Wherever the probe is cut short, the board's answer to its ENQ does not
// stay behind to spoil the link's own presence check.
void tst_BoardDiscovery::connectRightAfterCancel()
{
    SimBoard board;
    QVERIFY(board.isRunning());
    BoardDiscovery discovery;
    discovery.setDirectories({m_dir.path()});
    ControlBoard link;
    for (int delayMs = 0; delayMs < 20; ++delayMs) {
        discovery.start({board.path()});
        QThread::msleep(delayMs);
        discovery.cancelProbe(board.path());
        QVERIFY2(link.connectBoard(board.path()), qPrintable(QString::number(delayMs)));
        link.disconnectBoard(ControlBoard::ByUser);
    }
}

// A link in a watched directory names the port; the device under its own
// name is the same port, listed once.
void tst_BoardDiscovery::stableNamesFromDirectories()
{
    SimBoard board;
    QVERIFY(board.isRunning());
    const QString link = m_dir.filePath("usb-Velmora_DemoBoard_0042-if00");
    QVERIFY(QFile::link(board.path(), link));
    QVERIFY(QFile::link("/dev/no-such-device", m_dir.filePath("dangling")));

    BoardDiscovery discovery;
    discovery.setDirectories({m_dir.path()});
    QVERIFY(runRound(discovery, {board.path()}));
    const QStringList listed = names(discovery.ports());
    QCOMPARE(listed.first(), link);
    QVERIFY2(!listed.contains(board.path()), qPrintable(listed.join(' ')));
    QCOMPARE(discovery.state(link), BoardDiscovery::Board);
    const PortEntry *entry = discovery.find(board.path());
    QVERIFY(entry);
    QCOMPARE(entry->stableName, link);
    QCOMPARE(discovery.find(link), entry);
    QVERIFY(!discovery.find("/dev/no-such-device"));
    QFile::remove(link);
    QFile::remove(m_dir.filePath("dangling"));
}

QTEST_MAIN(tst_BoardDiscovery)
#include "tst_boarddiscovery.moc"
