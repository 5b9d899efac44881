// Round trip of "get VER" through the board link against the same exchange
// made by a minimal direct client on the same pseudo-terminal, and the CPU a
// connected, idle link uses.
#include "directclient.h"
#include "link/controlboard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <time.h>
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
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

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
            if (!client.exchange(QByteArrayLiteral("get VER\n")))
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
    std::printf("# get VER round trip: direct p50 %.1f us p99 %.1f us; link p50 %.1f us p99 %.1f us\n",
                directP50, percentile(direct, 0.99), linkedP50, percentile(linked, 0.99));
    std::printf("BENCH link_rtt_p50_ratio %.2f x target <= 1.3\n", linkedP50 / directP50);
    std::printf("BENCH link_rtt_p99_us %.1f us\n", percentile(linked, 0.99));
    std::printf("BENCH link_idle_cpu_percent %.2f %% target < 1\n", idleCpuPercent);
    return 0;
}
