#include "link/boarddiscovery.h"
#include "link/portusers.h"

#include "link/controlboard.h"
#include "link/handshake.h"
#include "link/linklog.h"
#include "link/serialport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSerialPortInfo>
#include <QSet>
#include <QThread>
#include <QWaitCondition>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

// As the link's own presence check.
using Handshake::ACK;
using Handshake::AttemptMs;
using Handshake::Attempts;
using Handshake::ENQ;
// How long a board takes at most to answer ENQ, USB latency included.
constexpr int DrainMs = 30;

// Ends early (Unknown) when wakeFd becomes readable. A port held by another
// program is not touched: *holder names it.
BoardDiscovery::PortState probePort(const QString &path, int wakeFd, QString *holder)
{
    *holder = PortUsers::otherHolder(path);
    if (!holder->isEmpty())
        return BoardDiscovery::Held;
    const QByteArray encoded = QFile::encodeName(path);
    const int test = ::open(encoded.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (test < 0) {
        switch (errno) {
        case EACCES:
        case EPERM: return BoardDiscovery::Denied;
        case EBUSY: return BoardDiscovery::Held;
        default: return BoardDiscovery::Gone;
        }
    }
    ::close(test);

    SerialPort port;
    // Locked by another program (or by this one's link).
    if (!port.open(path, ControlBoard::LinkBaudRate)) {
        *holder = PortUsers::holderOf(path);
        return BoardDiscovery::Held;
    }
    ::tcflush(port.fd(), TCIFLUSH);
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (port.write(QByteArray(1, ENQ)) != 1)
            return BoardDiscovery::NoBoard;
        QElapsedTimer clock;
        clock.start();
        for (qint64 left = AttemptMs; left > 0; left = AttemptMs - clock.elapsed()) {
            pollfd fds[2] = {{port.fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int r = ::poll(fds, 2, int(left));
            if (r < 0 && errno != EINTR)
                return BoardDiscovery::NoBoard;
            if (fds[1].revents) {
                // The ENQ may still be answered: an ACK left behind would
                // spoil the presence check of the open that comes next.
                port.waitForReadyRead(DrainMs);
                ::tcflush(port.fd(), TCIFLUSH);
                return BoardDiscovery::Unknown;
            }
            if (fds[0].revents & POLLIN) {
                QByteArray bytes;
                if (port.read(bytes, SerialPort::ReadChunk) < 0)
                    return BoardDiscovery::NoBoard;
                if (bytes.contains(ACK))
                    return BoardDiscovery::Board;
            } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                return BoardDiscovery::NoBoard;
            }
        }
    }
    return BoardDiscovery::NoBoard;
}

} // namespace

QString PortEntry::description() const
{
    QStringList parts;
    if (!product.isEmpty())
        parts << product;
    if (!serialNumber.isEmpty())
        parts << QStringLiteral("serial number %1").arg(serialNumber);
    if (!device.isEmpty() && device != displayName())
        parts << device;
    // Every reply waits for this timer: 16 ms as adapters come, 1 ms at best.
    if (latencyTimerMs > 1)
        parts << QStringLiteral("latency timer %1 ms (1 ms answers fastest: see docs/connecting.md)")
                     .arg(latencyTimerMs);
    else if (latencyTimerMs >= 0)
        parts << QStringLiteral("latency timer %1 ms").arg(latencyTimerMs);
    return parts.join(QLatin1String(", "));
}

// One look for boards: a thread lists the ports, then probes each in a
// thread of its own and waits for them all.
class BoardDiscovery::Round
{
public:
    Round(BoardDiscovery *owner, int id, const QStringList &extraPorts, const QStringList &directories)
        : m_owner(owner), m_id(id), m_extraPorts(extraPorts), m_directories(directories)
    {
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->start();
    }
    ~Round()
    {
        cancel();
        m_thread->wait();
    }

    void cancel()
    {
        QMutexLocker lock(&m_mutex);
        m_cancelled = true;
        for (int fd : std::as_const(m_wakeFds))
            wake(fd);
    }

    void cancelProbe(const QString &device)
    {
        QMutexLocker lock(&m_mutex);
        m_skipped.insert(device);
        if (m_wakeFds.contains(device))
            wake(m_wakeFds.value(device));
        while (m_busy.contains(device))
            m_released.wait(&m_mutex);
    }

private:
    static void wake(int fd)
    {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }

    void run()
    {
        const QList<PortEntry> entries = enumerate(m_extraPorts, m_directories);
        BoardDiscovery *owner = m_owner;
        const int id = m_id;
        QMetaObject::invokeMethod(
            owner, [owner, id, entries] { owner->takeEntries(id, entries); }, Qt::QueuedConnection);

        std::vector<std::unique_ptr<QThread>> probes;
        QSet<QString> seen;
        for (const PortEntry &entry : entries) {
            const QString device = entry.device.isEmpty() ? entry.path : entry.device;
            if (seen.contains(device))
                continue;
            seen.insert(device);
            probes.emplace_back(QThread::create([this, entry, device] { probe(entry.path, device); }));
            probes.back()->start();
        }
        for (const auto &thread : probes)
            thread->wait();
        QMetaObject::invokeMethod(
            owner, [owner, id] { owner->takeFinished(id); }, Qt::QueuedConnection);
    }

    void probe(const QString &path, const QString &device)
    {
        int wakeFd = -1;
        {
            QMutexLocker lock(&m_mutex);
            if (m_cancelled || m_skipped.contains(device))
                return;
            wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            if (wakeFd < 0)
                return;
            m_busy.insert(device);
            m_wakeFds.insert(device, wakeFd);
        }
        QString holder;
        const PortState state = probePort(path, wakeFd, &holder);
        {
            QMutexLocker lock(&m_mutex);
            m_wakeFds.remove(device);
            m_busy.remove(device);
            ::close(wakeFd);
            m_released.wakeAll();
        }
        qCDebug(lcLink) << "probe of" << path << "gave" << state;
        BoardDiscovery *owner = m_owner;
        const int id = m_id;
        QMetaObject::invokeMethod(
            owner, [owner, id, device, state, holder] { owner->takeState(id, device, state, holder); },
            Qt::QueuedConnection);
    }

    BoardDiscovery *m_owner;
    const int m_id;
    const QStringList m_extraPorts;
    const QStringList m_directories;
    std::unique_ptr<QThread> m_thread;

    QMutex m_mutex;
    QWaitCondition m_released;
    bool m_cancelled = false;
    // Devices a probe holds open, with the descriptor that ends its wait.
    QSet<QString> m_busy;
    QHash<QString, int> m_wakeFds;
    // Devices being opened for real: not to be touched in this round.
    QSet<QString> m_skipped;
};

BoardDiscovery::BoardDiscovery(QObject *parent) : QObject(parent), m_directories(defaultDirectories()) {}

BoardDiscovery::~BoardDiscovery()
{
    m_round.reset();
}

QStringList BoardDiscovery::defaultDirectories()
{
    return {QStringLiteral("/dev/serial/by-id")};
}

void BoardDiscovery::start(const QStringList &extraPorts)
{
    m_round.reset();
    m_running = true;
    // The ports named by the user are on offer at once.
    for (const QString &port : extraPorts) {
        if (!find(port)) {
            PortEntry entry;
            entry.path = port;
            entry.device = deviceOf(port);
            m_entries.append(entry);
        }
    }
    m_round = std::make_unique<Round>(this, ++m_roundId, extraPorts, m_directories);
}

void BoardDiscovery::cancelProbe(const QString &port)
{
    if (!m_round)
        return;
    const QString device = deviceOf(port);
    m_round->cancelProbe(device.isEmpty() ? port : device);
}

void BoardDiscovery::cancel()
{
    if (m_round)
        m_round->cancel();
}

QString BoardDiscovery::deviceOf(const QString &name)
{
    if (!name.startsWith(QLatin1Char('/')))
        return QString();
    return QFileInfo(name).canonicalFilePath();
}

QList<PortEntry> BoardDiscovery::enumerate(const QStringList &extraPorts, const QStringList &directories)
{
    QList<PortEntry> entries;
    QHash<QString, qsizetype> byDevice;
    const auto add = [&](PortEntry entry) {
        if (!entry.device.isEmpty())
            byDevice.insert(entry.device, entries.size());
        entries.append(entry);
    };

    // The ports the user named come first.
    for (const QString &port : extraPorts) {
        PortEntry entry;
        entry.path = port;
        entry.device = deviceOf(port);
        if (entry.device.isEmpty() || !byDevice.contains(entry.device))
            add(entry);
    }
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        PortEntry entry;
        entry.path = info.systemLocation();
        entry.device = deviceOf(entry.path);
        if (info.hasProductIdentifier())
            entry.product = info.description();
        entry.serialNumber = info.serialNumber();
        if (entry.device.isEmpty())
            continue;
        if (byDevice.contains(entry.device)) {
            PortEntry &known = entries[byDevice.value(entry.device)];
            known.product = entry.product;
            known.serialNumber = entry.serialNumber;
        } else {
            add(entry);
        }
    }
    for (const QString &directory : directories) {
        const QFileInfoList links =
            QDir(directory).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &link : links) {
            const QString device = link.canonicalFilePath();
            if (device.isEmpty())
                continue;
            if (byDevice.contains(device)) {
                PortEntry &known = entries[byDevice.value(device)];
                if (known.stableName.isEmpty())
                    known.stableName = link.absoluteFilePath();
                continue;
            }
            PortEntry entry;
            entry.path = entry.stableName = link.absoluteFilePath();
            entry.device = device;
            add(entry);
        }
    }
    for (PortEntry &entry : entries)
        entry.latencyTimerMs = SerialPort::latencyTimerMs(entry.device);
    return entries;
}

QList<PortEntry> BoardDiscovery::ports() const
{
    QList<PortEntry> boards;
    QList<PortEntry> rest;
    QList<PortEntry> held;
    for (const PortEntry &entry : m_entries) {
        switch (state(entry.path)) {
        case Board: boards.append(entry); break;
        case Held: {
            PortEntry shown = entry;
            shown.holder = m_holders.value(entry.device.isEmpty() ? entry.path : entry.device);
            if (shown.holder.isEmpty())
                shown.holder = QStringLiteral("another program");
            held.append(shown);
            break;
        }
        case Gone: break;
        default: rest.append(entry); break;
        }
    }
    return boards + rest + held;
}

BoardDiscovery::PortState BoardDiscovery::state(const QString &port) const
{
    for (const PortEntry &entry : m_entries) {
        if (entry.path == port || entry.stableName == port)
            return m_states.value(entry.device.isEmpty() ? entry.path : entry.device, Unknown);
    }
    const QString device = deviceOf(port);
    return m_states.value(device.isEmpty() ? port : device, Unknown);
}

const PortEntry *BoardDiscovery::find(const QString &name) const
{
    for (const PortEntry &entry : m_entries) {
        if (entry.path == name || entry.stableName == name)
            return &entry;
    }
    const QString device = deviceOf(name);
    for (const PortEntry &entry : m_entries) {
        if (!device.isEmpty() && entry.device == device)
            return &entry;
    }
    return nullptr;
}

void BoardDiscovery::takeEntries(int round, const QList<PortEntry> &entries)
{
    if (round != m_roundId)
        return;
    m_entries = entries;
    // What earlier rounds learnt stays until this one has probed again.
    QHash<QString, PortState> kept;
    for (const PortEntry &entry : entries) {
        const QString key = entry.device.isEmpty() ? entry.path : entry.device;
        if (m_states.contains(key))
            kept.insert(key, m_states.value(key));
    }
    m_states = kept;
    emit signal_portsChanged();
}

void BoardDiscovery::takeState(int round, const QString &device, int state, const QString &holder)
{
    if (round != m_roundId)
        return;
    // A probe cut short for a real open tells nothing new.
    if (state == Unknown)
        return;
    const PortState old = m_states.value(device, Unknown);
    const QString oldHolder = m_holders.value(device);
    m_states.insert(device, PortState(state));
    if (state == Held)
        m_holders.insert(device, holder);
    else
        m_holders.remove(device);
    if (old != state || oldHolder != holder)
        emit signal_portsChanged();
}

void BoardDiscovery::takeFinished(int round)
{
    if (round != m_roundId)
        return;
    m_running = false;
    emit signal_finished();
}
