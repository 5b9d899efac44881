#include "link/portusers.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

QString processLabel(const QString &pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    QString name = QStringLiteral("another program");
    if (comm.open(QIODevice::ReadOnly))
        name = QString::fromLocal8Bit(comm.readAll()).trimmed();
    return QStringLiteral("%1 (process %2)").arg(name, pid);
}

// Whether a process's descriptor on the pseudo-terminal multiplexer is the
// master of pseudo-terminal index. A kernel that does not say is believed.
bool servesPty(const char *pid, const char *fd, int index)
{
    QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(QLatin1String(pid), QLatin1String(fd)));
    if (!info.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = info.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("tty-index:"))
            return line.mid(10).trimmed().toInt() == index;
    }
    return true;
}

// As ls shows it: "crw-rw----".
QString modeText(mode_t mode)
{
    QString text;
    text += S_ISCHR(mode) ? 'c' : S_ISBLK(mode) ? 'b' : S_ISDIR(mode) ? 'd' : S_ISLNK(mode) ? 'l' : '-';
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QLatin1Char(letters[bit]) : QLatin1Char('-');
    return text;
}

bool inSessionGroups(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

bool inGroupDatabase(gid_t gid)
{
    const struct passwd *me = ::getpwuid(::geteuid());
    if (!me)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(me->pw_name, me->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (::getgrouplist(me->pw_name, me->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

} // namespace

bool PortUsers::isFree(const QString &path)
{
    // Another program's exclusive open keeps this one out (root excepted);
    // the advisory lock is what every link, root's too, holds.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (free)
        ::flock(fd, LOCK_UN);
    ::close(fd);
    return free;
}

QString PortUsers::holderOf(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    // The lock's holder first: others (a pseudo-terminal's own end) may
    // have the device open without holding it.
    QFile locks(QStringLiteral("/proc/locks"));
    if (locks.open(QIODevice::ReadOnly)) {
        const QByteArray node = QStringLiteral("%1:%2:%3")
                                    .arg(major(st.st_dev), 2, 16, QLatin1Char('0'))
                                    .arg(minor(st.st_dev), 2, 16, QLatin1Char('0'))
                                    .arg(quint64(st.st_ino))
                                    .toLatin1();
        const QList<QByteArray> lines = locks.readAll().split('\n');
        for (const QByteArray &line : lines) {
            // "1: FLOCK ADVISORY WRITE <pid> <maj>:<min>:<inode> 0 EOF"; waiters carry a "->".
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 6 && fields.at(1) == "FLOCK" && fields.at(5) == node)
                return processLabel(QString::fromLatin1(fields.at(4)));
        }
    }
    // Without a lock to go by, any other process that has it open.
    return otherHolder(path);
}

QString PortUsers::otherHolder(const QString &path)
{
    const QByteArray target = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    if (target.isEmpty())
        return QString();
    // The process serving a pseudo-terminal holds its master side (and
    // often the slave too, to keep the line up): that is the line's other
    // end, not a program using it.
    int ptyIndex = -1;
    if (target.startsWith("/dev/pts/")) {
        bool ok = false;
        ptyIndex = target.mid(9).toInt(&ok);
        if (!ok)
            ptyIndex = -1;
    }
    const pid_t self = ::getpid();
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return QString();
    QString holder;
    while (const dirent *process = ::readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(process->d_name, &end, 10);
        if (end == process->d_name || *end != '\0' || pid == self)
            continue;
        const QByteArray fdDir = "/proc/" + QByteArray(process->d_name) + "/fd";
        // Only the processes whose descriptors this user may see.
        DIR *fds = ::opendir(fdDir.constData());
        if (!fds)
            continue;
        bool opened = false;
        bool serves = false;
        while (const dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            char link[PATH_MAX];
            const QByteArray entry = fdDir + '/' + fd->d_name;
            const ssize_t n = ::readlink(entry.constData(), link, sizeof link - 1);
            if (n <= 0)
                continue;
            const QByteArray linked(link, n);
            if (linked == target)
                opened = true;
            else if (ptyIndex >= 0 && (linked == "/dev/ptmx" || linked == "/dev/pts/ptmx"))
                serves = serves || servesPty(process->d_name, fd->d_name, ptyIndex);
        }
        ::closedir(fds);
        if (opened && !serves) {
            holder = processLabel(QString::fromLatin1(process->d_name));
            break;
        }
    }
    ::closedir(proc);
    return holder;
}

QString PortUsers::permissionMessage(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("Permission denied on %1.").arg(path);
    const struct passwd *owner = ::getpwuid(st.st_uid);
    const struct group *group = ::getgrgid(st.st_gid);
    const QString ownerName = owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid);
    const QString groupName = group ? QString::fromLocal8Bit(group->gr_name) : QString::number(st.st_gid);
    // A group is worth joining only when its members may read and write,
    // and root's group is not one to join for a serial port.
    const bool groupMay = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP) && st.st_gid != 0;
    if (groupMay) {
        // Joined already, but the session still runs with the old groups.
        if (inGroupDatabase(st.st_gid) && !inSessionGroups(st.st_gid))
            return QStringLiteral("Permission denied on %1: you are in its group %2 now, but this login "
                                  "session started before; log out and in again.")
                .arg(path, groupName);
        return QStringLiteral("Permission denied on %1: only its owner and the group %2 may use it. "
                              "Add yourself to the group (sudo usermod -aG %2 $USER), then log out and in "
                              "again.")
            .arg(path, groupName);
    }
    return QStringLiteral("Permission denied on %1: it is %2 %3 %4, so no group of yours can be given "
                          "access to it. A udev rule can give it to your group: see \"A fixed name of "
                          "your own: a udev rule\" in docs/connecting.md.")
        .arg(path, modeText(st.st_mode), ownerName, groupName);
}
