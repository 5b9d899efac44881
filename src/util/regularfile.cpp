#include "util/regularfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {

namespace {

// Far more than any sane chain; the system's own limit is 40.
constexpr int MaxLinks = 40;

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    return QStringLiteral("a special file");
}

QString absolute(const QByteArray &native)
{
    return QFileInfo(QFile::decodeName(native)).absoluteFilePath();
}

QString notRegular(const QByteArray &given, const QByteArray &final, mode_t mode)
{
    if (given == final)
        return QStringLiteral("it is %1, not a regular file").arg(kindOf(mode));
    return QStringLiteral("it leads to %1, %2, not a regular file").arg(absolute(final), kindOf(mode));
}

// A relative link target counts from the link's own directory.
QByteArray linkTarget(const QByteArray &link, const QByteArray &target)
{
    if (target.startsWith('/'))
        return target;
    const int slash = link.lastIndexOf('/');
    return slash < 0 ? target : link.left(slash + 1) + target;
}

bool readLink(const QByteArray &link, QByteArray *target)
{
    QByteArray buffer(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(link.constData(), buffer.data(), size_t(buffer.size()));
    if (n >= buffer.size())
        errno = ENAMETOOLONG;
    if (n < 0 || n >= buffer.size())
        return false;
    buffer.truncate(int(n));
    *target = buffer;
    return true;
}

} // namespace

Target resolve(const QString &path)
{
    Target target;
    const QByteArray given = QFile::encodeName(path);
    QByteArray current = given;
    for (int links = 0; links <= MaxLinks; ++links) {
        struct stat st;
        if (::lstat(current.constData(), &st) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) {
                target.refusal = qt_error_string(errno);
            } else if (current != given) {
                target.refusal = QStringLiteral("it is a symbolic link to %1, which does not exist")
                                     .arg(absolute(current));
            } else {
                // Nothing there yet: whoever opens it says what is missing.
                target.path = path;
            }
            return target;
        }
        if (S_ISLNK(st.st_mode)) {
            QByteArray next;
            if (!readLink(current, &next)) {
                target.refusal = qt_error_string(errno);
                return target;
            }
            current = linkTarget(current, next);
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            target.refusal = notRegular(given, current, st.st_mode);
            return target;
        }
        target.path = QFile::decodeName(current);
        target.exists = true;
        return target;
    }
    target.refusal = qt_error_string(ELOOP);
    return target;
}

int open(const QString &path, int flags, QString *reason)
{
    const Target target = resolve(path);
    if (!target.ok()) {
        *reason = target.refusal;
        return -1;
    }
    const QByteArray native = QFile::encodeName(target.path);
    // Without O_NONBLOCK a pipe put there meanwhile blocks the open; without
    // O_NOFOLLOW a link put there would lead anywhere.
    const int fd = ::open(native.constData(), flags | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        const Target now = resolve(path);
        *reason = now.ok() ? qt_error_string(error) : now.refusal;
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *reason = qt_error_string(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *reason = notRegular(QFile::encodeName(path), native, st.st_mode);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool append(int fd, const QByteArray &bytes, QString *reason)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *reason = qt_error_string(errno);
        return false;
    }
    const off_t start = st.st_size;
    qint64 written = 0;
    int error = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        written += n;
    }
    if (written == bytes.size())
        return true;
    *reason = qt_error_string(error);
    // Only what this write left is cut off, never what another writer added.
    if (written > 0 && ::fstat(fd, &st) == 0 && st.st_size == start + written) {
        while (::ftruncate(fd, start) != 0 && errno == EINTR) {
        }
    }
    return false;
}

bool read(const QString &path, qint64 maxSize, QByteArray *bytes, bool *exists, QString *reason)
{
    bytes->clear();
    *exists = false;
    const Target target = resolve(path);
    if (!target.ok()) {
        *reason = target.refusal;
        return false;
    }
    if (!target.exists)
        return true;
    const int fd = open(path, O_RDONLY, reason);
    if (fd < 0) {
        // Gone meanwhile: as if it had never been there.
        const Target now = resolve(path);
        if (now.ok() && !now.exists) {
            reason->clear();
            return true;
        }
        return false;
    }
    *exists = true;
    QByteArray data;
    char chunk[16384];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *reason = qt_error_string(errno);
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (data.size() + n > maxSize) {
            *reason = QStringLiteral("it is larger than %1 bytes").arg(maxSize);
            ok = false;
            break;
        }
        data.append(chunk, int(n));
    }
    ::close(fd);
    if (ok)
        *bytes = data;
    return ok;
}

} // namespace RegularFile
