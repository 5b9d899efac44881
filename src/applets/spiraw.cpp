#include "applets/spiraw.h"

#include "chip/chipservice.h"
#include "model/variable.h"
#include "ui_spiraw.h"

SpiRaw::SpiRaw(QWidget *parent) : Applet(parent), ui(new Ui::SpiRaw)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("SpiRaw"));
    setWindowTitle(QStringLiteral("SPI Raw"));
    setWindowIcon(QIcon(QStringLiteral(":/board/Spirawico.png")));
    fixedWidth = true;
    fixedHeight = true;
}

SpiRaw::~SpiRaw()
{
    delete ui;
}

bool SpiRaw::init()
{
    addRegister(sharedRegister(QStringLiteral("SpiIn")));
    addRegister(sharedRegister(QStringLiteral("SpiOut")));
    addVariable(sharedVariable(QStringLiteral("SPIFreq")));
    setOwnedRegisters({"SpiIn", "SpiOut"});
    return true;
}

QList<Applet::Function> SpiRaw::buildFunctions()
{
    QList<Function> table = {
        {QStringLiteral("Transfer"), QStringLiteral("SPI Write and Read"),
         [this](const QVariant &) {
             if (ChipService *chip = this->chip())
                 chip->transferRawFrame();
             return true;
         }},
        {QStringLiteral("setSPIFreq"), QStringLiteral("Sets SPI frequency"),
         [this](const QVariant &) {
             const ParameterEntry *freq = parameter(QStringLiteral("SPIFreq"));
             if (ChipService *chip = this->chip())
                 chip->setPortSpeed(qint64(freq->var->value() * 1000));
             return true;
         }},
    };
    return table;
}

QVariant SpiRaw::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, MatchExact, true);
}

bool SpiRaw::transfer(TransferOp op, const QString &name)
{
    if (op != WriteToBoard || (name != QLatin1String("SPI0") && name != QLatin1String("*")))
        return true;
    if (ChipService *chip = this->chip())
        chip->configurePort();
    return true;
}

void SpiRaw::onConnected()
{
    transfer(WriteToBoard, QStringLiteral("*"));
}
