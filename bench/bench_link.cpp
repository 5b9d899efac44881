// Round trip of "get VER" through the board link against the same exchange
// made by a minimal direct client on the same pseudo-terminal, and the CPU a
// connected, idle link uses.
#include "link/controlboard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Rounds = 2000;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size())));
    return v[i];
}

double processCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A simulated board of its own for each side, so that both are measured
// in alternating rounds under the same machine load.
QString startSim(QProcess &sim)
{
    sim.start(QStringLiteral(HQL_SIM_PATH), {QStringLiteral("--exit-on-stdin-eof")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
        return QString();
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

// The physical limit: write the line, block until the reply's line end.
class DirectClient
{
public:
    explicit DirectClient(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        if (m_fd < 0)
            return;
        termios tio {};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~DirectClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool roundTrip()
    {
        if (m_fd < 0 || ::write(m_fd, "get VER\n", 8) != 8)
            return false;
        char buffer[256];
        for (;;) {
            pollfd p {m_fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return false;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            if (std::find(buffer, buffer + n, '\n') != buffer + n)
                return true;
        }
    }

private:
    int m_fd = -1;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QProcess directSim;
    QProcess linkSim;
    const QString directPath = startSim(directSim);
    const QString linkPath = startSim(linkSim);
    if (directPath.isEmpty() || linkPath.isEmpty()) {
        std::fprintf(stderr, "bench_link: the simulated board did not start\n");
        return 1;
    }

    std::vector<double> direct;
    std::vector<double> linked;
    double idleCpuPercent = -1;
    {
        DirectClient client(directPath);
        ControlBoard link;
        if (!link.connectBoard(linkPath)) {
            std::fprintf(stderr, "bench_link: cannot connect to %s\n", qPrintable(linkPath));
            return 1;
        }
        for (int i = 0; i < Rounds; ++i) {
            QElapsedTimer clock;
            clock.start();
            if (!client.roundTrip())
                break;
            direct.push_back(double(clock.nsecsElapsed()) / 1000.0);
            clock.restart();
            if (!link.transact("get VER"))
                break;
            linked.push_back(double(clock.nsecsElapsed()) / 1000.0);
        }
        const double before = processCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QThread::sleep(5);
        idleCpuPercent = 100.0 * (processCpuSeconds() - before) / (double(wall.nsecsElapsed()) / 1e9);
        link.disconnectBoard(ControlBoard::ByUser);
    }
    for (QProcess *sim : {&directSim, &linkSim}) {
        sim->closeWriteChannel();
        sim->waitForFinished(2000);
    }

    if (direct.size() < size_t(Rounds) || linked.size() < size_t(Rounds)) {
        std::fprintf(stderr, "bench_link: round trips failed (%zu direct, %zu linked)\n", direct.size(),
                     linked.size());
        return 1;
    }
    const double directP50 = percentile(direct, 0.5);
    const double linkedP50 = percentile(linked, 0.5);
    std::printf("# get VER round trip: direct p50 %.1f us p99 %.1f us; link p50 %.1f us p99 %.1f us\n", directP50,
                percentile(direct, 0.99), linkedP50, percentile(linked, 0.99));
    std::printf("BENCH link_rtt_p50_ratio %.2f x target <= 1.3\n", linkedP50 / directP50);
    std::printf("BENCH link_rtt_p99_us %.1f us\n", percentile(linked, 0.99));
    std::printf("BENCH link_idle_cpu_percent %.2f %% target < 1\n", idleCpuPercent);
    return 0;
}
