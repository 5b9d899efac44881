#include "applets/spiraw.h"

#include "applet/appletcontext.h"
#include "applets/registermap.h"
#include "link/controlboard.h"
#include "model/register.h"
#include "model/variable.h"
#include "ui_spiraw.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSpiRaw, "hql.spiraw", QtInfoMsg)

SpiRaw::SpiRaw(QWidget *parent) : Applet(parent), ui(new Ui::SpiRaw)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("SpiRaw"));
    setWindowTitle(QStringLiteral("SPI Raw"));
    setWindowIcon(QIcon(QStringLiteral(":/board/Spirawico.png")));
    fixedWidth = true;
    fixedHeight = true;
}

SpiRaw::~SpiRaw()
{
    delete ui;
}

bool SpiRaw::init()
{
    addRegister(sharedRegister(QStringLiteral("SpiIn")));
    addRegister(sharedRegister(QStringLiteral("SpiOut")));
    addVariable(sharedVariable(QStringLiteral("SPIFreq")));
    setOwnedRegisters({"SpiIn", "SpiOut"});
    return true;
}

QList<Applet::Function> SpiRaw::buildFunctions()
{
    QList<Function> table = {
        {QStringLiteral("Transfer"), QStringLiteral("SPI Write and Read"),
         [this](const QVariant &) {
             transferFrame();
             return true;
         }},
        {QStringLiteral("setSPIFreq"), QStringLiteral("Sets SPI frequency"),
         [this](const QVariant &) {
             const ParameterEntry *freq = parameter(QStringLiteral("SPIFreq"));
             const QByteArray command =
                 "set SPI0CS0SPEED=" + QByteArray::number(qint64(freq->var->value() * 1000));
             if (ControlBoard *board = link())
                 board->transact(command);
             qCDebug(lcSpiRaw) << '"' + command + '"';
             return true;
         }},
    };
    return table;
}

QVariant SpiRaw::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, MatchExact, true);
}

bool SpiRaw::transfer(TransferOp op, const QString &name)
{
    if (op != WriteToBoard || (name != QLatin1String("SPI0") && name != QLatin1String("*")))
        return true;
    qCDebug(lcSpiRaw) << "SPI0 configuration";
    ControlBoard *board = link();
    if (!board)
        return true;
    for (const char *command : {"set SPI0CS0CONF", "set SPI0CS0SPEED=1000000", "set SPI0CS0CPOL=0",
                                "set SPI0CS0NCPHA=0", "set q913rem=1"})
        board->transact(command);
    return true;
}

void SpiRaw::onConnected()
{
    transfer(WriteToBoard, QStringLiteral("*"));
}

bool SpiRaw::transferFrame()
{
    ControlBoard *board = link();
    Register *in = parameter(QStringLiteral("SpiIn"))->reg;
    const uint frame = in->get(QStringLiteral("SpiIn[15:0]"));
    const QByteArray value = "02" + QByteArray::number(frame >> 8 & 0xFF, 16).rightJustified(2, '0') +
                             QByteArray::number(frame & 0xFF, 16).rightJustified(2, '0');
    QByteArray received;
    bool ok = board && board->setParameter(QStringLiteral("SPI0CS0DATA"), value);
    qCDebug(lcSpiRaw) << "OUT:" + value;
    if (ok) {
        ok = board->getParameter(QStringLiteral("SPI0CS0DATA"), &received);
        qCDebug(lcSpiRaw) << "IN:" + received;
    }
    bool converted = false;
    const uint answer = received.mid(2).toUInt(&converted, 16);
    if (!ok) {
        boardError(QStringLiteral("SPI data transfer failed"));
        return false;
    }
    set(QStringLiteral("SpiOut[]"), converted ? answer : 0u, ORIGIN_FORCED);

    Applet *controller = peer(QStringLiteral("SpiController"));
    if (controller)
        controller->set(QStringLiteral("WD"),
                        sharedRegister(QStringLiteral("WD"))->get(QStringLiteral("WD")) ^ 1u, ORIGIN_FORCED);

    ControlBoard *link = this->link();
    if (link && link->mode() == ControlBoard::MockUp) {
        // Imitate the chip's header: the status register chosen by the last
        // CR0 write, falling back to SR0 after one answer unless SRA_MODE.
        set(QStringLiteral("SpiOut[12]"), 1u, ORIGIN_FORCED);
        set(QStringLiteral("SpiOut[15:13]"), m_mockStatusAddress, ORIGIN_FORCED);
        if (in->get(QStringLiteral("SpiIn[15:12]")) == 0)
            m_mockStatusAddress = in->get(QStringLiteral("SpiIn[9:7]"));
        else if (sharedRegister(QStringLiteral("CR0"))->get(QStringLiteral("CR0[10]")) == 0)
            m_mockStatusAddress = 0;
    }
    return true;
}
