#include "applets/watchdog.h"

#include "chip/chipservice.h"
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

bool WatchDog::switchRoutine()
{
    if (ui->cbRoutineEN_0->isChecked()) {
        command("set WDen=1");
        if (ChipService *chip = this->chip())
            chip->readAll();
    } else {
        command("set WDen=0");
    }
    return true;
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
         [this](const QVariant &) { return switchRoutine(); }},
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
    asFunction([this] { return switchRoutine(); });
}

void WatchDog::setRoutineEnabled(bool on)
{
    set(QStringLiteral("RoutineEN"), uint(on), ORIGIN_FORCED);
}

void WatchDog::on_cbWDTimeout_clicked(bool checked)
{
    ChipService *chip = this->chip();
    if (!chip)
        return;
    chip->setBit(SpiFrame::CR1, 8, uint(checked));
    if (checked) {
        chip->readStatus(0);
        chip->setBit(SpiFrame::CR1, 8, 1);
        chip->writeControl(SpiFrame::CR1);
        chip->setBit(SpiFrame::CR1, 8, 1);
    } else {
        chip->writeControl(SpiFrame::CR1);
    }
}
