#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The text of a workspace file (*.bench): one block per saved register,
// its name, then "{", the value, "}", each on a line of its own.
class WorkspaceFile
{
public:
    struct Block
    {
        QString name;
        QByteArray value;
        bool operator==(const Block &other) const { return name == other.name && value == other.value; }
    };

    struct Parsed
    {
        // The closed blocks in file order.
        QList<Block> blocks;
        // The file ends inside a block, or with the name of one that never
        // opened: it was cut short there. cutName names that block.
        bool cut = false;
        QString cutName;
    };

    // Workspace files hold a few short blocks; anything larger is not one.
    static constexpr qint64 MaxFileSize = 1 << 20;

    static QByteArray compose(const QList<Block> &blocks);
    // A value spread over several lines is joined without separators.
    static Parsed parse(const QByteArray &text);
    // Lines end at LF; a CR before the LF is dropped and a last line without
    // LF is kept whole.
    static QList<QByteArray> splitLines(const QByteArray &text);
};
