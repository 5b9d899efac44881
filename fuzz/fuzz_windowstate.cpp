// Reads the input as the window-state file. Checks what must hold for any
// text: every window taken lies within the bounds, its rectangle's far edge
// is an int (the sanitizer sees any overflow), and the state written out
// again reads back the same.

#include "app/windowstatefile.h"
#include "fuzzcheck.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const WindowStateFile state = WindowStateFile::parse(text);

    constexpr int max = WindowStateFile::MaxCoordinate;
    for (const WindowStateFile::Window &w : state.windows) {
        const QRect &r = w.geometry;
        CHECK(r.x() >= -max && r.x() <= max && r.y() >= -max && r.y() <= max);
        CHECK(r.width() >= 0 && r.width() <= max && r.height() >= 0 && r.height() <= max);
        CHECK(r.right() - r.x() == r.width() - 1 && r.bottom() - r.y() == r.height() - 1);
        CHECK(!w.name.contains(QLatin1Char(',')) && !w.name.contains(QLatin1Char('\n')));
    }

    const QByteArray written = state.compose();
    const WindowStateFile again = WindowStateFile::parse(written);
    CHECK(again.mainGeometry == state.mainGeometry);
    // A name ending in CR loses it as part of a line end.
    QList<WindowStateFile::Window> kept;
    for (const WindowStateFile::Window &w : state.windows) {
        if (!w.name.endsWith(QLatin1Char('\r')))
            kept.append(w);
    }
    if (kept.size() == state.windows.size())
        CHECK(again.windows == state.windows);
    CHECK(again.compose() == written);
    return 0;
}
