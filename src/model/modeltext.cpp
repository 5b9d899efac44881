#include "model/modeltext.h"

#include <limits>

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

bool isCSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'z')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'Z')
        return u - u'A' + 10;
    return 99;
}

// Skips white space and a sign; returns the index of the first digit.
qsizetype skipSpaceAndSign(QStringView text, bool &negative)
{
    qsizetype i = 0;
    while (i < text.size() && isCSpace(text[i]))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    return i;
}

// Reads digits up to the first non-digit, saturating at 32 bits.
quint32 unsignedDigits(QStringView digits, int base, bool negative)
{
    quint64 result = 0;
    for (QChar c : digits) {
        const int d = digitValue(c);
        if (d >= base)
            break;
        result = result * quint64(base) + quint64(d);
        if (result > std::numeric_limits<quint32>::max())
            return std::numeric_limits<quint32>::max();
    }
    const quint32 magnitude = quint32(result);
    return negative ? quint32(0u - magnitude) : magnitude;
}

} // namespace

namespace ModelText {

bool splitKeyValue(QStringView piece, QString &key, QString &value)
{
    for (qsizetype eq = 1; eq < piece.size(); ++eq) {
        if (piece[eq] != u'=' || !isWordChar(piece[eq - 1]))
            continue;
        qsizetype start = eq - 1;
        while (start > 0 && isWordChar(piece[start - 1]))
            --start;
        key = piece.mid(start, eq - start).toString();
        value = piece.mid(eq + 1).trimmed().toString();
        return true;
    }
    return false;
}

int toInt(QStringView text)
{
    bool negative = false;
    qint64 result = 0;
    for (qsizetype i = skipSpaceAndSign(text, negative); i < text.size(); ++i) {
        const int d = digitValue(text[i]);
        if (d > 9)
            break;
        // Past the int range the result is clamped anyway; stop growing it.
        if (result <= qint64(std::numeric_limits<int>::max()) + 1)
            result = result * 10 + d;
    }
    if (negative)
        result = -result;
    if (result > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (result < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(result);
}

quint32 toUIntAuto(QStringView text)
{
    if (text.startsWith(u"0x"))
        return unsignedDigits(text.mid(2), 16, false);
    bool negative = false;
    const qsizetype first = skipSpaceAndSign(text, negative);
    return unsignedDigits(text.mid(first), 10, negative);
}

} // namespace ModelText
