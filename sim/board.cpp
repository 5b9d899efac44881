#include "board.h"

#include "options.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t maxAnswers = 1024;
constexpr std::size_t maxEchoedName = 64;
const char *const defaultBaudRate = "115200";

// The motor supply; AIN5 in the table reads it through the divider.
constexpr long supplyMillivolts = 12000;
// Current of one motor driven at full duty.
constexpr long fullCurrentMilliamps = 1500;
const char *const enablePin = "DIO25";
const char *const failSafePin = "DIO22";
const char *const generatorNames[] = {"PWM0", "PWM1"};
const std::string chipRegisterPrefix = "chipCR";

std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t')
            ++j;
        if (j > i)
            out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

// Garbage received must not turn into line ends or binary in our replies.
std::string printable(const std::string &name)
{
    std::string out = name.substr(0, maxEchoedName);
    for (char &c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x21 || u > 0x7e)
            c = '?';
    }
    return out;
}

bool toDecimal(const std::string &text, long &value)
{
    if (text.empty() || text.size() > 10)
        return false;
    long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    value = n;
    return true;
}

bool isValidRate(long rate)
{
    static const long rates[] = {50,     75,     110,    134,    150,    200,   300,   600,
                                 1200,   1800,   2400,   4800,   9600,   19200, 38400, 57600,
                                 115200, 230400, 460800, 500000, 576000, 921600};
    return std::find(std::begin(rates), std::end(rates), rate) != std::end(rates);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

Board::Board(const Options &options) : m_options(options)
{
    reset();
}

void Board::reset()
{
    m_table.reset();
    m_noise.reseed(static_cast<std::uint32_t>(m_options.seed));
    m_answers.clear();
    m_lastAnswer = 0;
    m_baudRate = defaultBaudRate;
    m_generatorRunning = {};
    // The restart drops the enable pin, so the chip powers up afresh.
    m_chip.reset();
    m_chip.setSupplyMillivolts(supplyMillivolts);
    updateChip();
}

std::optional<std::string> Board::execute(const std::string &line)
{
    const std::vector<std::string> w = words(line);
    if (w.size() == 1 && w[0] == "*IDN?")
        return failing(w[0]) ? "*IDN?:err" : m_options.identity;
    if (w.size() < 2 || (w[0] != "set" && w[0] != "get"))
        return std::string("err");

    std::string reply;
    bool speedChange = false;
    for (std::size_t i = 1; i < w.size(); ++i) {
        if (i > 1)
            reply += ' ';
        reply += w[0] == "set" ? setWord(w[i], speedChange) : getWord(w[i]);
    }
    // The other side switches speed without waiting, so a reply would only
    // arrive as garbage at the new speed.
    if (speedChange)
        return std::nullopt;
    return reply;
}

std::string Board::setWord(const std::string &word, bool &speedChange)
{
    const auto eq = word.find('=');
    const std::string name = word.substr(0, eq);
    const bool hasValue = eq != std::string::npos;
    const std::string value = hasValue ? word.substr(eq + 1) : std::string();
    const std::string ok = printable(name) + ":ok";
    const std::string err = printable(name) + ":err";

    if (name == "baudrate") {
        speedChange = true;
        long rate = 0;
        m_baudRate = hasValue && toDecimal(value, rate) && isValidRate(rate) ? value : "invalid";
        return ok;
    }
    if (failing(name))
        return err;
    if (name == "SPI0CS0DATA")
        return hasValue ? setSpiData(value) : err;
    if (name == "flash")
        return hasValue && m_flash.write(value) ? ok : err;
    ParameterTable::Entry *e = m_table.find(name);
    if (!e)
        return err;
    switch (e->kind) {
    case ParameterTable::Kind::Command:
        if (hasValue)
            return err;
        command(name);
        updateChip();
        return ok;
    case ParameterTable::Kind::Reading: return err;
    case ParameterTable::Kind::Value: {
        long n = 0;
        if (!hasValue || !toDecimal(value, n) || n < e->min || n > e->max)
            return err;
        e->value = n;
        updateChip();
        return ok;
    }
    }
    return err;
}

std::string Board::getWord(const std::string &name)
{
    const std::string err = printable(name) + ":err";
    if (failing(name))
        return err;
    if (name == "VER")
        return name + "=" + m_options.version + " " + m_options.buildDate;
    if (name == "SPI0CS0DATA")
        return getSpiData();
    if (name == "baudrate")
        return name + "=" + m_baudRate;
    if (name == "BIG" && m_options.bigReply >= 4)
        return "BIG=" + std::string(static_cast<std::size_t>(m_options.bigReply - 4), 'x');
    if (m_options.chipRegisters && name.compare(0, chipRegisterPrefix.size(), chipRegisterPrefix) == 0)
        return chipRegister(name);
    ParameterTable::Entry *e = m_table.find(name);
    if (!e || e->kind == ParameterTable::Kind::Command)
        return err;
    if (e->kind == ParameterTable::Kind::Reading)
        return name + "=" + reading(name, *e);
    return name + "=" + std::to_string(e->value);
}

std::string Board::setSpiData(const std::string &value)
{
    const std::string err = "SPI0CS0DATA:err";
    if (value.size() != 6 || value.compare(0, 2, "02") != 0)
        return err;
    unsigned frame = 0;
    for (std::size_t i = 2; i < 6; ++i) {
        const int d = hexDigit(value[i]);
        if (d < 0)
            return err;
        frame = frame << 4 | static_cast<unsigned>(d);
    }
    if (m_answers.size() >= maxAnswers)
        m_answers.pop_front();
    m_answers.push_back(m_chip.transfer(static_cast<std::uint16_t>(frame)));
    return "SPI0CS0DATA:ok";
}

std::string Board::getSpiData()
{
    if (!m_answers.empty()) {
        m_lastAnswer = m_answers.front();
        m_answers.pop_front();
    }
    char text[16];
    std::snprintf(text, sizeof text, "02%04X", m_lastAnswer);
    return std::string("SPI0CS0DATA=") + text;
}

// chipCR<address> for CR0..CR4, CR12, CR14; chipCR<address>A or B for
// the halves of CR5..CR8.
std::string Board::chipRegister(const std::string &name)
{
    const std::string err = printable(name) + ":err";
    std::string rest = name.substr(chipRegisterPrefix.size());
    char half = 0;
    if (!rest.empty() && (rest.back() == 'A' || rest.back() == 'B')) {
        half = rest.back();
        rest.pop_back();
    }
    long address = 0;
    std::uint16_t value = 0;
    if (!toDecimal(rest, address) || rest != std::to_string(address) || address > 15 ||
        !m_chip.controlRegister(static_cast<unsigned>(address), half, value))
        return err;
    return name + "=" + std::to_string(value);
}

std::string Board::reading(const std::string &name, const ParameterTable::Entry &entry)
{
    long base = entry.value;
    int spread = entry.noise;
    if (name == "Isen1" || name == "Isen2") {
        base = motorCurrent(name == "Isen1" ? 1 : 2);
        // No current, no sense voltage: an idle motor reads exactly 0.
        if (base == 0)
            return "0";
        spread = static_cast<int>(std::max(1L, base / 100));
    }
    const long v = std::clamp(base + m_noise.offset(spread), entry.min, entry.max);
    return std::to_string(v);
}

void Board::command(const std::string &name)
{
    for (std::size_t g = 0; g < m_generatorRunning.size(); ++g) {
        const std::string p = generatorNames[g];
        if (name == p + "START") {
            m_generatorRunning[g] = true;
        } else if (name == p + "STOP") {
            m_generatorRunning[g] = false;
        } else if (name == p + "CONF") {
            m_generatorRunning[g] = false;
            for (const char *value : {"FREQ", "DUTY"}) {
                ParameterTable::Entry *e = m_table.find(p + value);
                e->value = e->initial;
            }
        }
    }
}

// The chip sees the pins and generator outputs after every change.
void Board::updateChip()
{
    m_chip.setEnablePin(m_table.find(enablePin)->value != 0);
    m_chip.setFailSafePin(m_table.find(failSafePin)->value != 0);
    for (std::size_t g = 0; g < m_generatorRunning.size(); ++g)
        m_chip.setPwmInput(static_cast<int>(g), generatorDuty(static_cast<int>(g)) > 0);
}

long Board::generatorDuty(int generator) const
{
    const auto g = static_cast<std::size_t>(generator);
    if (!m_generatorRunning[g])
        return 0;
    return m_table.find(std::string(generatorNames[g]) + "DUTY")->value;
}

// Motor 1 sits between half-bridges 1 and 3, motor 2 between 2 and 4; it
// draws current only when one side drives high and the other low.
long Board::motorCurrent(int motor) const
{
    const ChipModel::Drive a = m_chip.drive(motor);
    const ChipModel::Drive b = m_chip.drive(motor + 2);
    const ChipModel::Drive *high = nullptr;
    if (a.gate == ChipModel::Gate::High && b.gate == ChipModel::Gate::Low)
        high = &a;
    else if (b.gate == ChipModel::Gate::High && a.gate == ChipModel::Gate::Low)
        high = &b;
    if (!high)
        return 0;
    const long duty = high->pwm ? generatorDuty(high->generator) : 100;
    return fullCurrentMilliamps * duty / 100;
}

bool Board::failing(const std::string &name)
{
    if (m_options.errorNames.count(name) != 0)
        return true;
    return m_options.errorOnceNames.count(name) != 0 && m_erroredOnce.insert(name).second;
}
