#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// A firmware image read from Intel HEX text. Index 0 holds the first byte of
// the first data record; bytes no record covers read 0xFF (erased flash).
// Addresses are 32 bits: an extended linear address (type 04) sets the upper
// 16 bits, an extended segment address (type 02) adds segment * 16. A load
// that fails leaves the previous image as it was.
class HexImage
{
public:
    static constexpr int Capacity = 200000;

    enum Status
    {
        Loaded,
        // The text does not begin with a record that reads (":", then the
        // digits of its count, address, type, data and checksum).
        BadFormat,
        // A record's bytes fall before the first data address or past the
        // image (also two regions far apart).
        OutOfImage,
        // Valid records, but not one data byte.
        NoData,
        // No end-of-file record: the file was cut short.
        NoEndRecord,
        // Records after the end-of-file record: files joined together.
        AfterEndRecord
    };

    // At most this many unknown record types are named one by one.
    static constexpr int MaxWarnings = 10;

    struct Result
    {
        Status status = BadFormat;
        // Records with a wrong checksum, or too short or not hexadecimal;
        // a load still completes with them.
        int badRecords = 0;
        QString message;
        // Records of an unknown type, skipped; the load still completes.
        QStringList warnings;
    };

    HexImage();

    Result load(const QByteArray &text);

    const QByteArray &bytes() const { return m_bytes; }
    // Bytes loaded, from index 0 to the highest index stored.
    int length() const { return m_length; }
    // Address of the first data byte (extension and record address).
    quint32 firstAddress() const { return m_firstAddress; }
    // Address of the last byte of the image, firstAddress() + length() - 1.
    quint32 lastAddress() const { return m_firstAddress + quint32(qMax(m_length, 1) - 1); }

    // The block check value: a 32-bit register fed with the data bits, most
    // significant first, and the polynomial 0x04C11DB7; no reflection, no
    // final inversion, no appended zero bits.
    static quint32 blockCheck(const char *data, qsizetype size);

private:
    QByteArray m_bytes;
    int m_length = 0;
    quint32 m_firstAddress = 0;
};
