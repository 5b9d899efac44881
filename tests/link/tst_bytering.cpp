#include "link/bytering.h"

#include <QTest>

class tst_ByteRing : public QObject
{
    Q_OBJECT

private slots:
    void writeDropsWhatDoesNotFit();
    void wrapsAround();
    void readLine_data();
    void readLine();
};

void tst_ByteRing::writeDropsWhatDoesNotFit()
{
    ByteRing ring(8);
    QCOMPARE(ring.write("0123456789"), 8);
    QCOMPARE(ring.write("x"), 0);
    QCOMPARE(ring.read(3), QByteArray("012"));
    QCOMPARE(ring.write("abcd"), 3);
    QCOMPARE(ring.readAll(), QByteArray("34567abc"));
    QVERIFY(ring.isEmpty());
}

void tst_ByteRing::wrapsAround()
{
    ByteRing ring(5);
    for (int round = 0; round < 7; ++round) {
        QCOMPARE(ring.write("ab\n"), 3);
        bool found = false;
        QCOMPARE(ring.readLine(found), QByteArray("ab\n"));
        QVERIFY(found);
    }
    // A line whose end arrives after the ring has wrapped.
    ByteRing split(5);
    split.write("xyz");
    split.read(3);
    split.write("pq");
    bool found = true;
    QCOMPARE(split.readLine(found), QByteArray());
    QVERIFY(!found);
    QCOMPARE(split.write("r\nst"), 3);
    QCOMPARE(split.readLine(found), QByteArray("pqr\n"));
    QVERIFY(found);
    QCOMPARE(split.readAll(), QByteArray("s"));

    ring.write("xyz");
    ring.clear();
    QCOMPARE(ring.count(), 0);
    QCOMPARE(ring.read(10), QByteArray());
}

void tst_ByteRing::readLine_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("lf") << QByteArray("A=1\nB=2\n") << true << QByteArray("A=1\n") << QByteArray("B=2\n");
    QTest::newRow("cr first") << QByteArray("A:ok\r\n") << true << QByteArray("A:ok\r") << QByteArray("\n");
    QTest::newRow("no end") << QByteArray("half a li") << false << QByteArray() << QByteArray("half a li");
    QTest::newRow("empty line") << QByteArray("\nX") << true << QByteArray("\n") << QByteArray("X");
    QTest::newRow("binary") << QByteArray("\x00\xff\x06\n", 4) << true << QByteArray("\x00\xff\x06\n", 4)
                            << QByteArray();
}

void tst_ByteRing::readLine()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, found);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, rest);

    ByteRing ring(16);
    ring.write(input);
    bool wasFound = !found;
    QCOMPARE(ring.readLine(wasFound), line);
    QCOMPARE(wasFound, found);
    QCOMPARE(ring.readAll(), rest);
}

QTEST_APPLESS_MAIN(tst_ByteRing)
#include "tst_bytering.moc"
