#pragma once

#include <cstddef>
#include <string>

// Splits the byte stream from the PC into control bytes and command lines.
// The line buffer is bounded so that no input can make it grow without end.
class LineReader
{
public:
    enum class Event
    {
        None,
        Enq,     // presence query
        Can,     // one CAN byte, not yet the sixth in a row
        Restart, // the sixth CAN byte in a row
        Line,    // line() holds a complete, non-empty command line
        LongLine // a line longer than the bound ended; its bytes are gone
    };

    static constexpr unsigned char enq = 0x05;
    static constexpr unsigned char can = 0x18;
    static constexpr std::size_t defaultMaxLine = 64 * 1024;

    explicit LineReader(std::size_t maxLine = defaultMaxLine);

    Event push(unsigned char byte);
    const std::string &line() const { return m_line; }
    void clear();

private:
    std::size_t m_maxLine;
    std::string m_buffer;
    std::string m_line;
    bool m_overflow = false;
    int m_cans = 0;
};
