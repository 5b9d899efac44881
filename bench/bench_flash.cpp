// Flashing a 200000-byte image through the firmware window and the board
// link, against a minimal direct client pushing the same lines through the
// same kind of pseudo-terminal and simulated board; and how long the GUI
// thread's event loop goes without turning meanwhile (a 10 ms timer).
#include "app/modalboxdiverter.h"
#include "directclient.h"
#include "hexfile.h"
#include "link/controlboard.h"
#include "link/flashsession.h"
#include "link/heximage.h"
#include "tools/bootloader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Rounds = 11;
constexpr int TickMs = 10;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ModalBoxDiverter diverter;

    QRandomGenerator random(42);
    QByteArray bytes(HexImage::Capacity, 0);
    for (char &b : bytes)
        b = char(random.generate());
    QTemporaryDir dir;
    const QString hexPath = dir.filePath("image.hex");
    {
        QFile file(hexPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(HexFile::image(bytes, 0, 32)) < 0) {
            std::fprintf(stderr, "bench_flash: cannot write %s\n", qPrintable(hexPath));
            return 1;
        }
    }
    QList<QByteArray> lines;
    for (int offset = 0; offset < bytes.size(); offset += FlashSession::BlockSize) {
        const int size = std::min<int>(FlashSession::BlockSize, int(bytes.size()) - offset);
        lines.append(FlashSession::blockLine(FlashSession::FlashAddress + quint32(offset),
                                             bytes.constData() + offset, size) +
                     '\n');
    }
    lines.append(FlashSession::markerLine() + '\n');

    QProcess directSim;
    QProcess linkSim;
    const QString directPath = startSim(directSim);
    const QString linkPath = startSim(linkSim);
    if (directPath.isEmpty() || linkPath.isEmpty()) {
        std::fprintf(stderr, "bench_flash: the simulated board did not start\n");
        return 1;
    }

    std::vector<double> direct;
    std::vector<double> window;
    qint64 largestGapNs = 0;
    {
        DirectClient client(directPath);
        ControlBoard link;
        if (!link.connectBoard(linkPath)) {
            std::fprintf(stderr, "bench_flash: cannot connect to %s\n", qPrintable(linkPath));
            return 1;
        }
        Bootloader loader;
        loader.setBoard(&link);
        loader.show();
        if (!loader.loadHexFile(hexPath)) {
            std::fprintf(stderr, "bench_flash: the image did not load\n");
            return 1;
        }

        QElapsedTimer sinceTick;
        bool measuring = false;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(TickMs);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (measuring)
                largestGapNs = std::max(largestGapNs, sinceTick.nsecsElapsed());
            sinceTick.restart();
        });
        ticker.start();

        QByteArray reply;
        for (int round = 0; round < Rounds; ++round) {
            QElapsedTimer clock;
            clock.start();
            for (const QByteArray &line : lines) {
                if (!client.exchange(line, &reply) || !reply.contains("flash:ok")) {
                    std::fprintf(stderr, "bench_flash: the direct client's line was refused\n");
                    return 1;
                }
            }
            direct.push_back(double(clock.nsecsElapsed()) / 1e6);

            // Settle the timer first, so its first gap is not counted.
            QEventLoop settle;
            QTimer::singleShot(3 * TickMs, &settle, &QEventLoop::quit);
            settle.exec();

            QEventLoop loop;
            int outcome = -1;
            QObject::connect(&loader, &Bootloader::signal_flashFinished, &loop, [&](int result) {
                outcome = result;
                loop.quit();
            });
            measuring = true;
            sinceTick.restart();
            clock.restart();
            loader.slot_pbFlash_clicked();
            if (outcome < 0)
                loop.exec();
            window.push_back(double(clock.nsecsElapsed()) / 1e6);
            measuring = false;
            if (outcome != FlashSession::Finished) {
                std::fprintf(stderr, "bench_flash: flashing ended with outcome %d\n", outcome);
                return 1;
            }
        }
        link.disconnectBoard(ControlBoard::ByUser);
    }
    for (QProcess *sim : {&directSim, &linkSim}) {
        sim->closeWriteChannel();
        sim->waitForFinished(2000);
    }

    // Each round measures both sides back to back, so a ratio per round
    // sees the same machine load on both; the median of them is reported.
    std::vector<double> ratios;
    for (size_t i = 0; i < direct.size(); ++i)
        ratios.push_back(window[i] / direct[i]);
    std::printf("# %d lines of 200000 bytes: direct client median %.1f ms, firmware window median %.1f ms\n",
                int(lines.size()), median(direct), median(window));
    std::printf("BENCH flash_time_ratio %.2f x target <= 1.5\n", median(ratios));
    // The largest gap between two ticks of the 10 ms timer, less the 10 ms.
    std::printf("BENCH flash_gui_stall_ms %.1f ms target <= 50\n",
                std::max(0.0, double(largestGapNs) / 1e6 - TickMs));
    return 0;
}
