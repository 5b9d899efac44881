#pragma once

#include <QByteArray>

// Texts that travel as C strings end at their first NUL; what follows is
// padding or garbage, never text.
inline QByteArray upToNul(const QByteArray &bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return nul >= 0 ? bytes.left(nul) : bytes;
}
