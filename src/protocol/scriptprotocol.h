#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

// What the scripting server and its clients agree on: where the socket of a
// name lives, and how values travel (one type letter, then the text).
namespace ScriptProtocol {

inline constexpr char DefaultName[] = "HQL3318";

// A name starting with '/' is a path; any other name lives in
// $XDG_RUNTIME_DIR, or without it in fallbackDirectory().
QString socketPath(const QString &name);
// /tmp/hql3318-<uid>: private to the user, like a runtime directory.
QString fallbackDirectory();
// The fallback directory must be the user's own and closed to everybody
// else, or another user could serve the name first and receive our
// commands. With create it is made (mode 0700) when missing. True for names
// whose place is not ours to check (a runtime directory, an explicit path).
bool checkPlace(const QString &name, bool create, QString *error);
// The test behind it: a real directory (no link), the user's own, mode 0700.
bool checkPrivateDirectory(const QString &dir, bool create, QString *error);

// One line of a request, decoded: "set" name value, "get" name, "run" name
// [value...] (several values make a list); anything else is Invalid. The
// name ends at a NUL.
struct Call
{
    enum Kind
    {
        Invalid,
        Set,
        Get,
        Run
    };
    Kind kind = Invalid;
    QString name;
    QVariant value;
};

// The lines of a request that run: CR bytes removed, blank lines and a
// line equal to the one before it skipped.
QList<QByteArray> requestLines(const QByteArray &request);
Call parseLine(const QByteArray &line);

// Typed values: i integer, f real, s text (8-bit, whole: a NUL in it is
// the receiver's to refuse or cut), x bytes in hexadecimal. Anything else,
// or an empty field, is no value.
QVariant decode(const QByteArray &field);
// Booleans as i1/i0; types without a letter encode as nothing.
QByteArray encode(const QVariant &value);
QString textUpToNul(const QByteArray &bytes);

} // namespace ScriptProtocol
