#include "applets/board.h"

#include "applet/appletcontext.h"
#include "applet/boardactions.h"
#include "applets/motordrive.h"
#include "chip/chipservice.h"
#include "link/controlboard.h"
#include "model/register.h"
#include "model/variable.h"
#include "ui_board.h"

#include <QEventLoop>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcBoard, "hql.board", QtInfoMsg)

Board::Board(QWidget *parent) : Applet(parent), ui(new Ui::Board)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("Board"));
    setWindowTitle(QStringLiteral("Board"));
    setWindowIcon(QIcon(QStringLiteral(":/board/board.png")));
    ui->csPWM1OnOff->setType(CustomControls::MySwitch::Button);
    ui->csPWM2OnOff->setType(CustomControls::MySwitch::Button);
    fixedWidth = true;
    fixedHeight = true;
}

Board::~Board()
{
    delete ui;
}

bool Board::init()
{
    addRegister(sharedRegister(QStringLiteral("DIO")));
    for (const char *name : {"PWM1OnOff", "PWM1_FREQ", "PWM1_DUTY", "PWM1_DIO", "PWM2OnOff", "PWM2_FREQ",
                             "PWM2_DUTY", "PWM2_DIO"})
        addVariable(sharedVariable(QLatin1String(name)));
    for (const char *name : {"CR0", "CR1", "SR0", "SR3", "NM", "FSM", "UCR5A", "UCR5B", "UCR6A", "UCR6B",
                             "UCR7A", "UCR7B", "UCR8A", "UCR8B"})
        addRegister(sharedRegister(QLatin1String(name)));
    for (const char *name : {"ADC_Result1", "ADC_Result2", "ADC_Result4"})
        addVariable(sharedVariable(QLatin1String(name)));
    setOwnedRegisters({"DIO", "FSM", "UCR5A", "UCR5B", "UCR6A", "UCR6B", "UCR7A", "UCR7B", "UCR8A", "UCR8B"});

    m_dioSnapshot = regValue(QStringLiteral("DIO[]"));
    m_refreshTimer.setInterval(1000);
    connect(&m_refreshTimer, &QTimer::timeout, this, &Board::slot_Timer_timeout);
    m_statusTimer.setSingleShot(true);
    connect(&m_statusTimer, &QTimer::timeout, this, [this] {
        // Like a refresh, it waits for a running action to end.
        runInTurn(QStringLiteral("Board.status"), [this] {
            if (m_statusOwed)
                update_status();
        });
    });
    m_delayTimer = new QTimer(this);
    m_delayTimer->setSingleShot(true);
    // A coarse timer may end the wait up to 5 % early.
    m_delayTimer->setTimerType(Qt::PreciseTimer);
    connect(m_delayTimer, &QTimer::timeout, this, &Board::Delay_end);
    return true;
}

bool Board::command(const QByteArray &text)
{
    ControlBoard *board = link();
    return board && board->transact(text);
}

QList<Board::Reading> Board::readBoardValues(const QStringList &names)
{
    QList<LinkCommand> commands;
    for (const QString &name : names)
        commands.append(LinkCommand{"get " + name.toLatin1()});
    QList<LinkReply> replies;
    if (ControlBoard *board = link())
        board->transact(commands, &replies);
    QList<Reading> readings;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const LinkReply reply = replies.value(i);
        QByteArray text;
        const bool ok =
            reply.ok &&
            ControlBoard::parseValue(QByteArray(reply.text).replace('\n', QByteArray()), names.at(i), &text);
        // A failed read leaves the text empty, which reads as 0.
        readings.append({ok, ok ? text.toDouble() : 0.0});
    }
    return readings;
}

double Board::variableValue(const char *name) const
{
    Variable *var = sharedVariable(QLatin1String(name));
    return var ? var->value() : 0.0;
}

uint Board::regValue(const QString &ref) const
{
    Register *reg = sharedRegister(parameterNameOf(ref));
    return reg ? reg->get(ref) : 0;
}

void Board::withGenerators(const std::function<void(PwmGenerators &)> &action)
{
    // The half-bridge controller may be missing from this build.
    if (PwmGenerators *generators = window<PwmGenerators>())
        action(*generators);
}

void Board::wait(int ms)
{
    m_delayPending = true;
    m_delayTimer->start(ms);
    flushRefreshes();
    // A loop of its own, so that a scripting request arriving meanwhile
    // waits until the running function has returned instead of running
    // inside it; held back like the waits for the board. It also returns
    // at once when the application quits.
    QEventLoop loop;
    connect(m_delayTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
    BoardActions *actions = this->actions();
    if (actions)
        actions->enterWait();
    if (m_delayPending)
        loop.exec();
    if (actions)
        actions->leaveWait();
    m_delayPending = false;
}

void Board::Delay_end()
{
    m_delayPending = false;
}

void Board::runMotor(int first, int second, bool forward, bool waitBeforeModes)
{
    if (ChipService *chip = this->chip())
        MotorDrive(*chip, this).run(first, second, forward, waitBeforeModes);
    qCDebug(lcBoard) << (forward ? "Run forward" : "Run backward");
}

void Board::stopMotor(int first, int second)
{
    if (ChipService *chip = this->chip())
        MotorDrive(*chip, this).stop(first, second);
    qCDebug(lcBoard) << "Stop";
}

void Board::brakeMotor(int first, int second, int ms)
{
    if (ChipService *chip = this->chip())
        MotorDrive(*chip, this).brake(first, second, ms);
    qCDebug(lcBoard) << "Stop with brake";
}

void Board::setPwmPinState(int n)
{
    QLabel *clock = n == 1 ? ui->lblCLK1 : ui->lblCLK2;
    QWidget *pin = n == 1 ? static_cast<QWidget *>(ui->cbPWM1_DIO) : static_cast<QWidget *>(ui->cbPWM2_DIO);
    const ParameterEntry *onOff = parameter(QStringLiteral("PWM%1OnOff").arg(n));
    const bool running = onOff && onOff->var && onOff->var->value() != 0;
    clock->setStyleSheet(running ? QStringLiteral("image: url(:/board/img_signal_clock.png)") : QString());
    pin->setEnabled(!running);
}

void Board::switchFailSafe()
{
    ChipService *chip = this->chip();
    if (regValue(QStringLiteral("FSM[FSM]")) == 1) {
        command("set DIO22=1");
        if (chip)
            chip->readStatus(0);
        qCDebug(lcBoard) << "Fail-safe mode set ";
        return;
    }
    command("set DIO22=0");
    if (regValue(QStringLiteral("DIO[EN]")) == 1) {
        if (WatchdogRoutine *watchdog = window<WatchdogRoutine>())
            watchdog->setRoutineEnabled(true);
    }
    if (chip) {
        chip->readAll();
        chip->writeBridgeConfiguration(ChipService::ModelValues);
    }
}

bool Board::readReference()
{
    return takeReference(readBoardValues({QStringLiteral("AINREF")}).at(0));
}

bool Board::readCurrent(int n)
{
    return takeCurrent(n,
                       readBoardValues({n == 1 ? QStringLiteral("Isen1") : QStringLiteral("Isen2")}).at(0));
}

bool Board::readSupply()
{
    return takeSupply(readBoardValues({QStringLiteral("AIN5")}).at(0));
}

bool Board::takeReference(const Reading &reading)
{
    m_adcReference = quint16(qint64(reading.value));
    return reading.ok;
}

bool Board::takeCurrent(int n, const Reading &reading)
{
    set(n == 1 ? QStringLiteral("ADC_Result1") : QStringLiteral("ADC_Result2"), reading.value / 1000,
        ORIGIN_FORCED);
    return reading.ok;
}

bool Board::takeSupply(const Reading &reading)
{
    set(QStringLiteral("ADC_Result4"), reading.value * m_adcReference * 16 / 2048000, ORIGIN_FORCED);
    return reading.ok;
}

void Board::measure()
{
    const QList<Reading> r = readBoardValues(
        {QStringLiteral("AINREF"), QStringLiteral("Isen1"), QStringLiteral("Isen2"), QStringLiteral("AIN5")});
    // Each reading is taken as a function of its own, as when run by name.
    bool all = asFunction([&] { return takeReference(r.at(0)); });
    all = asFunction([&] { return takeCurrent(1, r.at(1)); }) && all;
    all = asFunction([&] { return takeCurrent(2, r.at(2)); }) && all;
    all = asFunction([&] { return takeSupply(r.at(3)); }) && all;
    // A failed read leaves a 0 that was never measured: only complete
    // readings are recorded.
    if (all)
        emit signal_measured(variableValue("ADC_Result1"), variableValue("ADC_Result2"),
                             variableValue("ADC_Result4"));
}

void Board::readStatus()
{
    if (ChipService *chip = this->chip())
        chip->readAll();
    qCDebug(lcBoard) << "Get device status";
}

void Board::refreshReadings()
{
    asFunction([this] {
        measure();
        return true;
    });
    asFunction([this] {
        readStatus();
        return true;
    });
    qCDebug(lcBoard) << "Current and Status refreshed";
}

QList<Applet::Function> Board::buildFunctions()
{
    const auto always = [](std::function<void()> body) {
        return [body](const QVariant &) {
            body();
            return true;
        };
    };
    QList<Function> table = {
        {"setPWM1_DIO", "Sets PWM1 pin state", always([this] { setPwmPinState(1); })},
        {"setPWM2_DIO", "Sets PWM2 pin state", always([this] { setPwmPinState(2); })},
        {"setPWM1_Freq", "Sets PWM1 Frequency",
         always([this] { withGenerators([](PwmGenerators &g) { g.sendFrequency(1); }); })},
        {"setPWM1_Duty", "Sets PWM1 Frequency",
         always([this] { withGenerators([](PwmGenerators &g) { g.sendDuty(1); }); })},
        {"setPWM2_Freq", "Sets PWM2 Frequency",
         always([this] { withGenerators([](PwmGenerators &g) { g.sendFrequency(2); }); })},
        {"setPWM2_Duty", "Sets PWM2 Frequency",
         always([this] { withGenerators([](PwmGenerators &g) { g.sendDuty(2); }); })},
        {"setActive", "Sets device to Active mode", always([this] {
             ChipService *chip = this->chip();
             if (!chip)
                 return;
             chip->writeBridgeConfiguration(ChipService::ModelValues);
             chip->setBit(SpiFrame::CR1, 10, 1);
             chip->setBit(SpiFrame::CR1, 9, 1);
             chip->writeControl(SpiFrame::CR1);
             chip->setBits(SpiFrame::CR3, 0, 6, 0x44);
             chip->writeControl(SpiFrame::CR2);
             chip->writeControl(SpiFrame::CR3);
             chip->readStatus(0);
             qCDebug(lcBoard) << "Active mode set ";
         })},
        {"setStandby", "Sets device to Standby mode", always([this] {
             ChipService *chip = this->chip();
             if (!chip)
                 return;
             chip->setBit(SpiFrame::CR1, 10, 0);
             chip->writeControl(SpiFrame::CR1);
             chip->readStatus(0);
             qCDebug(lcBoard) << "Reduced power mode set ";
         })},
        {"setFSM", "Sets device to Fail-safe mode", always([this] { switchFailSafe(); })},
        {"setForward1", "Sets device to run forward", always([this] { runMotor(0, 2, true, true); })},
        {"setBackward1", "Sets device to run backward", always([this] { runMotor(0, 2, false, true); })},
        {"setStop1", "Sets device to stop", always([this] { stopMotor(0, 2); })},
        {"setBrake1", "Sets device to stop", always([this] { brakeMotor(0, 2, 50); })},
        {"setForward2", "Sets device to run forward", always([this] { runMotor(1, 3, true, false); })},
        {"setBackward2", "Sets device to run backward", always([this] { runMotor(1, 3, false, false); })},
        {"setStop2", "Sets device to stop", always([this] { stopMotor(1, 3); })},
        {"setBrake2", "Sets device to stop", always([this] { brakeMotor(1, 3, 20); })},
        {"getSTATUS", "Gets device status", always([this] { readStatus(); })},
        {"getADC", "Get all ADC data", always([this] { measure(); })},
        {"getADC1", "Get ADC 1 data", [this](const QVariant &) { return readCurrent(1); }},
        {"getADC2", "Get ADC 2 data", [this](const QVariant &) { return readCurrent(2); }},
        {"getVS", "Get VS Value", [this](const QVariant &) { return readSupply(); }},
        {"getADC_ref", "Get ADC reference Value", [this](const QVariant &) { return readReference(); }},
        {"refresh", "Current and Status refreshed", always([this] { refreshReadings(); })},
        {"setDefault", "Sets Default Configuration Values",
         [this](const QVariant &) {
             transfer(WriteToBoard, QStringLiteral("HBConf_Def"));
             return false;
         }},
        {"setUserConf", "Sets User Configuration Values",
         [this](const QVariant &) {
             transfer(WriteToBoard, QStringLiteral("HBConf_User"));
             return false;
         }},
        {"setLoaded", "Sets Loaded Configuration saved in UCR reg Values",
         [this](const QVariant &) {
             if (m_loadedNames.isEmpty()) {
                 // A bare "set" line would only come back as an error. The
                 // notice waits until the caller (a click, a script) is done.
                 if (AppletContext *app = context())
                     app->notice(
                         QStringLiteral("No workspace is loaded, so there is no user configuration to send.\n"
                                        "Load one with Config > Load config first."));
                 return false;
             }
             ChipService *chip = this->chip();
             for (const QString &name : std::as_const(m_loadedNames)) {
                 uint v = get(QStringLiteral("U") + name + QStringLiteral("[]"), ORIGIN_FORCED).toUInt();
                 // Bit 10 selects the A or B half of the register pair.
                 if (name.contains(QLatin1Char('A')))
                     v &= ~(1u << 10);
                 else
                     v |= 1u << 10;
                 SpiFrame::Control control;
                 if (chip && SpiFrame::controlNamed(name, &control)) {
                     chip->setBits(control, 0, 10, v);
                     chip->chainAdd(control);
                 }
             }
             if (chip)
                 chip->chainTransfer();
             return false;
         }},
    };
    return table;
}

QVariant Board::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, functionMatch(), true);
}

bool Board::transfer(TransferOp op, const QString &name)
{
    if (op != WriteToBoard)
        return true;
    if (name == QLatin1String("Q913_REMOTE")) {
        const bool ok = command("set q913rem=1");
        if (ChipService *chip = this->chip())
            chip->writeBridgeConfiguration(ChipService::ChipDefaults);
        return ok;
    }
    const bool defaults = name == QLatin1String("HBConf_Def");
    if (!defaults && name != QLatin1String("HBConf_User"))
        return true;
    if (ChipService *chip = this->chip())
        chip->writeBridgeConfiguration(defaults ? ChipService::ChipDefaults : ChipService::ModelValues);
    return true;
}

void Board::onConnected()
{
    m_statusOwed = true;
    m_statusTimer.start(10);
}

void Board::completePendingWork()
{
    if (!m_statusOwed)
        return;
    m_statusTimer.stop();
    update_status();
}

void Board::onDisconnected()
{
    if (m_refreshTimer.isActive())
        m_refreshTimer.stop();
    m_statusTimer.stop();
    m_statusOwed = false;
    if (Register *dio = sharedRegister(QStringLiteral("DIO")))
        dio->set(QStringLiteral("DIO[]"), m_dioSnapshot);
    ui->cbAutoRefresh->setChecked(false);
    transfer(WriteToBoard, QStringLiteral("Q913_REMOTE"));
    slot_updateAllControls();
}

void Board::update_status()
{
    m_statusOwed = false;
    transfer(WriteToBoard, QStringLiteral("Q913_REMOTE"));
    slot_updateAllControls();
    transfer(WriteToBoard, QStringLiteral("HBConf_Def"));
    withGenerators([](PwmGenerators &g) { g.sendAll(); });
    asFunction([this] { return readReference(); });
    if (ChipService *chip = this->chip())
        chip->readAll();
    qCDebug(lcBoard) << "Status registers updated";
}

void Board::enableControls(bool on)
{
    for (QWidget *widget :
         {static_cast<QWidget *>(ui->pbBoard_setActive), static_cast<QWidget *>(ui->pbBoard_setStandby),
          static_cast<QWidget *>(ui->pbBoard_setDefault), static_cast<QWidget *>(ui->grMotor1),
          static_cast<QWidget *>(ui->grMotor2), static_cast<QWidget *>(ui->grStatus)})
        widget->setEnabled(on);
}

void Board::on_cbEN_clicked(bool checked)
{
    WatchdogRoutine *watchdog = window<WatchdogRoutine>();
    if (!checked) {
        command("set DIO25=0");
        enableControls(false);
        if (watchdog)
            watchdog->setRoutineEnabled(false);
        return;
    }
    command("set DIO25=1");
    enableControls(true);
    if (watchdog && regValue(QStringLiteral("FSM[FSM]")) == 0)
        watchdog->setRoutineEnabled(true);
    if (ChipService *chip = this->chip()) {
        chip->readAll();
        chip->writeBridgeConfiguration(ChipService::ModelValues);
    }
}

void Board::enableDriver()
{
    set(QStringLiteral("DIO[EN]"), 1, ORIGIN_FORCED);
    on_cbEN_clicked(true);
}

void Board::startGenerator(int n)
{
    set(QStringLiteral("PWM%1OnOff").arg(n), 1, ORIGIN_FORCED);
}

void Board::sendUserConfiguration()
{
    if (ChipService *chip = this->chip())
        chip->writeBridgeConfiguration(ChipService::ModelValues);
}

void Board::showPinState(int n)
{
    asFunction([this, n] {
        setPwmPinState(n);
        return true;
    });
}

void Board::on_cbAutoRefresh_toggled(bool checked)
{
    if (!checked) {
        m_refreshTimer.stop();
        return;
    }
    const int period = ui->lePeriod->text().toInt();
    if (period == 0) {
        ui->cbAutoRefresh->setChecked(false);
        return;
    }
    m_refreshTimer.setInterval(period);
    m_refreshTimer.start();
}

void Board::slot_Timer_timeout()
{
    // A refresh must not put its reads between the commands of a function
    // that waits.
    if (m_delayPending)
        return;
    // Nor between the lines of a firmware download: the next tick reads.
    if (ControlBoard *link = this->link(); link && link->isReserved())
        return;
    // While another action runs, one refresh waits for its turn.
    runInTurn(QStringLiteral("Board.refresh"), [this] {
        // Its turn may come after the refresh was switched off.
        if (!m_refreshTimer.isActive())
            return;
        asFunction([this] {
            refreshReadings();
            return true;
        });
    });
}

void Board::on_hsPWM1_Duty_sliderMoved(int position)
{
    set(QStringLiteral("PWM1_DUTY"), position, ORIGIN_FORCED);
    withGenerators([](PwmGenerators &g) { g.sendDuty(1); });
}

void Board::on_hsPWM2_Duty_sliderMoved(int position)
{
    set(QStringLiteral("PWM2_DUTY"), position, ORIGIN_FORCED);
    withGenerators([](PwmGenerators &g) { g.sendDuty(2); });
}

void Board::on_cbPWM1_DIO_clicked()
{
    withGenerators([](PwmGenerators &g) { g.sendPin(1); });
}

void Board::on_cbPWM2_DIO_clicked()
{
    withGenerators([](PwmGenerators &g) { g.sendPin(2); });
}

void Board::on_cbFSM_clicked()
{
    asFunction([this] {
        switchFailSafe();
        return true;
    });
    qCDebug(lcBoard).noquote()
        << QStringLiteral("FSM pin set to: \"%1\"").arg(regValue(QStringLiteral("FSM[]")));
}
