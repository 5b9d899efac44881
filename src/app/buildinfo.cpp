#include "app/buildinfo.h"

namespace BuildInfo {

namespace {

// The compiler pads a one-digit day with a blank ("Dec  1 2026"); the
// shown form pads with a zero.
QString normalisedDate(const char *date)
{
    QString text = QString::fromLatin1(date);
    if (text.size() == 11 && text.at(4) == QLatin1Char(' '))
        text[4] = QLatin1Char('0');
    return text;
}

QString &storedDate()
{
    static QString date = normalisedDate(__DATE__);
    return date;
}

QString &storedTime()
{
    static QString time = QString::fromLatin1(__TIME__);
    return time;
}

} // namespace

void set(const char *date, const char *time)
{
    storedDate() = normalisedDate(date);
    storedTime() = QString::fromLatin1(time);
}

QString date()
{
    return storedDate();
}

QString time()
{
    return storedTime();
}

} // namespace BuildInfo
