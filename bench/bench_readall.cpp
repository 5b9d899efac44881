// "ReadAll" of the SPI controller end to end (one chained write line and one
// read line, in one write, through the board link, the answers decoded into
// the model and shown in the windows) against a minimal client sending the
// same two lines in one write on a pseudo-terminal of its own.
#include "app/mainapp.h"
#include "applet/applet.h"
#include "directclient.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <time.h>
#include <vector>

namespace {

// HQL_BENCH_ROUNDS lowers it for a run under a profiler.
const int Rounds =
    qEnvironmentVariableIsSet("HQL_BENCH_ROUNDS") ? qEnvironmentVariableIntValue("HQL_BENCH_ROUNDS") : 500;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// The whole process: the exchange itself runs on the link's thread.
double processCpuUs()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

} // namespace

int main(int argc, char *argv[])
{
    runOnOneProcessor();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QProcess directSim;
    QProcess appSim;
    const QString directPath = startSim(directSim);
    const QString appPath = startSim(appSim);
    if (directPath.isEmpty() || appPath.isEmpty()) {
        std::fprintf(stderr, "bench_readall: the simulated board did not start\n");
        return 1;
    }

    MainApp *app = MainApp::instance();
    app->setServerName(QStringLiteral("hql3318-bench-%1").arg(QCoreApplication::applicationPid()), false);
    app->setHeadless(true);
    if (!app->initialise()) {
        std::fprintf(stderr, "bench_readall: the application did not start\n");
        return 1;
    }
    app->startMainWindow();
    Applet *spi = app->findApplet(QStringLiteral("SpiController"), MainApp::ByObjectName);
    if (!spi || !app->connectToBoard(appPath)) {
        std::fprintf(stderr, "bench_readall: cannot connect to %s\n", qPrintable(appPath));
        return 1;
    }

    DirectClient client(directPath);
    QByteArray setLine("set");
    QByteArray getLine("get");
    for (int n : {0, 1, 3, 4, 5, 7, 0}) {
        setLine += " SPI0CS0DATA=02" + QByteArray::number(0x0400 | (n << 7), 16).rightJustified(4, '0');
        getLine += " SPI0CS0DATA";
    }
    setLine += '\n';
    getLine += '\n';

    std::vector<double> direct;
    std::vector<double> full;
    double appCpuUs = 0;
    double rawCpuUs = 0;
    for (int i = 0; i < Rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        const double rawBefore = processCpuUs();
        if (!client.exchange(setLine + getLine))
            break;
        direct.push_back(double(clock.nsecsElapsed()) / 1000.0);
        rawCpuUs += processCpuUs() - rawBefore;
        clock.restart();
        const double cpuBefore = processCpuUs();
        if (!spi->run(QStringLiteral("ReadAll"), QVariant()).toBool())
            break;
        full.push_back(double(clock.nsecsElapsed()) / 1000.0);
        appCpuUs += processCpuUs() - cpuBefore;
    }
    app->shutdown();
    MainApp::destroyInstance();
    for (QProcess *sim : {&directSim, &appSim}) {
        sim->closeWriteChannel();
        sim->waitForFinished(2000);
    }
    if (direct.size() < size_t(Rounds) || full.size() < size_t(Rounds)) {
        std::fprintf(stderr, "bench_readall: exchanges failed (%zu direct, %zu ReadAll)\n", direct.size(),
                     full.size());
        return 1;
    }
    std::printf("# ReadAll: raw p50 %.1f us p99 %.1f us; application p50 %.1f us p99 %.1f us\n",
                percentile(direct, 0.5), percentile(direct, 0.99), percentile(full, 0.5),
                percentile(full, 0.99));
    std::printf("# CPU time per exchange (system calls included): raw %.1f us, application %.1f us\n",
                rawCpuUs / Rounds, appCpuUs / Rounds);
    std::printf("BENCH readall_p50_ratio %.2f x target <= 1.3\n",
                percentile(full, 0.5) / percentile(direct, 0.5));
    std::printf("BENCH readall_cpu_ratio %.2f x target <= 1.5\n", appCpuUs / rawCpuUs);
    return 0;
}
