#pragma once

#include <QByteArray>
#include <QString>

// The program writes regular files only. A rename over a device node or a
// pipe would replace it, and opening a pipe blocks until someone reads, so
// what a path leads to is found with lstat() before anything is opened, and
// what is opened is checked again with fstat().
namespace RegularFile {

struct Target
{
    // The file to write: the path itself, or the file its links lead to, so
    // that the file is written and the links stay.
    QString path;
    bool exists = false;
    // Why nothing may be written there; empty when it may.
    QString refusal;

    bool ok() const { return refusal.isEmpty(); }
};

// Follows symbolic links without opening anything. A path that leads to
// nothing is fine (a new file), a link that leads to nothing is not: the
// file would appear wherever it points.
Target resolve(const QString &path);

// Opens the regular file a path leads to, creating it when missing if
// flags hold O_CREAT; never blocks on a pipe and never writes a device, even
// one that takes the file's place meanwhile. -1 and the reason otherwise.
int open(const QString &path, int flags, QString *reason);

// Appends all of bytes or nothing: after a short write (the last room on the
// disk) the file is cut back to where it ended, unless someone else has
// appended since.
bool append(int fd, const QByteArray &bytes, QString *reason);

// Reads a regular file whole; a missing one reads as empty with exists false.
bool read(const QString &path, qint64 maxSize, QByteArray *bytes, bool *exists, QString *reason);

} // namespace RegularFile
