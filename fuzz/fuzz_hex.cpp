// Loads the input as an Intel HEX file, twice: into a fresh image and into
// one that holds an earlier load. Checks what must hold for any text: a
// failed load leaves the image as it was, a successful one covers exactly
// its bytes with everything past them erased, and the block check value
// agrees with a byte-wise computation of the same register.

#include "link/heximage.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "invariant failed at line %d: %s\n", __LINE__, #condition);                 \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

quint32 tableCheck(const char *data, qsizetype size)
{
    static quint32 table[256];
    static bool ready = false;
    if (!ready) {
        for (quint32 n = 0; n < 256; ++n) {
            quint32 r = n << 24;
            for (int k = 0; k < 8; ++k)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            table[n] = r;
        }
        ready = true;
    }
    quint32 r = 0;
    for (qsizetype i = 0; i < size; ++i)
        r = (r << 8 | quint8(data[i])) ^ table[r >> 24];
    return r;
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
    CHECK((first.status == HexImage::BadFormat) == !text.startsWith(":0"));
    if (first.status == HexImage::Loaded) {
        CHECK(first.message.isEmpty());
        checkLoaded(fresh);
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
        CHECK(HexImage::blockCheck(text.constData() + at, n) == tableCheck(text.constData() + at, n));
    }
    return 0;
}
