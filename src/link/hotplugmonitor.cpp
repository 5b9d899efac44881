#include "link/hotplugmonitor.h"

#include "link/linklog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The kernel's announcements and udev's, sent once its rules (and the
// stable names) are in place.
constexpr unsigned KernelGroup = 1;
constexpr unsigned UdevGroup = 2;
constexpr quint32 UdevMagic = 0xfeedcafe;

quint32 readWord(const QByteArray &bytes, int offset)
{
    quint32 value = 0;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}

// Terminals that are no serial ports: consoles, the pty master, the
// controlling terminal.
bool isSerialName(const QString &name)
{
    static const QRegularExpression console(QStringLiteral("^(tty\\d*|console|ptmx)$"));
    return !name.isEmpty() && !console.match(name).hasMatch();
}

} // namespace

HotplugMonitor::HotplugMonitor(const QStringList &directories, QObject *parent)
    : DeviceEvents(parent), m_directories(directories)
{
    m_netlinkFd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (m_netlinkFd >= 0) {
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = KernelGroup | UdevGroup;
        if (::bind(m_netlinkFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            qCDebug(lcLink) << "no device announcements:" << std::strerror(errno);
            ::close(m_netlinkFd);
            m_netlinkFd = -1;
        }
    }
    if (m_netlinkFd >= 0) {
        m_netlinkNotifier = new QSocketNotifier(m_netlinkFd, QSocketNotifier::Read, this);
        connect(m_netlinkNotifier, &QSocketNotifier::activated, this, &HotplugMonitor::readNetlink);
    }

    m_inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_inotifyFd >= 0) {
        m_inotifyNotifier = new QSocketNotifier(m_inotifyFd, QSocketNotifier::Read, this);
        connect(m_inotifyNotifier, &QSocketNotifier::activated, this, &HotplugMonitor::readInotify);
        watchDirectories();
    }
}

HotplugMonitor::~HotplugMonitor()
{
    delete m_netlinkNotifier;
    delete m_inotifyNotifier;
    if (m_netlinkFd >= 0)
        ::close(m_netlinkFd);
    if (m_inotifyFd >= 0)
        ::close(m_inotifyFd);
}

bool HotplugMonitor::parseUevent(const QByteArray &message, Event *event)
{
    QByteArray properties = message;
    if (message.startsWith(QByteArray("libudev", 8))) {
        // prefix[8], magic, header size, properties offset and length.
        if (message.size() < 24 || ntohl(readWord(message, 8)) != UdevMagic)
            return false;
        const quint32 offset = readWord(message, 16);
        const quint32 length = readWord(message, 20);
        if (offset > quint32(message.size()) || length > quint32(message.size()) - offset)
            return false;
        properties = message.mid(int(offset), int(length));
    } else if (!message.contains('@')) {
        return false;
    }

    QString action;
    QString subsystem;
    QString name;
    for (const QByteArray &field : properties.split('\0')) {
        const int equals = field.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = field.left(equals);
        const QString value = QString::fromLocal8Bit(field.mid(equals + 1));
        if (key == "ACTION")
            action = value;
        else if (key == "SUBSYSTEM")
            subsystem = value;
        else if (key == "DEVNAME")
            name = value;
    }
    if (subsystem != QLatin1String("tty") ||
        (action != QLatin1String("add") && action != QLatin1String("remove")))
        return false;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    if (!isSerialName(name))
        return false;
    event->added = action == QLatin1String("add");
    event->device = QStringLiteral("/dev/") + name;
    return true;
}

void HotplugMonitor::readNetlink()
{
    char buffer[8192];
    for (;;) {
        sockaddr_nl sender{};
        socklen_t size = sizeof sender;
        const ssize_t n =
            ::recvfrom(m_netlinkFd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&sender), &size);
        if (n <= 0)
            break;
        Event event;
        if (!parseUevent(QByteArray(buffer, int(n)), &event))
            continue;
        // The stable names' directory may have come with the first device.
        if (event.added)
            watchDirectories();
        if (event.added)
            emit signal_added(event.device);
        else
            emit signal_removed(event.device);
    }
}

void HotplugMonitor::readInotify()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_inotifyFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event)) + event->len;
            if (event->mask & IN_IGNORED) {
                m_watches.remove(event->wd);
                continue;
            }
            if (event->len == 0 || !m_watches.contains(event->wd))
                continue;
            const QString name = QDir(m_watches.value(event->wd)).filePath(QFile::decodeName(event->name));
            if (event->mask & (IN_CREATE | IN_MOVED_TO))
                emit signal_added(name);
            else if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                emit signal_removed(name);
        }
    }
}

void HotplugMonitor::watchDirectories()
{
    if (m_inotifyFd < 0)
        return;
    for (const QString &directory : std::as_const(m_directories)) {
        if (m_watches.key(directory, -1) >= 0 || !QDir(directory).exists())
            continue;
        const int wd = ::inotify_add_watch(m_inotifyFd, QFile::encodeName(directory).constData(),
                                           IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR);
        if (wd >= 0)
            m_watches.insert(wd, directory);
    }
}
