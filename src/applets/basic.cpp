#include "applets/basic.h"

#include "applet/windowroles.h"
#include "applets/motordrive.h"
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

void Basic::runMotor(int first, int second, bool forward)
{
    if (ChipService *chip = this->chip())
        MotorDrive(*chip, window<MotorBoard>()).start(first, second, forward);
    qCDebug(lcBasic).noquote() << QStringLiteral("Configure Motor %1 and Run %2")
                                      .arg(first + 1)
                                      .arg(forward ? QLatin1String("forward") : QLatin1String("backward"));
}

void Basic::stopMotor(int first, int second)
{
    if (ChipService *chip = this->chip())
        MotorDrive(*chip, window<MotorBoard>()).outputsOff(first, second);
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
