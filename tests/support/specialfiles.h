#pragma once

// What a path can lead to besides a regular file, made in a test's own
// directory: the things a writer must neither open blindly nor replace.
// A device node is a copy of /dev/full (writes fail with ENOSPC), so a
// writer that goes wrong harms nothing outside the test.

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace SpecialFiles {

enum Kind
{
    Fifo,
    Device,
    Socket,
    Directory,
    LinkToFifo,
    LinkToDevice,
    DanglingLink,
    LinkLoop,
};

inline QList<Kind> all()
{
    return {Fifo, Device, Socket, Directory, LinkToFifo, LinkToDevice, DanglingLink, LinkLoop};
}

inline const char *name(Kind kind)
{
    switch (kind) {
    case Fifo: return "named pipe";
    case Device: return "device node";
    case Socket: return "socket";
    case Directory: return "directory";
    case LinkToFifo: return "link to a named pipe";
    case LinkToDevice: return "link to a device node";
    case DanglingLink: return "dangling link";
    case LinkLoop: return "link loop";
    }
    return "?";
}

// A part of the reason a writer gives for refusing the path.
inline QString refusal(Kind kind)
{
    switch (kind) {
    case Fifo:
    case LinkToFifo: return QStringLiteral("a named pipe, not a regular file");
    case Device:
    case LinkToDevice: return QStringLiteral("a character device, not a regular file");
    case Socket: return QStringLiteral("a socket, not a regular file");
    case Directory: return QStringLiteral("a directory, not a regular file");
    case DanglingLink: return QStringLiteral("which does not exist");
    case LinkLoop: return QStringLiteral("Too many levels of symbolic links");
    }
    return QString();
}

// Makes the thing at path (links point to a second name beside it); false
// with the reason when it cannot be made here (a device needs root).
inline bool make(Kind kind, const QString &path, QString *whyNot)
{
    const QByteArray native = QFile::encodeName(path);
    const QByteArray other = native + ".target";
    int rc = 0;
    switch (kind) {
    case Fifo: rc = ::mkfifo(native.constData(), 0600); break;
    case Device:
        if (::geteuid() != 0) {
            *whyNot = QStringLiteral("making a device node needs root");
            return false;
        }
        rc = ::mknod(native.constData(), S_IFCHR | 0600, makedev(1, 7));
        break;
    case Socket: {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, native.constData(), sizeof address.sun_path - 1);
        rc = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::close(fd);
        break;
    }
    case Directory: rc = ::mkdir(native.constData(), 0700); break;
    case LinkToFifo:
    case LinkToDevice: {
        if (!make(kind == LinkToFifo ? Fifo : Device, QFile::decodeName(other), whyNot))
            return false;
        rc = ::symlink(QFileInfo(QFile::decodeName(other)).fileName().toLocal8Bit().constData(),
                       native.constData());
        break;
    }
    case DanglingLink: rc = ::symlink(other.constData(), native.constData()); break;
    case LinkLoop:
        rc = ::symlink(other.constData(), native.constData());
        if (rc == 0)
            rc = ::symlink(native.constData(), other.constData());
        break;
    }
    if (rc != 0) {
        *whyNot = QStringLiteral("cannot make a %1 at %2: %3")
                      .arg(QLatin1String(name(kind)), path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

// What lstat says is there, to compare before and after a writer ran.
inline QString describe(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("nothing");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("link to ") + QFile::symLinkTarget(path);
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("fifo");
    if (S_ISCHR(st.st_mode))
        return QStringLiteral("device %1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("socket");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("directory");
    return QStringLiteral("file of %1 bytes").arg(st.st_size);
}

// The path and the second name beside it, to compare before and after:
// neither may be replaced, and a link's target must stay as it was.
inline QString snapshot(const QString &path)
{
    return describe(path) + QStringLiteral(" | ") + describe(path + QStringLiteral(".target"));
}

// A test's table of one row per kind, in its "kind" column.
inline void addKindRows()
{
    QTest::addColumn<int>("kind");
    for (Kind kind : all())
        QTest::newRow(name(kind)) << int(kind);
}

} // namespace SpecialFiles
