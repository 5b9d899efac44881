#include "app/workspacefile.h"

QByteArray WorkspaceFile::compose(const QList<Block> &blocks)
{
    QByteArray text;
    for (const Block &block : blocks) {
        text += block.name.toLatin1();
        text += "\n{\n";
        text += block.value;
        text += "\n}\n";
    }
    return text;
}

QList<QByteArray> WorkspaceFile::splitLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (end < 0)
            end = text.size();
        qsizetype length = end - start;
        if (length > 0 && text.at(end - 1) == '\r')
            --length;
        lines.append(text.mid(start, length));
        start = next;
    }
    return lines;
}

WorkspaceFile::Parsed WorkspaceFile::parse(const QByteArray &text)
{
    Parsed parsed;
    QString name;
    QByteArray value;
    bool inBlock = false;
    // A name line after the last block that no block followed.
    bool pendingName = false;
    for (const QByteArray &line : splitLines(text)) {
        if (line == "{") {
            inBlock = true;
            pendingName = false;
            value.clear();
        } else if (line == "}" && inBlock) {
            parsed.blocks.append({name, value});
            value.clear();
            inBlock = false;
        } else if (inBlock) {
            value += line;
        } else {
            name = QString::fromLatin1(line);
            // Blank lines at the end are no block.
            pendingName = !line.trimmed().isEmpty();
        }
    }
    parsed.cut = inBlock || pendingName;
    if (parsed.cut)
        parsed.cutName = name;
    return parsed;
}
