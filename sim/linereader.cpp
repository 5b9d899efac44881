#include "linereader.h"

LineReader::LineReader(std::size_t maxLine) : m_maxLine(maxLine) {}

LineReader::Event LineReader::push(unsigned char byte)
{
    if (byte == can) {
        if (++m_cans == 6) {
            m_cans = 0;
            return Event::Restart;
        }
        return Event::Can;
    }
    m_cans = 0;
    if (byte == enq)
        return Event::Enq;
    if (byte == '\r' || byte == '\n') {
        if (m_overflow) {
            m_overflow = false;
            return Event::LongLine;
        }
        // CR LF leaves an empty line behind the CR: ignored like any other.
        if (m_buffer.empty())
            return Event::None;
        m_line.swap(m_buffer);
        m_buffer.clear();
        return Event::Line;
    }
    if (m_overflow)
        return Event::None;
    if (m_buffer.size() >= m_maxLine) {
        m_overflow = true;
        std::string().swap(m_buffer);
        return Event::None;
    }
    m_buffer.push_back(static_cast<char>(byte));
    return Event::None;
}

void LineReader::clear()
{
    std::string().swap(m_buffer);
    m_line.clear();
    m_overflow = false;
    m_cans = 0;
}
