// Time to create every register and variable of the chip and the board, as the
// application does once at start-up, including the view that registering a
// register with an applet prepares.
//
// Prints: BENCH model_build_us <median microseconds> us target < 1000

#include "model/register.h"
#include "model/variable.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Description
{
    QString name;
    QString text;
};

// Control registers 5 to 8 come in pairs per half-bridge; %1 is its number.
const QString CRnA = QStringLiteral(
    "T_PC%1[1:0]#HB%1 R/F slope pre-charge time;I_PCR%1[2:0]#HB%1 Rising slope pre-charge "
    "current;I_PCF%1[2:0]#HB%1 "
    "Falling slope pre-charge current;BLANK%1[1:0]#HB%1 Cross-conduction blanking time;D10=0#;");
const QString CRnB = QStringLiteral(
    "SR_CTRL%1[2:0]#HB%1 R/F slope slew phase current;T_DLY%1[3:0]#HB%1 R/F slope dynamic overload detect "
    "delay;VDS%1[2:0]#HB%1 VDS sense treshold;D10=1#;");
const QString UCRnB = QStringLiteral("SR_CTRL%1[2:0]#HB%1 R/F slope slew phase current;T_DLY%1[3:0]#HB%1 VDS "
                                     "overload detect delay;VDS%1[2:0]#HB%1 "
                                     "VDS sense treshold;D10=1#;");

QList<Description> registerDescriptions()
{
    QList<Description> list = {
        {"WD", "WD#ignored by firmware due to WD service routine;"},
        {"ADDR", "ADDR[3:0]"},
        {"NM", "@readonly=1;NM#Normal mode;"},
        {"CR0",
         "HB_EN1=0#HB1 output enable;HB_EN2=0#HB2 output enable;HB_EN3=0#HB3 output enable;HB_EN4=0#HB4 "
         "output enable;_[2:0]#;SRA[2:0]#Status register read select;SRA_MODE=0#Continuos reading of "
         "selected SRx;"},
        {"CR1",
         "HB_MODE1=0#HS1/LS1 pre-driver active;HB_MODE2=0#HS2/LS2 pre-driver active;HB_MODE3=0#HS3/LS3 "
         "pre-driver active;HB_MODE4=0#HS4/LS4 pre-driver active;_[3:0]#;WD_CFG=0#Watchdog timeout "
         "25ms/500ms;CP_SW=0#Charge pump switched output;DRV_EN=0#Charge pump and drive currents enable;"},
        {"CR2",
         "HB_PWM1=0#HB1 PWM enable;HB_PWM2=0#HB2 PWM enable;HB_PWM3=0#HB3 PWM enable;HB_PWM4=0#HB4 PWM "
         "enable;_[6:0]#;"},
        {"CR3",
         "PWM10=0#HB1 PWM input pin select;D1=0#;PWM20=0#HB2 PWM input pin select;D3=0#;PWM30=0#HB3 PWM "
         "input pin select;D5=0#;PWM40=0#HB4 PWM input pin select;_[3:0]#;"},
        {"CR4",
         "CAL_SEL[2:0]#Select HB output;CAL_PC[3:0]#Slope pre-charge time;CAL_DLY[3:0]#Slope delay time;"},
    };
    for (int n = 1; n <= 4; ++n) {
        list.append({QStringLiteral("CR%1A").arg(n + 4), CRnA.arg(n)});
        list.append({QStringLiteral("CR%1B").arg(n + 4), CRnB.arg(n)});
    }
    list += QList<Description>{
        {"CR12",
         "TST_HS1=0#HS1 test current enable;TST_HS3=0#HS3 test current enable;_[1:0]#;TST_LS1=0#LS1 test "
         "current enable;TST_LS3=0#LS3 test current enable;_[4:0]#;"},
        {"CR14", "DGL1=0#HB1 PWM De-glitch type;DGL2=0#HB2 PWM De-glitch type;DGL3=0#HB3 PWM De-glitch "
                 "type;DGL4=0#HB4 PWM De-glitch type;_[6:0]#;"},
        {"SR0",
         "@readonly=1;D0=0#;HB_QSB=0#VDS fail - Overload;_[1:0]#;OVF=0#Over-voltage;UVF=0#Under-voltage;"
         "CPF=0#Charge pump fail;CPL=0#Charge pump low;SPIF=0#SPI transmission fail;FSM=0#Fail-safe "
         "input;RCF=0#Registers cleared;TM=0#Test mode active;"},
        {"SR1",
         "@readonly=1;SWL1=0#GL1 output;SWH1=0#GH1 output;SWL2=0#GL2 output;SWH2=0#GH2 output;SWL3=0#GL3 "
         "output;SWH3=0#GH3 output;SWL4=0#GL4 output;SWH4=0#GH4 output;_[3:0]#;"},
        {"SR3", "@readonly=1;VDS_L1=0#LS1 fail - Overload;VDS_H1=0#HS1 fail - Overload;VDS_L2=0#LS2 fail - "
                "Overload;VDS_H2=0#HS2 fail - Overload;VDS_L3=0#LS3 fail - Overload;VDS_H3=0#HS3 fail - "
                "Overload;VDS_L4=0#LS4 fail - Overload;VDS_H4=0#HS4 fail - Overload;_[3:0]#;"},
        {"SR4",
         "@readonly=1;CAL_PC_F[1:0]#Falling slope result 1;CAL_DLY_F[1:0]#Falling slope result "
         "2;CAL_PC_R[1:0]#Rising slope result 1;CAL_DLY_R[1:0]#Rising slope result 2;CAL_RDY=0#Calibration "
         "result ready;_[2:0]#;"},
        {"SR5", "@readonly=1;HB_OUT1=0#HB1 Output > VDS;HB_OUT2=0#HB2 Output > VDS;HB_OUT3=0#HB3 Output > "
                "VDS;HB_OUT4=0#HB4 Output > VDS;_[7:0]#;"},
        {"SR7", "@readonly=1;DEV_ID[2:0]#Mask Revison;DEV_ID[2:0]#Silicon revision;DEV_ID[2:0]#Generation;"
                "DEV_ID[2:0]#Device Name;"},
        {"DATA", "DATA[15:0]"},
        {"DIO",
         "@register=DIO;@bit=EN                @pin=DIO25          @value=1        @dir=OUT;@bit=PWM1  "
         "            @pin=DIO14          @value=0        @dir=OUT;@bit=PWM2              @pin=DIO15   "
         "       @value=0        @dir=OUT;"},
        {"FSM", "@register=FSM;@bit=FSM                @pin=DIO22          @value=0"},
    };
    for (int n = 1; n <= 4; ++n) {
        list.append({QStringLiteral("UCR%1A").arg(n + 4), CRnA.arg(n)});
        list.append({QStringLiteral("UCR%1B").arg(n + 4), UCRnB.arg(n)});
    }
    list += QList<Description>{
        {"WDdio", "WDdio=0#;"},   {"RoutineEN", "RoutineEN=1#;"},         {"WDTimeout", "WDTimeout=0#;"},
        {"SpiIn", "SpiIn[31:0]"}, {"SpiOut", "@readonly=1;SpiOut[31:0]"},
    };
    return list;
}

QStringList variableDescriptions()
{
    QStringList list;
    for (int n = 1; n <= 2; ++n) {
        list << QStringLiteral("@variable=PWM%1OnOff@value=1@min=0 @max=1").arg(n)
             << QStringLiteral("@variable=PWM%1_FREQ @type=real @value=20000 @min=1 @max=30000").arg(n)
             << QStringLiteral("@variable=PWM%1_DUTY @type=real @value=50 @min=0 @max=100").arg(n)
             << QStringLiteral("@variable=PWM%1_DIO @type=real @value=0 @min=0 @max=1").arg(n);
    }
    for (int n : {1, 2, 4})
        list << QStringLiteral("@variable=ADC_Result%1 @type=real @value=0 @min=0 @max=50").arg(n);
    return list;
}

// Stands in for the applets that register the parameters.
class Applet : public QObject
{
    Q_OBJECT
public slots:
    void slot_updateSet(const QString &) {}
    void slot_updateGet(const QString &) {}
};

struct Model
{
    std::vector<std::unique_ptr<Register>> registers;
    std::vector<std::unique_ptr<Variable>> variables;
};

void build(Model &model, const QList<Description> &registers, const QStringList &variables, Applet &applet)
{
    model.registers.reserve(registers.size());
    for (const Description &d : registers) {
        model.registers.push_back(std::make_unique<Register>(d.text, d.name));
        model.registers.back()->connectTo(&applet, &Applet::slot_updateSet, &Applet::slot_updateGet);
    }
    model.variables.reserve(variables.size() + 2);
    for (const QString &d : variables)
        model.variables.push_back(std::make_unique<Variable>(d));
    model.variables.push_back(std::make_unique<Variable>(1000, QStringLiteral("SPIFreq"),
                                                         QStringLiteral("SPI Clk. Freq."), 1, 2000));
    model.variables.push_back(std::make_unique<Variable>(
        20, QStringLiteral("WDTime"), QStringLiteral("WDservice routine period"), 1, 1000));
    for (const auto &v : model.variables) {
        QObject::connect(v.get(), &Variable::signal_updateSet, &applet, &Applet::slot_updateSet);
        QObject::connect(v.get(), &Variable::signal_updateGet, &applet, &Applet::slot_updateGet);
    }
}

} // namespace

int main()
{
    const QList<Description> registers = registerDescriptions();
    const QStringList variables = variableDescriptions();
    Applet applet;

    constexpr int Repetitions = 301;
    std::vector<double> micros;
    micros.reserve(Repetitions);
    int bits = 0;
    for (int r = 0; r < Repetitions; ++r) {
        Model model;
        QElapsedTimer timer; // monotonic
        timer.start();
        build(model, registers, variables, applet);
        micros.push_back(double(timer.nsecsElapsed()) / 1000.0);
        bits = 0;
        for (const auto &reg : model.registers)
            bits += reg->size();
    }
    std::sort(micros.begin(), micros.end());
    std::fprintf(stderr, "bench_model: %lld registers (%d bits), %lld variables, %d runs\n",
                 static_cast<long long>(registers.size()), bits, static_cast<long long>(variables.size() + 2),
                 Repetitions);
    std::printf("BENCH model_build_us %.1f us target < 1000\n", micros[micros.size() / 2]);
    return 0;
}

#include "bench_model.moc"
