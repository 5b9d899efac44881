#include "parametertable.h"

ParameterTable::ParameterTable()
{
    add("SPI0CS0CONF", Kind::Command, 0, 0, 0);
    add("SPI0CS0SPEED", Kind::Value, 1, 50000000, 1000000);
    add("SPI0CS0CPOL", Kind::Value, 0, 1, 0);
    add("SPI0CS0NCPHA", Kind::Value, 0, 1, 0);
    add("q913rem", Kind::Value, 0, 1, 0);
    for (const char *pwm : {"PWM0", "PWM1"}) {
        const std::string p = pwm;
        add(p + "CONF", Kind::Command, 0, 0, 0);
        add(p + "START", Kind::Command, 0, 0, 0);
        add(p + "STOP", Kind::Command, 0, 0, 0);
        add(p + "FREQ", Kind::Value, 1, 1000000, 20000);
        add(p + "DUTY", Kind::Value, 0, 100, 50);
    }
    // DIO25 enables the chip: on from the start, so the chip is powered.
    for (int i = 0; i < 32; ++i)
        add("DIO" + std::to_string(i), Kind::Value, 0, 1, i == 25 ? 1 : 0);
    // Motor currents in mA, worked out by the board from the chip's outputs.
    add("Isen1", Kind::Reading, 0, 65535, 0);
    add("Isen2", Kind::Reading, 0, 65535, 0);
    // 512 x 3000 x 16 / 2048000 = 12 V of supply.
    add("AIN5", Kind::Reading, 0, 1023, 512, 2);
    add("AINREF", Kind::Reading, 0, 65535, 3000);
    add("WDen", Kind::Value, 0, 1, 0);
    add("WDtime", Kind::Value, 1, 65535, 20);
}

void ParameterTable::reset()
{
    for (auto &[name, entry] : m_entries)
        entry.value = entry.initial;
}

ParameterTable::Entry *ParameterTable::find(const std::string &name)
{
    const auto it = m_entries.find(name);
    return it == m_entries.end() ? nullptr : &it->second;
}

const ParameterTable::Entry *ParameterTable::find(const std::string &name) const
{
    const auto it = m_entries.find(name);
    return it == m_entries.end() ? nullptr : &it->second;
}

void ParameterTable::add(const std::string &name, Kind kind, long min, long max, long initial, int noise)
{
    Entry e;
    e.kind = kind;
    e.min = min;
    e.max = max;
    e.initial = initial;
    e.value = initial;
    e.noise = noise;
    m_entries[name] = e;
}
