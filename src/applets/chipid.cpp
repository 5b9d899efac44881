#include "applets/chipid.h"

#include "applet/appletcontext.h"
#include "applets/registermap.h"
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
             if (Applet *spi = peer(QStringLiteral("SpiController")))
                 spi->run(QStringLiteral("ReadSR7"), QString());
             return true;
         }},
    };
    return table;
}

QVariant ChipID::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, MatchExact, false);
}
