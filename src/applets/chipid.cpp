#include "applets/chipid.h"

#include "chip/chipservice.h"
#include "ui_chipid.h"

ChipID::ChipID(QWidget *parent) : Applet(parent), ui(new Ui::ChipID)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("ChipID"));
    setWindowTitle(QStringLiteral("Chip ID"));
    setWindowIcon(QIcon(QStringLiteral(":/board/ID.png")));
    fixedWidth = true;
    fixedHeight = true;
}

ChipID::~ChipID()
{
    delete ui;
}

bool ChipID::init()
{
    addRegister(sharedRegister(QStringLiteral("SR7")));
    return true;
}

QList<Applet::Function> ChipID::buildFunctions()
{
    QList<Function> table = {
        {QStringLiteral("ReadID"), QString(),
         [this](const QVariant &) {
             if (ChipService *chip = this->chip())
                 chip->readStatus(7);
             return true;
         }},
    };
    return table;
}

QVariant ChipID::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, MatchExact, false);
}
