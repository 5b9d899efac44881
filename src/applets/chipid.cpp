#include "applets/chipid.h"

#include "app/mainapp.h"
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
    addRegister(MainApp::instance()->registers()->reg(QStringLiteral("SR7")));
    return true;
}

QVariant ChipID::run(const QString &function, const QVariant &argument)
{
    const QList<Function> table = {
        {QStringLiteral("ReadID"), QString(),
         [](const QVariant &) {
             if (Applet *spi = MainApp::instance()->findApplet(QStringLiteral("SpiController"), MainApp::ByObjectName))
                 spi->run(QStringLiteral("ReadSR7"), QString());
             return true;
         }},
    };
    return runFunction(table, function, argument, MatchExact, false);
}
