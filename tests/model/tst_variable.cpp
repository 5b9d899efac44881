#include "model/variable.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

class TestVariable : public QObject
{
    Q_OBJECT

private slots:
    void grammar_data();
    void grammar();
    void setValue_data();
    void setValue();
    void repeatedWriteIsSilent();
    void typeFromFirstWrite();
    void setText();
    void assignment();
    void valueConstructor();
};

namespace {

const QString ADC = QStringLiteral("@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50");
const QString READ_ONLY = QStringLiteral("@variable=R @readonly @value=0 @min=0 @max=1");
constexpr double Lowest = std::numeric_limits<double>::lowest();
constexpr double Highest = std::numeric_limits<double>::max();

} // namespace

void TestVariable::grammar_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("descr");
    QTest::addColumn<QString>("attribute");

    const int real = Variable::Real;
    QTest::newRow("ADC_Result1") << ADC << "ADC_Result1" << real << 0.0 << QByteArray() << 0.0 << 50.0
                                 << false << ""
                                 << "";
    QTest::newRow("PWM1_FREQ") << "@variable=PWM1_FREQ @type=real @value=20000 @min=1 @max=30000"
                               << "PWM1_FREQ" << real << 20000.0 << QByteArray() << 1.0 << 30000.0 << false
                               << ""
                               << "";
    QTest::newRow("no spaces") << "@variable=PWM1OnOff@value=1@min=0 @max=1"
                               << "PWM1OnOff" << real << 1.0 << QByteArray() << 0.0 << 1.0 << false << ""
                               << "";
    QTest::newRow("empty") << ""
                           << "" << int(Variable::Undefined) << 0.0 << QByteArray() << Lowest << Highest
                           << false << ""
                           << "";
    QTest::newRow("text value") << "@value=abc"
                                << "" << int(Variable::String) << 0.0 << QByteArray("abc") << Lowest
                                << Highest << false << ""
                                << "";
    QTest::newRow("hex is text") << "@value=0x10"
                                 << "" << int(Variable::String) << 0.0 << QByteArray("0x10") << Lowest
                                 << Highest << false << ""
                                 << "";
    QTest::newRow("number value") << "@value=12"
                                  << "" << real << 12.0 << QByteArray() << Lowest << Highest << false << ""
                                  << "";
    QTest::newRow("type before value")
        << "@type=integer @value=5"
        << "" << real << 5.0 << QByteArray() << Lowest << Highest << false << ""
        << "";
    QTest::newRow("type after value")
        << "@value=5 @type=integer"
        << "" << int(Variable::Integer) << 5.0 << QByteArray() << Lowest << Highest << false << ""
        << "";
    QTest::newRow("bit") << "@name=B @type=bit"
                         << "B" << int(Variable::Integer) << 0.0 << QByteArray() << Lowest << Highest << false
                         << ""
                         << "";
    QTest::newRow("array") << "@name=A @type=array"
                           << "A" << int(Variable::String) << 0.0 << QByteArray() << Lowest << Highest
                           << false << ""
                           << "";
    QTest::newRow("unknown type word")
        << "@name=W @type=word"
        << "W" << real << 0.0 << QByteArray() << Lowest << Highest << false << ""
        << "";
    QTest::newRow("readonly alone") << "@readonly"
                                    << "" << int(Variable::Undefined) << 0.0 << QByteArray() << Lowest
                                    << Highest << true << ""
                                    << "";
    QTest::newRow("readonly 0") << "@readonly=0"
                                << "" << int(Variable::Undefined) << 0.0 << QByteArray() << Lowest << Highest
                                << false << ""
                                << "";
    QTest::newRow("unreadable limits")
        << "@min=abc @max="
        << "" << int(Variable::Undefined) << 0.0 << QByteArray() << 0.0 << 0.0 << false << ""
        << "";
    QTest::newRow("descr and attribute") << "@descr=SPI Clk. Freq. @unit = kHz @scale=1000 "
                                         << "" << int(Variable::Undefined) << 0.0 << QByteArray() << Lowest
                                         << Highest << false << "SPI Clk. Freq."
                                         << "scale=1000";
    QTest::newRow("piece without key")
        << "  flag  @ x y=3"
        << "" << int(Variable::Undefined) << 0.0 << QByteArray() << Lowest << Highest << false << ""
        << "flag=";
    QTest::newRow("text before key") << "@x y=3"
                                     << "" << int(Variable::Undefined) << 0.0 << QByteArray() << Lowest
                                     << Highest << false << ""
                                     << "y=3";
}

void TestVariable::grammar()
{
    QFETCH(QString, description);
    QFETCH(QString, attribute);

    const Variable var(description);
    QTEST(var.name(), "name");
    QTEST(var.type(), "type");
    QTEST(var.value(), "value");
    QTEST(var.text(), "text");
    QTEST(var.min(), "min");
    QTEST(var.max(), "max");
    QTEST(var.isReadOnly(), "readOnly");
    QTEST(var.description(), "descr");
    if (!attribute.isEmpty()) {
        const QString key = attribute.section(u'=', 0, 0);
        QVERIFY2(var.attribute(key) == attribute.section(u'=', 1), qPrintable(key));
    }
}

void TestVariable::setValue_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<double>("v");
    QTest::addColumn<int>("origin");
    QTest::addColumn<bool>("result");
    QTest::addColumn<double>("after");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("above max") << ADC << 60.0 << ORIGIN_FORCED << false << 0.0;
    QTest::newRow("below min") << ADC << -0.1 << ORIGIN_USER << false << 0.0;
    QTest::newRow("NaN is outside") << ADC << nan << ORIGIN_FORCED << false << 0.0;
    QTest::newRow("accepted") << ADC << 12.5 << ORIGIN_FORCED << true << 12.5;
    QTest::newRow("limits included") << ADC << 50.0 << ORIGIN_USER << true << 50.0;
    QTest::newRow("unchanged") << ADC << 0.0 << ORIGIN_USER << true << 0.0;
    QTest::newRow("read-only, forced") << READ_ONLY << 1.0 << ORIGIN_FORCED << true << 1.0;
    QTest::newRow("read-only, user") << READ_ONLY << 1.0 << ORIGIN_USER << false << 0.0;
    QTest::newRow("read-only, other origin") << READ_ONLY << 1.0 << 0 << false << 0.0;
    QTest::newRow("forced write still range-checked") << READ_ONLY << 5.0 << ORIGIN_FORCED << false << 0.0;
    QTest::newRow("no limits") << "@name=X" << 1e300 << ORIGIN_USER << true << 1e300;
}

void TestVariable::setValue()
{
    QFETCH(QString, description);
    QFETCH(double, v);
    QFETCH(int, origin);
    QFETCH(double, after);

    Variable var(description);
    const double before = var.value();
    QSignalSpy sets(&var, &Variable::signal_updateSet);
    QTEST(var.setValue(v, origin), "result");
    QCOMPARE(var.value(), after);
    QCOMPARE(sets.count(), after == before ? 0 : 1);
    if (!sets.isEmpty())
        QCOMPARE(sets.first().first().toString(), var.name());
}

void TestVariable::repeatedWriteIsSilent()
{
    Variable var(ADC);
    QSignalSpy sets(&var, &Variable::signal_updateSet);
    QVERIFY(var.setValue(12.5, ORIGIN_FORCED));
    QVERIFY(var.setValue(12.5, ORIGIN_FORCED));
    QVERIFY(!var.setValue(60.0, ORIGIN_FORCED));
    QCOMPARE(sets.count(), 1);
    QCOMPARE(sets.first().first().toString(), QStringLiteral("ADC_Result1"));
}

void TestVariable::typeFromFirstWrite()
{
    Variable integer;
    QVERIFY(integer.setValue(3, ORIGIN_USER));
    QCOMPARE(integer.type(), int(Variable::Integer));
    QCOMPARE(integer.value(), 3.0);

    Variable real;
    QVERIFY(real.setValue(3.0, ORIGIN_USER));
    QCOMPARE(real.type(), int(Variable::Real));

    Variable text;
    QVERIFY(text.setText("x", ORIGIN_USER));
    QCOMPARE(text.type(), int(Variable::String));

    // The type is settled even by a refused write.
    Variable readOnly(QStringLiteral("@readonly"));
    QVERIFY(!readOnly.setValue(3, ORIGIN_USER));
    QCOMPARE(readOnly.type(), int(Variable::Integer));
}

void TestVariable::setText()
{
    Variable var(QStringLiteral("@variable=S @value=abc"));
    QSignalSpy sets(&var, &Variable::signal_updateSet);
    QVERIFY(var.setText("abc", ORIGIN_USER));
    QCOMPARE(sets.count(), 0);
    QVERIFY(var.setText("abcd", ORIGIN_USER));
    QVERIFY(var.setText("abce", ORIGIN_USER));
    QCOMPARE(sets.count(), 2);
    QCOMPARE(var.text(), QByteArray("abce"));

    Variable readOnly(QStringLiteral("@variable=S @readonly @value=abc"));
    QSignalSpy readOnlySets(&readOnly, &Variable::signal_updateSet);
    QVERIFY(!readOnly.setText("x", ORIGIN_USER));
    QCOMPARE(readOnly.text(), QByteArray("abc"));
    QVERIFY(readOnly.setText("x", ORIGIN_FORCED));
    QCOMPARE(readOnlySets.count(), 1);

    // No range check and no type check for text.
    Variable real(ADC);
    QVERIFY(real.setText("123456", ORIGIN_USER));
    QCOMPARE(real.type(), int(Variable::Real));
}

void TestVariable::assignment()
{
    Variable readOnly(READ_ONLY);
    readOnly = 1.0;
    QCOMPARE(readOnly.value(), 1.0);
    readOnly = 2.0;
    QCOMPARE(readOnly.value(), 1.0);

    Variable text(QStringLiteral("@variable=S @value=abc"));
    QSignalSpy sets(&text, &Variable::signal_updateSet);
    text = 5.0;
    QCOMPARE(text.value(), 0.0);
    QVERIFY(sets.isEmpty());
}

void TestVariable::valueConstructor()
{
    Variable spiFreq(1000, QStringLiteral("SPIFreq"), QStringLiteral("SPI Clk. Freq."), 1, 2000);
    QCOMPARE(spiFreq.type(), int(Variable::Real));
    QCOMPARE(spiFreq.name(), QStringLiteral("SPIFreq"));
    QCOMPARE(spiFreq.description(), QStringLiteral("SPI Clk. Freq."));
    QCOMPARE(spiFreq.value(), 1000.0);
    QVERIFY(!spiFreq.setValue(2500.0, ORIGIN_USER));
    QVERIFY(spiFreq.setValue(250.0, ORIGIN_USER));

    // Taken as given; a NaN start differs from every later value.
    Variable odd(std::nan(""), QStringLiteral("X"), QString(), 0, 1);
    QSignalSpy sets(&odd, &Variable::signal_updateSet);
    QVERIFY(odd.setValue(0.0, ORIGIN_USER));
    QCOMPARE(sets.count(), 1);
}

QTEST_GUILESS_MAIN(TestVariable)
#include "tst_variable.moc"
