#include "applet/registerfile.h"
#include "util/bytes.h"

#include <QStringList>

QByteArray RegisterFile::compose(const QList<Line> &lines)
{
    QByteArray text;
    for (const Line &line : lines)
        text += line.name.toLatin1() + "::" + line.bits + '\n';
    return text;
}

QList<RegisterFile::Line> RegisterFile::parse(const QByteArray &text)
{
    const QByteArray bytes = upToNul(text);
    QList<Line> lines;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QStringList pieces = QString::fromLatin1(line).split(QStringLiteral("::"));
        if (pieces.size() == 2)
            lines.append({pieces.at(0), pieces.at(1).toLatin1()});
    }
    return lines;
}

QString RegisterFile::fileName(const QString &chosen, const QString &appletName)
{
    const QString own = QLatin1Char('.') + appletName;
    // Picked from the files this applet wrote already.
    if (chosen.endsWith(QLatin1String(".101") + own))
        return chosen;
    return (chosen.endsWith(QLatin1String(".101")) ? chosen : chosen + QLatin1String(".101")) + own;
}
