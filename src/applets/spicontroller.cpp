#include "applets/spicontroller.h"

#include "applet/appletcontext.h"
#include "applets/registermap.h"
#include "applets/spiraw.h"
#include "link/controlboard.h"
#include "model/register.h"
#include "model/registerexport.h"
#include "model/variable.h"
#include "ui_spicontroller.h"

#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcSpi, "hql.spi", QtInfoMsg)

namespace {

// Calls visit(name, value) for the NAME=VALUE words of a line, as the
// pattern ([\w\d]+)=([\w\d]+) finds them: runs of word characters on both
// sides of an equals sign. The views point into text.
template<typename Visit>
void forEachPair(QByteArrayView text, Visit visit)
{
    const auto isWord = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    };
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        if (!isWord(text.at(i))) {
            ++i;
            continue;
        }
        const qsizetype nameStart = i;
        while (i < size && isWord(text.at(i)))
            ++i;
        if (i + 1 >= size || text.at(i) != '=' || !isWord(text.at(i + 1)))
            continue;
        const qsizetype nameEnd = i++;
        const qsizetype valueStart = i;
        while (i < size && isWord(text.at(i)))
            ++i;
        visit(text.sliced(nameStart, nameEnd - nameStart), text.sliced(valueStart, i - valueStart));
    }
}

// Status registers that exist: answers for 2 and 6 land nowhere.
bool isStatusAddress(uint address)
{
    return address == 0 || address == 1 || address == 3 || address == 4 || address == 5 || address == 7;
}

} // namespace

SpiController::SpiController(QWidget *parent) : Applet(parent), ui(new Ui::SpiController)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("SpiController"));
    setWindowTitle(QStringLiteral("SPI Controller"));
    setWindowIcon(QIcon(QStringLiteral(":/board/chip.png")));
    fixedWidth = true;
    fixedHeight = true;
}

SpiController::~SpiController()
{
    delete ui;
}

const QList<SpiController::WriteRule> &SpiController::writeRules()
{
    static const QList<WriteRule> rules = {
        {"CR0", 0, -1, -1, 0},  {"CR1", 1, -1, -1, 0},  {"CR2", 2, 7, 10, 0},   {"CR3", 3, 10, 10, 0},
        {"CR4", 4, -1, -1, 0},  {"CR5A", 5, 10, 10, 0}, {"CR5B", 5, 10, 10, 1}, {"CR6A", 6, 10, 10, 0},
        {"CR6B", 6, 10, 10, 1}, {"CR7A", 7, 10, 10, 0}, {"CR7B", 7, 10, 10, 1}, {"CR8A", 8, 10, 10, 0},
        {"CR8B", 8, 10, 10, 1}, {"CR12", 12, 8, 10, 0}, {"CR14", 14, 7, 10, 0},
    };
    return rules;
}

const SpiController::WriteRule *SpiController::writeRule(const QString &name)
{
    for (const WriteRule &rule : writeRules()) {
        if (name == QLatin1String(rule.name))
            return &rule;
    }
    return nullptr;
}

bool SpiController::writeFrame(const QString &name, uint value, quint16 *frame)
{
    const WriteRule *rule = writeRule(name);
    if (!rule)
        return false;
    uint data = value;
    if (rule->forcedLo >= 0) {
        const uint mask = ((1u << (rule->forcedHi - rule->forcedLo + 1)) - 1u) << rule->forcedLo;
        data = (data & ~mask) | ((rule->forced << rule->forcedLo) & mask);
    }
    *frame = quint16((rule->address << 12) | (data & 0x7FF));
    return true;
}

bool SpiController::init()
{
    for (const QString &name : RegisterMap::spiControllerOrder())
        addRegister(sharedRegister(name));
    // The chip's registers are this window's own; WD, ADDR, NM and DATA
    // only hold the state of the frame layer.
    QStringList chip = RegisterMap::spiControllerOrder();
    for (const char *frameState : {"WD", "ADDR", "NM", "DATA"})
        chip.removeAll(QLatin1String(frameState));
    setOwnedRegisters(chip);
    return true;
}

void SpiController::describeExport(RegisterExport &out)
{
    Applet::describeExport(out);
    for (const WriteRule &rule : writeRules()) {
        quint16 frame = 0;
        if (writeFrame(QLatin1String(rule.name), bitsOf(QLatin1String(rule.name)), &frame))
            out.setFrame(QLatin1String(rule.name), frame);
    }
    // A status read fills SR7; a powered chip never reports 0 there.
    const uint id = bitsOf(QStringLiteral("SR7"));
    if (id != 0) {
        out.setChipIdentity(
            QStringLiteral(
                "SR7 = 0x%1 (device name %2, generation %3, silicon revision %4, mask revision %5)")
                .arg(id, 3, 16, QLatin1Char('0'))
                .arg((id >> 9) & 7)
                .arg((id >> 6) & 7)
                .arg((id >> 3) & 7)
                .arg(id & 7));
    }
}

SpiRaw *SpiController::spiRaw() const
{
    return qobject_cast<SpiRaw *>(peer(QStringLiteral("SpiRaw")));
}

uint SpiController::value(const QString &ref)
{
    const ParameterEntry *entry = parameter(parameterNameOf(ref));
    return entry && entry->reg ? entry->reg->get(ref) : 0;
}

void SpiController::force(const QString &ref, uint v)
{
    set(ref, v, ORIGIN_FORCED);
}

quint16 SpiController::frameFor(int address, uint data)
{
    return quint16(((address & 0xF) << 12) | ((bitsOf(QStringLiteral("WD")) & 1) << 11) | (data & 0x7FF));
}

uint SpiController::bitsOf(const QString &name) const
{
    const ParameterEntry *entry = parameter(name);
    return entry && entry->reg ? entry->reg->bits(0, entry->reg->size() - 1) : 0;
}

bool SpiController::transferFrame(quint16 frame, const char *error)
{
    SpiRaw *raw = spiRaw();
    if (raw) {
        raw->set(QStringLiteral("SpiIn[]"), uint(frame), ORIGIN_FORCED);
        if (raw->transferFrame()) {
            decodeAnswer(raw->get(QStringLiteral("SpiOut[]"), ORIGIN_USER).toUInt());
            return true;
        }
    }
    boardError(QString::fromLatin1(error));
    return false;
}

bool SpiController::spiWrite(int address, uint data)
{
    return transferFrame(frameFor(address, data), "SpiController:Spi register write error");
}

bool SpiController::spiRead()
{
    return transferFrame(frameFor(13, 0), "SpiController:SPI register read error");
}

void SpiController::decodeAnswer(uint answer, bool last)
{
    static const QString statusNames[] = {"SR0", "SR1", "SR2", "SR3", "SR4", "SR5", "SR6", "SR7"};
    const uint address = (answer >> 13) & 0x7;
    if (last) {
        setBits(QStringLiteral("ADDR"), 0, 3, address);
        setBits(QStringLiteral("NM"), 0, 0, (answer >> 12) & 0x1);
        setBits(QStringLiteral("DATA"), 0, 11, answer & 0xFFF);
    }
    if (isStatusAddress(address))
        setBits(statusNames[address], 0, 11, answer & 0xFFF);
    // RCF is reported once: its check box must see it before a later answer
    // of the same chain clears it again.
    if (address == 0 && (answer & 0x400))
        flushRefreshes();
}

void SpiController::chainAdd(int address, uint data)
{
    static const char digits[] = "0123456789abcdef";
    const quint16 frame = frameFor(address, data);
    char word[] = " SPI0CS0DATA=02....";
    for (int i = 0; i < 4; ++i)
        word[15 + i] = digits[(frame >> (12 - 4 * i)) & 0xF];
    m_pendingChain.append(word, qsizetype(sizeof word) - 1);
}

bool SpiController::chainTransfer(const std::function<void()> &beforeAnswers)
{
    ControlBoard *board = link();
    // Frames kept from failed transfers go out again, but only while the
    // line still fits the board's queue; past that no chain could ever pass.
    if (qsizetype(sizeof "set") + m_pendingChain.size() > ControlBoard::QueueSize) {
        const qsizetype frames = m_pendingChain.count('=');
        m_pendingChain.clear();
        if (beforeAnswers)
            beforeAnswers();
        emit signal_log(-1,
                        QStringLiteral("SpiController:Chain of %1 SPI frames is too long for one command; "
                                       "the frames were dropped")
                            .arg(frames));
        return false;
    }
    if (!board || !board->transact("set" + m_pendingChain + '\n')) {
        if (beforeAnswers)
            beforeAnswers();
        boardError(QStringLiteral("SpiController:Chain spi register write error"));
        return false;
    }
    QByteArray request("get");
    forEachPair(m_pendingChain, [&request](QByteArrayView name, QByteArrayView) {
        request += ' ';
        request += name;
    });
    QByteArray reply;
    const bool ok = board->transact(request, &reply, 2000);
    qCDebug(lcSpi) << '"' + reply + '"';
    if (beforeAnswers)
        beforeAnswers();
    if (!ok) {
        boardError(QStringLiteral("SpiController:Chain spi register read error"));
        return false;
    }
    m_pendingChain.clear();
    QList<uint> answers;
    forEachPair(reply, [&answers](QByteArrayView, QByteArrayView value) {
        if (value.size() <= 2)
            return;
        // The two digits in front are the chip select's.
        const QByteArrayView digits = value.sliced(2);
        bool converted = false;
        const uint answer = QByteArray::fromRawData(digits.data(), digits.size()).toUInt(&converted, 16);
        if (converted && answer != 0)
            answers.append(answer);
    });
    for (int i = 0; i < answers.size(); ++i)
        decodeAnswer(answers.at(i), i == answers.size() - 1);
    return true;
}

// Frames left from another connection mean nothing to this one.
void SpiController::onConnected()
{
    m_pendingChain.clear();
}

void SpiController::onDisconnected()
{
    m_pendingChain.clear();
}

bool SpiController::writeRegister(int address, const QString &name)
{
    return spiWrite(address, value(name + QStringLiteral("[]")));
}

bool SpiController::writeControl(const WriteRule &rule)
{
    const QString name = QLatin1String(rule.name);
    if (rule.forcedLo >= 0) {
        const QString bits = rule.forcedLo == rule.forcedHi
                                 ? QStringLiteral("[%1]").arg(rule.forcedLo)
                                 : QStringLiteral("[%1:%2]").arg(rule.forcedHi).arg(rule.forcedLo);
        force(name + bits, rule.forced);
    }
    return writeRegister(rule.address, name);
}

bool SpiController::requestRead(int n)
{
    force(QStringLiteral("CR0[10]"), 1);
    force(QStringLiteral("CR0[9:7]"), uint(n));
    writeRegister(0, QStringLiteral("CR0"));
    return true;
}

bool SpiController::readStatus(int n)
{
    requestRead(n);
    return spiRead();
}

bool SpiController::readAll()
{
    // Each frame selects the next status register (SRA, CR0[9:7]); the model
    // keeps the last selection, SR0.
    const QString cr0 = QStringLiteral("CR0");
    const uint others = bitsOf(cr0) & ~(0x7u << 7);
    for (uint n : {0, 1, 3, 4, 5, 7, 0})
        chainAdd(0, others | (n << 7));
    setBits(cr0, 7, 9, 0);
    // NM and SR0 are cleared for the answers to fill; nothing sees them
    // while the lines travel, so the windows show one change, not two.
    return chainTransfer([this] {
        setBits(QStringLiteral("NM"), 0, 31, 0);
        setBits(QStringLiteral("SR0"), 0, 31, 0);
    });
}

void SpiController::clear(bool all)
{
    QStringList zero = {"CR0", "CR1", "CR2", "CR3", "CR4", "CR12", "CR14", "SR1", "SR3", "SR4", "SR5"};
    if (all) {
        zero += {"CR5A", "CR6A", "CR7A", "CR8A"};
        for (const char *half : {"CR5B", "CR6B", "CR7B", "CR8B"})
            force(QLatin1String(half) + QStringLiteral("[]"), 0x400);
    }
    for (const QString &name : std::as_const(zero))
        force(name + QStringLiteral("[]"), 0);
}

QVariant SpiController::run(const QString &function, const QVariant &argument)
{
    return runFunction(functionTable(), function, argument, MatchExact, false);
}

bool SpiController::writeParameter(const QString &name)
{
    // Edits wait for a Write button; a bulk write (a register file applied)
    // is that button pressed for every control register. Offline there is
    // no chip to write to.
    const QString function = QStringLiteral("Write") + name;
    const QList<Function> &table = functionTable();
    const bool hasWrite = std::any_of(table.cbegin(), table.cend(),
                                      [&function](const Function &f) { return f.name == function; });
    if (!isOnline() || !hasWrite)
        return Applet::writeParameter(name);
    return run(function, QVariant()).toBool();
}

QList<Applet::Function> SpiController::buildFunctions()
{
    QList<Function> table;
    for (const WriteRule &rule : writeRules()) {
        table.append(
            {QStringLiteral("Write") + QLatin1String(rule.name), {}, [this, &rule](const QVariant &) {
                 const bool ok = writeControl(rule);
                 // The watchdog window shows the timeout CR1 chose.
                 if (rule.address == 1) {
                     if (Applet *watchDog = peer("WatchDog"))
                         watchDog->set("WDTimeout", value("CR1[8]"), ORIGIN_FORCED);
                 }
                 return ok;
             }});
    }
    for (int n = 5; n <= 8; ++n) {
        const WriteRule *a = writeRule(QStringLiteral("CR%1A").arg(n));
        const WriteRule *b = writeRule(QStringLiteral("CR%1B").arg(n));
        table.append({QStringLiteral("WriteCR%1").arg(n), {}, [this, a, b](const QVariant &) {
                          writeControl(*a);
                          writeControl(*b);
                          return true;
                      }});
    }
    table += QList<Function>{
        {"RequestRead", {}, [this](const QVariant &arg) { return requestRead(arg.toInt()); }},
        {"ReadAll", {}, [this](const QVariant &) { return readAll(); }},
        {"ClearAll",
         {},
         [this](const QVariant &) {
             clear(true);
             return true;
         }},
        {"Clear",
         {},
         [this](const QVariant &) {
             clear(false);
             return true;
         }},
    };
    for (int n : {0, 1, 3, 4, 5, 7})
        table.append(
            {QStringLiteral("ReadSR%1").arg(n), {}, [=](const QVariant &) { return readStatus(n); }});
    return table;
}

void SpiController::on_cbSR0_10_stateChanged(int state)
{
    // The chip lost its registers: reset the model and write the user's
    // configuration again. The mock-up's random status bits say nothing.
    ControlBoard *link = this->link();
    if (state == 0 || (link && link->mode() == ControlBoard::MockUp))
        return;
    run(QStringLiteral("Clear"), QVariant());
    if (Applet *board = peer(QStringLiteral("Board")))
        board->run(QStringLiteral("setUserConf"), QString());
    if (Applet *watchDog = peer(QStringLiteral("WatchDog")))
        watchDog->set(QStringLiteral("WDTimeout"), value(QStringLiteral("CR1[8]")), ORIGIN_FORCED);
}
