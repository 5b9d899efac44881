#include "chip/registermap.h"

#include "model/register.h"
#include "model/variable.h"

namespace {

// CR6 to CR8 repeat CR5 for the other half-bridges: field names and
// descriptions change their digit, bit ranges and D10 do not.
QString forBridge(QString text, int bridge)
{
    const QString n = QString::number(bridge);
    return text.replace(QLatin1String("1["), n + QLatin1Char('['))
        .replace(QLatin1String("HB1"), QLatin1String("HB") + n);
}

const char *const CR5A =
    "T_PC1[1:0]#HB1 R/F slope pre-charge time;I_PCR1[2:0]#HB1 Rising slope pre-charge current;"
    "I_PCF1[2:0]#HB1 Falling slope pre-charge current;BLANK1[1:0]#HB1 Cross-conduction blanking time;D10=0#;";
const char *const CR5B =
    "SR_CTRL1[2:0]#HB1 R/F slope slew phase current;T_DLY1[3:0]#HB1 R/F slope dynamic overload "
    "detect delay;VDS1[2:0]#HB1 VDS sense treshold;D10=1#;";

} // namespace

const QStringList &RegisterMap::spiControllerOrder()
{
    static const QStringList order = {
        "WD",   "ADDR", "NM",   "CR0",  "CR1",  "CR2", "CR3", "CR4", "CR5A", "CR5B", "CR6A", "CR6B", "CR7A",
        "CR7B", "CR8A", "CR8B", "CR12", "CR14", "SR0", "SR1", "SR3", "SR4",  "SR5",  "SR7",  "DATA",
    };
    return order;
}

RegisterMap::RegisterMap()
{
    // The chip.
    add("ADDR", "ADDR[3:0]");
    add("NM", "@readonly=1;NM#Normal mode;");
    add("WD", "WD#ignored by firmware due to WD service routine;");
    add("CR0",
        "HB_EN1=0#HB1 output enable;HB_EN2=0#HB2 output enable;HB_EN3=0#HB3 output enable;HB_EN4=0#HB4 "
        "output enable;_[2:0]#;SRA[2:0]#Status register read select;SRA_MODE=0#Continuos reading of "
        "selected SRx;");
    add("CR1",
        "HB_MODE1=0#HS1/LS1 pre-driver active;HB_MODE2=0#HS2/LS2 pre-driver active;HB_MODE3=0#HS3/LS3 "
        "pre-driver active;HB_MODE4=0#HS4/LS4 pre-driver active;_[3:0]#;WD_CFG=0#Watchdog timeout "
        "25ms/500ms;CP_SW=0#Charge pump switched output;DRV_EN=0#Charge pump and drive currents enable;");
    add("CR2", "HB_PWM1=0#HB1 PWM enable;HB_PWM2=0#HB2 PWM enable;HB_PWM3=0#HB3 PWM enable;HB_PWM4=0#HB4 PWM "
               "enable;_[6:0]#;");
    add("CR3",
        "PWM10=0#HB1 PWM input pin select;D1=0#;PWM20=0#HB2 PWM input pin select;D3=0#;PWM30=0#HB3 PWM "
        "input pin select;D5=0#;PWM40=0#HB4 PWM input pin select;_[3:0]#;");
    add("CR4",
        "CAL_SEL[2:0]#Select HB output;CAL_PC[3:0]#Slope pre-charge time;CAL_DLY[3:0]#Slope delay time;");
    for (int n = 5; n <= 8; ++n) {
        add(QStringLiteral("CR%1A").arg(n), forBridge(QString::fromLatin1(CR5A), n - 4));
        add(QStringLiteral("CR%1B").arg(n), forBridge(QString::fromLatin1(CR5B), n - 4));
    }
    add("CR12",
        "TST_HS1=0#HS1 test current enable;TST_HS3=0#HS3 test current enable;_[1:0]#;TST_LS1=0#LS1 test "
        "current enable;TST_LS3=0#LS3 test current enable;_[4:0]#;");
    add("CR14", "DGL1=0#HB1 PWM De-glitch type;DGL2=0#HB2 PWM De-glitch type;DGL3=0#HB3 PWM De-glitch type;"
                "DGL4=0#HB4 PWM De-glitch type;_[6:0]#;");
    add("SR0",
        "@readonly=1;D0=0#;HB_QSB=0#VDS fail - Overload;_[1:0]#;OVF=0#Over-voltage;UVF=0#Under-voltage;"
        "CPF=0#Charge pump fail;CPL=0#Charge pump low;SPIF=0#SPI transmission fail;FSM=0#Fail-safe input;"
        "RCF=0#Registers cleared;TM=0#Test mode active;");
    add("SR1",
        "@readonly=1;SWL1=0#GL1 output;SWH1=0#GH1 output;SWL2=0#GL2 output;SWH2=0#GH2 output;SWL3=0#GL3 "
        "output;SWH3=0#GH3 output;SWL4=0#GL4 output;SWH4=0#GH4 output;_[3:0]#;");
    add("SR3",
        "@readonly=1;VDS_L1=0#LS1 fail - Overload;VDS_H1=0#HS1 fail - Overload;VDS_L2=0#LS2 fail - "
        "Overload;VDS_H2=0#HS2 fail - Overload;VDS_L3=0#LS3 fail - Overload;VDS_H3=0#HS3 fail - Overload;"
        "VDS_L4=0#LS4 fail - Overload;VDS_H4=0#HS4 fail - Overload;_[3:0]#;");
    add("SR4",
        "@readonly=1;CAL_PC_F[1:0]#Falling slope result 1;CAL_DLY_F[1:0]#Falling slope result 2;"
        "CAL_PC_R[1:0]#Rising slope result 1;CAL_DLY_R[1:0]#Rising slope result 2;CAL_RDY=0#Calibration "
        "result ready;_[2:0]#;");
    add("SR5", "@readonly=1;HB_OUT1=0#HB1 Output > VDS;HB_OUT2=0#HB2 Output > VDS;HB_OUT3=0#HB3 Output > VDS;"
               "HB_OUT4=0#HB4 Output > VDS;_[7:0]#;");
    add("SR7", "@readonly=1;DEV_ID[2:0]#Mask Revison;DEV_ID[2:0]#Silicon revision;DEV_ID[2:0]#Generation;"
               "DEV_ID[2:0]#Device Name;");
    add("DATA", "DATA[15:0]");

    // The raw SPI window's frame registers and clock.
    add("SpiIn", "SpiIn[31:0]");
    add("SpiOut", "@readonly=1;SpiOut[31:0]");
    add(new Variable(1000, QStringLiteral("SPIFreq"), QStringLiteral("SPI Clk. Freq."), 1, 2000));

    // The board: pins, user copies of the half-bridge configuration,
    // measurements and the two PWM generators.
    add("DIO",
        "@register=DIO;@bit=EN                @pin=DIO25          @value=1        @dir=OUT;@bit=PWM1         "
        "     @pin=DIO14          @value=0        @dir=OUT;@bit=PWM2              @pin=DIO15          "
        "@value=0 "
        "       @dir=OUT;");
    add("FSM", "@register=FSM;@bit=FSM                @pin=DIO22          @value=0");
    const QString userB =
        QStringLiteral("SR_CTRL1[2:0]#HB1 R/F slope slew phase current;T_DLY1[3:0]#HB1 VDS overload "
                       "detect delay;VDS1[2:0]#HB1 VDS sense treshold;D10=1#;");
    for (int n = 5; n <= 8; ++n) {
        add(QStringLiteral("UCR%1A").arg(n), forBridge(QString::fromLatin1(CR5A), n - 4));
        add(QStringLiteral("UCR%1B").arg(n), forBridge(userB, n - 4));
    }
    for (const char *adc : {"ADC_Result1", "ADC_Result2", "ADC_Result4"})
        add(new Variable(
            QStringLiteral("@variable=%1 @type=real @value=0 @min=0 @max=50").arg(QLatin1String(adc))));
    for (const char *pwm : {"PWM1", "PWM2"}) {
        const QString g = QLatin1String(pwm);
        add(new Variable(QStringLiteral("@variable=%1OnOff@value=1@min=0 @max=1").arg(g)));
        add(new Variable(
            QStringLiteral("@variable=%1_FREQ @type=real @value=20000 @min=1 @max=30000").arg(g)));
        add(new Variable(QStringLiteral("@variable=%1_DUTY @type=real @value=50 @min=0 @max=100").arg(g)));
        add(new Variable(QStringLiteral("@variable=%1_DIO @type=real @value=0 @min=0 @max=1").arg(g)));
    }

    // The watchdog window.
    add("WDdio", "WDdio=0#;");
    add("RoutineEN", "RoutineEN=1#;");
    add(new Variable(20, QStringLiteral("WDTime"), QStringLiteral("WDservice routine period"), 1, 1000));
    add("WDTimeout", "WDTimeout=0#;");
}

RegisterMap::~RegisterMap()
{
    qDeleteAll(m_registers);
    qDeleteAll(m_variables);
}

Register *RegisterMap::add(const QString &name, const QString &description)
{
    auto *reg = new Register(description, name);
    m_registers.insert(name, reg);
    m_order.append(name);
    return reg;
}

Variable *RegisterMap::add(Variable *var)
{
    m_variables.insert(var->name(), var);
    return var;
}
