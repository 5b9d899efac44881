#include "link/bytering.h"

#include <algorithm>
#include <cstring>

ByteRing::ByteRing(int capacity) : m_storage(qMax(capacity, 1), '\0') {}

void ByteRing::clear()
{
    m_readPos = m_writePos = m_count = 0;
}

// Replies pass through here byte for byte: copies and scans go by the two
// contiguous pieces of the ring, never a byte and a division at a time.
int ByteRing::write(const QByteArray &bytes)
{
    const int cap = capacity();
    const int n = qMin(int(bytes.size()), cap - m_count);
    char *data = m_storage.data();
    const int first = qMin(n, cap - m_writePos);
    std::memcpy(data + m_writePos, bytes.constData(), size_t(first));
    std::memcpy(data, bytes.constData() + first, size_t(n - first));
    m_writePos = (m_writePos + n) % cap;
    m_count += n;
    return n;
}

QByteArray ByteRing::read(int n)
{
    const int cap = capacity();
    n = qBound(0, n, m_count);
    QByteArray out(n, Qt::Uninitialized);
    const char *data = m_storage.constData();
    const int first = qMin(n, cap - m_readPos);
    std::memcpy(out.data(), data + m_readPos, size_t(first));
    std::memcpy(out.data() + first, data, size_t(n - first));
    m_readPos = (m_readPos + n) % cap;
    m_count -= n;
    return out;
}

QByteArray ByteRing::readLine(bool &found)
{
    const int cap = capacity();
    const char *data = m_storage.constData();
    const auto isEnd = [](char c) { return c == '\r' || c == '\n'; };
    const int first = qMin(m_count, cap - m_readPos);
    const char *begin = data + m_readPos;
    const char *hit = std::find_if(begin, begin + first, isEnd);
    int length = int(hit - begin);
    if (hit == begin + first) {
        const char *wrapped = std::find_if(data, data + (m_count - first), isEnd);
        length = first + int(wrapped - data);
    }
    if (length < m_count) {
        found = true;
        return read(length + 1);
    }
    found = false;
    return QByteArray();
}

QByteArray ByteRing::readAll()
{
    return read(m_count);
}
