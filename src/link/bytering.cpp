#include "link/bytering.h"

ByteRing::ByteRing(int capacity) : m_storage(qMax(capacity, 1), '\0') {}

void ByteRing::clear()
{
    m_readPos = m_writePos = m_count = 0;
}

int ByteRing::write(const QByteArray &bytes)
{
    const int cap = capacity();
    const int n = qMin(int(bytes.size()), cap - m_count);
    char *data = m_storage.data();
    for (int i = 0; i < n; ++i) {
        data[m_writePos] = bytes.at(i);
        m_writePos = (m_writePos + 1) % cap;
    }
    m_count += n;
    return n;
}

QByteArray ByteRing::read(int n)
{
    const int cap = capacity();
    n = qBound(0, n, m_count);
    QByteArray out(n, Qt::Uninitialized);
    const char *data = m_storage.constData();
    for (int i = 0; i < n; ++i) {
        out[i] = data[m_readPos];
        m_readPos = (m_readPos + 1) % cap;
    }
    m_count -= n;
    return out;
}

QByteArray ByteRing::readLine(bool &found)
{
    const int cap = capacity();
    const char *data = m_storage.constData();
    for (int i = 0; i < m_count; ++i) {
        const char c = data[(m_readPos + i) % cap];
        if (c == '\r' || c == '\n') {
            found = true;
            return read(i + 1);
        }
    }
    found = false;
    return QByteArray();
}

QByteArray ByteRing::readAll()
{
    return read(m_count);
}
