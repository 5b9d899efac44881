#include "timing.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray identity = "Velmora VelmoraMCU HQL3318 DemoBoard,SIM,1.0";
const char enq = 0x05;
const char ack = 0x06;
const QByteArray sixCan(6, 0x18);

// The simulator as a child process and our own raw end of its terminal.
class SimBoard
{
public:
    ~SimBoard()
    {
        closePort();
        if (process.state() != QProcess::NotRunning) {
            process.closeWriteChannel();
            if (!process.waitForFinished(2000))
                process.kill();
            process.waitForFinished(1000);
        }
    }

    bool start(const QStringList &args)
    {
        process.start(SIM_PATH, QStringList{"--exit-on-stdin-eof"} + args);
        if (!process.waitForStarted(2000))
            return false;
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(2000))
                return false;
        }
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        return openPort();
    }

    bool openPort()
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return false;
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        return tcsetattr(fd, TCSANOW, &tio) == 0;
    }

    void closePort()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        rx.clear();
    }

    bool write(const QByteArray &bytes)
    {
        const char *p = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            p += n;
            left -= n;
        }
        return true;
    }

    // Waits up to timeoutMs for more bytes; false on silence or hang-up.
    bool fill(int timeoutMs)
    {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            return false;
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            hungUp = true;
            return false;
        }
        rx.append(buffer, n);
        return true;
    }

    std::optional<QByteArray> readLine(int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!rx.contains('\n')) {
            if (deadline.hasExpired() || !fill(int(deadline.remainingTime())))
                return std::nullopt;
        }
        const qsizetype end = rx.indexOf('\n');
        const QByteArray line = rx.left(end);
        rx.remove(0, end + 1);
        return line;
    }

    QByteArray readBytes(int count, int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (rx.size() < count && !deadline.hasExpired() && fill(int(deadline.remainingTime()))) {
        }
        const QByteArray bytes = rx.left(count);
        rx.remove(0, bytes.size());
        return bytes;
    }

    bool quietFor(int ms) { return rx.isEmpty() && !fill(ms); }

    QProcess process;
    QString path;
    int fd = -1;
    QByteArray rx;
    bool hungUp = false;
};

// One step of a board script. "spi F1 F2 -> A1 A2" sends the frames (four
// hex digits each) in one set line and reads their answers with one get
// line; "LINE -> REPLY" expects REPLY exactly; a set line alone expects
// every word to be answered ok.
void runStep(SimBoard &sim, const QString &step)
{
    const QStringList parts = step.split(" -> ");
    QString command = parts.at(0);
    QString expected = parts.value(1);
    if (command.startsWith("spi ")) {
        const QStringList frames = command.mid(4).split(' ');
        const QStringList answers = expected.split(' ');
        QCOMPARE(answers.size(), frames.size());
        QString set = "set";
        QString oks;
        for (const QString &frame : frames) {
            set += " SPI0CS0DATA=02" + frame;
            oks += QString(oks.isEmpty() ? "" : " ") + "SPI0CS0DATA:ok";
        }
        QVERIFY(sim.write(set.toLatin1() + '\n'));
        QCOMPARE(QString::fromLatin1(sim.readLine().value_or("<none>")), oks);
        command = "get" + QString(" SPI0CS0DATA").repeated(frames.size());
        expected.clear();
        for (const QString &answer : answers)
            expected += QString(expected.isEmpty() ? "" : " ") + "SPI0CS0DATA=02" + answer;
    } else if (parts.size() == 1) {
        for (const QString &word : command.split(' ').mid(1))
            expected += QString(expected.isEmpty() ? "" : " ") + word.section('=', 0, 0) + ":ok";
    }
    QVERIFY(sim.write(command.toLatin1() + '\n'));
    const QString reply = QString::fromLatin1(sim.readLine().value_or("<none>"));
    QVERIFY2(reply == expected, qPrintable(step + "\n   got: " + reply));
}

// Both motor currents; false when the reply is malformed.
bool readCurrents(SimBoard &sim, int &isen1, int &isen2)
{
    if (!sim.write("get Isen1 Isen2\n"))
        return false;
    const QRegularExpressionMatch m = QRegularExpression("^Isen1=(\\d+) Isen2=(\\d+)$")
                                          .match(QString::fromLatin1(sim.readLine().value_or("")));
    isen1 = m.captured(1).toInt();
    isen2 = m.captured(2).toInt();
    return m.hasMatch();
}

} // namespace

class tst_Sim : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void chip_data();
    void chip();
    void motors_data();
    void motors();
    void analogInputs();
    void controlBytes_data();
    void controlBytes();
    void versionFormat_data();
    void versionFormat();
    void restart();
    void flashDump();
    void delay();
    void modelledLine_data();
    void modelledLine();
    void roundTrips_data();
    void roundTrips();
    void silentAfter();
    void hangupAfter();
    void garbageAfter();
    void binaryInput();
    void transcript();
    void portReopened();
    void stops_data();
    void stops();
    void commandLine_data();
    void commandLine();
};

// Each row runs on a fresh board; an *IDN? after the expected replies
// proves that no reply line was missing or extra.
void tst_Sim::replies_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("replies"); // exact, or a pattern after '~'
    QByteArray counting;
    for (int i = 0; i < 256; ++i)
        counting += char(i);

    QTest::newRow("set then get") << QStringList() << QByteArray("set PWM0DUTY=75\nget PWM0DUTY\n")
                                  << QStringList{"PWM0DUTY:ok", "PWM0DUTY=75"};
    QTest::newRow("several words")
        << QStringList()
        << QByteArray("set PWM1CONF PWM1START PWM1FREQ=1000 PWM1DUTY=30\nget PWM1FREQ PWM1DUTY\n")
        << QStringList{"PWM1CONF:ok PWM1START:ok PWM1FREQ:ok PWM1DUTY:ok", "PWM1FREQ=1000 PWM1DUTY=30"};
    QTest::newRow("defaults")
        << QStringList()
        << QByteArray("get SPI0CS0SPEED SPI0CS0CPOL SPI0CS0NCPHA q913rem PWM0FREQ PWM1DUTY DIO0 DIO21 DIO22 "
                      "DIO25 DIO31 WDen WDtime baudrate\n")
        << QStringList{
               "SPI0CS0SPEED=1000000 SPI0CS0CPOL=0 SPI0CS0NCPHA=0 q913rem=0 PWM0FREQ=20000 PWM1DUTY=50 "
               "DIO0=0 DIO21=0 DIO22=0 DIO25=1 DIO31=0 WDen=0 WDtime=20 baudrate=115200"};
    QTest::newRow("unknown names") << QStringList()
                                   << QByteArray("set FOO=1 DIO25=1\nget DIO25 FOO DIO32 dio1\n")
                                   << QStringList{"FOO:err DIO25:ok", "DIO25=1 FOO:err DIO32:err dio1:err"};
    QTest::newRow("bad values")
        << QStringList()
        << QByteArray(
               "set PWM0DUTY=101 PWM0FREQ=0 PWM0FREQ=1000001 DIO3=x DIO3=-1 WDen=2 DIO4= PWM0FREQ=1000000\n"
               "get PWM0DUTY PWM0FREQ DIO3\n")
        << QStringList{
               "PWM0DUTY:err PWM0FREQ:err PWM0FREQ:err DIO3:err DIO3:err WDen:err DIO4:err PWM0FREQ:ok",
               "PWM0DUTY=50 PWM0FREQ=1000000 DIO3=0"};
    QTest::newRow("commands and readings misused")
        << QStringList() << QByteArray("set PWM0START=1 DIO3 AIN5=1 VER=1\nget PWM0CONF SPI0CS0CONF\n")
        << QStringList{"PWM0START:err DIO3:err AIN5:err VER:err", "PWM0CONF:err SPI0CS0CONF:err"};
    QTest::newRow("readings at rest") << QStringList() << QByteArray("get Isen1 Isen2 AIN5 AINREF\n")
                                      << QStringList{"~^Isen1=0 Isen2=0 AIN5=51\\d AINREF=3000$"};
    QTest::newRow("generator values")
        << QStringList()
        << QByteArray("set PWM0FREQ=1000 PWM0DUTY=10 PWM0START PWM0CONF PWM1DUTY=7\n"
                      "get PWM0FREQ PWM0DUTY PWM1FREQ PWM1DUTY\n")
        << QStringList{"PWM0FREQ:ok PWM0DUTY:ok PWM0START:ok PWM0CONF:ok PWM1DUTY:ok",
                       "PWM0FREQ=20000 PWM0DUTY=50 PWM1FREQ=20000 PWM1DUTY=7"};
    QTest::newRow("identity and version") << QStringList() << QByteArray("*IDN?\nget VER\n")
                                          << QStringList{identity, "VER=0104 Thu Dec 10 05:17:31 2026"};
    QTest::newRow("line ends") << QStringList() << QByteArray("\r\n\nget DIO1\r\nget DIO2\rget DIO3\n\n")
                               << QStringList{"DIO1=0", "DIO2=0", "DIO3=0"};
    QTest::newRow("not a command") << QStringList() << QByteArray("hello\nset\nget\nSET DIO1=1\n")
                                   << QStringList{"err", "err", "err", "err"};
    // Check values written out: 256 zero bytes 0, 00 01 .. FF 38cc25cd, and
    // up to four bytes the bytes themselves.
    QTest::newRow("flash lines") << QStringList()
                                 << QByteArray("set flash=8007fffc1234abcd000000041234abcd\r\n"
                                               "set flash=800500000000000000000100" +
                                               QByteArray(512, '0') +
                                               "\r\n"
                                               "set flash=8005010038CC25CD00000100" +
                                               counting.toHex().toUpper() +
                                               "\r\n"
                                               "set flash=8005020038cc25ce00000100" +
                                               counting.toHex() +
                                               "\n"
                                               "set flash=800500100000000000000100" +
                                               QByteArray(512, '0') +
                                               "\n"
                                               "set flash=8004ff000000000000000100" +
                                               QByteArray(512, '0') +
                                               "\n"
                                               "set flash=80080d000000000000000100" +
                                               QByteArray(512, '0') +
                                               "\n"
                                               "set flash=80080c000000000000000100" +
                                               QByteArray(512, '0') +
                                               "\n"
                                               "set flash=800500000000000000000101" +
                                               QByteArray(514, '0') +
                                               "\n"
                                               "set flash=80050000000000000000000200000000\n"
                                               "set flash=800500000000000000000000\n"
                                               "set flash=80050000000000000000000100\n"
                                               "set flash=80050000000000gg0000000100\n"
                                               "set flash\n"
                                               "set flash=8007fffc00000001000000040000000100\n"
                                               "set flash=8007fffc000000010000000400000001\n"
                                               "set flash=8007fffC1234abcd000000041234abcd\r\n")
                                 << QStringList{"flash:err", "flash:ok",  "flash:ok",  "flash:err",
                                                "flash:err", "flash:err", "flash:err", "flash:ok",
                                                "flash:err", "flash:err", "flash:err", "flash:ok",
                                                "flash:err", "flash:err", "flash:err", "flash:err",
                                                "flash:ok"};
    QTest::newRow("spi frames") << QStringList()
                                << QByteArray("get SPI0CS0DATA\nset SPI0CS0DATA=021234 SPI0CS0DATA=02abcd\n"
                                              "get SPI0CS0DATA SPI0CS0DATA SPI0CS0DATA\n")
                                << QStringList{"SPI0CS0DATA=020000", "SPI0CS0DATA:ok SPI0CS0DATA:ok",
                                               "SPI0CS0DATA=021400 SPI0CS0DATA=021000 SPI0CS0DATA=021000"};
    QTest::newRow("spi malformed")
        << QStringList()
        << QByteArray("set SPI0CS0DATA=031234 SPI0CS0DATA=0212 SPI0CS0DATA=0212345 SPI0CS0DATA=02GHIJ "
                      "SPI0CS0DATA\n")
        << QStringList{"SPI0CS0DATA:err SPI0CS0DATA:err SPI0CS0DATA:err SPI0CS0DATA:err SPI0CS0DATA:err"};
    QTest::newRow("speed change unanswered")
        << QStringList() << QByteArray("set baudrate=9600\nget baudrate\nset baudrate=12345\nget baudrate\n")
        << QStringList{"baudrate=9600", "baudrate=invalid"};
    QTest::newRow("binary name echoed printable")
        << QStringList() << QByteArray("get \x01\x7f\xff\n") << QStringList{"???:err"};
    QTest::newRow("line at the bound") << QStringList() << QByteArray("get " + QByteArray(65532, 'A') + "\n")
                                       << QStringList{QString(64, 'A') + ":err"};
    QTest::newRow("line over the bound")
        << QStringList()
        << QByteArray("get " + QByteArray(65533, 'A') + "\nget " + QByteArray(200000, 'B') + "\n")
        << QStringList{"err", "err"};
    QTest::newRow("injected errors")
        << QStringList{"--error", "PWM0DUTY", "--error", "VER", "--error", "*IDN?"}
        << QByteArray("set PWM0DUTY=5 PWM1DUTY=5\nget PWM0DUTY PWM1DUTY VER\n*IDN?\n")
        << QStringList{"PWM0DUTY:err PWM1DUTY:ok", "PWM0DUTY:err PWM1DUTY=5 VER:err", "*IDN?:err"};
    QTest::newRow("injected errors once")
        << QStringList{"--error-once", "PWM0DUTY", "--error-once", "*IDN?", "--error", "DIO1"}
        << QByteArray("set PWM0DUTY=5 PWM0DUTY=6 DIO1=1\nget PWM0DUTY DIO1\n*IDN?\n*IDN?\n")
        << QStringList{"PWM0DUTY:err PWM0DUTY:ok DIO1:err", "PWM0DUTY=6 DIO1:err", "*IDN?:err", identity};
    // The refused frame never reaches the chip: RCF is still to be reported.
    QTest::newRow("refused frame")
        << QStringList{"--error-once", "SPI0CS0DATA"}
        << QByteArray("set SPI0CS0DATA=020380\nset SPI0CS0DATA=020380 SPI0CS0DATA=02D000\n"
                      "get SPI0CS0DATA SPI0CS0DATA\n")
        << QStringList{"SPI0CS0DATA:err", "SPI0CS0DATA:ok SPI0CS0DATA:ok",
                       "SPI0CS0DATA=021400 SPI0CS0DATA=02F651"};
    QTest::newRow("big reply") << QStringList{"--big-reply", "6000"} << QByteArray("get BIG\n")
                               << QStringList{"~^BIG=x{5996}$"};
    QTest::newRow("no big reply by default")
        << QStringList() << QByteArray("get BIG\n") << QStringList{"BIG:err"};
}

void tst_Sim::replies()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, replies);

    SimBoard sim;
    QVERIFY(sim.start(args));
    QVERIFY(sim.write(input));
    for (const QString &expected : replies) {
        const std::optional<QByteArray> line = sim.readLine();
        QVERIFY2(line, qPrintable("no reply, expected " + expected));
        if (expected.startsWith('~'))
            QVERIFY2(QRegularExpression(expected.mid(1)).match(QString::fromLatin1(*line)).hasMatch(),
                     line->left(200).constData());
        else
            QCOMPARE(QString::fromLatin1(*line), expected);
    }
    if (!args.contains("*IDN?")) {
        QVERIFY(sim.write("*IDN?\n"));
        QCOMPARE(sim.readLine().value_or("<none>"), identity);
    }
}

// Answers are 16-bit frames: status address << 13 | NM << 12 | data. SR0 is
// 0x1000 at rest and 0x1400 while it reports RCF; SR7 answers 0xF651.
void tst_Sim::chip_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("RCF once after power-up")
        << QStringList() << QStringList{"spi D000 D000 D800 -> 1400 1000 1000"};
    QTest::newRow("selection falls back to SR0")
        << QStringList() << QStringList{"spi 0380 D000 D000 -> 1400 F651 1000"};
    QTest::newRow("continuous selection")
        << QStringList()
        << QStringList{"spi 0780 D000 2000 D800 -> 1400 F651 F651 F651", "spi 0000 D000 -> F651 1000"};
    QTest::newRow("no SR2 and no SR6")
        << QStringList() << QStringList{"spi 0500 D000 0700 D000 -> 1400 5000 5000 D000"};
    QTest::newRow("watchdog bit beside the address")
        << QStringList() << QStringList{"spi 0B80 D800 -> 1400 F651"};
    QTest::newRow("read request data ignored") << QStringList() << QStringList{"spi D780 D000 -> 1400 1000"};
    QTest::newRow("calibration ready")
        << QStringList() << QStringList{"spi 4001 0200 D000 4000 0200 D000 -> 1400 1000 9100 1000 1000 9000"};
    // ReadAll: each CR0 frame selects the status register of the next answer.
    QTest::newRow("chain of seven")
        << QStringList()
        << QStringList{"spi 1401 4002 -> 1400 1000",
                       "spi 0001 0081 0181 0201 0281 0381 0001 -> 1000 1000 3002 7000 9100 B001 F651",
                       "get SPI0CS0DATA -> SPI0CS0DATA=02F651"};
    QTest::newRow("fail-safe pin") << QStringList()
                                   << QStringList{"set DIO22=1", "spi D000 D000 -> 0600 0200", "set DIO22=0",
                                                  "spi D000 -> 1000"};
    QTest::newRow("enable pin low") << QStringList()
                                    << QStringList{"spi 0780 -> 1400", "set DIO25=0",
                                                   "spi D000 0380 D000 -> 0000 0000 0000", "set DIO25=1",
                                                   "spi D000 D000 -> 1400 1000"};
    QTest::newRow("enable pin pulsed in one line")
        << QStringList() << QStringList{"spi D000 -> 1400", "set DIO25=0 DIO25=1", "spi D000 -> 1400"};
    QTest::newRow("halves and power cycle")
        << QStringList{"--chip-registers"}
        << QStringList{"get chipCR5A chipCR5B chipCR0 -> chipCR5A=0 chipCR5B=1024 chipCR0=0",
                       "spi 1E01 55FF 5290 87FF 2FFF -> 1400 1000 1000 1000 1000",
                       "get chipCR1 chipCR5A chipCR5B chipCR8B chipCR8A chipCR2 -> "
                       "chipCR1=1537 chipCR5A=656 chipCR5B=1535 chipCR8B=2047 chipCR8A=0 chipCR2=2047",
                       "set DIO25=0",
                       "spi 1401 -> 0000",
                       "get chipCR1 chipCR5B -> chipCR1=0 chipCR5B=0",
                       "set DIO25=1",
                       "get chipCR1 chipCR5B chipCR8B -> chipCR1=0 chipCR5B=1024 chipCR8B=1024"};
    QTest::newRow("chip register names")
        << QStringList{"--chip-registers"}
        << QStringList{"get chipCR5 chipCR9 chipCR13 chipCR05A chipCR1A chipCR chipCR4294967297 -> "
                       "chipCR5:err chipCR9:err chipCR13:err chipCR05A:err chipCR1A:err chipCR:err "
                       "chipCR4294967297:err",
                       "get chipCR12 chipCR14 -> chipCR12=0 chipCR14=0"};
    QTest::newRow("chip registers hidden") << QStringList() << QStringList{"get chipCR1 -> chipCR1:err"};
}

void tst_Sim::chip()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, steps);

    SimBoard sim;
    QVERIFY(sim.start(args));
    for (const QString &step : steps) {
        runStep(sim, step);
        if (QTest::currentTestFailed())
            return;
    }
}

// The control registers are written, CR0 last (with SR1 and then SR5
// selected), so the answers show the gates before the currents are read.
void tst_Sim::motors_data()
{
    QTest::addColumn<QString>("before"); // board line before the frames
    QTest::addColumn<uint>("cr0");
    QTest::addColumn<uint>("cr1");
    QTest::addColumn<uint>("cr2");
    QTest::addColumn<uint>("cr3");
    QTest::addColumn<QString>("after"); // board line after them
    QTest::addColumn<uint>("sr1");
    QTest::addColumn<uint>("sr5");
    QTest::addColumn<int>("isen1"); // mA; 0 exactly
    QTest::addColumn<int>("isen2");

    QTest::newRow("drivers off") << "" << 0x005u << 0x001u << 0u << 0u << "" << 0u << 0u << 0 << 0;
    QTest::newRow("outputs disabled") << "" << 0x000u << 0x401u << 0u << 0u << "" << 0u << 0u << 0 << 0;
    QTest::newRow("1 forward, static")
        << "" << 0x005u << 0x401u << 0u << 0u << "" << 0x012u << 0x1u << 1500 << 0;
    QTest::newRow("1 backward, static")
        << "" << 0x005u << 0x404u << 0u << 0u << "" << 0x021u << 0x4u << 1500 << 0;
    QTest::newRow("1 forward, PWM0 at 50 %")
        << "set PWM0START" << 0x005u << 0x401u << 0x001u << 0u << "" << 0x012u << 0x1u << 750 << 0;
    QTest::newRow("1 backward, PWM0 at 30 %") << "set PWM0DUTY=30 PWM0START" << 0x005u << 0x404u << 0x004u
                                              << 0u << "" << 0x021u << 0x4u << 450 << 0;
    QTest::newRow("1 from PWM1") << "set PWM0START PWM1START PWM1DUTY=20" << 0x005u << 0x401u << 0x001u
                                 << 0x001u << "" << 0x012u << 0x1u << 300 << 0;
    QTest::newRow("generator stopped")
        << "" << 0x005u << 0x401u << 0x001u << 0u << "" << 0x011u << 0u << 0 << 0;
    QTest::newRow("other generator selected")
        << "set PWM0START" << 0x005u << 0x401u << 0x001u << 0x001u << "" << 0x011u << 0u << 0 << 0;
    QTest::newRow("duty 0") << "set PWM0START PWM0DUTY=0" << 0x005u << 0x401u << 0x001u << 0u << "" << 0x011u
                            << 0u << 0 << 0;
    QTest::newRow("duty 100") << "set PWM0START PWM0DUTY=100" << 0x005u << 0x401u << 0x001u << 0u << ""
                              << 0x012u << 0x1u << 1500 << 0;
    QTest::newRow("stopped") << "set PWM0START PWM0STOP" << 0x005u << 0x401u << 0x001u << 0u << "" << 0x011u
                             << 0u << 0 << 0;
    QTest::newRow("restarted after CONF at 50 %")
        << "set PWM0DUTY=90 PWM0START PWM0CONF PWM0START" << 0x005u << 0x401u << 0x001u << 0u << "" << 0x012u
        << 0x1u << 750 << 0;
    QTest::newRow("brake, both low") << "" << 0x005u << 0x400u << 0u << 0u << "" << 0x011u << 0u << 0 << 0;
    QTest::newRow("both high") << "" << 0x005u << 0x405u << 0u << 0u << "" << 0x022u << 0x5u << 0 << 0;
    QTest::newRow("one side disabled")
        << "" << 0x001u << 0x401u << 0u << 0u << "" << 0x002u << 0x1u << 0 << 0;
    QTest::newRow("2 forward, PWM1 at 80 %") << "set PWM1START PWM1DUTY=80" << 0x00Au << 0x402u << 0x002u
                                             << 0x004u << "" << 0x048u << 0x2u << 0 << 1200;
    QTest::newRow("both motors") << "" << 0x00Fu << 0x403u << 0u << 0u << "" << 0x05Au << 0x3u << 1500
                                 << 1500;
    QTest::newRow("generator stopped while running")
        << "set PWM0START" << 0x005u << 0x401u << 0x001u << 0u << "set PWM0STOP" << 0x012u << 0x1u << 0 << 0;
    QTest::newRow("enable pin low while running")
        << "" << 0x00Fu << 0x403u << 0u << 0u << "set DIO25=0" << 0x05Au << 0x3u << 0 << 0;
}

void tst_Sim::motors()
{
    QFETCH(QString, before);
    QFETCH(uint, cr0);
    QFETCH(uint, cr1);
    QFETCH(uint, cr2);
    QFETCH(uint, cr3);
    QFETCH(QString, after);
    QFETCH(uint, sr1);
    QFETCH(uint, sr5);
    QFETCH(int, isen1);
    QFETCH(int, isen2);

    SimBoard sim;
    QVERIFY(sim.start({}));
    if (!before.isEmpty())
        runStep(sim, before);
    const auto hex = [](uint v) { return QString("%1").arg(v, 4, 16, QChar('0')).toUpper(); };
    runStep(sim, QString("spi %1 %2 %3 %4 %5 D000 -> 1400 1000 1000 1000 %6 %7")
                     .arg(hex(0x1000 | cr1), hex(0x2000 | cr2), hex(0x3000 | cr3), hex(cr0 | 0x080),
                          hex(cr0 | 0x280), hex(0x3000 | sr1), hex(0xB000 | sr5)));
    if (!after.isEmpty())
        runStep(sim, after);
    if (QTest::currentTestFailed())
        return;
    for (int i = 0; i < 5; ++i) {
        int got1 = -1;
        int got2 = -1;
        QVERIFY(readCurrents(sim, got1, got2));
        for (const auto &[got, expected] : {std::pair{got1, isen1}, std::pair{got2, isen2}}) {
            // A current flows with 1 % of noise; none reads exactly 0.
            QVERIFY2(expected == 0 ? got == 0 : qAbs(got - expected) <= expected / 50 + 1,
                     qPrintable(QString("read %1 mA, expected %2").arg(got).arg(expected)));
        }
    }
}

// The application's formula turns AIN5 and AINREF into volts.
void tst_Sim::analogInputs()
{
    QStringList first;
    for (const char *seed : {"7", "7", "8"}) {
        SimBoard sim;
        QVERIFY(sim.start({"--seed", seed}));
        QStringList replies;
        QSet<int> seen;
        for (int i = 0; i < 20; ++i) {
            QVERIFY(sim.write("get AIN5 AINREF\n"));
            const QString line = QString::fromLatin1(sim.readLine().value_or(""));
            const QRegularExpressionMatch m = QRegularExpression("^AIN5=(\\d+) AINREF=(\\d+)$").match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const double volts = m.captured(1).toDouble() * m.captured(2).toDouble() * 16 / 2048000;
            QVERIFY2(volts > 11 && volts < 13, qPrintable(line));
            QCOMPARE(m.captured(2), QString("3000"));
            seen.insert(m.captured(1).toInt());
            replies << line;
        }
        QVERIFY2(seen.size() > 1, "the supply reading should carry noise");
        if (first.isEmpty())
            first = replies;
        else if (QByteArray(seed) == "7")
            QCOMPARE(replies, first);
        else
            QVERIFY(replies != first);
    }
}

// Exact bytes out for bytes in, and silence after them.
void tst_Sim::controlBytes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("ENQ") << QStringList() << QByteArray(1, enq) << QByteArray(1, ack);
    QTest::newRow("ENQ inside a line") << QStringList() << QByteArray("get DI\x05O1\n")
                                       << QByteArray("\x06"
                                                     "DIO1=0\n");
    QTest::newRow("CAN inside a line")
        << QStringList() << QByteArray("get DI\x18O1\n") << QByteArray("DIO1=0\n");
    QTest::newRow("broken CAN run") << QStringList() << QByteArray("\x18\x18\x18\x18\x18\n\x18\x05")
                                    << QByteArray(1, ack);
    QTest::newRow("other device") << QStringList{"--enq-reply", "0x15"} << QByteArray(1, enq)
                                  << QByteArray(1, 0x15);
    QTest::newRow("silent from the start")
        << QStringList{"--silent-after", "0"} << QByteArray("\x05get DIO1\n\x05") << QByteArray();
}

void tst_Sim::controlBytes()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);

    SimBoard sim;
    QVERIFY(sim.start(args));
    QVERIFY(sim.write(input));
    QCOMPARE(sim.readBytes(output.size()), output);
    QVERIFY(sim.quietFor(150));
}

void tst_Sim::versionFormat_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("version");
    QTest::addColumn<QDateTime>("built");

    QTest::newRow("default") << QStringList() << 0x0104 << QDateTime(QDate(2026, 12, 10), QTime(5, 17, 31));
    QTest::newRow("given") << QStringList{"--version", "0A1F", "--build-date", "Mon Feb 03 23:59:00 2025"}
                           << 0x0A1F << QDateTime(QDate(2025, 2, 3), QTime(23, 59, 0));
}

// The application reads the version with this pattern and date format.
void tst_Sim::versionFormat()
{
    QFETCH(QStringList, args);
    QFETCH(int, version);
    QFETCH(QDateTime, built);

    SimBoard sim;
    QVERIFY(sim.start(args));
    QVERIFY(sim.write("get VER\n"));
    const QString line = QString::fromLatin1(sim.readLine().value_or(""));
    const QRegularExpressionMatch m =
        QRegularExpression("\\w+=([\\w\\d]+) (\\w+) (\\w+) (\\d+) (\\d+):(\\d+):(\\d+) (\\d+)").match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    QCOMPARE(m.captured(1).toInt(nullptr, 16), version);
    const QString date = QString("%1 %2 %3 %4:%5:%6 %7")
                             .arg(m.captured(2), m.captured(3), m.captured(4), m.captured(5), m.captured(6),
                                  m.captured(7), m.captured(8));
    QCOMPARE(QDateTime::fromString(date, "ddd MMM dd hh:mm:ss yyyy"), built);
}

void tst_Sim::restart()
{
    // The board's restart window and the waits around it scale together.
    const int scale = TestTiming::factor();
    SimBoard sim;
    QVERIFY(sim.start({"--restart-ms", QString::number(400 * scale)}));
    QVERIFY(sim.write("set DIO22=1 PWM0DUTY=10\nset SPI0CS0DATA=021234\n"));
    QCOMPARE(sim.readLine().value_or(""), "DIO22:ok PWM0DUTY:ok");
    QCOMPARE(sim.readLine().value_or(""), "SPI0CS0DATA:ok");

    QElapsedTimer since;
    since.start();
    QVERIFY(sim.write(sixCan + "get DIO22\n\x05"));
    QVERIFY(sim.write("get DIO22\n\x05"));
    QVERIFY(sim.quietFor(200 * scale));
    QVERIFY2(since.elapsed() < 380 * scale, "too slow to see the restart window");

    QTest::qWait(int(420 * scale - since.elapsed()));
    QVERIFY(sim.write(QByteArray(1, enq)));
    QCOMPARE(sim.readBytes(1), QByteArray(1, ack));
    QVERIFY(sim.write("get DIO22 PWM0DUTY SPI0CS0DATA\n"));
    QCOMPARE(sim.readLine().value_or(""), "DIO22=0 PWM0DUTY=50 SPI0CS0DATA=020000");
    // The chip lost its supply with the restart and says so again.
    QVERIFY(sim.write("set SPI0CS0DATA=02D000\nget SPI0CS0DATA\n"));
    QCOMPARE(sim.readLine().value_or(""), "SPI0CS0DATA:ok");
    QCOMPARE(sim.readLine().value_or(""), "SPI0CS0DATA=021400");
}

// The image lands in the dump file on the marker and on every restart, and
// a new image erases the old one.
void tst_Sim::flashDump()
{
    QTemporaryDir dir;
    const QString dump = dir.filePath("flash.bin");
    auto readDump = [&dump] {
        QFile file(dump);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    };
    SimBoard sim;
    QVERIFY(sim.start({"--flash-dump", dump, "--restart-ms", "50"}));
    QVERIFY(sim.write("set flash=800500001234abcd000000041234abcd\r\n"
                      "set flash=800501000000000000000100" +
                      QByteArray(512, '0') + "\r\n"));
    QCOMPARE(sim.readLine().value_or(""), "flash:ok");
    QCOMPARE(sim.readLine().value_or(""), "flash:ok");
    QVERIFY(!QFile::exists(dump));

    QVERIFY(sim.write("set flash=8007fffC1234abcd000000041234abcd\r\n"));
    QCOMPARE(sim.readLine().value_or(""), "flash:ok");
    // Erased between the first four bytes and the block at 0x100.
    QCOMPARE(readDump(), QByteArray::fromHex("1234abcd") + QByteArray(252, char(0xFF)) + QByteArray(256, 0));

    QVERIFY(QFile::remove(dump));
    QVERIFY(sim.write(sixCan));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dump), 2000);
    QCOMPARE(readDump().size(), 512);
    QTest::qWait(100);

    QVERIFY(sim.write("set flash=800500000000000c000000010c\r\n"
                      "set flash=8007fffC1234abcd000000041234abcd\r\n"));
    QCOMPARE(sim.readLine().value_or(""), "flash:ok");
    QCOMPARE(sim.readLine().value_or(""), "flash:ok");
    QCOMPARE(readDump(), QByteArray(1, 0x0C));
}

void tst_Sim::delay()
{
    SimBoard sim;
    const int delayMs = 150 * TestTiming::factor();
    QVERIFY(sim.start({"--delay", QString::number(delayMs)}));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(sim.write("get DIO1\nget DIO2\nget DIO3\n\x05"));
    QCOMPARE(sim.readBytes(1), QByteArray(1, ack));
    QVERIFY2(clock.elapsed() < delayMs * 2 / 3, "ENQ must not wait for the delay");

    qint64 previous = 0;
    for (const char *expected : {"DIO1=0", "DIO2=0", "DIO3=0"}) {
        QCOMPARE(sim.readLine().value_or(""), expected);
        const qint64 at = clock.elapsed();
        QVERIFY2(at - previous >= delayMs - 10, qPrintable(QString("reply after %1 ms").arg(at - previous)));
        previous = at;
    }
    QVERIFY2(previous < delayMs * 6, "replies must not wait much longer than asked");
}

// The program keeps the line model's time: no byte comes before the
// arithmetic says it can (the model's own table checks the exact times).
void tst_Sim::modelledLine_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("atLeastMs");

    // 8 bytes out, 101 back, at 1.04 ms a byte.
    QTest::newRow("9600 baud") << QStringList{"--baud", "9600", "--big-reply", "100"}
                               << QByteArray("get BIG\n") << QByteArray("BIG=" + QByteArray(96, 'x') + "\n")
                               << 113;
    QTest::newRow("16 ms each way") << QStringList{"--latency", "16"} << QByteArray("\x05")
                                    << QByteArray("\x06") << 32;
    QTest::newRow("both") << QStringList{"--baud", "115200", "--latency", "1"} << QByteArray("get DIO1\n")
                          << QByteArray("DIO1=0\n") << 3;
}

void tst_Sim::modelledLine()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, expected);
    QFETCH(int, atLeastMs);

    SimBoard sim;
    QVERIFY(sim.start(options));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(sim.write(sent));
    QCOMPARE(sim.readBytes(int(expected.size())), expected);
    QVERIFY2(clock.elapsed() >= atLeastMs, qPrintable(QString::number(clock.elapsed())));
}

// A write that follows an answer begins a round trip; lines written
// together are one, however the modelled line paces their bytes.
void tst_Sim::roundTrips_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("bare terminal") << QStringList();
    QTest::newRow("modelled line") << QStringList{"--baud", "115200", "--latency", "1"};
}

void tst_Sim::roundTrips()
{
    QFETCH(QStringList, options);
    QTemporaryDir dir;
    const QString file = dir.filePath("transcript.txt");
    SimBoard sim;
    QVERIFY(sim.start(options + QStringList{"--transcript", file, "--count-round-trips"}));
    QVERIFY(sim.write("get DIO1\nget DIO2\n"));
    QCOMPARE(sim.readLine().value_or(""), "DIO1=0");
    QCOMPARE(sim.readLine().value_or(""), "DIO2=0");
    QVERIFY(sim.write("get DIO3\n"));
    QCOMPARE(sim.readLine().value_or(""), "DIO3=0");

    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> expected{"<ROUND TRIP>", "get DIO1", "get DIO2", "<ROUND TRIP>", "get DIO3", ""};
    QCOMPARE(f.readAll().split('\n'), expected);
}

void tst_Sim::silentAfter()
{
    SimBoard sim;
    QVERIFY(sim.start({"--silent-after", "2"}));
    QVERIFY(sim.write("\x05get DIO1\nget DIO2\n"));
    QCOMPARE(sim.readBytes(1), QByteArray(1, ack));
    QCOMPARE(sim.readLine().value_or(""), "DIO1=0");
    QCOMPARE(sim.readLine().value_or(""), "DIO2=0");
    QVERIFY(sim.write("\x05get DIO3\n*IDN?\n\x05"));
    QVERIFY(sim.quietFor(250));
    QCOMPARE(sim.process.state(), QProcess::Running);
}

void tst_Sim::hangupAfter()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("board");
    SimBoard sim;
    QVERIFY(sim.start({"--hangup-after", "1", "--link", link}));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path);
    QVERIFY(sim.write("get DIO1\n"));
    QCOMPARE(sim.readLine().value_or(""), "DIO1=0");
    QVERIFY(sim.write("get DIO2\n"));
    QVERIFY(!sim.readLine(2000));
    QVERIFY(sim.hungUp);
    QVERIFY(sim.process.waitForFinished(2000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

void tst_Sim::garbageAfter()
{
    SimBoard sim;
    QVERIFY(sim.start({"--garbage-after", "1"}));
    QVERIFY(sim.write("get DIO1\n"));
    QCOMPARE(sim.readLine().value_or(""), "DIO1=0");
    QVERIFY(sim.write("*IDN?\n"));
    QByteArray junk;
    bool found = false;
    while (const std::optional<QByteArray> line = sim.readLine()) {
        if (*line == identity) {
            found = true;
            break;
        }
        junk += *line + '\n';
    }
    QVERIFY2(found, "no identity after the junk");
    QVERIFY(junk.contains('\0'));
    QVERIFY(junk.contains('\xff'));
    QVERIFY(junk.contains('\r'));
    for (char c : {'\x05', '\x06', '\x15', '\x18'})
        QVERIFY(!junk.contains(c));
}

// Every byte value, many times over, in lines of every length: the board
// answers each line with an error and is still there afterwards.
void tst_Sim::binaryInput()
{
    QByteArray noise;
    quint32 x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1103515245u + 12345u;
        const char c = char(x >> 24);
        if (c != 0x05 && c != 0x18)
            noise += c;
    }
    SimBoard sim;
    QVERIFY(sim.start({}));
    QVERIFY(sim.write(noise + "\n*IDN?\n"));
    bool found = false;
    int errors = 0;
    while (const std::optional<QByteArray> line = sim.readLine()) {
        if (*line == identity) {
            found = true;
            break;
        }
        QVERIFY2(line->contains("err"), line->left(100).toHex().constData());
        ++errors;
    }
    QVERIFY2(found, "no identity after the noise");
    QVERIFY(errors > 100);
}

void tst_Sim::transcript()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("transcript.txt");
    SimBoard sim;
    QVERIFY(sim.start({"--transcript", file, "--restart-ms", "50"}));
    QVERIFY(sim.write("get DIO1\r\n\x05set \x01x=1\n" + sixCan + "lost while restarting\n"));
    QCOMPARE(sim.readLine().value_or(""), "DIO1=0");
    QCOMPARE(sim.readLine().value_or(""), "\x06?x:err");
    QTest::qWait(100);
    QVERIFY(sim.write("get DIO2\n"));
    QCOMPARE(sim.readLine().value_or(""), "DIO2=0");

    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> expected{"get DIO1", "<ENQ>", "set \\x01x=1", "<CAN>",    "<CAN>", "<CAN>",
                                     "<CAN>",    "<CAN>", "<CAN>",        "get DIO2", ""};
    QCOMPARE(f.readAll().split('\n'), expected);
}

// The application closes and reopens the port to change speed; the board
// must neither notice nor stop answering.
void tst_Sim::portReopened()
{
    SimBoard sim;
    QVERIFY(sim.start({}));
    QVERIFY(sim.write("set baudrate=921600\n"));
    sim.closePort();
    QVERIFY(sim.openPort());
    QVERIFY(sim.write("get baudrate\n"));
    QCOMPARE(sim.readLine().value_or(""), "baudrate=921600");
    sim.closePort();
    QVERIFY(sim.openPort());
    QVERIFY(sim.write(QByteArray(1, enq)));
    QCOMPARE(sim.readBytes(1), QByteArray(1, ack));
}

void tst_Sim::stops_data()
{
    QTest::addColumn<int>("how"); // a signal, or 0 for the end of stdin
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("end of stdin") << 0;
}

void tst_Sim::stops()
{
    QFETCH(int, how);
    QTemporaryDir dir;
    const QString link = dir.filePath("board");
    SimBoard sim;
    QVERIFY(sim.start({"--link", link}));
    QVERIFY(QFileInfo(link).isSymLink());
    if (how == 0)
        sim.process.closeWriteChannel();
    else
        ::kill(pid_t(sim.process.processId()), how);
    QVERIFY(sim.process.waitForFinished(2000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_Sim::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2;
    QTest::newRow("missing value") << QStringList{"--delay"} << 2;
    QTest::newRow("not a number") << QStringList{"--silent-after", "x"} << 2;
    QTest::newRow("byte out of range") << QStringList{"--enq-reply=256"} << 2;
    QTest::newRow("no speed") << QStringList{"--baud", "0"} << 2;
    QTest::newRow("latency beyond a second") << QStringList{"--latency", "1001"} << 2;
}

void tst_Sim::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);

    QProcess p;
    p.start(SIM_PATH, args);
    QVERIFY(p.waitForFinished(2000));
    QCOMPARE(p.exitCode(), exitCode);
    if (exitCode == 0) {
        const QByteArray help = p.readAllStandardOutput();
        for (const char *option :
             {"--link", "--exit-on-stdin-eof", "--transcript", "--idn", "--version", "--build-date",
              "--error", "--delay", "--restart-ms", "--silent-after", "--garbage-after", "--hangup-after",
              "--enq-reply", "--big-reply", "--seed", "--error-once", "--chip-registers", "--help"})
            QVERIFY2(help.contains(option), option);
    }
}

QTEST_GUILESS_MAIN(tst_Sim)
#include "tst_sim.moc"
