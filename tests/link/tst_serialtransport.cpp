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
    void commandsTogether_data();
    void commandsTogether();
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
        QList<LinkReply> replies;
        const bool ok = exchange({{command, limitMs}}, &replies);
        if (ok && reply)
            *reply = replies.value(0).text;
        return ok;
    }
    bool exchange(const QList<LinkCommand> &commands, QList<LinkReply> *replies)
    {
        LinkRequest request;
        request.commands = commands;
        request.replies = replies;
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

// Commands that go out in one write are answered in order, and each reply,
// failure and log line is what the command would have had on its own: an
// error answers one command only, and a time-out in the middle leaves its
// line owed, to be dropped before the next command's reply is taken.
void tst_SerialTransport::commandsTogether_data()
{
    using Log = QList<QPair<int, QByteArray>>;
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("middleLimitMs");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<QList<bool>>("oks");
    QTest::addColumn<Log>("log");
    QTest::addColumn<QList<int>>("losses");

    const auto tx = [](const char *text) { return qMakePair(int(ControlBoard::TX), QByteArray(text)); };
    const auto rx = [](const char *text) { return qMakePair(int(ControlBoard::RX), QByteArray(text)); };
    const auto error = [](const char *text) {
        return qMakePair(int(ControlBoard::RX_ERR), QByteArray(text));
    };
    QTest::newRow("answered") << QStringList() << 2000 << QByteArrayList{"DIO1=0\n", "DIO22=0\n", "DIO3:ok\n"}
                              << QList<bool>{true, true, true}
                              << Log{rx("TIMEOUT:2000"), rx("DIO1=0\n"),  tx("get DIO22"),
                                     rx("TIMEOUT:2000"), rx("DIO22=0\n"), tx("set DIO3=1"),
                                     rx("TIMEOUT:2000"), rx("DIO3:ok\n")}
                              << QList<int>();
    QTest::newRow("error in the middle")
        << QStringList{"--error", "DIO22"} << 2000 << QByteArrayList{"DIO1=0\n", "DIO22:err\n", "DIO3:ok\n"}
        << QList<bool>{true, false, true} << Log{rx("TIMEOUT:2000"), rx("DIO1=0\n"),     tx("get DIO22"),
                                                 rx("TIMEOUT:2000"), rx("DIO22:err\n"),  error("DIO22:err\n"),
                                                 tx("set DIO3=1"),   rx("TIMEOUT:2000"), rx("DIO3:ok\n")}
        << QList<int>();
    QTest::newRow("time-out in the middle")
        << QStringList{"--delay", "300"} << 50 << QByteArrayList{"DIO1=0\n", QByteArray(), "DIO3:ok\n"}
        << QList<bool>{true, false, true}
        << Log{rx("TIMEOUT:2000"),
               rx("DIO1=0\n"),
               tx("get DIO22"),
               rx("TIMEOUT:50"),
               error(""),
               tx("set DIO3=1"),
               qMakePair(int(ControlBoard::INF), QByteArray("late reply dropped: DIO22=0\n")),
               rx("TIMEOUT:2000"),
               rx("DIO3:ok\n")}
        << QList<int>();
    QTest::newRow("silent from the middle on")
        << QStringList{"--silent-after", "1"} << 200 << QByteArrayList{"DIO1=0\n", QByteArray(), QByteArray()}
        << QList<bool>{true, false, false}
        << Log{rx("TIMEOUT:2000"),
               rx("DIO1=0\n"),
               tx("get DIO22"),
               rx("TIMEOUT:200"),
               error(""),
               tx("set DIO3=1"),
               error("no answer for 2000 ms")}
        << QList<int>{int(ControlBoard::Loss::Silent)};
}

void tst_SerialTransport::commandsTogether()
{
    using Log = QList<QPair<int, QByteArray>>;
    QFETCH(QStringList, options);
    QFETCH(int, middleLimitMs);
    QFETCH(QByteArrayList, replies);
    QFETCH(QList<bool>, oks);
    QFETCH(Log, log);
    QFETCH(QList<int>, losses);

    Fixture f(options);
    QVERIFY(f.ok);
    QList<LinkReply> got;
    const bool all =
        f.exchange({{"get DIO1", 2000}, {"get DIO22", middleLimitMs}, {"set DIO3=1", 2000}}, &got);
    QCOMPARE(all, !oks.contains(false));
    QCOMPARE(got.size(), replies.size());
    for (int i = 0; i < got.size(); ++i) {
        QCOMPARE(got.at(i).text, replies.at(i));
        QCOMPARE(got.at(i).ok, oks.at(i));
    }
    QCOMPARE(f.sink.lines, log);
    QCOMPARE(f.sink.losses, losses);
    // One write, every line in its order (a silent board's ping follows).
    QCOMPARE(f.sink.sentCount, 1);
    QTRY_COMPARE(f.sim.transcript().mid(0, 3), (QStringList{"get DIO1", "get DIO22", "set DIO3=1"}));
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
