// Loads the input as an Intel HEX file, twice: into a fresh image and into
// one that holds an earlier load. Checks what must hold for any text: a
// failed load leaves the image as it was, a successful one covers exactly
// its bytes with everything past them erased, and the block check value
// agrees with the register stepped one bit at a time.

#include "fuzzcheck.h"
#include "link/heximage.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The check value one bit at a time, as the loader defines it.
quint32 bitwiseCheck(const char *data, qsizetype size)
{
    quint32 reg = 0;
    for (qsizetype i = 0; i < size; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = reg & 0x80000000u;
            reg = reg << 1 | ((quint8(data[i]) >> bit) & 1u);
            if (top)
                reg ^= 0x04C11DB7u;
        }
    }
    return reg;
}

// An end-of-file record somewhere: ':', a count, an address, type 01.
bool hasEndRecord(const QByteArray &text)
{
    const auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    };
    for (qsizetype s = text.indexOf(':'); s >= 0; s = text.indexOf(':', s + 1)) {
        const QByteArray head = text.mid(s + 1, 8);
        if (head.size() == 8 && head.endsWith("01") && std::all_of(head.begin(), head.begin() + 6, isHex))
            return true;
    }
    return false;
}

void checkLoaded(const HexImage &image)
{
    CHECK(image.bytes().size() == HexImage::Capacity);
    CHECK(image.length() >= 1 && image.length() <= HexImage::Capacity);
    const char *bytes = image.bytes().constData();
    for (int i = image.length(); i < HexImage::Capacity; ++i)
        CHECK(quint8(bytes[i]) == 0xFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));

    HexImage fresh;
    const HexImage::Result first = fresh.load(text);
    CHECK(first.badRecords >= 0);
    CHECK(first.warnings.size() <= HexImage::MaxWarnings + 1);
    if (!text.startsWith(':'))
        CHECK(first.status == HexImage::BadFormat);
    if (first.status == HexImage::Loaded) {
        CHECK(first.message.isEmpty());
        // Only a file with its end-of-file record loads.
        CHECK(hasEndRecord(text));
        checkLoaded(fresh);
        CHECK(fresh.lastAddress() - fresh.firstAddress() == quint32(fresh.length() - 1));
    } else {
        CHECK(!first.message.isEmpty());
        CHECK(fresh.length() == 0);
        CHECK(fresh.bytes() == QByteArray(HexImage::Capacity, char(0xFF)));
    }

    // Over an earlier image: the same outcome, and a failure keeps it whole.
    HexImage used;
    CHECK(used.load(":0400000001020304F2\n:00000001FF\n").status == HexImage::Loaded);
    const QByteArray before = used.bytes();
    const HexImage::Result second = used.load(text);
    CHECK(second.status == first.status && second.badRecords == first.badRecords);
    if (second.status == HexImage::Loaded) {
        CHECK(used.length() == fresh.length() && used.bytes() == fresh.bytes());
        CHECK(used.firstAddress() == fresh.firstAddress());
    } else {
        CHECK(used.length() == 4 && used.bytes() == before);
    }

    // The check value over the raw input, in pieces as the flash lines take it.
    for (qsizetype at = 0; at < text.size(); at += 256) {
        const qsizetype n = qMin<qsizetype>(256, text.size() - at);
        CHECK(HexImage::blockCheck(text.constData() + at, n) == bitwiseCheck(text.constData() + at, n));
    }
    return 0;
}
