// What communication logging costs. The real application (headless,
// mock-up board, daily log file on) serves scripted requests that each log
// six lines; after a warm-up that fills the log window's list to its bound,
// 50,000 more requests must not grow its memory. The request time with
// logging off, measured in the same run, is the baseline of the ratio. In
// this process, the log window alone gives the cost of one logged line.
#include "app/localserver.h"
#include "link/controlboard.h"
#include "scriptclient.h"
#include "tools/logs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

constexpr int WarmUp = 5000;
constexpr int Measured = 50000;
constexpr int Baseline = 5000;
constexpr int LinesPerRequest = 6;
const QByteArray Request = "run\tSpiController.WriteCR5A\n";

// Microseconds per request, or 0 when one failed.
double run(const QString &path, int requests)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < requests; ++i) {
        if (ask(path, Request) != "i1")
            return 0;
    }
    return double(clock.nsecsElapsed()) / 1000.0 / requests;
}

// Resident set size of a process in kB, or -1.
qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Microseconds per line the log window takes with its list at the bound
// and the daily log file open.
double lineCost()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    double us = 0;
    {
        ControlBoard board;
        board.setLogging(true);
        Logs logs;
        logs.setBoard(&board);
        logs.saveLogCheck->setChecked(true);
        const QString text = QStringLiteral("TX(12:00:00.000):set SPI0CS0DATA=025290&lt;cr&gt; ");
        for (int i = 0; i < Logs::MaxListLines * 2; ++i)
            logs.slot_addLog(109, text);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < Measured; ++i)
            logs.slot_addLog(109, text);
        us = double(clock.nsecsElapsed()) / 1000.0 / Measured;
    }
    QDir::setCurrent(previous);
    return us;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    const QString pipe = QStringLiteral("hql3318-bench-log-%1").arg(QCoreApplication::applicationPid());
    const QString path = LocalServer::socketPath(pipe);
    QTemporaryDir work;
    QProcess program;
    program.setWorkingDirectory(work.path());
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(QStringLiteral(HQL_APP_PATH), {"--headless", "--pipe", pipe});
    QElapsedTimer wait;
    wait.start();
    while (!QFile::exists(path) && wait.elapsed() < 10000)
        QThread::msleep(20);
    if (ask(path, "run\topen\tsmockup\n") != "i1") {
        std::fprintf(stderr, "bench_log: the application did not answer\n");
        return 1;
    }

    const double off = run(path, Baseline);
    ask(path, "run\tlog\ti1\n");
    const double warm = run(path, WarmUp);
    const qint64 before = residentKb(program.processId());
    const double on = run(path, Measured);
    const qint64 after = residentKb(program.processId());
    ask(path, "run\tshutdown\n");
    program.waitForFinished(10000);
    if (off == 0 || warm == 0 || on == 0 || before < 0 || after < 0) {
        std::fprintf(stderr, "bench_log: a request failed\n");
        return 1;
    }
    const double line = lineCost();

    std::printf("# %d requests of %d logged lines after %d: resident %.1f MB -> %.1f MB; "
                "%.1f us a request with logging off, %.1f us with it on\n",
                Measured, LinesPerRequest, WarmUp, before / 1024.0, after / 1024.0, off, on);
    std::printf("BENCH log_rss_growth_mb %.1f MB target < 50\n", (after - before) / 1024.0);
    std::printf("BENCH log_request_ratio %.2f x\n", on / off);
    std::printf("BENCH log_line_us %.1f us\n", line);
    return 0;
}
