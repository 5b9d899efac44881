#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The text of a register file ("motor1.101.SpiController"): one line per
// register, its name, "::", then its bits as '0' and '1', bit 0 first.
class RegisterFile
{
public:
    struct Line
    {
        QString name;
        QByteArray bits;
        bool operator==(const Line &other) const { return name == other.name && bits == other.bits; }
    };

    static QByteArray compose(const QList<Line> &lines);
    // The lines that split at "::" into exactly two pieces, in file order.
    // The text ends at its first NUL; a CR at a line's end is dropped (it
    // would read as a 1). Whether a name is a register is the caller's
    // question.
    static QList<Line> parse(const QByteArray &text);
    // The name a file chosen in the save dialog is written under: ".101" is
    // added when missing, then "." and the applet's object name, so that
    // Import and the configurations list find it.
    static QString fileName(const QString &chosen, const QString &appletName);
};
