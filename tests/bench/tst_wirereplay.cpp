#include "wirereplay.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList describe(const QList<WireStep> &steps)
{
    QStringList out;
    for (const WireStep &step : steps) {
        const QString bytes = QString::fromLatin1(step.bytes).replace(QLatin1Char('\n'), QLatin1String("|"));
        switch (step.answer) {
        case WireStep::Answer::Lines: out << QStringLiteral("%1 lines: %2").arg(step.lines).arg(bytes); break;
        case WireStep::Answer::Ack:
            out << QStringLiteral("ack: %1").arg(step.bytes == "\x05" ? "ENQ" : "?");
            break;
        case WireStep::Answer::Nothing: out << QStringLiteral("nothing: %1").arg(bytes); break;
        }
    }
    return out;
}

QStringList linesHeard(const QString &path)
{
    return withoutMarks(transcriptLines(path));
}

} // namespace

class tst_WireReplay : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void replayMakesTheBoardHearTheSame();
};

void tst_WireReplay::plan_data()
{
    QTest::addColumn<QStringList>("heard");
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("connect: presence, version, a command of two lines, speed")
        << QStringList{"<ENQ>", "get VER", "*IDN?", "set A=1", "get A", "set baudrate=115200", "get B"}
        << QList<QByteArray>{"get VER", "*IDN?", "set A=1\nget A\n", "get B\n"} << true
        << QStringList{"ack: ENQ",
                       "1 lines: get VER|",
                       "1 lines: *IDN?|",
                       "2 lines: set A=1|get A|",
                       "nothing: set baudrate=115200|",
                       "1 lines: get B|"};
    QTest::newRow("the same line twice is two writes")
        << QStringList{"get A", "get A"} << QList<QByteArray>{"get A", "get A"} << true
        << QStringList{"1 lines: get A|", "1 lines: get A|"};
    QTest::newRow("two one-line commands are not one write of two lines")
        << QStringList{"set A=1", "get A"} << QList<QByteArray>{"set A=1", "get A"} << true
        << QStringList{"1 lines: set A=1|", "1 lines: get A|"};
    QTest::newRow("commands between two round trips are one write")
        << QStringList{"<ROUND TRIP>", "set A=1", "get A", "<ROUND TRIP>", "get B", "<ENQ>", "get C"}
        << QList<QByteArray>{"set A=1", "get A", "get B", "get C"} << true
        << QStringList{"2 lines: set A=1|get A|", "1 lines: get B|", "ack: ENQ", "1 lines: get C|"};
    QTest::newRow("a command the board never heard")
        << QStringList{"get VER"} << QList<QByteArray>{"get VER", "*IDN?"} << false << QStringList{};
    QTest::newRow("a line the link did not log")
        << QStringList{"get VER", "get X"} << QList<QByteArray>{"get VER"} << false << QStringList{};
    QTest::newRow("a command of two lines heard in part")
        << QStringList{"set A=1", "get B"} << QList<QByteArray>{"set A=1\nget A"} << false << QStringList{};
}

void tst_WireReplay::plan()
{
    QFETCH(QStringList, heard);
    QFETCH(QList<QByteArray>, commands);
    QFETCH(bool, fits);
    QFETCH(QStringList, steps);

    QList<WireStep> planned;
    QString why;
    QCOMPARE(planReplay(heard, commands, &planned, &why), fits);
    QCOMPARE(why.isEmpty(), fits);
    if (fits)
        QCOMPARE(describe(planned), steps);
}

// The board hears the planned lines in order, on a port opened anew too,
// and the speed change, which the board never answers, is not waited for.
void tst_WireReplay::replayMakesTheBoardHearTheSame()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString heardPath = dir.filePath(QStringLiteral("heard"));
    QProcess sim;
    const QString port = startWireSim(sim, 0, heardPath);
    QVERIFY2(!port.isEmpty(), "the simulated board did not start");

    const QStringList heard{"<ENQ>",           "get VER",      "*IDN?", "set baudrate=115200",
                            "set PWM0DUTY=40", "get PWM0DUTY", "<ENQ>"};
    QList<WireStep> steps;
    QString why;
    QVERIFY2(planReplay(heard, {"get VER", "*IDN?", "set PWM0DUTY=40\nget PWM0DUTY"}, &steps, &why),
             qPrintable(why));
    ReplayClient client;
    QVERIFY(client.open(port));
    QVERIFY(client.play(steps));
    QCOMPARE(linesHeard(heardPath), heard);
    // Played again on a port opened anew, from the same point of the board.
    client.close();
    QVERIFY(client.open(port));
    QVERIFY(client.play(steps));
    QCOMPARE(linesHeard(heardPath).mid(heard.size()), heard);

    sim.closeWriteChannel();
    QVERIFY(sim.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(tst_WireReplay)
#include "tst_wirereplay.moc"
