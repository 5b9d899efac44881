#pragma once

#include <QByteArray>

// Fixed-capacity circular byte buffer; what does not fit is dropped.
// Not thread-safe: its owner guards it.
class ByteRing
{
public:
    explicit ByteRing(int capacity);

    void clear();
    int write(const QByteArray &bytes);
    QByteArray read(int n);
    // Everything up to and including the first CR or LF, or nothing (and
    // found false) while no line end is buffered.
    QByteArray readLine(bool &found);
    QByteArray readAll();

    int count() const { return m_count; }
    int capacity() const { return m_storage.size(); }
    bool isEmpty() const { return m_count == 0; }
    bool isFull() const { return m_count == capacity(); }

private:
    QByteArray m_storage;
    int m_readPos = 0;
    int m_writePos = 0;
    int m_count = 0;
};
