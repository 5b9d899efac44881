#pragma once

#include <map>
#include <string>

// The board's named values with their ranges and power-on defaults.
class ParameterTable
{
public:
    enum class Kind
    {
        Value,   // set NAME=N and get NAME
        Command, // set NAME, no value, never read
        Reading  // get NAME only: an ADC reading around value
    };

    struct Entry
    {
        Kind kind = Kind::Value;
        long min = 0;
        long max = 0;
        long initial = 0;
        long value = 0;
        int noise = 0; // reading spread in counts
    };

    ParameterTable();

    void reset();
    Entry *find(const std::string &name);
    const Entry *find(const std::string &name) const;

private:
    void add(const std::string &name, Kind kind, long min, long max, long initial, int noise = 0);

    std::map<std::string, Entry> m_entries;
};
