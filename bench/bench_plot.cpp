// Cost of the measurements plot: recording one reading into the full ring,
// and one redraw of the window with the whole ring (100,000 readings) in its
// widest span, thinned for the screen, on the offscreen platform.
//
// Prints: BENCH plot_append_ns <median ns per reading> ns target < 200
//         BENCH plot_redraw_full_ms <median ms> ms target < 40

#include "tools/measurements.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    // A reading every 6 ms fills the ring in the 10 min span.
    const int n = MeasurementLog::DefaultCapacity;
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - qint64(n) * 6;
    std::vector<double> appendNs;
    MeasurementLog log;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < n; ++i)
            log.append({start + qint64(i) * 6, 0.75 + (i % 7) * 0.001, 1.2, 12.0});
        appendNs.push_back(double(timer.nsecsElapsed()) / n);
    }
    std::sort(appendNs.begin(), appendNs.end());

    Measurements plot;
    plot.resize(900, 500);
    plot.show();
    plot.setSpanSeconds(600);
    for (int i = 0; i < n; ++i)
        plot.slot_addSampleAt({start + qint64(i) * 6, 0.75 + (i % 7) * 0.001, 1.2 - (i % 11) * 0.001, 12.0});
    std::vector<double> redrawMs;
    for (int round = 0; round < 15; ++round) {
        QElapsedTimer timer;
        timer.start();
        plot.slot_redraw();
        // The chart repaints from its new points.
        plot.grab();
        redrawMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(redrawMs.begin(), redrawMs.end());

    std::printf("BENCH plot_append_ns %.1f ns target < 200\n", appendNs[appendNs.size() / 2]);
    std::printf("BENCH plot_redraw_full_ms %.2f ms target < 40\n", redrawMs[redrawMs.size() / 2]);
    return 0;
}
