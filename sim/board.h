#pragma once

#include "chipmodel.h"
#include "flashmemory.h"
#include "noise.h"
#include "parametertable.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

class Options;

// The firmware's command interpreter: one command line in, at most one
// reply line out. Knows nothing of bytes, time or the terminal.
class Board
{
public:
    explicit Board(const Options &options);

    // The reply without its line end; nothing for lines that get no reply
    // (the speed change).
    std::optional<std::string> execute(const std::string &line);
    // A firmware restart: every value back to its default; the flash stays.
    void reset();
    const FlashMemory &flash() const { return m_flash; }

private:
    std::string setWord(const std::string &word, bool &speedChange);
    std::string getWord(const std::string &name);
    std::string setSpiData(const std::string &value);
    std::string getSpiData();
    std::string chipRegister(const std::string &name);
    std::string reading(const std::string &name, const ParameterTable::Entry &entry);
    void command(const std::string &name);
    void updateChip();
    long motorCurrent(int motor) const;
    long generatorDuty(int generator) const;
    bool failing(const std::string &name);

    const Options &m_options;
    ParameterTable m_table;
    ChipModel m_chip;
    FlashMemory m_flash;
    Noise m_noise;
    // The chip's answers to frames not yet read back, oldest first.
    std::deque<std::uint16_t> m_answers;
    std::uint16_t m_lastAnswer = 0;
    std::string m_baudRate;
    // PWM0 and PWM1; frequency and duty live in the table.
    std::array<bool, 2> m_generatorRunning{};
    // Names whose one injected error was given (--error-once).
    std::set<std::string> m_erroredOnce;
};
