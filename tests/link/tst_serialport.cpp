#include "link/serialport.h"
#include "simboard.h"

#include <QElapsedTimer>
#include <QTest>

#include <termios.h>

class tst_SerialPort : public QObject
{
    Q_OBJECT

private slots:
    void openRules();
    void exclusive();
    void rawBytesBothWays();
    void readDoesNotWait();
    void refusedRate();
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
    QVERIFY(clock.elapsed() < 1000);
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

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_serialport.moc"
