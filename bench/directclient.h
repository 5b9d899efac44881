#pragma once

// What the benchmarks measure the application against: a simulated board
// started for one side only, and a minimal client on its pseudo-terminal.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// Starts a simulated board; its pseudo-terminal's path, or empty.
inline QString startSim(QProcess &sim)
{
    sim.start(QStringLiteral(HQL_SIM_PATH), {QStringLiteral("--exit-on-stdin-eof")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
        return QString();
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

// The physical limit: write a line, block until its reply's line end.
class DirectClient
{
public:
    explicit DirectClient(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        if (m_fd < 0)
            return;
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~DirectClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DirectClient(const DirectClient &) = delete;
    DirectClient &operator=(const DirectClient &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // The reply's bytes go to reply when one is given.
    bool exchange(const QByteArray &line, QByteArray *reply = nullptr)
    {
        if (m_fd < 0)
            return false;
        const char *p = line.constData();
        qsizetype left = line.size();
        while (left > 0) {
            const ssize_t n = ::write(m_fd, p, size_t(left));
            if (n <= 0)
                return false;
            p += n;
            left -= n;
        }
        if (reply)
            reply->clear();
        char buffer[512];
        for (;;) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, 2000) <= 0)
                return false;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            if (reply)
                reply->append(buffer, n);
            if (std::find(buffer, buffer + n, '\n') != buffer + n)
                return true;
        }
    }

private:
    int m_fd = -1;
};
