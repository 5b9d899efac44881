#include "applets/basic.h"

#include "applet/appletcontext.h"
#include "applets/board.h"
#include "applets/registermap.h"
#include "model/variable.h"
#include "ui_basic.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcBasic, "hql.basic", QtInfoMsg)

namespace {

QString bit(const char *reg, int n)
{
    return QStringLiteral("%1[%2]").arg(QLatin1String(reg)).arg(n);
}

} // namespace

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

Board *Basic::boardWindow() const
{
    return qobject_cast<Board *>(peer(QStringLiteral("Board")));
}

void Basic::spiSet(const QString &ref, uint value)
{
    if (Applet *spi = peer(QStringLiteral("SpiController")))
        spi->set(ref, value, ORIGIN_FORCED);
}

void Basic::spiRun(const QString &function)
{
    if (Applet *spi = peer(QStringLiteral("SpiController")))
        spi->run(function, QVariant());
}

// Brings the chain up from any state: drivers, default configuration, enable
// pin, generator, PWM routing and enables, then modes and output enables.
void Basic::runMotor(int first, int second, bool forward)
{
    Board *b = boardWindow();
    spiSet(QStringLiteral("CR1[10]"), 1);
    spiSet(QStringLiteral("CR1[9]"), 1);
    spiRun(QStringLiteral("WriteCR1"));
    if (b)
        b->run(QStringLiteral("setDefault"), QVariant());
    spiSet(bit("CR0", first), 0);
    spiSet(bit("CR0", second), 0);
    spiRun(QStringLiteral("WriteCR0"));
    if (b) {
        b->set(QStringLiteral("DIO[EN]"), 1, ORIGIN_FORCED);
        b->on_cbEN_clicked(true);
        b->set(QStringLiteral("PWM%1OnOff").arg(first + 1), 1, ORIGIN_FORCED);
    }
    // Half-bridges 1 and 3 take PWM1 (0), 2 and 4 take PWM2 (1).
    const uint input = first == 0 ? 0 : 1;
    spiSet(bit("CR3", 2 * first), input);
    spiSet(bit("CR3", 2 * second), input);
    spiSet(bit("CR2", first), forward ? 1 : 0);
    spiSet(bit("CR2", second), forward ? 0 : 1);
    spiRun(QStringLiteral("WriteCR2"));
    spiRun(QStringLiteral("WriteCR3"));
    spiSet(bit("CR0", first), 1);
    spiSet(bit("CR0", second), 1);
    spiSet(bit("CR1", first), forward ? 1 : 0);
    spiSet(bit("CR1", second), forward ? 0 : 1);
    spiRun(QStringLiteral("WriteCR1"));
    if (b)
        b->wait(50);
    spiRun(QStringLiteral("WriteCR0"));
    qCDebug(lcBasic).noquote() << QStringLiteral("Configure Motor %1 and Run %2")
                                      .arg(first + 1)
                                      .arg(forward ? QLatin1String("forward") : QLatin1String("backward"));
}

void Basic::stopMotor(int first, int second)
{
    spiSet(bit("CR0", first), 0);
    spiSet(bit("CR0", second), 0);
    spiRun(QStringLiteral("WriteCR0"));
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
