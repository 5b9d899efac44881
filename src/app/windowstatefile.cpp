#include "app/windowstatefile.h"

#include "app/workspacefile.h"

QByteArray WindowStateFile::compose() const
{
    QByteArray text = mainGeometry.toHex() + '\n';
    for (const Window &w : windows) {
        // One arg() for all: chained, a '%' in the name would be filled in.
        text += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
                    .arg(w.name, QString::number(w.geometry.x()), QString::number(w.geometry.y()),
                         QString::number(w.geometry.width()), QString::number(w.geometry.height()),
                         QString::number(w.visible ? 1 : 0))
                    .toLatin1();
    }
    return text;
}

WindowStateFile WindowStateFile::parse(const QByteArray &text)
{
    WindowStateFile state;
    const QList<QByteArray> lines = WorkspaceFile::splitLines(text);
    if (lines.isEmpty())
        return state;
    state.mainGeometry = QByteArray::fromHex(lines.first());
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split(',');
        if (fields.size() != 6)
            continue;
        int numbers[5];
        bool valid = true;
        for (int f = 0; f < 5 && valid; ++f)
            numbers[f] = fields.at(f + 1).toInt(&valid);
        // A window cannot be given a negative size.
        const auto within = [](int n, int low) { return n >= low && n <= MaxCoordinate; };
        if (!valid || !within(numbers[0], -MaxCoordinate) || !within(numbers[1], -MaxCoordinate) ||
            !within(numbers[2], 0) || !within(numbers[3], 0))
            continue;
        state.windows.append({QString::fromLatin1(fields.at(0)),
                              QRect(numbers[0], numbers[1], numbers[2], numbers[3]), numbers[4] != 0});
    }
    return state;
}
