#pragma once

#include <QString>
#include <QStringView>

// Small text conversions shared by the register and variable description parsers.
// The numbers follow the C library conversions the description texts were written
// for, but never overflow: out-of-range values saturate.
namespace ModelText {

// Splits "text key=value" at the first run of word characters (letters, digits,
// '_') that is directly followed by '='; key and value come back trimmed.
// False when the piece holds no such run.
bool splitKeyValue(QStringView piece, QString &key, QString &value);

// Leading decimal integer as atoi reads it (white space, sign, digits), clamped to int.
int toInt(QStringView text);

// Unsigned number as strtoul reads it: after a "0x" prefix the hexadecimal
// digits, otherwise a decimal number. Values beyond 32 bits give 0xFFFFFFFF;
// a minus sign negates modulo 2^32.
quint32 toUIntAuto(QStringView text);

} // namespace ModelText
