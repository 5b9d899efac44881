#include "link/serialport.h"

#include "link/linklog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

speed_t speedFor(int baudRate)
{
    switch (baudRate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 2000000: return B2000000;
    default: return B0;
    }
}

// Exclusive use: TIOCEXCL keeps other openers out (root excepted), the
// advisory lock also keeps out programs running as root.
bool takeExclusive(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return false;
    ::ioctl(fd, TIOCEXCL);
    return true;
}

void releaseExclusive(int fd)
{
    // The exclusive flag belongs to the terminal, not to this descriptor: it
    // would outlive the close while anyone else holds the device open.
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
}

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

// The holder is looked up unless the caller knows it already.
QString inUse(const QString &name, QString holder = QString())
{
    if (holder.isEmpty())
        holder = SerialPort::holderOf(name);
    if (holder.isEmpty())
        return QStringLiteral("%1 is in use by another program.").arg(name);
    return QStringLiteral("%1 is in use by %2.").arg(name, holder);
}

QString openFailure(const QString &name, int error)
{
    switch (error) {
    case ENOENT: return QStringLiteral("%1 does not exist.").arg(name);
    case EACCES:
    case EPERM: return SerialPort::permissionMessage(name);
    case EBUSY: return inUse(name);
    default:
        return QStringLiteral("Cannot open %1: %2.").arg(name, QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::isSupportedRate(int baudRate)
{
    return speedFor(baudRate) != B0;
}

bool SerialPort::open(const QString &name, int baudRate)
{
    if (!name.isEmpty())
        m_name = name;
    if (isOpen())
        return true;
    m_error.clear();
    if (name.isEmpty())
        return false;

    // A terminal program holds its port without a lock: even opening it
    // would disturb that program's line (and may reset a board).
    const QString holder = otherHolder(name);
    if (!holder.isEmpty()) {
        m_error = inUse(name, holder);
        return false;
    }
    const QByteArray path = QFile::encodeName(name);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_error = openFailure(name, errno);
        return false;
    }
    if (!takeExclusive(fd)) {
        ::close(fd);
        m_error = inUse(name);
        return false;
    }

    termios tio{};
    const speed_t speed = speedFor(baudRate);
    bool ok = speed != B0 && ::tcgetattr(fd, &tio) == 0;
    if (ok) {
        // Raw bytes both ways: no translation, no echo, no signals, 8-N-1,
        // no hardware or software flow control.
        tio.c_iflag &=
            ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
        tio.c_oflag &= ~OPOST;
        tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ok = ::cfsetispeed(&tio, speed) == 0 && ::cfsetospeed(&tio, speed) == 0 &&
             ::tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    if (!ok) {
        qCWarning(lcLink) << "open_port: Unable to open " << name;
        m_error = QStringLiteral("%1 refuses 8-N-1 at %2 baud.").arg(name).arg(baudRate);
        releaseExclusive(fd);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_name = name;
    setRts(true);
    return true;
}

void SerialPort::close()
{
    if (m_fd < 0)
        return;
    releaseExclusive(m_fd);
    ::close(m_fd);
    m_fd = -1;
}

int SerialPort::write(const QByteArray &bytes)
{
    if (m_fd < 0 || bytes.isEmpty())
        return 0;
    const qint64 limitMs = bytes.size() + 5;
    QElapsedTimer clock;
    clock.start();
    int written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0)
            break;
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, int(left));
    }
    return written;
}

int SerialPort::read(QByteArray &out, int n)
{
    out.clear();
    if (m_fd < 0)
        return -1;
    n = qBound(0, n, ReadChunk);
    if (n == 0)
        return 0;
    char buffer[ReadChunk];
    const ssize_t got = ::read(m_fd, buffer, size_t(n));
    if (got < 0)
        return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    out = QByteArray(buffer, int(got));
    return int(got);
}

int SerialPort::bytesAvailable() const
{
    if (m_fd < 0)
        return 0;
    int n = 0;
    if (::ioctl(m_fd, FIONREAD, &n) != 0)
        return 0;
    return n;
}

int SerialPort::readAvailable(QByteArray &out)
{
    return read(out, qMin(bytesAvailable(), int(ReadChunk)));
}

bool SerialPort::waitForReadyRead(int timeoutMs) const
{
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

void SerialPort::drain()
{
    if (m_fd >= 0)
        ::tcdrain(m_fd);
}

void SerialPort::setRts(bool high)
{
    if (m_fd < 0)
        return;
    int bits = TIOCM_RTS;
    // Pseudo-terminals have no modem lines; the request fails harmlessly there.
    ::ioctl(m_fd, high ? TIOCMBIC : TIOCMBIS, &bits);
}

bool SerialPort::isFree(const QString &path)
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

QString SerialPort::holderOf(const QString &path)
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

QString SerialPort::otherHolder(const QString &path)
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

QString SerialPort::permissionMessage(const QString &path)
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
