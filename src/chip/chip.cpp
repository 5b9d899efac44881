#include "chip/chip.h"

#include "link/controlboard.h"
#include "model/register.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSpi, "hql.spi", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSpiRaw, "hql.spiraw", QtInfoMsg)

using SpiFrame::WriteRule;

namespace {

// The chip's references are "NAME" or "NAME[bits]".
QString registerOf(const QString &ref)
{
    const qsizetype bracket = ref.indexOf(QLatin1Char('['));
    return bracket < 0 ? ref : ref.left(bracket);
}

} // namespace

class Chip::Operation
{
public:
    explicit Operation(ChipHost &host) : m_host(host) { m_host.beginOperation(); }
    ~Operation() { m_host.endOperation(); }
    Operation(const Operation &) = delete;
    Operation &operator=(const Operation &) = delete;

private:
    ChipHost &m_host;
};

uint Chip::bitsOf(const QString &name) const
{
    const Register *reg = m_host.reg(name);
    return reg && reg->size() > 0 ? reg->bits(0, reg->size() - 1) : 0;
}

uint Chip::get(const QString &ref) const
{
    Register *reg = m_host.reg(registerOf(ref));
    return reg ? reg->get(ref) : 0;
}

void Chip::set(const QString &ref, uint value)
{
    const QString name = registerOf(ref);
    if (Register *reg = m_host.reg(name)) {
        reg->set(ref, value);
        m_host.refresh(name);
    }
}

void Chip::setRange(const QString &name, uint lo, uint hi, uint value)
{
    Register *reg = m_host.reg(name);
    if (!reg)
        return;
    // Only a change can leave the controls behind: decoding repeats values.
    const uint before = reg->bits(qMin(lo, hi), qMax(lo, hi));
    reg->set(lo, hi, value);
    if (reg->bits(qMin(lo, hi), qMax(lo, hi)) != before)
        m_host.refresh(name);
}

void Chip::setBits(Control control, int lo, int hi, uint value)
{
    const QString name = QLatin1String(SpiFrame::writeRule(control).name);
    set(name + (lo == hi ? QStringLiteral("[%1]").arg(lo) : QStringLiteral("[%1:%2]").arg(hi).arg(lo)),
        value);
}

uint Chip::value(Control control) const
{
    return bitsOf(QLatin1String(SpiFrame::writeRule(control).name));
}

void Chip::boardError(const QString &text)
{
    if (ControlBoard::failedWithTheBoard(m_host.link())) {
        qCDebug(lcSpi) << "after the board was lost:" << text;
        return;
    }
    m_host.log(-1, text);
}

quint16 Chip::frameFor(int address, uint data) const
{
    return SpiFrame::frame(address, bitsOf(QStringLiteral("WD")), data);
}

bool Chip::transferRawFrame()
{
    ControlBoard *board = m_host.link();
    const uint frame = get(QStringLiteral("SpiIn[15:0]"));
    const QByteArray value = SpiFrame::dataValue(quint16(frame));
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
    set(QStringLiteral("SpiOut[]"), converted ? answer : 0u);
    set(QStringLiteral("WD"), get(QStringLiteral("WD")) ^ 1u);

    if (board->mode() == ControlBoard::MockUp) {
        // Imitate the chip's header: the status register chosen by the last
        // CR0 write, falling back to SR0 after one answer unless SRA_MODE.
        set(QStringLiteral("SpiOut[12]"), 1u);
        set(QStringLiteral("SpiOut[15:13]"), m_mockStatusAddress);
        if (get(QStringLiteral("SpiIn[15:12]")) == 0)
            m_mockStatusAddress = get(QStringLiteral("SpiIn[9:7]"));
        else if (get(QStringLiteral("CR0[10]")) == 0)
            m_mockStatusAddress = 0;
    }
    return true;
}

bool Chip::transferFrame(quint16 frame, const char *error)
{
    set(QStringLiteral("SpiIn[]"), uint(frame));
    if (transferRawFrame()) {
        decodeAnswer(bitsOf(QStringLiteral("SpiOut")));
        return true;
    }
    boardError(QString::fromLatin1(error));
    return false;
}

bool Chip::writeFrame(int address, uint data)
{
    return transferFrame(frameFor(address, data), "SpiController:Spi register write error");
}

bool Chip::readFrame()
{
    return transferFrame(frameFor(SpiFrame::ReadAddress, 0), "SpiController:SPI register read error");
}

void Chip::decodeAnswer(uint answer, bool last)
{
    static const QString statusNames[] = {"SR0", "SR1", "SR2", "SR3", "SR4", "SR5", "SR6", "SR7"};
    const uint address = SpiFrame::answerAddress(answer);
    if (last) {
        setRange(QStringLiteral("ADDR"), 0, 3, address);
        setRange(QStringLiteral("NM"), 0, 0, (answer >> 12) & 0x1);
        setRange(QStringLiteral("DATA"), 0, 11, answer & 0xFFF);
    }
    if (SpiFrame::isStatusAddress(address))
        setRange(statusNames[address], 0, 11, answer & 0xFFF);
    // RCF is reported once: its check box must see it before a later answer
    // of the same chain clears it again.
    if (address == 0 && (answer & 0x400))
        m_host.flush();
}

void Chip::chainAdd(int address, uint data)
{
    SpiFrame::appendChainWord(m_pendingChain, frameFor(address, data));
}

void Chip::chainAdd(Control control)
{
    chainAdd(SpiFrame::writeRule(control).address, value(control));
}

bool Chip::chainTransfer(const std::function<void()> &beforeAnswers)
{
    ControlBoard *board = m_host.link();
    // Frames kept from failed transfers go out again, but only while the
    // line still fits the board's queue; past that no chain could ever pass.
    if (qsizetype(sizeof "set") + m_pendingChain.size() > ControlBoard::QueueSize) {
        const qsizetype frames = m_pendingChain.count('=');
        m_pendingChain.clear();
        if (beforeAnswers)
            beforeAnswers();
        m_host.log(-1, QStringLiteral("SpiController:Chain of %1 SPI frames is too long for one command; "
                                      "the frames were dropped")
                           .arg(frames));
        return false;
    }
    // The read asks for the answers whatever the write's reply says, so both
    // lines go in one round trip; after a failed write its answers are left.
    QList<LinkReply> replies;
    if (board)
        board->transact({{"set" + m_pendingChain + '\n'}, {SpiFrame::chainReadRequest(m_pendingChain), 2000}},
                        &replies);
    if (!board || !replies.value(0).ok) {
        if (beforeAnswers)
            beforeAnswers();
        boardError(QStringLiteral("SpiController:Chain spi register write error"));
        return false;
    }
    const bool ok = replies.value(1).ok;
    const QByteArray reply = ok ? replies.value(1).text : QByteArray();
    qCDebug(lcSpi) << '"' + reply + '"';
    if (beforeAnswers)
        beforeAnswers();
    if (!ok) {
        boardError(QStringLiteral("SpiController:Chain spi register read error"));
        return false;
    }
    m_pendingChain.clear();
    const QList<uint> answers = SpiFrame::chainAnswers(reply);
    for (int i = 0; i < answers.size(); ++i)
        decodeAnswer(answers.at(i), i == answers.size() - 1);
    return true;
}

void Chip::resetSession()
{
    m_pendingChain.clear();
}

bool Chip::writeRegister(int address, const QString &name)
{
    return writeFrame(address, bitsOf(name));
}

bool Chip::writeRule(const WriteRule &rule)
{
    const QString name = QLatin1String(rule.name);
    if (rule.forcedLo >= 0) {
        const QString bits = rule.forcedLo == rule.forcedHi
                                 ? QStringLiteral("[%1]").arg(rule.forcedLo)
                                 : QStringLiteral("[%1:%2]").arg(rule.forcedHi).arg(rule.forcedLo);
        set(name + bits, rule.forced);
    }
    return writeRegister(rule.address, name);
}

bool Chip::writeControl(Control control)
{
    Operation operation(m_host);
    const bool ok = writeRule(SpiFrame::writeRule(control));
    // The watchdog window shows the time-out CR1 chose.
    if (control == SpiFrame::CR1)
        set(QStringLiteral("WDTimeout"), get(QStringLiteral("CR1[8]")));
    return ok;
}

bool Chip::writeBridge(int bridge)
{
    if (bridge < 1 || bridge > 4)
        return false;
    Operation operation(m_host);
    const int a = SpiFrame::CR5A + 2 * (bridge - 1);
    writeRule(SpiFrame::writeRule(Control(a)));
    writeRule(SpiFrame::writeRule(Control(a + 1)));
    return true;
}

bool Chip::selectStatus(int status)
{
    set(QStringLiteral("CR0[10]"), 1);
    set(QStringLiteral("CR0[9:7]"), uint(status));
    writeRegister(0, QStringLiteral("CR0"));
    return true;
}

bool Chip::requestRead(int status)
{
    Operation operation(m_host);
    return selectStatus(status);
}

bool Chip::readStatus(int status)
{
    Operation operation(m_host);
    selectStatus(status);
    return readFrame();
}

bool Chip::readAll()
{
    Operation operation(m_host);
    // Each frame selects the next status register (SRA, CR0[9:7]); the model
    // keeps the last selection, SR0.
    const QString cr0 = QStringLiteral("CR0");
    const uint others = bitsOf(cr0) & ~(0x7u << 7);
    for (uint n : {0, 1, 3, 4, 5, 7, 0})
        chainAdd(0, others | (n << 7));
    setRange(cr0, 7, 9, 0);
    // NM and SR0 are cleared for the answers to fill; nothing sees them
    // while the lines travel, so the windows show one change, not two.
    return chainTransfer([this] {
        setRange(QStringLiteral("NM"), 0, 31, 0);
        setRange(QStringLiteral("SR0"), 0, 31, 0);
    });
}

void Chip::clear(ClearScope scope)
{
    Operation operation(m_host);
    QStringList zero = {"CR0", "CR1", "CR2", "CR3", "CR4", "CR12", "CR14", "SR1", "SR3", "SR4", "SR5"};
    if (scope == WithBridges) {
        zero += {"CR5A", "CR6A", "CR7A", "CR8A"};
        for (const char *half : {"CR5B", "CR6B", "CR7B", "CR8B"})
            set(QLatin1String(half) + QStringLiteral("[]"), 0x400);
    }
    for (const QString &name : std::as_const(zero))
        set(name + QStringLiteral("[]"), 0);
}

bool Chip::writeBridgeConfiguration(BridgeSource source)
{
    Operation operation(m_host);
    return sendBridgeConfiguration(source);
}

bool Chip::sendBridgeConfiguration(BridgeSource source)
{
    for (int i = 5; i <= 8; ++i) {
        const QString a = QStringLiteral("CR%1A").arg(i);
        const QString b = QStringLiteral("CR%1B").arg(i);
        if (source == ChipDefaults) {
            set(a + QStringLiteral("[10:0]"), 0x290);
            chainAdd(i, 0x290);
            set(b + QStringLiteral("[10:0]"), 0x5B9);
            chainAdd(i, 0x5B9);
        } else {
            chainAdd(i, bitsOf(a));
            chainAdd(i, bitsOf(b));
        }
    }
    return chainTransfer();
}

void Chip::configurePort()
{
    qCDebug(lcSpiRaw) << "SPI0 configuration";
    ControlBoard *board = m_host.link();
    if (!board)
        return;
    for (const char *command : {"set SPI0CS0CONF", "set SPI0CS0SPEED=1000000", "set SPI0CS0CPOL=0",
                                "set SPI0CS0NCPHA=0", "set q913rem=1"})
        board->transact(command);
}

void Chip::setPortSpeed(qint64 hertz)
{
    const QByteArray command = "set SPI0CS0SPEED=" + QByteArray::number(hertz);
    if (ControlBoard *board = m_host.link())
        board->transact(command);
    qCDebug(lcSpiRaw) << '"' + command + '"';
}
