#include "model/fieldtext.h"
#include "model/register.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString CR0 = QStringLiteral(
    "HB_EN1=0#HB1 output enable;HB_EN2=0#HB2 output enable;HB_EN3=0#HB3 output enable;HB_EN4=0#HB4 output "
    "enable;_[2:0]#;SRA[2:0]#Status register read select;SRA_MODE=0#Continuos reading of selected SRx;");
const QString CR4 = QStringLiteral(
    "CAL_SEL[2:0]#Select HB output;CAL_PC[3:0]#Slope pre-charge time;CAL_DLY[3:0]#Slope delay time;");
const QString CR5A =
    QStringLiteral("T_PC1[1:0]#HB1 R/F slope pre-charge time;I_PCR1[2:0]#HB1 Rising slope pre-charge "
                   "current;I_PCF1[2:0]#HB1 "
                   "Falling slope pre-charge current;BLANK1[1:0]#HB1 Cross-conduction blanking time;D10=0#;");
const QString CR5B = QStringLiteral(
    "SR_CTRL1[2:0]#HB1 R/F slope slew phase current;T_DLY1[3:0]#HB1 R/F slope dynamic overload detect "
    "delay;VDS1[2:0]#HB1 VDS sense treshold;D10=1#;");
const QString SR0 = QStringLiteral(
    "@readonly=1;D0=0#;HB_QSB=0#VDS fail - "
    "Overload;_[1:0]#;OVF=0#Over-voltage;UVF=0#Under-voltage;CPF=0#Charge "
    "pump fail;CPL=0#Charge pump low;SPIF=0#SPI transmission fail;FSM=0#Fail-safe input;RCF=0#Registers "
    "cleared;TM=0#Test mode active;");
const QString SR7 = QStringLiteral("@readonly=1;DEV_ID[2:0]#Mask Revison;DEV_ID[2:0]#Silicon "
                                   "revision;DEV_ID[2:0]#Generation;DEV_ID[2:0]#Device Name;");
const QString DIO = QStringLiteral(
    "@register=DIO;@bit=EN                @pin=DIO25          @value=1        @dir=OUT;@bit=PWM1             "
    " "
    "@pin=DIO14          @value=0        @dir=OUT;@bit=PWM2              @pin=DIO15          @value=0        "
    "@dir=OUT;");

// Fields as "name@lo:hi/fieldIndex", built from the bits alone.
QString layoutOf(const Register &reg)
{
    QStringList fields;
    for (int lo = 0; lo < reg.size();) {
        int hi = lo;
        while (hi + 1 < reg.size() && reg.bitAt(hi + 1)->name == reg.bitAt(lo)->name)
            ++hi;
        const QString span = hi == lo ? QString::number(lo) : QStringLiteral("%1:%2").arg(lo).arg(hi);
        fields << reg.bitAt(lo)->name + u'@' + span + u'/' + QString::number(reg.bitAt(lo)->fieldIndex);
        lo = hi + 1;
    }
    return fields.join(u' ');
}

// Bit 0 first, read without notification.
QByteArray bitsOf(const Register &reg)
{
    QByteArray text;
    for (int i = 0; i < reg.size(); ++i)
        text += reg.bit(i) ? '1' : '0';
    return text;
}

QString attributesOf(const Register &reg)
{
    const QStringList keys{QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("pin"),
                           QStringLiteral("unit")};
    QStringList pairs;
    for (const QString &key : keys) {
        if (!reg.attribute(key).isEmpty())
            pairs << key + u'=' + reg.attribute(key);
    }
    return pairs.join(u' ');
}

void expectWarnings(const QStringList &patterns)
{
    for (const QString &pattern : patterns)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(pattern));
}

} // namespace

class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList sets;
    QStringList gets;
public slots:
    void slot_updateSet(const QString &name) { sets << name; }
    void slot_updateGet(const QString &name) { gets << name; }
};

class TestRegister : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void fieldSpec_data();
    void fieldSpec();
    void parse_data();
    void parse();
    void fieldAttributes_data();
    void fieldAttributes();

    void reference_get_data();
    void reference_get();
    void reference_set_data();
    void reference_set();
    void fieldInfo_data();
    void fieldInfo();
    void setRange_data();
    void setRange();
    void fill_data();
    void fill();
    void wholeRegister();
    void fromBitString_data();
    void fromBitString();
    void outOfRangeBitAccess();

    void select_data();
    void select();
    void range_data();
    void range();
    void viewWritesAnnouncedByOwner();
    void clearEmptiesView();
    void connectTo();

    void format_data();
    void format();

    void copy_data();
    void copy();
    void invert();

    void diagnosticsCategory();
};

void TestRegister::init()
{
    // Valid input must parse without diagnostics; expected ones are ignored per row.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestRegister::fieldSpec_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::addColumn<QString>("flags");
    QTest::addColumn<uint>("value");
    QTest::addColumn<QString>("description");

    QTest::newRow("range") << "T_PC1[1:0]#HB1 R/F slope" << true << "T_PC1" << 0 << 1 << "bracket colon" << 0u
                           << "HB1 R/F slope";
    QTest::newRow("range swapped") << "CR5A[8:9]" << true << "CR5A" << 8 << 9 << "bracket colon" << 0u << "";
    QTest::newRow("one index") << "SR0[4]" << true << "SR0" << 4 << 4 << "bracket" << 0u << "";
    QTest::newRow("all bits") << "CR0[]" << true << "CR0" << 0 << 10000 << "bracket all" << 0u << "";
    QTest::newRow("symbolic") << "DIO[EN]" << true << "DIO" << 0 << 0 << "bracket symbolic" << 0u << "";
    QTest::newRow("no brackets") << "CR0" << true << "CR0" << 0 << 0 << "" << 0u << "";
    QTest::newRow("empty description") << "D10=0#" << true << "D10" << 0 << 0 << "value" << 0u << "";
    QTest::newRow("hex value") << "A=0x1F" << true << "A" << 0 << 0 << "value" << 0x1Fu << "";
    QTest::newRow("0X is not hex") << "A=0X1F" << true << "A" << 0 << 0 << "value" << 0u << "";
    QTest::newRow("value saturates") << "A=99999999999" << true << "A" << 0 << 0 << "value" << 0xFFFFFFFFu
                                     << "";
    QTest::newRow("negative value wraps") << "A=-2" << true << "A" << 0 << 0 << "value" << 0xFFFFFFFEu << "";
    QTest::newRow("index saturates") << "A[1:99999999999]" << true << "A" << 1 << 2147483647
                                     << "bracket colon" << 0u << "";
    QTest::newRow("second # dropped") << "x#a#b" << true << "x" << 0 << 0 << "" << 0u << "ab";
    QTest::newRow("] skipped") << "A]B" << true << "AB" << 0 << 0 << "" << 0u << "";
    QTest::newRow("colon ends name") << "A:3" << true << "A" << 0 << 0 << "colon" << 0u << "";
    QTest::newRow("spaces around index") << "A[ 7 ]" << true << "A" << 7 << 7 << "bracket" << 0u << "";
    QTest::newRow("underscore is not symbolic") << "A[_1]" << true << "A" << 0 << 0 << "bracket" << 0u << "";
    QTest::newRow("= then [") << "A=1[2]" << false << "A" << 0 << 0 << "" << 0u << "";
    QTest::newRow(": in description") << "A#x:y" << false << "A" << 0 << 0 << "" << 0u << "";
    QTest::newRow("= in description") << "A#x=y" << false << "A" << 0 << 0 << "" << 0u << "";
    QTest::newRow("[ after :") << "A:1[2]" << false << "A" << 0 << 0 << "" << 0u << "";

    // Far beyond any fixed text buffer: every part must survive whole.
    const QString longName(3000, u'n');
    const QString longDescription(6000, u'd');
    QTest::newRow("long text") << longName + "[5:2]=0x3#" + longDescription << true << longName << 2 << 5
                               << "bracket colon value" << 3u << longDescription;
}

void TestRegister::fieldSpec()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);

    if (!valid)
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("ERROR parsing field ") + text));
    const FieldSpec spec(text);
    QCOMPARE(spec.valid, valid);
    if (!valid)
        return;

    QStringList flags;
    if (spec.hasBracket)
        flags << "bracket";
    if (spec.hasColon)
        flags << "colon";
    if (spec.hasValue)
        flags << "value";
    if (spec.symbolic)
        flags << "symbolic";
    if (spec.allBits)
        flags << "all";
    QTEST(spec.name, "name");
    QTEST(spec.lo, "lo");
    QTEST(spec.hi, "hi");
    QTEST(flags.join(u' '), "flags");
    QTEST(uint(spec.value), "value");
    QTEST(spec.description, "description");
}

void TestRegister::parse_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<uint>("value");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<QStringList>("warnings");

    const QStringList none;
    QTest::newRow("CR0") << CR0 << "R"
                         << "HB_EN1@0/0 HB_EN2@1/1 HB_EN3@2/2 HB_EN4@3/3 _@4:6/4 SRA@7:9/5 SRA_MODE@10/6"
                         << 0u << false << "" << none;
    QTest::newRow("CR5A") << CR5A << "R"
                          << "T_PC1@0:1/0 I_PCR1@2:4/1 I_PCF1@5:7/2 BLANK1@8:9/3 D10@10/4" << 0u << false
                          << "" << none;
    QTest::newRow("CR5B") << CR5B << "R"
                          << "SR_CTRL1@0:2/0 T_DLY1@3:6/1 VDS1@7:9/2 D10@10/3" << 0x400u << false << ""
                          << none;
    QTest::newRow("SR0")
        << SR0 << "R"
        << "D0@0/0 HB_QSB@1/1 _@2:3/2 OVF@4/3 UVF@5/4 CPF@6/5 CPL@7/6 SPIF@8/7 FSM@9/8 RCF@10/9 "
           "TM@11/10"
        << 0u << true << "" << none;
    QTest::newRow("SR7 one field") << SR7 << "R"
                                   << "DEV_ID@0:11/0" << 0u << true << "" << none;
    QTest::newRow("DIO") << DIO << "DIO"
                         << "EN@0/0 PWM1@1/1 PWM2@2/2" << 1u << false << "" << none;
    QTest::newRow("FSM") << "@register=FSM;@bit=FSM                @pin=DIO22          @value=0"
                         << "FSM"
                         << "FSM@0/0" << 0u << false << "" << none;
    QTest::newRow("32 bits") << "SpiIn[31:0]"
                             << "R"
                             << "SpiIn@0:31/0" << 0u << false << "" << none;
    QTest::newRow("[4] is four bits") << "X[4]"
                                      << "R"
                                      << "X@0:3/0" << 0u << false << "" << none;
    QTest::newRow("[0] is one bit") << "X[0]"
                                    << "R"
                                    << "X@0/0" << 0u << false << "" << none;
    QTest::newRow("[3:3] is three bits") << "X[3:3]"
                                         << "R"
                                         << "X@0:2/0" << 0u << false << "" << none;
    QTest::newRow("field named bit") << "bit[0:1]"
                                     << "R"
                                     << "bit@0:1/0" << 0u << false << "" << none;
    QTest::newRow("negative index") << "X[-2:1]"
                                    << "R"
                                    << "X@0:3/0" << 0u << false << "" << none;
    QTest::newRow("neighbours merge") << "A;A[1:0];B"
                                      << "R"
                                      << "A@0:2/0 B@3/1" << 0u << false << "" << none;
    QTest::newRow("leading unnamed bits") << "[1:0];A"
                                          << "R"
                                          << "@0:1/-1 A@2/0" << 0u << false << "" << none;
    QTest::newRow("empty items") << ";; A ;; ;B;"
                                 << "R"
                                 << "A@0/0 B@1/1" << 0u << false << "" << none;
    QTest::newRow("defaults") << "A[7:0]=0x1F;B[7:0]=31;C[1:0]=7"
                              << "R"
                              << "A@0:7/0 B@8:15/1 C@16:17/2" << 0x31F1Fu << false << "" << none;
    QTest::newRow("option value and descr") << "@bit=EN[1:0] @value=2 @descr=Enable"
                                            << "R"
                                            << "EN@0:1/0" << 2u << false << "" << none;
    QTest::newRow("option value alone") << "@value=0x1F"
                                        << "R"
                                        << "" << 0u << false << "" << none;
    QTest::newRow("readonly empty") << "@readonly=;A"
                                    << "R"
                                    << "A@0/0" << 0u << true << "" << none;
    QTest::newRow("readonly without =") << "@readonly;A"
                                        << "R"
                                        << "A@0/0" << 0u << false << "" << none;
    QTest::newRow("readonly 0") << "@readonly=0;A"
                                << "R"
                                << "A@0/0" << 0u << false << "" << none;
    QTest::newRow("readonly text") << "@readonly=abc;A"
                                   << "R"
                                   << "A@0/0" << 0u << false << "" << none;
    QTest::newRow("attributes before the field") << "@x=1@bit=A@y=2;"
                                                 << "R"
                                                 << "A@0/0" << 0u << false << "x=1" << none;
    QTest::newRow("space before =") << "@bit = EN@pin=3"
                                    << "R"
                                    << "" << 0u << false << "pin=3" << none;
    QTest::newRow("text before key") << "@xx bit=EN"
                                     << "R"
                                     << "EN@0/0" << 0u << false << "" << none;

    QTest::newRow("order error") << "A=1[2];B"
                                 << "R"
                                 << "B@0/0" << 0u << false << ""
                                 << QStringList{"^ERROR parsing field A=1\\[2\\]$"};
    QTest::newRow("colon in description")
        << "A#x:y;B"
        << "R"
        << "B@0/0" << 0u << false << "" << QStringList{"^ERROR parsing field A#x:y$"};
    QTest::newRow("malformed option ends item")
        << "@register=Q@readonly=@bit=A=1[2]@pin=1;B"
        << "Q"
        << "B@0/0" << 0u << true << "" << QStringList{"^ERROR parsing field A=1\\[2\\]$"};
    QTest::newRow("duplicate declaration")
        << "@bit=A;@bit=A@pin=1;@bit=B"
        << "R"
        << "A@0/0 B@1/1" << 0u << false << "pin=1" << QStringList{"declared twice"};
    QTest::newRow("[] declares nothing")
        << "A[];B"
        << "R"
        << "B@0/0" << 0u << false << "" << QStringList{"\"\\[\\]\" declares no bits"};
    QTest::newRow("[] in option") << "@bit=A[]"
                                  << "R"
                                  << "" << 0u << false << "" << QStringList{"\"\\[\\]\" declares no bits"};
    QTest::newRow("register full") << "A[0:10000];B"
                                   << "R"
                                   << "A@0:10000/0" << 0u << false << ""
                                   << QStringList{"longer than 10001 bits"};
    QTest::newRow("huge width") << "A[-2147483648:2147483647];B[2147483647]"
                                << "R"
                                << "" << 0u << false << "" << QStringList{"longer than", "longer than"};
}

void TestRegister::parse()
{
    QFETCH(QString, description);
    QFETCH(QStringList, warnings);

    expectWarnings(warnings);
    Register reg(description, "R");
    QTEST(reg.name(), "name");
    QTEST(layoutOf(reg), "layout");
    QTEST(reg.value(true), "value");
    QTEST(reg.isReadOnly(), "readOnly");
    QTEST(attributesOf(reg), "attributes");
}

void TestRegister::fieldAttributes_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("bit");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("DIO EN pin") << DIO << 0 << "pin"
                                << "DIO25";
    QTest::newRow("DIO EN dir") << DIO << 0 << "dir"
                                << "OUT";
    QTest::newRow("DIO PWM2 pin") << DIO << 2 << "pin"
                                  << "DIO15";
    QTest::newRow("not a field attribute") << "@x=1@bit=A@y=2" << 0 << "x"
                                           << "";
    QTest::newRow("field attribute") << "@x=1@bit=A@y=2" << 0 << "y"
                                     << "2";
    QTest::newRow("later value wins") << "@bit=A@pin=1@pin=2" << 0 << "pin"
                                      << "2";
    QTest::newRow("every bit of the field") << "@bit=A[1:0]@pin=P" << 1 << "pin"
                                            << "P";
    QTest::newRow("value is trimmed") << "@bit=A@pin=  P 1  " << 0 << "pin"
                                      << "P 1";
}

void TestRegister::fieldAttributes()
{
    QFETCH(QString, description);
    QFETCH(int, bit);
    QFETCH(QString, key);

    const Register reg(description, "R");
    QVERIFY(reg.bitAt(bit));
    QTEST(reg.bitAt(bit)->attribute(key), "value");
}

void TestRegister::reference_get_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("bits");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<uint>("expected");

    const QByteArray blank1 = "00000000110";
    QTest::newRow("range") << CR5A << blank1 << "CR5A[9:8]" << 3u;
    QTest::newRow("range swapped") << CR5A << blank1 << "CR5A[8:9]" << 3u;
    QTest::newRow("upper half") << CR5A << blank1 << "CR5A[9:9]" << 1u;
    QTest::newRow("one bit") << CR5A << blank1 << "CR5A[8]" << 1u;
    QTest::newRow("all bits") << CR5A << blank1 << "CR5A[]" << 0x300u;
    QTest::newRow("no brackets is bit 0") << CR5A << QByteArray("10000000110") << "CR5A" << 1u;
    QTest::newRow("prefix ignored") << CR5A << blank1 << "anything[9:8]" << 3u;
    QTest::newRow("symbolic") << CR5A << blank1 << "CR5A[BLANK1]" << 3u;
    QTest::newRow("unknown name") << CR5A << blank1 << "CR5A[NOPE]" << 0u;
    QTest::newRow("clipped at the top") << CR5A << blank1 << "CR5A[9:20]" << 1u;
    QTest::newRow("wholly above") << CR5A << blank1 << "CR5A[20:30]" << 0u;
    QTest::newRow("below bit 0") << CR5A << QByteArray("11000000000") << "CR5A[-1:1]" << 6u;
    QTest::newRow("SR7 top field") << SR7 << QByteArray("001111010101") << "SR7[11:9]" << 5u;
    QTest::newRow("SR7 whole field") << SR7 << QByteArray("001111010101") << "SR7[DEV_ID]" << 0xABCu;
    QTest::newRow("low 32 bits of 40") << "W[39:0]" << QByteArray(40, '1') << "W[]" << 0xFFFFFFFFu;
    QTest::newRow("bits above 31 read 0") << "W[39:0]" << QByteArray(32, '0') + "11111111"
                                          << "W[]" << 0u;
}

void TestRegister::reference_get()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, bits);
    QFETCH(QString, ref);

    Register reg(description, "R");
    reg.fromBitString(bits);
    QSignalSpy gets(&reg, &Register::signal_updateGet);
    QTEST(reg.get(ref), "expected");
    // Controls are refreshed through get(ref); that must not cause board traffic.
    QCOMPARE(gets.count(), 0);
}

void TestRegister::reference_set_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("bits");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<uint>("v");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("after");

    const QByteArray zeros(11, '0');
    QTest::newRow("range") << CR5A << zeros << "CR5A[9:8]" << 3u << true << QByteArray("00000000110");
    QTest::newRow("range swapped") << CR5A << QByteArray("00000000110") << "CR5A[8:9]" << 1u << true
                                   << QByteArray("00000000100");
    QTest::newRow("no brackets is bit 0") << CR0 << zeros << "CR0" << 5u << true << QByteArray("10000000000");
    QTest::newRow("all bits") << CR0 << zeros << "CR0[]" << 5u << true << QByteArray("10100000000");
    QTest::newRow("unchanged") << CR0 << zeros << "CR0[]" << 0u << true << zeros;
    QTest::newRow("clipped at the top")
        << CR0 << zeros << "CR0[9:15]" << 7u << true << QByteArray("00000000011");
    QTest::newRow("wholly above") << CR0 << zeros << "CR0[20:30]" << 1u << false << zeros;
    QTest::newRow("below bit 0") << CR0 << zeros << "CR0[-1:1]" << 6u << true << QByteArray("11000000000");
    QTest::newRow("symbolic") << DIO << QByteArray("100") << "DIO[EN]" << 0u << true << QByteArray("000");
    QTest::newRow("symbolic wide") << CR5A << zeros << "CR5A[BLANK1]" << 2u << true
                                   << QByteArray("00000000010");
    QTest::newRow("unknown name") << DIO << QByteArray("100") << "DIO[XX]" << 1u << false
                                  << QByteArray("100");
    QTest::newRow("malformed") << CR0 << zeros << "CR0=1[2]" << 1u << false << zeros;
    QTest::newRow("32 bits") << "S[31:0]" << QByteArray(32, '0') << "S[]" << 0xFFFFFFFFu << true
                             << QByteArray(32, '1');
    QTest::newRow("bits above 31 kept")
        << "W[39:0]" << QByteArray(40, '1') << "W[]" << 0u << true << QByteArray(32, '0') + "11111111";
}

void TestRegister::reference_set()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, bits);
    QFETCH(QString, ref);
    QFETCH(uint, v);
    QFETCH(QByteArray, after);

    if (ref.contains(QStringLiteral("=1[")))
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("ERROR parsing field ") + ref));
    Register reg(description, "R");
    reg.fromBitString(bits);
    QSignalSpy sets(&reg, &Register::signal_updateSet);
    QTEST(reg.set(ref, v), "result");
    QCOMPARE(bitsOf(reg), after);
    // Announced once with the register's name, and only when a bit changed.
    QCOMPARE(sets.count(), after == bits ? 0 : 1);
    if (!sets.isEmpty())
        QCOMPARE(sets.first().first().toString(), reg.name());
}

void TestRegister::fieldInfo_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("fieldName");
    QTest::addColumn<QString>("fieldDescription");

    QTest::newRow("bit") << SR0 << "SR0[4]" << true << "OVF"
                         << "Over-voltage";
    QTest::newRow("range gives the low bit") << CR5A << "CR5A[9:8]" << true << "BLANK1"
                                             << "HB1 Cross-conduction blanking time";
    QTest::newRow("no brackets") << CR0 << "CR0" << true << "HB_EN1"
                                 << "HB1 output enable";
    QTest::newRow("symbolic") << SR0 << "SR0[CPL]" << true << "CPL"
                              << "Charge pump low";
    QTest::newRow("above the last bit") << CR0 << "CR0[11]" << false << "-"
                                        << "-";
    QTest::newRow("below bit 0") << CR0 << "CR0[-1:2]" << false << "-"
                                 << "-";
    QTest::newRow("unknown name") << CR0 << "CR0[XX]" << false << "-"
                                  << "-";
}

void TestRegister::fieldInfo()
{
    QFETCH(QString, description);
    QFETCH(QString, ref);

    Register reg(description, "R");
    QString fieldName = QStringLiteral("-");
    QString fieldDescription = QStringLiteral("-");
    QTEST(reg.fieldInfo(ref, fieldName, fieldDescription), "result");
    QTEST(fieldName, "fieldName");
    QTEST(fieldDescription, "fieldDescription");
}

void TestRegister::setRange_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<uint>("lo");
    QTest::addColumn<uint>("hi");
    QTest::addColumn<uint>("v");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("range") << CR0 << 8u << 9u << 3u << true << QByteArray("00000000110");
    QTest::newRow("swapped") << CR0 << 9u << 8u << 3u << true << QByteArray("00000000110");
    QTest::newRow("hi clamped") << CR0 << 5u << 100u << 0x3Fu << true << QByteArray("00000111111");
    QTest::newRow("lo above last bit") << CR0 << 11u << 20u << 1u << false << QByteArray(11, '0');
    QTest::newRow("unchanged") << CR0 << 0u << 0u << 0u << true << QByteArray(11, '0');
    QTest::newRow("32 bits of 40") << "W[39:0]" << 0u << 39u << 0xFFFFFFFFu << true
                                   << QByteArray(32, '1') + QByteArray(8, '0');
    QTest::newRow("empty register") << "" << 0u << 0u << 1u << false << QByteArray();
}

void TestRegister::setRange()
{
    QFETCH(QString, description);
    QFETCH(uint, lo);
    QFETCH(uint, hi);
    QFETCH(uint, v);
    QFETCH(QByteArray, after);

    Register reg(description, "R");
    const QByteArray before = bitsOf(reg);
    QSignalSpy sets(&reg, &Register::signal_updateSet);
    QTEST(reg.set(lo, hi, v), "result");
    QCOMPARE(bitsOf(reg), after);
    QCOMPARE(sets.count(), after == before ? 0 : 1);
}

void TestRegister::fill_data()
{
    QTest::addColumn<QByteArray>("bits");
    QTest::addColumn<bool>("v");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("start");
    QTest::addColumn<QByteArray>("after");

    const QByteArray zeros(11, '0');
    QTest::newRow("all") << zeros << true << -1 << 0 << QByteArray(11, '1');
    QTest::newRow("part") << zeros << true << 5 << 2 << QByteArray("00111000000");
    QTest::newRow("unchanged still announced") << zeros << false << -1 << 0 << zeros;
    QTest::newRow("clipped to the register") << zeros << true << 100 << -5 << QByteArray(11, '1');
    QTest::newRow("start after end") << zeros << true << 3 << 5 << zeros;
}

void TestRegister::fill()
{
    QFETCH(QByteArray, bits);
    QFETCH(bool, v);
    QFETCH(int, end);
    QFETCH(int, start);

    Register reg(CR0, "CR0");
    reg.fromBitString(bits);
    QSignalSpy sets(&reg, &Register::signal_updateSet);
    reg.fill(v, end, start);
    QTEST(bitsOf(reg), "after");
    QCOMPARE(sets.count(), 1);
    QCOMPARE(sets.first().first().toString(), QStringLiteral("CR0"));
}

void TestRegister::wholeRegister()
{
    // 10 bits: 0, 1 and 9 set, so that both bit orders and the partial byte show.
    Register reg(QStringLiteral("A[9:0]"), "A");
    reg.fromBitString("1100000001");
    QSignalSpy gets(&reg, &Register::signal_updateGet);
    QSignalSpy sets(&reg, &Register::signal_updateSet);

    QCOMPARE(reg.value(true), 0x203u);
    QCOMPARE(reg.value(false), 0x301u);
    QCOMPARE(reg.toBitString(true), QByteArray("1100000001"));
    QCOMPARE(reg.toBitString(false), QByteArray("1000000011"));
    QCOMPARE(reg.toBytes(true, true), QByteArray("\xC0\x40"));
    QCOMPARE(reg.toBytes(true, false), QByteArray("\x03\x02"));
    QCOMPARE(reg.toBytes(false, true), QByteArray("\x80\xC0"));
    QCOMPARE(reg.toBytes(false, false), QByteArray("\x01\x03"));
    // Every read asks the owner to refresh first.
    QCOMPARE(gets.count(), 8);
    QVERIFY(sets.isEmpty());

    reg.set(0x301u, false);
    QVERIFY(sets.isEmpty());
    reg.set(0x001u, false);
    QCOMPARE(bitsOf(reg), QByteArray("0000000001"));
    reg.set(0x203u, true);
    QCOMPARE(bitsOf(reg), QByteArray("1100000001"));
    QCOMPARE(sets.count(), 2);
}

void TestRegister::fromBitString_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("bits");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("lsbFirst");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("short text keeps the rest")
        << CR0 << QByteArray(11, '1') << QByteArray("01") << true << QByteArray("01111111111");
    QTest::newRow("register file line")
        << CR0 << QByteArray(11, '0') << QByteArray("1") << true << QByteArray("10000000000");
    QTest::newRow("trailing CR ignored")
        << "A[1:0]" << QByteArray("00") << QByteArray("01\r") << true << QByteArray("01");
    QTest::newRow("anything but 0 is 1")
        << "A[2:0]" << QByteArray("000") << QByteArray("x0 ") << true << QByteArray("101");
    QTest::newRow("msb first") << "A[2:0]" << QByteArray("000") << QByteArray("011") << false
                               << QByteArray("110");
    QTest::newRow("msb first, longer text")
        << "A[1:0]" << QByteArray("00") << QByteArray("0001") << false << QByteArray("10");
}

void TestRegister::fromBitString()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, bits);
    QFETCH(QByteArray, text);
    QFETCH(bool, lsbFirst);

    Register reg(description, "R");
    reg.fromBitString(bits);
    QSignalSpy sets(&reg, &Register::signal_updateSet);
    reg.fromBitString(text, lsbFirst);
    QTEST(bitsOf(reg), "after");
    QVERIFY(sets.isEmpty());
}

void TestRegister::outOfRangeBitAccess()
{
    Register reg(CR0, "CR0");
    reg.fill(true);
    QVERIFY(!reg.bit(-1));
    QVERIFY(!reg.bit(11));
    QVERIFY(!reg.bitAt(11));
    QVERIFY(!reg.bitAt(-1));
    reg.setBit(11, false);
    reg.setBit(-1, false);
    QCOMPARE(bitsOf(reg), QByteArray(11, '1'));
    QCOMPARE(reg.indexOf(QStringLiteral("SRA")), 7);
    QCOMPARE(reg.indexOf(QStringLiteral("NOPE")), -1);
}

void TestRegister::select_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QList<int>>("indices");

    QTest::newRow("name") << "SRA" << QList<int>{7, 8, 9};
    QTest::newRow("reserved") << "_" << QList<int>{4, 5, 6};
    QTest::newRow("mixed list") << "0:2;SRA_MODE;5" << QList<int>{0, 1, 2, 10, 5};
    QTest::newRow("reversed range") << "3:1;" << QList<int>{};
    QTest::newRow("number without ;") << "9" << QList<int>{};
    QTest::newRow("outside skipped") << "1;99;x" << QList<int>{1};
    QTest::newRow("range clipped") << "-3:1;9:20" << QList<int>{0, 1, 9, 10};
}

void TestRegister::select()
{
    QFETCH(QString, spec);
    QFETCH(QList<int>, indices);

    Register reg(CR0, "CR0");
    Register *view = reg.select(spec);
    QVERIFY(view->isView());
    QCOMPARE(view->name(), QStringLiteral("CR0"));
    QCOMPARE(view->size(), indices.size());
    for (int k = 0; k < indices.size(); ++k)
        QCOMPARE(view->bitAt(k), reg.bitAt(indices[k]));
    QCOMPARE(reg.select(QStringLiteral("HB_EN1")), view);
}

void TestRegister::range_data()
{
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::addColumn<QList<int>>("indices");

    QTest::newRow("to the end") << 8 << -1 << QList<int>{8, 9, 10};
    QTest::newRow("beyond the end") << 8 << 100 << QList<int>{8, 9, 10};
    QTest::newRow("lo > hi") << 5 << 2 << QList<int>{};
    QTest::newRow("below 0") << -3 << 1 << QList<int>{0, 1};
    QTest::newRow("lo beyond the end") << 20 << 30 << QList<int>{};
}

void TestRegister::range()
{
    QFETCH(int, lo);
    QFETCH(int, hi);
    QFETCH(QList<int>, indices);

    Register reg(CR0, "CR0");
    Register *view = reg.range(lo, hi);
    QCOMPARE(view->size(), indices.size());
    for (int k = 0; k < indices.size(); ++k)
        QCOMPARE(view->bitAt(k), reg.bitAt(indices[k]));
}

void TestRegister::viewWritesAnnouncedByOwner()
{
    Register dio(DIO, QString());
    Register *view = dio.select(QStringLiteral("EN"));
    QSignalSpy ownerSets(&dio, &Register::signal_updateSet);
    QSignalSpy ownerGets(&dio, &Register::signal_updateGet);
    QSignalSpy viewSets(view, &Register::signal_updateSet);

    QVERIFY(dio.set(QStringLiteral("DIO[EN]"), 0));
    QCOMPARE(bitsOf(dio), QByteArray("000"));
    QCOMPARE(ownerSets.count(), 1);
    QCOMPARE(ownerSets.first().first().toString(), QStringLiteral("DIO"));

    dio.range(1, 2)->set(3u);
    dio.select(QStringLiteral("PWM1"))->fill(false);
    QCOMPARE(bitsOf(dio), QByteArray("001"));
    QCOMPARE(ownerSets.count(), 3);
    QVERIFY(viewSets.isEmpty());

    // Reading a view refreshes nothing: the view has no receivers.
    QCOMPARE(dio.get(QStringLiteral("DIO[PWM2]")), 1u);
    QVERIFY(ownerGets.isEmpty());
}

void TestRegister::clearEmptiesView()
{
    Register reg(CR0, "CR0");
    Register *view = reg.select(QStringLiteral("SRA"));
    QCOMPARE(view->size(), 3);
    reg.clear();
    QCOMPARE(reg.size(), 0);
    // The view borrowed the deleted bits; it must not reach them any more.
    QCOMPARE(view->size(), 0);
    QCOMPARE(view->value(), 0u);
}

void TestRegister::connectTo()
{
    Register reg(CR0, "CR0");
    Receiver receiver;
    QVERIFY(reg.connectTo(&receiver, &Receiver::slot_updateSet, &Receiver::slot_updateGet));

    reg.set(QStringLiteral("CR0[SRA]"), 5);
    reg.set(QStringLiteral("CR0[SRA]"), 5);
    reg.get(QStringLiteral("CR0[SRA]"));
    reg.toBitString();
    QCOMPARE(receiver.sets, QStringList{"CR0"});
    QCOMPARE(receiver.gets, QStringList{"CR0"});

    QVERIFY(!reg.connectTo<Receiver>(nullptr, &Receiver::slot_updateSet, nullptr));
}

void TestRegister::format_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("bits");
    QTest::addColumn<QString>("templ");
    QTest::addColumn<bool>("perField");
    QTest::addColumn<QString>("expected");

    QTest::newRow("CR5A browser listing")
        << CR5A << QByteArray(11, '0') << "@bitn;@name;@value;@descr;" << true
        << "0:1 ;T_PC1[2];0;HB1 R/F slope pre-charge time;2:4 ;I_PCR1[3];0;HB1 Rising slope pre-charge "
           "current;"
           "5:7 ;I_PCF1[3];0;HB1 Falling slope pre-charge current;8:9 ;BLANK1[2];0;HB1 Cross-conduction "
           "blanking time;10 ;D10;0;;";
    QTest::newRow("CR5A field names")
        << CR5A << QByteArray(11, '0') << "@purename;" << true << "T_PC1;I_PCR1;I_PCF1;BLANK1;D10;";
    QTest::newRow("CR5A field values")
        << CR5A << QByteArray("11000001110") << "@group:@value;" << true << "0:3;1:0;2:4;3:3;4:0;";
    QTest::newRow("CR5A per bit")
        << CR5A << QByteArray("10000000010") << "@bitn@name=@value/@group;" << false
        << "0T_PC1=1/0;1T_PC1=0/0;2I_PCR1=0/1;3I_PCR1=0/1;4I_PCR1=0/1;5I_PCF1=0/2;6I_PCF1=0/2;7I_PCF1=0/2;"
           "8BLANK1=0/3;9BLANK1=1/3;10D10=0/4;";
    QTest::newRow("hex before decimal")
        << CR4 << QByteArray("00000000011") << "@value_hex/@value;" << true << "0/0;0/0;c/12;";
    QTest::newRow("purename kept per bit")
        << "A#d" << QByteArray("1") << "@name @purename @descr" << false << "A @purename d";
    QTest::newRow("SR7 one field") << SR7 << QByteArray(12, '0') << "@bitn;@name;@descr;" << true
                                   << "0:11 ;DEV_ID[12];Mask Revison;";
    QTest::newRow("unnamed one-bit field skipped")
        << "[0];A;[1:0]" << QByteArray(4, '0') << "@bitn|" << true << "1 |2:3 |";
    QTest::newRow("field attributes") << DIO << QByteArray("100") << "@name=@pin/@dir;" << true
                                      << "EN=DIO25/OUT;PWM1=DIO14/OUT;PWM2=DIO15/OUT;";
    QTest::newRow("register attributes")
        << "@register=R@unit=mA;A" << QByteArray("0") << "@name @unit;" << true << "A mA;";
    QTest::newRow("longer key first")
        << "@bit=A@pin=P1@pin2=P2" << QByteArray("0") << "@pin2,@pin;" << true << "P2,P1;";
    QTest::newRow("empty register") << "" << QByteArray() << "@name;" << true << "";
}

void TestRegister::format()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, bits);
    QFETCH(QString, templ);
    QFETCH(bool, perField);

    Register reg(description, "R");
    reg.fromBitString(bits);
    QSignalSpy gets(&reg, &Register::signal_updateGet);
    QTEST(reg.format(templ, perField), "expected");
    // Rendering reads the model only.
    QVERIFY(gets.isEmpty());
}

void TestRegister::copy_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("sourceBits");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("same layout: values only")
        << CR5A << QByteArray("10100000001") << CR5A
        << "T_PC1@0:1/0 I_PCR1@2:4/1 I_PCF1@5:7/2 BLANK1@8:9/3 D10@10/4" << QByteArray("10100000001");
    QTest::newRow("empty target: whole bits") << DIO << QByteArray("011") << ""
                                              << "EN@0/0 PWM1@1/1 PWM2@2/2" << QByteArray("011");
    QTest::newRow("other layout: unchanged")
        << CR5A << QByteArray("10100000001") << CR0
        << "HB_EN1@0/0 HB_EN2@1/1 HB_EN3@2/2 HB_EN4@3/3 _@4:6/4 SRA@7:9/5 SRA_MODE@10/6"
        << QByteArray(11, '0');
    QTest::newRow("same size, other names: unchanged")
        << CR5A << QByteArray("10100000001") << CR5B << "SR_CTRL1@0:2/0 T_DLY1@3:6/1 VDS1@7:9/2 D10@10/3"
        << QByteArray("00000000001");
}

void TestRegister::copy()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, sourceBits);
    QFETCH(QString, target);
    QFETCH(QByteArray, after);

    Register from(source, "FROM");
    from.fromBitString(sourceBits);
    Register to(target, "TO");
    QSignalSpy fromSets(&from, &Register::signal_updateSet);
    QSignalSpy toSets(&to, &Register::signal_updateSet);

    to = from;
    QTEST(layoutOf(to), "layout");
    QCOMPARE(bitsOf(to), after);
    QCOMPARE(to.name(), QStringLiteral("TO"));
    if (target.isEmpty()) {
        for (int i = 0; i < from.size(); ++i) {
            QCOMPARE(to.bitAt(i)->attributes, from.bitAt(i)->attributes);
            QCOMPARE(to.bitAt(i)->description, from.bitAt(i)->description);
            QVERIFY(to.bitAt(i) != from.bitAt(i));
        }
    }
    QVERIFY(fromSets.isEmpty());
    QVERIFY(toSets.isEmpty());

    // Copy construction is assignment to an empty register that keeps no name.
    const Register constructed(from);
    QCOMPARE(constructed.name(), QString());
    QCOMPARE(layoutOf(constructed), layoutOf(from));
    QCOMPARE(bitsOf(constructed), sourceBits);
}

void TestRegister::invert()
{
    Register dio(DIO, QString());
    QSignalSpy sets(&dio, &Register::signal_updateSet);

    const Register inverted = ~dio;
    QCOMPARE(bitsOf(dio), QByteArray("100"));
    QCOMPARE(bitsOf(inverted), QByteArray("011"));
    QCOMPARE(inverted.name(), QString());
    QCOMPARE(layoutOf(inverted), layoutOf(dio));
    QCOMPARE(inverted.bitAt(0)->attribute(QStringLiteral("pin")), QStringLiteral("DIO25"));
    // Announced on the source, as a write would be.
    QCOMPARE(sets.count(), 1);
    QCOMPARE(sets.first().first().toString(), QStringLiteral("DIO"));
}

void TestRegister::diagnosticsCategory()
{
    // Diagnostics go to a category a user can switch on, never to the user.
    static QStringList categories;
    categories.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &) {
            categories << QString::fromLatin1(context.category);
        });
    const Register reg(QStringLiteral("A=1[2];B[];@bit=C;@bit=C"), "R");
    qInstallMessageHandler(previous);
    QCOMPARE(categories, QStringList(3, QStringLiteral("hql.model")));
}

QTEST_GUILESS_MAIN(TestRegister)
#include "tst_register.moc"
