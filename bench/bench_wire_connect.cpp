// The whole connect sequence on a modelled USB serial line (115200 baud, an
// adapter latency of 1 ms and of 16 ms), as "run open" does it: the port
// opened, the presence check, the version, the windows' set-up, the speed
// and the Board window's first status update. Against it, a client that
// opens its own board's terminal and plays the same writes, each awaiting
// its answer as the application does. The two sides take turns round by
// round; the disconnect after each of the application's rounds is not timed.
#include "directclient.h"
#include "wireapp.h"
#include "wirereplay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

namespace {

// One latency: the median ratio, or a negative number after a failure.
double measure(MainApp *app, const QTemporaryDir &work, int latencyMs)
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
            std::fprintf(stderr, "bench_wire_connect: the simulated board did not start\n");
            return;
        }
        // A disconnect sends the board lines of its own, the last one (the
        // speed) without waiting: the next connect starts once the board has
        // heard it. The first connect is a warm-up, the second shows what a
        // connect sends, and the later ones are checked against it.
        const QString speedLine = QStringLiteral("set baudrate=115200");
        const auto disconnect = [&] {
            const int from = int(transcriptLines(appHeard).size());
            closeBoard(app);
            return waitForLine(appHeard, from, speedLine);
        };
        bool opened = openBoard(app, appPort);
        int before = disconnect();
        const QList<QByteArray> sent =
            sentDuring(app->link(), [&] { opened = opened && before >= 0 && openBoard(app, appPort); });
        const QStringList heard = transcriptLines(appHeard, before);
        before = disconnect();
        QList<WireStep> steps;
        QString why;
        if (!opened || before < 0 || !planReplay(heard, sent, &steps, &why)) {
            std::fprintf(stderr, "bench_wire_connect: the connect did not go as expected: %s\n",
                         qPrintable(why));
            return;
        }
        if (!client.open(directPort) || !client.play(steps) ||
            withoutMarks(transcriptLines(directHeard)) != withoutMarks(heard)) {
            std::fprintf(stderr,
                         "bench_wire_connect: the direct client did not repeat the application's lines\n");
            return;
        }
        client.close();

        const int rounds = roundsFor(latencyMs, 8, 20);
        std::vector<double> direct;
        std::vector<double> full;
        for (int i = 0; i < rounds; ++i) {
            QElapsedTimer clock;
            clock.start();
            if (!client.open(directPort) || !client.play(steps))
                break;
            direct.push_back(double(clock.nsecsElapsed()) / 1e6);
            client.close();
            clock.restart();
            if (!openBoard(app, appPort)) {
                std::fprintf(stderr, "bench_wire_connect: connect %d failed; the board heard last:\n%s\n",
                             i + 3, qPrintable(transcriptLines(appHeard, qMax(0, before - 8)).join('\n')));
                break;
            }
            full.push_back(double(clock.nsecsElapsed()) / 1e6);
            const QStringList again = transcriptLines(appHeard, before);
            before = disconnect();
            if (before < 0)
                break;
            if (withoutMarks(again) != withoutMarks(heard)) {
                std::fprintf(
                    stderr, "bench_wire_connect: connect %d sent other lines than the second:\n%s\n---\n%s\n",
                    i + 3, qPrintable(heard.join('\n')), qPrintable(again.join('\n')));
                return;
            }
        }
        if (direct.size() < size_t(rounds) || full.size() < size_t(rounds)) {
            std::fprintf(stderr,
                         "bench_wire_connect: connects failed at %d ms (%zu direct, %zu application)\n",
                         latencyMs, direct.size(), full.size());
            return;
        }
        std::printf("# connect at %d ms latency, %d rounds, %lld writes: direct p50 %.1f ms p90 %.1f ms; "
                    "application p50 %.1f ms p90 %.1f ms\n",
                    latencyMs, rounds, qlonglong(steps.size()), median(direct), percentile(direct, 0.9),
                    median(full), percentile(full, 0.9));
        ratio = median(full) / median(direct);
    }();
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
    MainApp *app = startApplication(work, "bench_wire_connect");
    int status = app ? 0 : 1;
    for (int latencyMs : {1, 16}) {
        if (status != 0)
            break;
        const double ratio = measure(app, work, latencyMs);
        if (ratio < 0)
            status = 1;
        else
            std::printf("BENCH wire_connect_ratio_%dms %.3f x target <= 1.1\n", latencyMs, ratio);
        std::fflush(stdout);
    }
    if (app) {
        app->shutdown();
        MainApp::destroyInstance();
    }
    QDir::setCurrent(QDir::tempPath());
    return status;
}
