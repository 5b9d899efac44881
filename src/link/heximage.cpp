#include "link/heximage.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// False when the digits run past the text or are not hexadecimal.
bool readHex(const QByteArray &text, qsizetype pos, int digits, quint32 &value)
{
    if (pos < 0 || pos + digits > text.size())
        return false;
    quint32 v = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = hexValue(text.at(pos + i));
        if (d < 0)
            return false;
        v = v << 4 | quint32(d);
    }
    value = v;
    return true;
}

QString hex8(quint64 value)
{
    return QLatin1String("0x") + QString::number(value, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

struct Record
{
    quint32 count = 0;
    quint32 address = 0;
    quint32 type = 0;
    QByteArray data;
    bool checksumOk = false;
};

// The record whose ':' stands at s; false when it is cut short or not hexadecimal.
bool readRecord(const QByteArray &text, qsizetype s, Record &r)
{
    if (!readHex(text, s + 1, 2, r.count) || !readHex(text, s + 3, 4, r.address) ||
        !readHex(text, s + 7, 2, r.type))
        return false;
    r.data.resize(qsizetype(r.count));
    quint32 sum = r.count + (r.address & 0xFF) + (r.address >> 8) + r.type;
    for (quint32 i = 0; i < r.count; ++i) {
        quint32 byte = 0;
        if (!readHex(text, s + 9 + 2 * qsizetype(i), 2, byte))
            return false;
        r.data[qsizetype(i)] = char(byte);
        sum += byte;
    }
    quint32 checksum = 0;
    if (!readHex(text, s + 9 + 2 * qsizetype(r.count), 2, checksum))
        return false;
    r.checksumOk = checksum == ((0u - sum) & 0xFF);
    return true;
}

quint32 word(const QByteArray &data)
{
    return quint32(quint8(data.at(0))) << 8 | quint8(data.at(1));
}

} // namespace

HexImage::HexImage() : m_bytes(Capacity, char(0xFF)) {}

HexImage::Result HexImage::load(const QByteArray &text)
{
    Result result;
    // Any file whose first record reads is taken for HEX; files made for
    // this board start with an address record, others with data.
    Record first;
    if (!text.startsWith(':') || !readRecord(text, 0, first)) {
        result.status = BadFormat;
        result.message = QStringLiteral("bad HEX file format!");
        return result;
    }

    // Built apart and taken over only when the whole text was accepted, and
    // erased first, so that no byte of an earlier image comes along.
    QByteArray image(Capacity, char(0xFF));
    quint64 extension = 0;
    bool haveBase = false;
    quint64 base = 0;
    qint64 highest = -1;
    bool ended = false;
    int unknown = 0;
    int line = 1;
    qsizetype counted = 0;

    // Every ':' starts a record, whatever the line structure.
    for (qsizetype s = text.indexOf(':'); s >= 0; s = text.indexOf(':', s + 1)) {
        if (ended) {
            result.status = AfterEndRecord;
            result.message = QStringLiteral("The HEX file goes on after its end-of-file record (files joined "
                                            "together?); nothing loaded.");
            return result;
        }
        Record r;
        if (!readRecord(text, s, r)) {
            ++result.badRecords;
            continue;
        }
        if (!r.checksumOk)
            ++result.badRecords;

        switch (r.type) {
        case 0x00: {
            if (r.count == 0)
                break;
            const quint64 linear = extension + r.address;
            if (!haveBase) {
                haveBase = true;
                base = linear;
            }
            if (linear < base) {
                result.status = OutOfImage;
                result.message = QStringLiteral("HEX record at address %1 lies before the first data "
                                                "address %2; nothing loaded.")
                                     .arg(hex8(linear), hex8(base));
                return result;
            }
            const quint64 index = linear - base;
            if (index + r.count > quint64(Capacity)) {
                result.status = OutOfImage;
                result.message = QStringLiteral("HEX record at address %1 reaches beyond the %2-byte "
                                                "firmware image; nothing loaded.")
                                     .arg(hex8(linear))
                                     .arg(Capacity);
                return result;
            }
            std::memcpy(image.data() + index, r.data.constData(), r.count);
            highest = std::max<qint64>(highest, qint64(index + r.count - 1));
            break;
        }
        case 0x01: ended = true; break;
        case 0x02:
        case 0x04:
            if (r.count < 2) {
                // The address the record should carry is missing.
                if (r.checksumOk)
                    ++result.badRecords;
                break;
            }
            extension = r.type == 0x02 ? quint64(word(r.data)) << 4 : quint64(word(r.data)) << 16;
            break;
        case 0x03:
        case 0x05:
            // Start addresses: the board's loader has no use for them.
            break;
        default:
            if (++unknown <= MaxWarnings) {
                line += int(std::count(text.constBegin() + counted, text.constBegin() + s, '\n'));
                counted = s;
                result.warnings.append(
                    QStringLiteral("HEX record of unknown type %1 on line %2 skipped.")
                        .arg(QString::number(r.type, 16).toUpper().rightJustified(2, QLatin1Char('0')))
                        .arg(line));
            }
            break;
        }
    }
    if (unknown > MaxWarnings)
        result.warnings.append(
            QStringLiteral("%1 more HEX records of unknown type skipped.").arg(unknown - MaxWarnings));

    if (!ended) {
        result.status = NoEndRecord;
        result.message = QStringLiteral("The HEX file ends without its end-of-file record (cut short?); "
                                        "nothing loaded.");
        return result;
    }
    if (highest < 0) {
        result.status = NoData;
        result.message = QStringLiteral("The HEX file holds no data; nothing loaded.");
        return result;
    }
    m_bytes = image;
    m_length = int(highest + 1);
    m_firstAddress = quint32(base);
    result.status = Loaded;
    return result;
}

quint32 HexImage::blockCheck(const char *data, qsizetype size)
{
    // Eight single-bit steps at once: the register's top byte decides what
    // the polynomial adds while the next data byte is shifted in.
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 reg = n << 24;
            for (int bit = 0; bit < 8; ++bit)
                reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
            t[n] = reg;
        }
        return t;
    }();
    quint32 reg = 0;
    for (qsizetype i = 0; i < size; ++i)
        reg = (reg << 8 | quint8(data[i])) ^ table[reg >> 24];
    return reg;
}
