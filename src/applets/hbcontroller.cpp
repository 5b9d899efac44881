#include "applets/hbcontroller.h"

#include "chip/chipservice.h"
#include "link/controlboard.h"
#include "model/register.h"
#include "model/variable.h"
#include "ui_hbcontroller.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcHb, "hql.hb", QtInfoMsg)

namespace {

// The board's number of window generator n.
QByteArray boardPwm(int n)
{
    return "PWM" + QByteArray::number(n - 1);
}

QString windowPwm(int n)
{
    return QStringLiteral("PWM%1").arg(n);
}

// Board commands carry whole numbers, truncated toward zero.
QByteArray whole(double value)
{
    return QByteArray::number(qint64(value));
}

} // namespace

HBController::HBController(QWidget *parent) : Applet(parent), ui(new Ui::HBController)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("HBController"));
    setWindowTitle(QStringLiteral("HB Controller"));
    setWindowIcon(QIcon(QStringLiteral(":/board/HB.png")));
    fixedWidth = true;
    fixedHeight = true;
}

HBController::~HBController()
{
    delete ui;
}

bool HBController::init()
{
    // The caption ON_OFF names no picture set: the generator switches get theirs here.
    ui->csPWM1OnOff->setModel(6);
    ui->csPWM2OnOff->setModel(6);
    for (const char *name :
         {"NM",   "CR0",  "CR1",  "CR2",  "CR3",  "CR4", "CR5A", "CR5B", "CR6A", "CR6B", "CR7A",
          "CR7B", "CR8A", "CR8B", "CR12", "CR14", "SR0", "SR1",  "SR3",  "SR4",  "SR5",  "SR7"})
        addRegister(sharedRegister(QLatin1String(name)));
    for (int n = 1; n <= 2; ++n) {
        for (const char *suffix : {"OnOff", "_FREQ", "_DUTY", "_DIO"})
            addVariable(sharedVariable(windowPwm(n) + QLatin1String(suffix)));
    }
    return true;
}

double HBController::variable(const QString &name) const
{
    const ParameterEntry *entry = parameter(name);
    return entry && entry->var ? entry->var->value() : 0.0;
}

void HBController::command(const QByteArray &text)
{
    ControlBoard *board = link();
    if (!board || !board->transact(text))
        ++m_failedCommands;
}

bool HBController::writeHalfBridge(int bridge)
{
    if (ChipService *chip = this->chip()) {
        for (ChipService::Control control : {SpiFrame::CR0, SpiFrame::CR1, SpiFrame::CR2, SpiFrame::CR3})
            chip->writeControl(control);
        chip->writeBridge(bridge);
    }
    return true;
}

bool HBController::readHalfBridges()
{
    if (ChipService *chip = this->chip()) {
        chip->requestRead(1);
        chip->requestRead(3);
        chip->readStatus(5);
    }
    return true;
}

bool HBController::setFrequency(int n)
{
    const double value = variable(windowPwm(n) + QStringLiteral("_FREQ"));
    command("set " + boardPwm(n) + "FREQ=" + whole(value));
    qCDebug(lcHb).noquote() << windowPwm(n) + QStringLiteral(" Frequency Changed to ") +
                                   QString::number(value);
    return true;
}

void HBController::sendDutyCommand(int n)
{
    if (variable(windowPwm(n) + QStringLiteral("OnOff")) == 0)
        return;
    const double value = variable(windowPwm(n) + QStringLiteral("_DUTY"));
    command("set " + boardPwm(n) + "DUTY=" + whole(value));
    qCDebug(lcHb).noquote() << windowPwm(n) + QStringLiteral(" Duty-cycle Changed to ") +
                                   QString::number(value);
}

bool HBController::setDuty(int n)
{
    sendDutyCommand(n);
    return true;
}

bool HBController::setPin(int n)
{
    // A stopped generator holds its pin through a duty cycle of 0 % or 100 %.
    const QCheckBox *pin = n == 1 ? ui->cbPWM1_DIO : ui->cbPWM2_DIO;
    const QByteArray duty = pin->isChecked() ? "100" : "0";
    command("set " + boardPwm(n) + "DUTY=" + duty);
    qCDebug(lcHb).noquote() << windowPwm(n) + QStringLiteral(" Duty-cycle Changed to ") +
                                   QString::fromLatin1(duty);
    return true;
}

void HBController::switchGenerator(int n)
{
    const QString onOff = windowPwm(n) + QStringLiteral("OnOff");
    if (PwmPinView *board = window<PwmPinView>())
        board->showPinState(n);
    const double value = variable(onOff);
    QLabel *clock = n == 1 ? ui->lblCLK1 : ui->lblCLK2;
    QCheckBox *pin = n == 1 ? ui->cbPWM1_DIO : ui->cbPWM2_DIO;
    qCDebug(lcHb).noquote() << windowPwm(n) + QStringLiteral(" generator On/Off ") + QString::number(value);
    if (value != 0) {
        command("set " + boardPwm(n) + "CONF");
        command("set " + boardPwm(n) + "START");
        setDuty(n);
        setFrequency(n);
        clock->setStyleSheet(QStringLiteral("image: url(:/board/img_signal_clock.png)"));
        pin->setEnabled(false);
    } else {
        setPin(n);
        clock->setStyleSheet(QString());
        pin->setEnabled(true);
    }
    slot_updateControls(onOff);
}

void HBController::resetGenerator(int n)
{
    qCDebug(lcHb).noquote() << QStringLiteral("Velmoramcu %1 configuration").arg(windowPwm(n));
    command("set " + boardPwm(n) + "CONF");
    command("set " + boardPwm(n) + "FREQ=20000");
    command("set " + boardPwm(n) + "DUTY=50");
    set(windowPwm(n) + QStringLiteral("_FREQ"), 20000, ORIGIN_FORCED);
    set(windowPwm(n) + QStringLiteral("_DUTY"), 50, ORIGIN_FORCED);
}

void HBController::updateGenerators()
{
    transfer(WriteToBoard, QStringLiteral("PWM1OnOff"));
    transfer(WriteToBoard, QStringLiteral("PWM2OnOff"));
}

void HBController::sendFrequency(int n)
{
    asFunction([this, n] { return setFrequency(n); });
}

void HBController::sendDuty(int n)
{
    asFunction([this, n] { return setDuty(n); });
}

void HBController::sendPin(int n)
{
    asFunction([this, n] { return setPin(n); });
}

void HBController::sendAll()
{
    asFunction([this] {
        updateGenerators();
        return true;
    });
}

QList<Applet::Function> HBController::buildFunctions()
{
    QList<Function> table = {
        {"WriteCR1",
         {},
         [this](const QVariant &) {
             if (ChipService *chip = this->chip())
                 chip->writeControl(SpiFrame::CR1);
             return true;
         }},
        {"ReadHB", {}, [this](const QVariant &) { return readHalfBridges(); }},
        {"ReadSR0",
         {},
         [this](const QVariant &) {
             if (ChipService *chip = this->chip())
                 chip->readStatus(0);
             return true;
         }},
    };
    for (int n = 1; n <= 4; ++n) {
        table.append(
            {QStringLiteral("WriteHB%1").arg(n), {}, [=](const QVariant &) { return writeHalfBridge(n); }});
        table.append({QStringLiteral("WriteRead%1").arg(n), {}, [=](const QVariant &) {
                          asFunction([=] { return writeHalfBridge(n); });
                          asFunction([this] { return readHalfBridges(); });
                          return true;
                      }});
    }
    for (int n = 1; n <= 2; ++n) {
        const QString pwm = windowPwm(n);
        table.append(
            {QStringLiteral("set%1_Freq").arg(pwm), {}, [=](const QVariant &) { return setFrequency(n); }});
        table.append(
            {QStringLiteral("set%1_Duty").arg(pwm), {}, [=](const QVariant &) { return setDuty(n); }});
        table.append({QStringLiteral("set%1_DIO").arg(pwm), {}, [=](const QVariant &) { return setPin(n); }});
    }
    table.append({"updatePWM", {}, [this](const QVariant &) {
                      updateGenerators();
                      return true;
                  }});
    return table;
}

QVariant HBController::run(const QString &function, const QVariant &argument)
{
    if (function.isEmpty())
        return false;
    return runFunction(functionTable(), function, argument, MatchExact, false);
}

bool HBController::transfer(TransferOp op, const QString &name)
{
    if (op != WriteToBoard)
        return false;
    const bool all = name == QLatin1String("*");
    // Every write of a shared register passes here; only the generators' own names matter.
    if (!all && !name.startsWith(QLatin1String("PWM")))
        return true;
    // Nested transfers (a default written back to its variable) count too.
    const int failedBefore = m_failedCommands;
    for (int n = 1; n <= 2; ++n) {
        const QString pwm = windowPwm(n);
        if (all || name == pwm + QStringLiteral("OnOff"))
            switchGenerator(n);
        if (all || name == pwm)
            resetGenerator(n);
        if (name == pwm + QStringLiteral("_DUTY"))
            sendDutyCommand(n);
    }
    // Only a command the board refused or never answered is a failure.
    return m_failedCommands == failedBefore;
}

void HBController::onConnected()
{
    transfer(WriteToBoard, QStringLiteral("*"));
}

void HBController::on_hsPWM1_Duty_sliderMoved(int position)
{
    set(QStringLiteral("PWM1_DUTY"), position, ORIGIN_FORCED);
    sendDuty(1);
}

void HBController::on_hsPWM2_Duty_sliderMoved(int position)
{
    set(QStringLiteral("PWM2_DUTY"), position, ORIGIN_FORCED);
    sendDuty(2);
}

void HBController::on_cbPWM1_DIO_clicked()
{
    sendPin(1);
}

void HBController::on_cbPWM2_DIO_clicked()
{
    sendPin(2);
}
