// "ReadAll" of the SPI controller on a modelled USB serial line (115200
// baud, an adapter latency of 1 ms and of 16 ms) against a client that
// writes exactly what the application wrote, write for write, on a board of
// its own on the same line. The two sides take turns round by round.
#include "applet/applet.h"
#include "directclient.h"
#include "wireapp.h"
#include "wirereplay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

namespace {

// One latency: the median ratio, or a negative number after a failure.
double measure(MainApp *app, Applet *spi, const QTemporaryDir &work, int latencyMs)
{
    QProcess appSim;
    QProcess directSim;
    const QString appHeard = work.filePath(QStringLiteral("app-%1.transcript").arg(latencyMs));
    const QString directHeard = work.filePath(QStringLiteral("direct-%1.transcript").arg(latencyMs));
    const QString appPort = startWireSim(appSim, latencyMs, appHeard);
    const QString directPort = startWireSim(directSim, latencyMs, directHeard);
    ReplayClient client;
    double ratio = -1;
    [&] {
        if (appPort.isEmpty() || directPort.isEmpty()) {
            std::fprintf(stderr, "bench_wire_readall: the simulated board did not start\n");
            return;
        }
        if (!openBoard(app, appPort)) {
            std::fprintf(stderr, "bench_wire_readall: cannot connect to %s\n", qPrintable(appPort));
            return;
        }
        const int before = int(transcriptLines(appHeard).size());
        bool ran = false;
        const QList<QByteArray> sent =
            sentDuring(app->link(), [&] { ran = spi->run(QStringLiteral("ReadAll"), QVariant()).toBool(); });
        const QStringList heard = transcriptLines(appHeard, before);
        QList<WireStep> steps;
        QString why;
        if (!ran || !planReplay(heard, sent, &steps, &why)) {
            std::fprintf(stderr, "bench_wire_readall: ReadAll did not run as expected: %s\n",
                         qPrintable(why));
            return;
        }
        const int directBefore = int(transcriptLines(directHeard).size());
        if (!client.open(directPort) || !client.play(steps) ||
            transcriptLines(directHeard, directBefore) != heard) {
            std::fprintf(stderr,
                         "bench_wire_readall: the direct client did not repeat the application's lines\n");
            return;
        }

        const int rounds = roundsFor(latencyMs, 40, 100);
        std::vector<double> direct;
        std::vector<double> full;
        for (int i = 0; i < rounds; ++i) {
            QElapsedTimer clock;
            clock.start();
            if (!client.play(steps))
                break;
            direct.push_back(double(clock.nsecsElapsed()) / 1e6);
            clock.restart();
            if (!spi->run(QStringLiteral("ReadAll"), QVariant()).toBool())
                break;
            full.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        if (direct.size() < size_t(rounds) || full.size() < size_t(rounds)) {
            std::fprintf(stderr, "bench_wire_readall: exchanges failed at %d ms (%zu direct, %zu ReadAll)\n",
                         latencyMs, direct.size(), full.size());
            return;
        }
        const QStringList all = transcriptLines(appHeard, before);
        bool same = all.size() == heard.size() * (rounds + 1);
        for (qsizetype at = 0; same && at < all.size(); at += heard.size())
            same = all.mid(at, heard.size()) == heard;
        if (!same) {
            std::fprintf(stderr,
                         "bench_wire_readall: the application sent other lines than it did at first\n");
            return;
        }
        std::printf("# ReadAll at %d ms latency, %d rounds, %lld writes: direct p50 %.2f ms p90 %.2f ms; "
                    "application p50 %.2f ms p90 %.2f ms\n",
                    latencyMs, rounds, qlonglong(steps.size()), median(direct), percentile(direct, 0.9),
                    median(full), percentile(full, 0.9));
        ratio = median(full) / median(direct);
    }();
    closeBoard(app);
    client.close();
    stopSim(appSim);
    stopSim(directSim);
    return ratio;
}

} // namespace

int main(int argc, char *argv[])
{
    runOnOneProcessor();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir work;
    MainApp *app = startApplication(work, "bench_wire_readall");
    Applet *spi = app ? app->findApplet(QStringLiteral("SpiController"), MainApp::ByObjectName) : nullptr;
    int status = spi ? 0 : 1;
    for (int latencyMs : {1, 16}) {
        if (status != 0)
            break;
        const double ratio = measure(app, spi, work, latencyMs);
        if (ratio < 0)
            status = 1;
        else
            std::printf("BENCH wire_readall_ratio_%dms %.3f x target <= 1.05\n", latencyMs, ratio);
        std::fflush(stdout);
    }
    if (app) {
        app->shutdown();
        MainApp::destroyInstance();
    }
    QDir::setCurrent(QDir::tempPath());
    return status;
}
