#include "link/serialport.h"

#include "link/linklog.h"
#include "link/portusers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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

// The holder is looked up unless the caller knows it already.
QString inUse(const QString &name, QString holder = QString())
{
    if (holder.isEmpty())
        holder = PortUsers::holderOf(name);
    if (holder.isEmpty())
        return QStringLiteral("%1 is in use by another program.").arg(name);
    return QStringLiteral("%1 is in use by %2.").arg(name, holder);
}

// A USB serial driver that holds received bytes for its latency timer
// hands them on at once instead; a pseudo-terminal or a driver without the
// flag refuses, which changes nothing.
void requestLowLatency(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
}

QString openFailure(const QString &name, int error)
{
    switch (error) {
    case ENOENT: return QStringLiteral("%1 does not exist.").arg(name);
    case EACCES:
    case EPERM: return PortUsers::permissionMessage(name);
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
    const QString holder = PortUsers::otherHolder(name);
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
    requestLowLatency(fd);
    return true;
}

int SerialPort::latencyTimerMs(const QString &device, const QString &sysRoot)
{
    const QString tty = QFileInfo(device).fileName();
    if (tty.isEmpty())
        return -1;
    QFile timer(sysRoot + QStringLiteral("/bus/usb-serial/devices/") + tty +
                QStringLiteral("/latency_timer"));
    if (!timer.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int ms = timer.read(16).trimmed().toInt(&ok);
    return ok && ms >= 0 ? ms : -1;
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
