#include "applets/basic.h"

#include "applet/windowroles.h"
#include "chip/chipservice.h"
#include "model/variable.h"
#include "ui_basic.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcBasic, "hql.basic", QtInfoMsg)

Basic::Basic(QWidget *parent) : Applet(parent), ui(new Ui::Basic)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("Basic"));
    setWindowTitle(QStringLiteral("Basic"));
    setWindowIcon(QIcon(QStringLiteral(":/board/Run_Forward.png")));
    fixedWidth = true;
    fixedHeight = true;
}

Basic::~Basic()
{
    delete ui;
}

bool Basic::init()
{
    addVariable(sharedVariable(QStringLiteral("PWM1_DUTY")));
    addVariable(sharedVariable(QStringLiteral("PWM2_DUTY")));
    return true;
}

// Brings the chain up from any state: drivers, default configuration, enable
// pin, generator, PWM routing and enables, then modes and output enables.
void Basic::runMotor(int first, int second, bool forward)
{
    ChipService *chip = this->chip();
    if (!chip)
        return;
    MotorBoard *board = window<MotorBoard>();
    chip->setBit(SpiFrame::CR1, 10, 1);
    chip->setBit(SpiFrame::CR1, 9, 1);
    chip->writeControl(SpiFrame::CR1);
    if (board)
        chip->writeBridgeConfiguration(ChipService::ChipDefaults);
    chip->setBit(SpiFrame::CR0, first, 0);
    chip->setBit(SpiFrame::CR0, second, 0);
    chip->writeControl(SpiFrame::CR0);
    if (board) {
        board->enableDriver();
        board->startGenerator(first + 1);
    }
    // Half-bridges 1 and 3 take PWM1 (0), 2 and 4 take PWM2 (1).
    const uint input = first == 0 ? 0 : 1;
    chip->setBit(SpiFrame::CR3, 2 * first, input);
    chip->setBit(SpiFrame::CR3, 2 * second, input);
    chip->setBit(SpiFrame::CR2, first, forward ? 1 : 0);
    chip->setBit(SpiFrame::CR2, second, forward ? 0 : 1);
    chip->writeControl(SpiFrame::CR2);
    chip->writeControl(SpiFrame::CR3);
    chip->setBit(SpiFrame::CR0, first, 1);
    chip->setBit(SpiFrame::CR0, second, 1);
    chip->setBit(SpiFrame::CR1, first, forward ? 1 : 0);
    chip->setBit(SpiFrame::CR1, second, forward ? 0 : 1);
    chip->writeControl(SpiFrame::CR1);
    if (board)
        board->wait(50);
    chip->writeControl(SpiFrame::CR0);
    qCDebug(lcBasic).noquote() << QStringLiteral("Configure Motor %1 and Run %2")
                                      .arg(first + 1)
                                      .arg(forward ? QLatin1String("forward") : QLatin1String("backward"));
}

void Basic::stopMotor(int first, int second)
{
    ChipService *chip = this->chip();
    if (!chip)
        return;
    chip->setBit(SpiFrame::CR0, first, 0);
    chip->setBit(SpiFrame::CR0, second, 0);
    chip->writeControl(SpiFrame::CR0);
    qCDebug(lcBasic) << "Stop";
}

QList<Applet::Function> Basic::buildFunctions()
{
    const auto always = [](std::function<void()> body) {
        return [body](const QVariant &) {
            body();
            return true;
        };
    };
    QList<Function> table = {
        {"setForward1", "Sets device to run forward", always([this] { runMotor(0, 2, true); })},
        {"setBackward1", "Sets device to run backward", always([this] { runMotor(0, 2, false); })},
        {"setStop1", "Sets device to stop", always([this] { stopMotor(0, 2); })},
        {"setForward2", "Sets device to run forward", always([this] { runMotor(1, 3, true); })},
        {"setBackward2", "Sets device to run backward", always([this] { runMotor(1, 3, false); })},
        {"setStop2", "Sets device to stop", always([this] { stopMotor(1, 3); })},
    };
    return table;
}

QVariant Basic::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, functionMatch(), true);
}

void Basic::onConnected()
{
    showWindow();
}
