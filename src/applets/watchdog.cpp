#include "applets/watchdog.h"

#include "applet/appletcontext.h"
#include "applets/registermap.h"
#include "link/controlboard.h"
#include "model/variable.h"
#include "ui_watchdog.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcWatchDog, "hql.watchdog", QtInfoMsg)

WatchDog::WatchDog(QWidget *parent) : Applet(parent), ui(new Ui::WatchDog)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("WatchDog"));
    setWindowTitle(QStringLiteral("WatchDog"));
    setWindowIcon(QIcon(QStringLiteral(":/board/WD.png")));
    fixedWidth = true;
    fixedHeight = true;
}

WatchDog::~WatchDog()
{
    delete ui;
}

bool WatchDog::init()
{
    addRegister(sharedRegister(QStringLiteral("WDdio")));
    addRegister(sharedRegister(QStringLiteral("RoutineEN")));
    addVariable(sharedVariable(QStringLiteral("WDTime")));
    addRegister(sharedRegister(QStringLiteral("WDTimeout")));
    addRegister(sharedRegister(QStringLiteral("CR1")));
    setOwnedRegisters({"WDdio", "RoutineEN", "WDTimeout"});
    return true;
}

void WatchDog::command(const QByteArray &text)
{
    if (ControlBoard *board = link())
        board->transact(text);
}

Applet *WatchDog::spiController() const
{
    return peer(QStringLiteral("SpiController"));
}

QList<Applet::Function> WatchDog::buildFunctions()
{
    QList<Function> table = {
        {QStringLiteral("setRoutineTime"), QStringLiteral("Sets WD repeat period"),
         [this](const QVariant &) {
             const QByteArray n =
                 QByteArray::number(qint64(parameter(QStringLiteral("WDTime"))->var->value()));
             command("set WDtime=" + n);
             qCDebug(lcWatchDog) << '"' + QByteArray("WD service routine period set = ") + n + "ms" + '"';
             return true;
         }},
        {QStringLiteral("WDenable"), QStringLiteral("Sets WD repeat period"),
         [this](const QVariant &) {
             if (ui->cbRoutineEN_0->isChecked()) {
                 command("set WDen=1");
                 if (Applet *spi = spiController())
                     spi->run(QStringLiteral("ReadAll"), QVariant());
             } else {
                 command("set WDen=0");
             }
             return true;
         }},
    };
    return table;
}

QVariant WatchDog::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, functionMatch(), true);
}

void WatchDog::onConnected()
{
    command("set WDen=1");
    command("set WDtime=20");
}

void WatchDog::on_cbWDdio_toggled(bool checked)
{
    command(checked ? "set DIO21=1" : "set DIO21=0");
}

void WatchDog::on_cbRoutineEN_0_toggled()
{
    run(QStringLiteral("WDenable"), QVariant());
}

void WatchDog::on_cbWDTimeout_clicked(bool checked)
{
    Applet *spi = spiController();
    if (!spi)
        return;
    spi->set(QStringLiteral("CR1[8]"), uint(checked), ORIGIN_FORCED);
    if (checked) {
        spi->run(QStringLiteral("ReadSR0"), QVariant());
        spi->set(QStringLiteral("CR1[8]"), 1u, ORIGIN_FORCED);
        spi->run(QStringLiteral("WriteCR1"), QVariant());
        spi->set(QStringLiteral("CR1[8]"), 1u, ORIGIN_FORCED);
    } else {
        spi->run(QStringLiteral("WriteCR1"), QVariant());
    }
}
