#include "link/boarddiscovery.h"
#include "link/portusers.h"
#include "link/serialport.h"
#include "simboard.h"
#include "timing.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

class tst_SerialPort : public QObject
{
    Q_OBJECT

private slots:
    void openRules();
    void latencyTimer_data();
    void latencyTimer();
    void exclusive();
    void rawBytesBothWays();
    void readDoesNotWait();
    void refusedRate();
    void permissionMessage_data();
    void permissionMessage();
};

void tst_SerialPort::openRules()
{
    SimBoard sim;
    QVERIFY2(sim.isRunning(), qPrintable(sim.errorString()));
    SerialPort port;
    QVERIFY(!port.open(QString(), 115200));
    QVERIFY(!port.open("/dev/does-not-exist", 115200));
    QVERIFY(port.open(sim.path(), 57600));
    // Open again: true at once, the old rate stays.
    QVERIFY(port.open(sim.path(), 115200));
    QVERIFY(port.open(QString(), 115200));
    termios tio{};
    QCOMPARE(::tcgetattr(port.fd(), &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed_t(B57600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL), tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO), tcflag_t(0));
    port.close();
    port.close();
    QVERIFY(!port.isOpen());
}

void tst_SerialPort::exclusive()
{
    SimBoard sim;
    QVERIFY(sim.isRunning());
    SerialPort first;
    SerialPort second;
    QVERIFY(first.open(sim.path(), 115200));
    QVERIFY(!second.open(sim.path(), 115200));
    first.close();
    // Released on close, also for a second opener.
    QVERIFY(second.open(sim.path(), 115200));
}

void tst_SerialPort::rawBytesBothWays()
{
    SimBoard sim;
    QVERIFY(sim.isRunning());
    SerialPort port;
    QVERIFY(port.open(sim.path(), 115200));
    QCOMPARE(port.write(QByteArray(1, 0x05)), 1);
    QVERIFY(port.waitForReadyRead(2000));
    QByteArray got;
    QCOMPARE(port.readAvailable(got), 1);
    QCOMPARE(got, QByteArray(1, 0x06));

    QCOMPARE(port.write("get VER\r\n"), 9);
    QByteArray line;
    QElapsedTimer clock;
    clock.start();
    while (!line.endsWith('\n') && clock.elapsed() < 2000) {
        port.waitForReadyRead(500);
        port.readAvailable(got);
        line += got;
    }
    QVERIFY2(line.startsWith("VER="), line.constData());
}

void tst_SerialPort::readDoesNotWait()
{
    SimBoard sim;
    QVERIFY(sim.isRunning());
    SerialPort port;
    QVERIFY(port.open(sim.path(), 115200));
    QElapsedTimer clock;
    clock.start();
    QByteArray got("stale");
    QCOMPARE(port.readAvailable(got), 0);
    QVERIFY(got.isEmpty());
    QCOMPARE(port.bytesAvailable(), 0);
    QVERIFY(clock.elapsed() < TestTiming::bound(1000));
    port.setRts(true);
    port.setRts(false);

    SerialPort closed;
    QCOMPARE(closed.read(got, 10), -1);
    QCOMPARE(closed.write("x"), 0);
    QCOMPARE(closed.bytesAvailable(), 0);
}

void tst_SerialPort::refusedRate()
{
    SimBoard sim;
    QVERIFY(sim.isRunning());
    SerialPort port;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("open_port: Unable to open"));
    QVERIFY(!port.open(sim.path(), 12345));
    QVERIFY(!port.isOpen());
    // Nothing is left locked behind.
    QVERIFY(port.open(sim.path(), 115200));
}

void tst_SerialPort::permissionMessage_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("gid");
    QTest::addColumn<QString>("expected");

    const QString join =
        "Permission denied on %1: only its owner and the group %2 may use it. Add yourself to "
        "the group (sudo usermod -aG %2 $USER), then log out and in again.";
    const QString udev =
        "Permission denied on %1: it is %3 root %2, so no group of yours can be given access to "
        "it. A udev rule can give it to your group: see \"A fixed name of your own: a udev "
        "rule\" in docs/connecting.md.";
    QTest::newRow("the group may use it") << 0660 << 20 << join;
    QTest::newRow("only the owner") << 0600 << 0 << udev;
    // Joining root's group for a serial port is no advice to give.
    QTest::newRow("root's group") << 0660 << 0 << udev;
    // A terminal's group may write, not read: joining it does not help.
    QTest::newRow("write only for the group") << 0620 << 5 << udev;
}

// The message says what would help: a group to join only when its members
// may use the device, else the device's mode and the udev rule. No markup:
// it is shown in a box.
void tst_SerialPort::permissionMessage()
{
    QFETCH(int, mode);
    QFETCH(int, gid);
    QFETCH(QString, expected);
    if (::geteuid() != 0)
        QSKIP("needs root to give a device node its owner and group");
    QTemporaryDir dir;
    const QString path = dir.filePath("ttyUSB9");
    const QByteArray native = QFile::encodeName(path);
    QCOMPARE(::mknod(native.constData(), S_IFCHR | mode_t(mode), ::makedev(1, 3)), 0);
    QCOMPARE(::chmod(native.constData(), mode_t(mode)), 0);
    QCOMPARE(::chown(native.constData(), 0, gid_t(gid)), 0);
    const group *g = ::getgrgid(gid_t(gid));
    QVERIFY(g);
    QString modeText = "c";
    for (int bit = 0; bit < 9; ++bit)
        modeText += (mode & (0400 >> bit)) ? QString("rwxrwxrwx").at(bit) : QChar('-');

    const QString message = PortUsers::permissionMessage(path);
    QCOMPARE(message, expected.arg(path, QString::fromLocal8Bit(g->gr_name), modeText));
    QVERIFY(!message.contains('`'));
}

// The adapter's latency timer as sysfs shows it, and the port's tool tip
// that points to a better one.
void tst_SerialPort::latencyTimer_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("tip");

    QTest::newRow("as adapters come") << "/dev/ttyUSB0" << QByteArray("16\n") << 16
                                      << "latency timer 16 ms (1 ms answers fastest: see docs/connecting.md)";
    QTest::newRow("set to 1 ms") << "ttyUSB0" << QByteArray("1\n") << 1 << "latency timer 1 ms";
    QTest::newRow("no such driver") << "/dev/ttyACM0" << QByteArray() << -1 << "";
    QTest::newRow("unreadable value") << "/dev/ttyUSB0" << QByteArray("fast\n") << -1 << "";
}

void tst_SerialPort::latencyTimer()
{
    QFETCH(QString, device);
    QFETCH(QByteArray, file);
    QFETCH(int, ms);
    QFETCH(QString, tip);

    QTemporaryDir sys;
    const QString dir = sys.filePath("bus/usb-serial/devices/ttyUSB0");
    QVERIFY(QDir().mkpath(dir));
    if (!file.isEmpty()) {
        QFile timer(dir + "/latency_timer");
        QVERIFY(timer.open(QIODevice::WriteOnly) && timer.write(file) == file.size());
    }
    QCOMPARE(SerialPort::latencyTimerMs(device, sys.path()), ms);

    PortEntry entry;
    entry.path = device;
    entry.latencyTimerMs = ms;
    QCOMPARE(entry.description(), tip);
}

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_serialport.moc"
