// The Board window's refresh as a script asks for it through the socket:
// how many round trips it makes on the simulated board (which marks each
// in its transcript) and how long it takes on a modelled USB serial line.
// HQL_BENCH_APP runs another build of the program, for a before-and-after.
#include "protocol/scriptprotocol.h"
#include "scriptclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Rounds = 20;
const QByteArray RoundTrip = "<ROUND TRIP>";

bool answered(const QByteArray &reply)
{
    return !reply.isEmpty() && !reply.startsWith("err");
}

// The program connected to a simulated board of its own.
class Setup
{
public:
    explicit Setup(const QStringList &line)
    {
        const QString file = m_dir.filePath(QStringLiteral("transcript.txt"));
        m_transcript.setFileName(file);
        m_sim.start(QStringLiteral(HQL_SIM_PATH),
                    QStringList{"--exit-on-stdin-eof", "--count-round-trips", "--transcript", file} + line);
        if (!m_sim.waitForStarted(5000) || !m_sim.waitForReadyRead(5000))
            return;
        const QString port = QString::fromLocal8Bit(m_sim.readLine()).trimmed();

        static int instance = 0;
        const QString pipe = QStringLiteral("hql3318-bench-refresh-%1-%2")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(++instance);
        m_path = ScriptProtocol::socketPath(pipe);
        const QString program = qEnvironmentVariableIsSet("HQL_BENCH_APP")
                                    ? qEnvironmentVariable("HQL_BENCH_APP")
                                    : QStringLiteral(HQL_APP_PATH);
        m_program.setWorkingDirectory(m_dir.path());
        m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_program.start(program, {"--headless", "--pipe", pipe});
        QElapsedTimer wait;
        wait.start();
        while (!QFile::exists(m_path) && wait.elapsed() < 10000)
            QThread::msleep(20);
        if (!answered(ask(m_path, "run\topen\ts" + port.toLocal8Bit() + '\n', 10000)))
            return;
        // The board window reads its status once after connecting: past it
        // when the board has heard nothing new for a while.
        qsizetype seen = -1;
        while (seen != transcript().size()) {
            seen = transcript().size();
            QThread::msleep(500);
        }
        ok = true;
    }
    ~Setup()
    {
        if (m_program.state() != QProcess::NotRunning) {
            ask(m_path, "run\tshutdown\n");
            if (!m_program.waitForFinished(5000)) {
                m_program.kill();
                m_program.waitForFinished(5000);
            }
        }
        m_sim.closeWriteChannel();
        m_sim.waitForFinished(3000);
    }

    QByteArray transcript()
    {
        if (!m_transcript.open(QIODevice::ReadOnly))
            return QByteArray();
        const QByteArray text = m_transcript.readAll();
        m_transcript.close();
        return text;
    }
    // The round trips a function makes, or -1 when it failed.
    int roundTrips(const QByteArray &function)
    {
        const qsizetype before = transcript().count(RoundTrip);
        if (!answered(ask(m_path, "run\t" + function + '\n', 10000)))
            return -1;
        return int(transcript().count(RoundTrip) - before);
    }
    // Milliseconds of each run, empty when one failed.
    std::vector<double> times(const QByteArray &function)
    {
        std::vector<double> out;
        for (int i = 0; i < Rounds; ++i) {
            QElapsedTimer clock;
            clock.start();
            if (!answered(ask(m_path, "run\t" + function + '\n', 10000)))
                return {};
            out.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    bool ok = false;

private:
    QTemporaryDir m_dir;
    QFile m_transcript;
    QProcess m_sim;
    QProcess m_program;
    QString m_path;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    int refreshTrips = -1;
    {
        Setup bare({});
        if (!bare.ok) {
            std::fprintf(stderr, "bench_refresh: the program did not connect to the simulated board\n");
            return 1;
        }
        refreshTrips = bare.roundTrips("Board.refresh");
        const int adcTrips = bare.roundTrips("Board.getADC");
        if (refreshTrips < 0 || adcTrips < 0) {
            std::fprintf(stderr, "bench_refresh: Board.refresh or Board.getADC failed\n");
            return 1;
        }
        std::printf("# round trips: Board.refresh %d, Board.getADC %d\n", refreshTrips, adcTrips);
    }
    for (const char *latency : {"1", "16"}) {
        Setup line({"--baud", "115200", "--latency", latency});
        const std::vector<double> times = line.ok ? line.times("Board.refresh") : std::vector<double>();
        if (times.empty()) {
            std::fprintf(stderr, "bench_refresh: Board.refresh failed on the %s ms line\n", latency);
            return 1;
        }
        std::printf(
            "# Board.refresh at 115200 baud, %s ms latency, %d runs: min %.1f, median %.1f, max %.1f ms\n",
            latency, Rounds, times.front(), times[times.size() / 2], times.back());
    }
    std::printf("BENCH refresh_round_trips %d target <= 2\n", refreshTrips);
    return 0;
}
