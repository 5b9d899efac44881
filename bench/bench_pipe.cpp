// Scripting socket throughput: one connection per request, as clients use
// it. The real application (headless, mock-up board) against a bare local
// server in this process that answers one fixed line, measured in the same
// run.
#include "app/localserver.h"
#include "scriptclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Requests = 1000;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

struct Figures
{
    double rate;
    double p50;
    double p99;
};

Figures measure(const QString &path, const QByteArray &request, const QByteArray &expected)
{
    std::vector<double> times;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < Requests; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (ask(path, request) != expected)
            return {0, 0, 0};
        times.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    return {Requests / (double(total.nsecsElapsed()) / 1e9), percentile(times, 0.5), percentile(times, 0.99)};
}

// Answers every connection with one fixed line and closes it.
class BareServer : public QThread
{
public:
    explicit BareServer(const QString &path) : m_path(path) {}
    QString m_path;

protected:
    void run() override
    {
        QLocalServer server;
        QLocalServer::removeServer(m_path);
        server.listen(m_path);
        QObject::connect(&server, &QLocalServer::newConnection, [&server] {
            while (QLocalSocket *socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains('\n'))
                        return;
                    socket->write("i1");
                    socket->flush();
                    socket->disconnectFromServer();
                });
            }
        });
        exec();
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString pipe = QStringLiteral("hql3318-bench-pipe-%1").arg(QCoreApplication::applicationPid());
    const QString path = LocalServer::socketPath(pipe);
    QTemporaryDir work;
    QProcess program;
    program.setWorkingDirectory(work.path());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(HQL_APP_PATH), {"--headless", "--pipe", pipe});
    QElapsedTimer wait;
    wait.start();
    while (!QFile::exists(path) && wait.elapsed() < 10000)
        QThread::msleep(20);
    if (ask(path, "run\topen\tsmockup\n") != "i1") {
        std::fprintf(stderr, "bench_pipe: the application did not answer\n");
        return 1;
    }

    BareServer bare(path + "-bare");
    bare.start();
    wait.restart();
    while (!QFile::exists(bare.m_path) && wait.elapsed() < 5000)
        QThread::msleep(5);

    const Figures ceiling = measure(bare.m_path, "get\tversion\n", "i1");
    const Figures global = measure(path, "get\tversion\n", "i1");
    const Figures applet = measure(path, "get\tSpiRaw.SPIFreq\n", "f1000");
    ask(path, "run\tshutdown\n");
    program.waitForFinished(5000);
    bare.quit();
    bare.wait();

    if (ceiling.rate == 0 || global.rate == 0 || applet.rate == 0) {
        std::fprintf(stderr, "bench_pipe: a request failed\n");
        return 1;
    }
    std::printf("# bare server %.0f req/s; application: global %.0f req/s, applet get %.0f req/s\n",
                ceiling.rate, global.rate, applet.rate);
    std::printf("BENCH pipe_rate_ratio %.2f x target >= 0.5\n", global.rate / ceiling.rate);
    std::printf("BENCH pipe_applet_rate_ratio %.2f x target >= 0.6\n", applet.rate / ceiling.rate);
    std::printf("BENCH pipe_global_p50_us %.1f us\n", global.p50);
    std::printf("BENCH pipe_global_p99_us %.1f us\n", global.p99);
    std::printf("BENCH pipe_applet_p50_us %.1f us\n", applet.p50);
    std::printf("BENCH pipe_applet_p99_us %.1f us\n", applet.p99);
    return 0;
}
