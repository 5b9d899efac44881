#include "link/controlboard.h"
#include "link/portowner.h"
#include "link/serialtransport.h"
#include "simboard.h"

#include <QTest>

// The board on a serial port, without the link's front: one exchange at a
// time against the simulated board, with a sink that records what the
// transport tells.
class tst_SerialTransport : public QObject
{
    Q_OBJECT

private slots:
    void exchange_data();
    void exchange();
    void lateReplyIsNotTheNextOnesAnswer();
    void presence_data();
    void presence();
    void hangUpIsALoss();
};

namespace {

class RecordingSink : public LinkSink
{
public:
    void log(int kind, const QByteArray &text) override { lines.append({kind, text}); }
    void sent() override { ++sentCount; }
    void received() override {}
    bool isConnected() const override { return connected; }
    void closeLink() override { connected = false; }
    void lost(int loss) override { losses.append(loss); }
    bool portRefused(bool, int) override { return false; }

    QByteArrayList texts(int kind) const
    {
        QByteArrayList out;
        for (const auto &[k, text] : lines) {
            if (k == kind)
                out.append(text);
        }
        return out;
    }

    QList<QPair<int, QByteArray>> lines;
    QList<int> losses;
    int sentCount = 0;
    bool connected = true;
};

struct Fixture
{
    explicit Fixture(const QStringList &options)
        : sim(options), transport(owner, ControlBoard::QueueSize, 2000)
    {
        ok = sim.isRunning() && transport.open(sim.path(), ControlBoard::LinkBaudRate);
    }

    bool exchange(const QByteArray &command, QByteArray *reply, int limitMs)
    {
        LinkRequest request;
        request.command = command;
        request.reply = reply;
        request.limitMs = limitMs;
        request.port = &owner;
        request.portWaitMs = 1000;
        request.portDeadline = QDeadlineTimer(request.portWaitMs);
        return transport.exchange(request, sink);
    }

    SimBoard sim;
    PortOwner owner;
    SerialTransport transport;
    RecordingSink sink;
    bool ok = false;
};

} // namespace

void tst_SerialTransport::exchange_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArrayList>("errors");

    QTest::newRow("answered") << QStringList() << QByteArray("get DIO22") << 500 << true
                              << QByteArray("DIO22=0\n") << QByteArrayList();
    QTest::newRow("nothing awaited") << QStringList() << QByteArray("set DIO22=1") << 0 << true
                                     << QByteArray() << QByteArrayList();
    QTest::newRow("error reply") << QStringList{"--error", "DIO22"} << QByteArray("get DIO22") << 500 << false
                                 << QByteArray() << QByteArrayList{"DIO22:err\n"};
    QTest::newRow("empty command") << QStringList() << QByteArray() << 500 << false << QByteArray()
                                   << QByteArrayList{QByteArray()};
    QTest::newRow("longer than the board's queue")
        << QStringList() << QByteArray("set X=" + QByteArray(ControlBoard::QueueSize, '1')) << 500 << false
        << QByteArray() << QByteArrayList{"command longer than 5000 bytes"};
}

void tst_SerialTransport::exchange()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, command);
    QFETCH(int, limitMs);
    QFETCH(bool, answered);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArrayList, errors);

    Fixture f(options);
    QVERIFY(f.ok);
    QByteArray got = "untouched";
    QCOMPARE(f.exchange(command, &got, limitMs), answered);
    if (answered)
        QCOMPARE(got, reply);
    QCOMPARE(f.sink.texts(ControlBoard::RX_ERR), errors);
    // A refused command never reaches the wire.
    QCOMPARE(f.sink.sentCount, errors.value(0) == "DIO22:err\n" || answered ? 1 : 0);
    if (f.sink.sentCount)
        QTRY_COMPARE(f.sim.transcript().value(0), QString::fromLatin1(command));
    else
        QCOMPARE(f.sim.transcript(), QStringList());
}

// An answer that comes after its command gave up belongs to nobody: the
// next command gets its own.
void tst_SerialTransport::lateReplyIsNotTheNextOnesAnswer()
{
    Fixture f({"--delay", "150"});
    QVERIFY(f.ok);
    QByteArray reply;
    QVERIFY(!f.exchange("get DIO1", &reply, 50));
    QVERIFY(f.exchange("get DIO2", &reply, 1000));
    QCOMPARE(reply, QByteArray("DIO2=0\n"));
    QVERIFY(f.sink.losses.isEmpty());
}

void tst_SerialTransport::presence_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("answers");

    QTest::newRow("board there") << QStringList() << true;
    QTest::newRow("board fallen silent") << QStringList{"--silent-after", "0"} << false;
}

void tst_SerialTransport::presence()
{
    QFETCH(QStringList, options);
    QFETCH(bool, answers);

    Fixture f(options);
    QVERIFY(f.ok);
    QByteArray reply;
    QCOMPARE(f.exchange("get DIO1", &reply, 200), answers);
    QVERIFY(f.owner.acquire() == PortOwner::Take::Held);
    QCOMPARE(f.transport.ping(), answers);
    f.owner.release();
}

// The device going away during an exchange is a loss told once, after the
// port is let go, and not an error of the command as well.
void tst_SerialTransport::hangUpIsALoss()
{
    Fixture f({"--hangup-after", "0"});
    QVERIFY(f.ok);
    QByteArray reply;
    QVERIFY(!f.exchange("get DIO1", &reply, 2000));
    QCOMPARE(f.sink.losses, QList<int>{int(ControlBoard::Loss::Unplugged)});
    QVERIFY(!f.sink.connected);
    QCOMPARE(f.sink.texts(ControlBoard::RX_ERR), QByteArrayList());
}

QTEST_GUILESS_MAIN(tst_SerialTransport)
#include "tst_serialtransport.moc"
