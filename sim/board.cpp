#include "board.h"

#include "options.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t maxAnswers = 1024;
constexpr std::size_t maxEchoedName = 64;
const char *const defaultBaudRate = "115200";

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
    static const long rates[] = {50,    75,    110,   134,    150,    200,    300,    600,
                                 1200,  1800,  2400,  4800,   9600,   19200,  38400,  57600,
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

Board::Board(const Options &options)
    : m_options(options)
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
    ParameterTable::Entry *e = m_table.find(name);
    if (!e)
        return err;
    switch (e->kind) {
    case ParameterTable::Kind::Command:
        return hasValue ? err : ok;
    case ParameterTable::Kind::Reading:
        return err;
    case ParameterTable::Kind::Value: {
        long n = 0;
        if (!hasValue || !toDecimal(value, n) || n < e->min || n > e->max)
            return err;
        e->value = n;
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
    ParameterTable::Entry *e = m_table.find(name);
    if (!e || e->kind == ParameterTable::Kind::Command)
        return err;
    if (e->kind == ParameterTable::Kind::Reading)
        return name + "=" + reading(*e);
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

std::string Board::reading(const ParameterTable::Entry &entry)
{
    const long v = std::clamp(entry.value + m_noise.offset(entry.noise), entry.min, entry.max);
    return std::to_string(v);
}

bool Board::failing(const std::string &name) const
{
    return m_options.errorNames.count(name) != 0;
}
