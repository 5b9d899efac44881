#include "link/handshake.h"
#include "link/replyframer.h"

#include <QTest>

namespace {

constexpr int Capacity = 64;
constexpr int SilenceMs = 2000;

// What the framer made of a reply: lines taken, lines refused as late.
struct Outcome
{
    QList<QByteArray> taken;
    QList<QByteArray> late;
};

Outcome collect(ReplyFramer &framer, qint64 nowMs = 0)
{
    Outcome out;
    QByteArray line;
    for (;;) {
        const ReplyFramer::Reply got = framer.next(&line, nowMs);
        if (got == ReplyFramer::Reply::None)
            break;
        (got == ReplyFramer::Reply::Line ? out.taken : out.late).append(line);
        if (framer.complete())
            break;
    }
    return out;
}

} // namespace

class tst_ReplyFramer : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void lateRepliesAfterATimeout_data();
    void lateRepliesAfterATimeout();
    void owedLinesAreDropped();
    void owedWaitCountsFromTheLaterOfByteAndCommand();
    void overflowDropsTheLineWhole();
    void silenceBetweenLines();
    void acksOwedArePickedOut();
};

void tst_ReplyFramer::lines_data()
{
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("taken");
    QTest::addColumn<bool>("succeeded");

    QTest::newRow("one line") << QByteArray("get A\n") << QList<QByteArray>{"A=1\n"}
                              << QList<QByteArray>{"A=1\n"} << true;
    QTest::newRow("split across reads")
        << QByteArray("get A\n") << QList<QByteArray>{"A", "=1", "\n"} << QList<QByteArray>{"A=1\n"} << true;
    QTest::newRow("two lines in one read")
        << QByteArray("set A=1\nget A\n") << QList<QByteArray>{"A:ok\nA=1\n"}
        << QList<QByteArray>{"A:ok\n", "A=1\n"} << true;
    QTest::newRow("an error line fails it")
        << QByteArray("get A\nget B\n") << QList<QByteArray>{"A=1\nB:err\n"}
        << QList<QByteArray>{"A=1\n", "B:err\n"} << false;
    QTest::newRow("one line short") << QByteArray("get A\nget B\n") << QList<QByteArray>{"A=1\nB="}
                                    << QList<QByteArray>{"A=1\n"} << false;
    // Bytes past the reply stay for later: they are not this command's.
    QTest::newRow("more than asked") << QByteArray("get A\n") << QList<QByteArray>{"A=1\nX=2\n"}
                                     << QList<QByteArray>{"A=1\n"} << true;
}

void tst_ReplyFramer::lines()
{
    QFETCH(QByteArray, out);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, taken);
    QFETCH(bool, succeeded);

    ReplyFramer framer(Capacity, SilenceMs);
    framer.begin(out, 500, 0);
    Outcome got;
    for (const QByteArray &chunk : chunks) {
        framer.feed(chunk);
        const Outcome more = collect(framer);
        got.taken += more.taken;
        got.late += more.late;
    }
    QCOMPARE(got.taken, taken);
    QVERIFY(got.late.isEmpty());
    QCOMPARE(framer.succeeded(), succeeded);
    QCOMPARE(framer.lastLine(), taken.last());
}

void tst_ReplyFramer::lateRepliesAfterATimeout_data()
{
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("arrives");
    QTest::addColumn<QList<QByteArray>>("taken");
    QTest::addColumn<QList<QByteArray>>("late");

    QTest::newRow("another get's answer") << QByteArray("get B\n") << QByteArray("A=1\nB=2\n")
                                          << QList<QByteArray>{"B=2\n"} << QList<QByteArray>{"A=1\n"};
    QTest::newRow("a get's answer to a set") << QByteArray("set B=3\n") << QByteArray("A=1\nB:ok\n")
                                             << QList<QByteArray>{"B:ok\n"} << QList<QByteArray>{"A=1\n"};
    // The name must come with its separator: "AB=" is no answer for "A".
    QTest::newRow("a longer name") << QByteArray("get A\n") << QByteArray("AB=1\nA=2\n")
                                   << QList<QByteArray>{"A=2\n"} << QList<QByteArray>{"AB=1\n"};
    QTest::newRow("errors are always taken") << QByteArray("get B\n") << QByteArray("A:err\n")
                                             << QList<QByteArray>{"A:err\n"} << QList<QByteArray>{};
    QTest::newRow("other commands are not checked")
        << QByteArray("*IDN?\n") << QByteArray("A=1\n") << QList<QByteArray>{"A=1\n"} << QList<QByteArray>{};
}

// Once a reply timed out, a slow board's old answers may still come: one
// that does not answer the line is not taken, until a reply comes whole.
void tst_ReplyFramer::lateRepliesAfterATimeout()
{
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, arrives);
    QFETCH(QList<QByteArray>, taken);
    QFETCH(QList<QByteArray>, late);

    ReplyFramer framer(Capacity, SilenceMs);
    framer.begin("get A\n", 200, 0);
    QVERIFY(collect(framer).taken.isEmpty());
    framer.end(200);
    QCOMPARE(framer.owedLines(), 1);
    framer.forgiveOwed();

    framer.begin(out, 200, 300);
    framer.feed(arrives);
    const Outcome got = collect(framer, 300);
    QCOMPARE(got.taken, taken);
    QCOMPARE(got.late, late);
    framer.end(300);

    // Answered in full: the next reply is taken as it comes.
    framer.begin("get C\n", 200, 400);
    framer.feed("A=1\n");
    QCOMPARE(collect(framer, 400).taken, QList<QByteArray>{"A=1\n"});
}

void tst_ReplyFramer::owedLinesAreDropped()
{
    ReplyFramer framer(Capacity, SilenceMs);
    framer.begin("get A\nget B\n", 200, 0);
    framer.feed("A=1\n");
    QCOMPARE(collect(framer).taken.size(), 1);
    framer.end(200);
    framer.oweAll("set C=1\n", 250);
    QCOMPARE(framer.owedLines(), 2);

    // What came meanwhile is kept while lines are owed.
    framer.feed("B=2\nC:o");
    framer.dropUnasked();
    QByteArray line;
    QCOMPARE(framer.dropOwed(&line), ReplyFramer::Drop::Line);
    QCOMPARE(line, QByteArray("B=2\n"));
    QCOMPARE(framer.dropOwed(&line), ReplyFramer::Drop::None);
    framer.feed("k\nfresh");
    QCOMPARE(framer.dropOwed(&line), ReplyFramer::Drop::Line);
    QCOMPARE(line, QByteArray("C:ok\n"));
    QCOMPARE(framer.owedLines(), 0);
    QCOMPARE(framer.dropOwed(&line), ReplyFramer::Drop::None);

    // Nothing owed: whatever waits came unasked.
    framer.dropUnasked();
    framer.begin("get D\n", 200, 300);
    framer.feed("D=4\n");
    QCOMPARE(collect(framer, 300).taken, QList<QByteArray>{"D=4\n"});
}

void tst_ReplyFramer::owedWaitCountsFromTheLaterOfByteAndCommand()
{
    ReplyFramer framer(Capacity, SilenceMs);
    framer.oweAll("get A\n", 1000);
    // The last byte came before the command: silence counts from the command.
    QCOMPARE(framer.owedWaitMs(1500, 0), qint64(SilenceMs - 500 + 1));
    // A byte since restarts it.
    QCOMPARE(framer.owedWaitMs(3500, 3000), qint64(SilenceMs - 500 + 1));
    QCOMPARE(framer.owedWaitMs(3000, 1000), qint64(1));
    // Silent for longer than the presence time: the board is asked with an ENQ.
    QVERIFY(framer.owedWaitMs(3001, 1000) < 0);
}

void tst_ReplyFramer::overflowDropsTheLineWhole()
{
    ReplyFramer framer(Capacity, SilenceMs);
    framer.oweAll("get BIG\n", 0);
    framer.feed(QByteArray(Capacity + 10, 'x'));
    QByteArray line;
    QCOMPARE(framer.dropOwed(&line), ReplyFramer::Drop::Overflow);
    QCOMPARE(framer.owedLines(), 0);
    framer.begin("get A\n", 200, 0);
    framer.feed("A=1\n");
    QCOMPARE(collect(framer).taken, QList<QByteArray>{"A=1\n"});
}

// The time-out is on the silence before each line, not on the whole reply.
void tst_ReplyFramer::silenceBetweenLines()
{
    ReplyFramer framer(Capacity, SilenceMs);
    framer.begin("get A\nget B\n", 500, 1000);
    QCOMPARE(framer.replyWaitMs(1400), qint64(100));
    framer.feed("A=1\n");
    QCOMPARE(collect(framer, 1400).taken.size(), 1);
    QCOMPARE(framer.replyWaitMs(1800), qint64(100));
    QVERIFY(framer.replyWaitMs(1900) <= 0);
    framer.end(1900);
    QCOMPARE(framer.owedLines(), 1);
    QVERIFY(!framer.succeeded());
}

// An ACK owed to a presence check that gave way is no reply text; one
// nobody owes is.
void tst_ReplyFramer::acksOwedArePickedOut()
{
    ReplyFramer framer(Capacity, SilenceMs);
    framer.oweAck();
    framer.begin("get A\n", 200, 0);
    framer.feed(QByteArray("A=") + Handshake::ACK + "1" + Handshake::ACK + "\n");
    QCOMPARE(collect(framer).taken, QList<QByteArray>{QByteArray("A=1") + Handshake::ACK + "\n"});
    framer.end(0);

    framer.oweAck();
    framer.reset();
    framer.begin("get A\n", 200, 0);
    framer.feed(QByteArray(1, Handshake::ACK) + "A=1\n");
    QCOMPARE(collect(framer).taken, QList<QByteArray>{QByteArray(1, Handshake::ACK) + "A=1\n"});
}

QTEST_GUILESS_MAIN(tst_ReplyFramer)
#include "tst_replyframer.moc"
