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
#include <sched.h>
#include <termios.h>
#include <unistd.h>

// Keeps this process, its later threads and the programs it starts on one
// processor. Both sides then wait on the same scheduler: otherwise where the
// two simulated boards happen to be placed decides a latency ratio more than
// either side's work does (runs spread from 0.8 to 1.8 x). Call it first.
inline void runOnOneProcessor()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            ::sched_setaffinity(0, sizeof one, &one);
            return;
        }
    }
}

// Starts a simulated board; its pseudo-terminal's path, or empty.
inline QString startSim(QProcess &sim)
{
    sim.start(QStringLiteral(HQL_SIM_PATH), {QStringLiteral("--exit-on-stdin-eof")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
        return QString();
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

// The physical limit: write lines, block until the last reply's line end.
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
        // One reply line for each line of the write.
        auto owed = std::max<qsizetype>(1, line.count('\n'));
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
            owed -= std::count(buffer, buffer + n, '\n');
            if (owed <= 0)
                return true;
        }
    }

private:
    int m_fd = -1;
};
