#include "wiremodel.h"

#include <QTest>

// The modelled USB serial line against the arithmetic: 10 bits a byte at
// the line's speed, and transfers held for the adapter's latency.
class tst_WireModel : public QObject
{
    Q_OBJECT

private slots:
    void arrival_data();
    void arrival();
};

namespace {

using Clock = WireModel::Clock;
using us = std::chrono::microseconds;

// When each byte of 'bytes' has arrived, in microseconds after the push.
QList<qint64> arrivals(WireModel &wire, const QList<QPair<qint64, QByteArray>> &pushes)
{
    const Clock::time_point start{};
    for (const auto &[at, bytes] : pushes)
        wire.push(bytes.toStdString(), start + us(at));
    QList<qint64> out;
    while (const auto due = wire.nextDue()) {
        const std::string got = wire.take(*due);
        const qint64 at = std::chrono::duration_cast<us>(*due - start).count();
        for (std::size_t i = 0; i < got.size(); ++i)
            out.append(at);
    }
    return out;
}

} // namespace

void tst_WireModel::arrival_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("latencyMs");
    QTest::addColumn<QList<QPair<qint64, QByteArray>>>("pushes");
    QTest::addColumn<QList<qint64>>("expected");

    const int toBoard = int(WireModel::Direction::ToBoard);
    const int toHost = int(WireModel::Direction::ToHost);
    using Pushes = QList<QPair<qint64, QByteArray>>;

    // 115200 baud: 86.8 us a byte; a line arrives with its last byte.
    QTest::newRow("paced line") << toBoard << 115200 << 0 << Pushes{{0, "get VER\n"}}
                                << QList<qint64>(8, 694);
    // A control byte is acted on alone, so it arrives on its own.
    QTest::newRow("ENQ after a line")
        << toHost << 115200 << 0 << Pushes{{0, "A\n\x06"}} << QList<qint64>{173, 173, 260};
    QTest::newRow("the UART is busy")
        << toBoard << 9600 << 0 << Pushes{{0, "a\n"}, {100, "b\n"}} << QList<qint64>{2083, 2083, 4166, 4166};
    // Towards the board the transfer leaves first, then the UART.
    QTest::newRow("latency then UART")
        << toBoard << 115200 << 16 << Pushes{{0, "x\n"}} << QList<qint64>{16173, 16173};
    // A write within the running transfer's window goes with it.
    QTest::newRow("writes share a transfer") << toBoard << 0 << 16 << Pushes{{0, "a\n"}, {5000, "b\n"}}
                                             << QList<qint64>{16000, 16000, 16000, 16000};
    QTest::newRow("a later write, a new transfer")
        << toBoard << 0 << 1 << Pushes{{0, "a\n"}, {2000, "b\n"}} << QList<qint64>{1000, 1000, 3000, 3000};
    // Towards the PC the UART comes first; the first byte starts the timer,
    // and bytes that reach the adapter while it runs wait for it.
    QTest::newRow("UART then latency")
        << toHost << 115200 << 1 << Pushes{{0, "ab\n"}} << QList<qint64>{1086, 1086, 1086};
    QTest::newRow("a long reply spans transfers")
        << toHost << 9600 << 3 << Pushes{{0, "abc\n"}} << QList<qint64>{4041, 4041, 4041, 7166};
    QTest::newRow("no model") << toHost << 0 << 0 << Pushes{{7, "ok\n"}} << QList<qint64>{7, 7, 7};
}

void tst_WireModel::arrival()
{
    QFETCH(int, direction);
    QFETCH(int, baud);
    QFETCH(int, latencyMs);
    using Pushes = QList<QPair<qint64, QByteArray>>;
    QFETCH(Pushes, pushes);
    QFETCH(QList<qint64>, expected);

    WireModel wire(WireModel::Direction(direction), baud, latencyMs);
    QCOMPARE(wire.modelled(), baud > 0 || latencyMs > 0);
    QCOMPARE(arrivals(wire, pushes), expected);
}

QTEST_GUILESS_MAIN(tst_WireModel)
#include "tst_wiremodel.moc"
