#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>

// Intel HEX text for tests, written out here rather than taken from the
// loader under test.
namespace HexFile {

inline QByteArray record(int type, int address, const QByteArray &data)
{
    QByteArray bytes;
    bytes += char(data.size());
    bytes += char(address >> 8);
    bytes += char(address);
    bytes += char(type);
    bytes += data;
    quint8 sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    bytes += char(quint8(0x100 - sum));
    return ':' + bytes.toHex().toUpper() + '\n';
}

inline QByteArray data(int address, const QByteArray &bytes)
{
    return record(0, address, bytes);
}

inline QByteArray linear(int upper)
{
    QByteArray value;
    value += char(upper >> 8);
    value += char(upper);
    return record(4, 0, value);
}

inline QByteArray segment(int paragraph)
{
    QByteArray value;
    value += char(paragraph >> 8);
    value += char(paragraph);
    return record(2, 0, value);
}

inline QByteArray endOfFile()
{
    return QByteArrayLiteral(":00000001FF\n");
}

// bytes placed from the 32-bit address start on, perRecord bytes a record,
// with an extended linear address record wherever the upper half changes.
inline QByteArray image(const QByteArray &bytes, quint32 start, int perRecord = 16)
{
    QByteArray out;
    qint64 upper = -1;
    for (qsizetype i = 0; i < bytes.size();) {
        const quint32 address = start + quint32(i);
        if (qint64(address >> 16) != upper) {
            upper = address >> 16;
            out += linear(int(upper));
        }
        const qsizetype n = std::min<qsizetype>(
            {qsizetype(perRecord), bytes.size() - i, qsizetype(0x10000 - (address & 0xFFFF))});
        out += data(int(address & 0xFFFF), bytes.mid(i, n));
        i += n;
    }
    return out + endOfFile();
}

} // namespace HexFile
