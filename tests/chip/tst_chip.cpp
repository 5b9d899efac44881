#include "chip/chip.h"
#include "chip/registermap.h"
#include "link/controlboard.h"
#include "model/register.h"
#include "simboard.h"

#include <QTest>

namespace {

// The chip's surroundings without a window: the registers, a link to the
// simulated board (or none), and what the chip logs and asks of the views.
class Host : public ChipHost
{
public:
    explicit Host(const QStringList &options = {}, bool connect = true) : sim(options)
    {
        if (connect && sim.isRunning())
            ok = board.connectBoard(sim.path());
    }

    Register *reg(const QString &name) const override { return registers.reg(name); }
    ControlBoard *link() const override { return ok ? const_cast<ControlBoard *>(&board) : nullptr; }
    void log(int level, const QString &text) override { logged << QString::number(level) + ' ' + text; }
    void refresh(const QString &) override {}
    void flush() override {}
    void beginOperation() override { ++depth; }
    void endOperation() override { --depth; }

    uint value(const QString &name) const
    {
        return registers.reg(name)->bits(0, registers.reg(name)->size() - 1);
    }
    void mark() { marked = sim.transcript().size(); }
    QStringList sent() const { return sim.transcript().mid(marked); }

    SimBoard sim;
    ControlBoard board;
    RegisterMap registers;
    Chip chip{*this};
    QStringList logged;
    int depth = 0;
    qsizetype marked = 0;
    bool ok = false;
};

QString chain(const QStringList &values)
{
    QString line = "set";
    for (const QString &v : values)
        line += " SPI0CS0DATA=" + v;
    return line;
}

QString chainRead(int n)
{
    return "get" + QString(" SPI0CS0DATA").repeated(n);
}

void runOperation(Chip &chip, const QString &op)
{
    if (op == "writeControl CR2")
        chip.writeControl(SpiFrame::CR2);
    else if (op == "writeControl CR5A")
        chip.writeControl(SpiFrame::CR5A);
    else if (op == "writeBridge 3")
        chip.writeBridge(3);
    else if (op == "readStatus 4")
        chip.readStatus(4);
    else if (op == "requestRead 7")
        chip.requestRead(7);
    else if (op == "readAll")
        chip.readAll();
    else if (op == "bridge defaults")
        chip.writeBridgeConfiguration(ChipService::ChipDefaults);
    else if (op == "bridge model")
        chip.writeBridgeConfiguration(ChipService::ModelValues);
    else if (op == "configurePort")
        chip.configurePort();
    else if (op == "setPortSpeed")
        chip.setPortSpeed(250000);
    else
        QFAIL(qPrintable("no operation " + op));
}

} // namespace

class tst_Chip : public QObject
{
    Q_OBJECT

private slots:
    void wireLines_data();
    void wireLines();
    void answersFillTheStatusRegisters();
    void failedChainGoesAgain();
    void withoutBoard();
};

void tst_Chip::wireLines_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QStringList>("lines");

    // Every register starts at all ones where it is written, the watchdog
    // bit at 0: forced bits show, and the bit toggles with every frame.
    QTest::newRow("CR2 forces its reserved bits")
        << "writeControl CR2" << QStringList{"set SPI0CS0DATA=02207f", "get SPI0CS0DATA"};
    QTest::newRow("CR5A names its half")
        << "writeControl CR5A" << QStringList{"set SPI0CS0DATA=0253ff", "get SPI0CS0DATA"};
    QTest::newRow("a half-bridge is two frames") << "writeBridge 3"
                                                 << QStringList{"set SPI0CS0DATA=0273ff", "get SPI0CS0DATA",
                                                                "set SPI0CS0DATA=027fff", "get SPI0CS0DATA"};
    QTest::newRow("a status read selects, then reads")
        << "readStatus 4"
        << QStringList{"set SPI0CS0DATA=02067f", "get SPI0CS0DATA", "set SPI0CS0DATA=02d800",
                       "get SPI0CS0DATA"};
    QTest::newRow("a read request only selects")
        << "requestRead 7" << QStringList{"set SPI0CS0DATA=0207ff", "get SPI0CS0DATA"};
    QTest::newRow("every status register in one chain")
        << "readAll"
        << QStringList{chain({"02007f", "0200ff", "0201ff", "02027f", "0202ff", "0203ff", "02007f"}),
                       chainRead(7)};
    QTest::newRow("the chip's bridge defaults")
        << "bridge defaults"
        << QStringList{
               chain({"025290", "0255b9", "026290", "0265b9", "027290", "0275b9", "028290", "0285b9"}),
               chainRead(8)};
    QTest::newRow("the model's bridge configuration")
        << "bridge model"
        << QStringList{
               chain({"0257ff", "0257ff", "0267ff", "0267ff", "0277ff", "0277ff", "0287ff", "0287ff"}),
               chainRead(8)};
    QTest::newRow("the SPI port") << "configurePort"
                                  << QStringList{"set SPI0CS0CONF", "set SPI0CS0SPEED=1000000",
                                                 "set SPI0CS0CPOL=0", "set SPI0CS0NCPHA=0", "set q913rem=1"};
    QTest::newRow("the port's speed") << "setPortSpeed" << QStringList{"set SPI0CS0SPEED=250000"};
}

void tst_Chip::wireLines()
{
    QFETCH(QString, op);
    QFETCH(QStringList, lines);

    Host host;
    QVERIFY2(host.ok, qPrintable(host.sim.errorString()));
    for (const char *name :
         {"CR0", "CR1", "CR2", "CR3", "CR4", "CR5A", "CR5B", "CR6A", "CR6B", "CR7A", "CR7B", "CR8A", "CR8B"})
        host.registers.reg(QLatin1String(name))->set(0, 10, 0x7FF);
    host.registers.reg("CR0")->set(0, 10, 0x7F);
    host.mark();
    runOperation(host.chip, op);
    QCOMPARE(host.sent(), lines);
    QCOMPARE(host.depth, 0);
    QCOMPARE(host.logged, QStringList());
    QVERIFY(host.chip.pendingChain().isEmpty());
}

void tst_Chip::answersFillTheStatusRegisters()
{
    Host host;
    QVERIFY(host.ok);
    QVERIFY(host.chip.readAll());
    // Each answer reports what the frame before selected: the last one SR7,
    // the simulated chip's identity; the model keeps the last selection.
    QCOMPARE(host.value("SR7"), 0x651u);
    QCOMPARE(host.value("NM"), 1u);
    QCOMPARE(host.value("ADDR"), 7u);
    QCOMPARE(host.value("CR0") >> 7 & 7, 0u);
    // A single frame's answer lands in SpiOut and the register it names.
    host.registers.reg("SR4")->set(0, 11, 0xABC);
    QVERIFY(host.chip.readStatus(4));
    QCOMPARE(host.value("SpiOut") >> 13, 4u);
    QCOMPARE(host.value("ADDR"), 4u);
    QVERIFY(host.value("SR4") != 0xABCu);
}

void tst_Chip::failedChainGoesAgain()
{
    Host host({"--error-once", "SPI0CS0DATA"});
    QVERIFY(host.ok);
    host.mark();
    host.chip.chainAdd(SpiFrame::CR1);
    QVERIFY(!host.chip.chainTransfer());
    QCOMPARE(host.logged, QStringList{"-1 SpiController:Chain spi register write error"});
    QCOMPARE(host.chip.pendingChain(), QByteArray(" SPI0CS0DATA=021000"));
    host.chip.chainAdd(2, 0x7F);
    QVERIFY(host.chip.chainTransfer());
    // The read line travels with the write line, so it went out the first
    // time too; its answers were left.
    QCOMPARE(host.sent(),
             (QStringList{chain({"021000"}), chainRead(1), chain({"021000", "02207f"}), chainRead(2)}));
    QVERIFY(host.chip.pendingChain().isEmpty());
}

void tst_Chip::withoutBoard()
{
    Host host({}, false);
    host.registers.reg("CR0")->set(0, 10, 0x3);
    QVERIFY(!host.chip.writeControl(SpiFrame::CR0));
    QVERIFY(!host.chip.readAll());
    QCOMPARE(host.logged,
             (QStringList{"-1 SPI data transfer failed", "-1 SpiController:Spi register write error",
                          "-1 SpiController:Chain spi register write error"}));
    // The model holds what would have gone out; nothing is left half sent.
    QCOMPARE(host.value("CR0"), 0x3u);
    QCOMPARE(host.depth, 0);
}

QTEST_GUILESS_MAIN(tst_Chip)
#include "tst_chip.moc"
