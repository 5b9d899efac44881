#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The chip's SPI frames and how they travel as board commands. A frame to
// the chip: address [15:12], watchdog bit [11], data [10:0]. An answer:
// status address [15:13], normal mode [12], data [11:0].
namespace SpiFrame {

// The control registers, each written by a frame of its own.
enum Control
{
    CR0,
    CR1,
    CR2,
    CR3,
    CR4,
    CR5A,
    CR5B,
    CR6A,
    CR6B,
    CR7A,
    CR7B,
    CR8A,
    CR8B,
    CR12,
    CR14
};

// How a control register's write builds its frame: the SPI address, after
// bits forcedLo..forcedHi were set to forced (reserved bits to 0, D10
// naming the half of CR5 to CR8); forcedLo -1 forces none.
struct WriteRule
{
    const char *name;
    int address;
    int forcedLo;
    int forcedHi;
    uint forced;
};

// In the order of Control.
const QList<WriteRule> &writeRules();
const WriteRule &writeRule(Control control);
const WriteRule *writeRule(const QString &name);
// The control register of this name; false for any other name.
bool controlNamed(const QString &name, Control *control);
// The value with the rule's forced bits applied.
uint forcedValue(const WriteRule &rule, uint value);
// The frame a write of the register sends for this value, with the
// watchdog bit 0; false for a register without one.
bool writeFrame(const QString &name, uint value, quint16 *frame);

// The frame's address that reads without writing.
constexpr int ReadAddress = 13;
quint16 frame(int address, uint watchdog, uint data);

// The board command's value for one frame on chip select 0 ("02" and four
// hex digits).
QByteArray dataValue(quint16 frame);
// One word of a chained "set" line (" SPI0CS0DATA=02xxxx").
void appendChainWord(QByteArray &chain, quint16 frame);
// The "get" line that reads back the answers of a chain.
QByteArray chainReadRequest(QByteArrayView chain);
// The answers a chain's reply carries, in order; zero answers are none.
QList<uint> chainAnswers(QByteArrayView reply);

// Status registers that exist: answers for 2 and 6 land nowhere.
bool isStatusAddress(uint address);
inline uint answerAddress(uint answer)
{
    return (answer >> 13) & 0x7;
}

} // namespace SpiFrame
