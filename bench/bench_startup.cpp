// Time from starting the program to its main window being shown, on the
// offscreen platform, with a serial port whose probe takes the full
// presence-check time (a simulated board that answers ENQ with NAK). The
// program says when the window is shown through its debug category.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Runs = 5;
const QByteArray Marker = "main window shown";

// Milliseconds until the marker, or -1.
double startOnce(const QString &port, int run)
{
    QTemporaryDir work;
    QProcess program;
    program.setWorkingDirectory(work.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_LOGGING_RULES", "hql.app.debug=true");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    const QString pipe =
        QStringLiteral("hql3318-bench-startup-%1-%2").arg(QCoreApplication::applicationPid()).arg(run);
    QElapsedTimer clock;
    clock.start();
    program.start(QStringLiteral(HQL_APP_PATH), {"--pipe", pipe, "--port", port});
    QByteArray seen;
    double ms = -1;
    while (ms < 0 && program.waitForReadyRead(10000)) {
        seen += program.readAll();
        if (seen.contains(Marker))
            ms = double(clock.nsecsElapsed()) / 1e6;
    }
    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(5000);
    }
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QProcess sim;
    sim.start(QStringLiteral(HQL_SIM_PATH), {"--enq-reply", "0x15", "--exit-on-stdin-eof"});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "bench_startup: the simulated board did not start\n");
        return 1;
    }
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();

    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        const double ms = startOnce(port, i);
        if (ms < 0) {
            std::fprintf(stderr, "bench_startup: the main window was not shown\n");
            return 1;
        }
        times.push_back(ms);
    }
    sim.closeWriteChannel();
    sim.waitForFinished(3000);
    std::sort(times.begin(), times.end());
    std::printf("# start to main window shown, %d runs: %.0f .. %.0f ms\n", Runs, times.front(),
                times.back());
    std::printf("BENCH startup_ms %.0f ms target < 300\n", times[times.size() / 2]);
    return 0;
}
