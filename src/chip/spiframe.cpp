#include "chip/spiframe.h"

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

} // namespace

namespace SpiFrame {

const QList<WriteRule> &writeRules()
{
    static const QList<WriteRule> rules = {
        {"CR0", 0, -1, -1, 0},  {"CR1", 1, -1, -1, 0},  {"CR2", 2, 7, 10, 0},   {"CR3", 3, 10, 10, 0},
        {"CR4", 4, -1, -1, 0},  {"CR5A", 5, 10, 10, 0}, {"CR5B", 5, 10, 10, 1}, {"CR6A", 6, 10, 10, 0},
        {"CR6B", 6, 10, 10, 1}, {"CR7A", 7, 10, 10, 0}, {"CR7B", 7, 10, 10, 1}, {"CR8A", 8, 10, 10, 0},
        {"CR8B", 8, 10, 10, 1}, {"CR12", 12, 8, 10, 0}, {"CR14", 14, 7, 10, 0},
    };
    return rules;
}

const WriteRule &writeRule(Control control)
{
    return writeRules().at(int(control));
}

const WriteRule *writeRule(const QString &name)
{
    for (const WriteRule &rule : writeRules()) {
        if (name == QLatin1String(rule.name))
            return &rule;
    }
    return nullptr;
}

bool controlNamed(const QString &name, Control *control)
{
    const WriteRule *rule = writeRule(name);
    if (!rule)
        return false;
    *control = Control(rule - writeRules().constData());
    return true;
}

uint forcedValue(const WriteRule &rule, uint value)
{
    if (rule.forcedLo < 0)
        return value;
    const uint mask = ((1u << (rule.forcedHi - rule.forcedLo + 1)) - 1u) << rule.forcedLo;
    return (value & ~mask) | ((rule.forced << rule.forcedLo) & mask);
}

bool writeFrame(const QString &name, uint value, quint16 *frame)
{
    const WriteRule *rule = writeRule(name);
    if (!rule)
        return false;
    *frame = SpiFrame::frame(rule->address, 0, forcedValue(*rule, value));
    return true;
}

quint16 frame(int address, uint watchdog, uint data)
{
    return quint16(((address & 0xF) << 12) | ((watchdog & 1) << 11) | (data & 0x7FF));
}

QByteArray dataValue(quint16 frame)
{
    return "02" + QByteArray::number(frame >> 8 & 0xFF, 16).rightJustified(2, '0') +
           QByteArray::number(frame & 0xFF, 16).rightJustified(2, '0');
}

void appendChainWord(QByteArray &chain, quint16 frame)
{
    static const char digits[] = "0123456789abcdef";
    char word[] = " SPI0CS0DATA=02....";
    for (int i = 0; i < 4; ++i)
        word[15 + i] = digits[(frame >> (12 - 4 * i)) & 0xF];
    chain.append(word, qsizetype(sizeof word) - 1);
}

QByteArray chainReadRequest(QByteArrayView chain)
{
    QByteArray request("get");
    forEachPair(chain, [&request](QByteArrayView name, QByteArrayView) {
        request += ' ';
        request += name;
    });
    return request;
}

QList<uint> chainAnswers(QByteArrayView reply)
{
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
    return answers;
}

bool isStatusAddress(uint address)
{
    return address == 0 || address == 1 || address == 3 || address == 4 || address == 5 || address == 7;
}

} // namespace SpiFrame
