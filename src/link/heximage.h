#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// A firmware image read from Intel HEX text. Index 0 holds the first byte of
// the first data record; bytes no record covers read 0xFF (erased flash).
// A load that fails leaves the previous image as it was.
class HexImage
{
public:
    static constexpr int Capacity = 200000;

    enum Status
    {
        Loaded,
        // The text does not begin with ":0".
        BadFormat,
        // A record's bytes fall before the first data address or past the image.
        OutOfImage,
        // An extended segment address other than 0.
        UnsupportedSegment,
        // Valid records, but not one data byte.
        NoData
    };

    struct Result
    {
        Status status = BadFormat;
        // Records with a wrong checksum, or too short or not hexadecimal;
        // a load still completes with them.
        int badRecords = 0;
        QString message;
    };

    HexImage();

    Result load(const QByteArray &text);

    const QByteArray &bytes() const { return m_bytes; }
    // Bytes loaded, from index 0 to the highest index stored.
    int length() const { return m_length; }
    // Address of the first data byte (extension and record address).
    quint32 firstAddress() const { return m_firstAddress; }

    // The block check value: a 32-bit register fed with the data bits, most
    // significant first, and the polynomial 0x04C11DB7; no reflection, no
    // final inversion, no appended zero bits.
    static quint32 blockCheck(const char *data, qsizetype size);

private:
    QByteArray m_bytes;
    int m_length = 0;
    quint32 m_firstAddress = 0;
};
