// How long a click waits while the board is busy. The application runs with
// its windows (offscreen) on a simulated board behind a modelled USB line
// at 115200 baud and 16 ms latency; the Board window refreshes itself and a
// script calls board functions through the socket without pause. Another
// thread clicks, one click at a time, at odd moments, on what needs no
// board (a tab of the SPI controller, the log window's scroll bar) and
// measures until the widget has handled the click.
#include "app/localserver.h"
#include "app/mainapp.h"
#include "applet/applet.h"
#include "scriptclient.h"
#include "tools/logs.h"

#include <QApplication>
#include <QCheckBox>
#include <QListView>
#include <QMouseEvent>
#include <QProcess>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const int Clicks =
    qEnvironmentVariableIsSet("HQL_BENCH_ROUNDS") ? qEnvironmentVariableIntValue("HQL_BENCH_ROUNDS") : 150;

// Learns on the GUI thread when its widget has handled a click.
class ClickWatch : public QObject
{
public:
    void arm()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = false;
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait(lock, [this] { return m_done; });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease) {
            // Handled by the widget first, then told.
            watched->event(event);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_done = true;
            }
            m_cond.notify_all();
            return true;
        }
        return false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_done = false;
};

void postClick(QWidget *target, QPoint at)
{
    const QPointF local(at);
    const QPointF global(target->mapToGlobal(at));
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, local, global,
                                                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, local, global,
                                                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QProcess sim;
    sim.start(QStringLiteral(HQL_SIM_PATH),
              {QStringLiteral("--exit-on-stdin-eof"), QStringLiteral("--baud"), QStringLiteral("115200"),
               QStringLiteral("--latency"), QStringLiteral("16")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "bench_gui: the simulated board did not start\n");
        return 1;
    }
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();

    MainApp *app = MainApp::instance();
    app->setServerName(QStringLiteral("hql3318-bench-gui-%1").arg(QCoreApplication::applicationPid()), false);
    if (!app->initialise()) {
        std::fprintf(stderr, "bench_gui: the application did not start\n");
        return 1;
    }
    app->startMainWindow();
    Applet *spi = app->findApplet(QStringLiteral("SpiController"), MainApp::ByObjectName);
    Applet *board = app->findApplet(QStringLiteral("Board"), MainApp::ByObjectName);
    Applet *logs = app->logsApplet();
    if (!spi || !board || !logs || !app->connectToBoard(port)) {
        std::fprintf(stderr, "bench_gui: cannot connect to %s\n", qPrintable(port));
        return 1;
    }
    spi->showWindow();
    board->showWindow();
    app->showLogWindow();
    app->setCommunicationLogging(true);
    auto *tabs = spi->findChild<QTabWidget *>(QStringLiteral("twControl"));
    auto *list = logs->findChild<QListView *>();
    auto *period = board->findChild<QSpinBox *>(QStringLiteral("lePeriod"));
    auto *refresh = board->findChild<QCheckBox *>(QStringLiteral("cbAutoRefresh"));
    if (!tabs || !list || !period || !refresh) {
        std::fprintf(stderr, "bench_gui: a window lacks what is clicked\n");
        return 1;
    }
    period->setValue(200);
    refresh->setChecked(true);
    // The log fills, so that its scroll bar has somewhere to go.
    for (int i = 0; i < 5; ++i)
        spi->run(QStringLiteral("ReadAll"), QVariant());

    ClickWatch watch;
    QTabBar *bar = tabs->tabBar();
    QScrollBar *scroll = list->verticalScrollBar();
    bar->installEventFilter(&watch);
    scroll->installEventFilter(&watch);

    std::atomic<bool> stop{false};
    std::atomic<int> scripted{0};
    const QString serverPath = app->server()->serverPath();
    std::thread script([&] {
        const QByteArray requests[] = {"run\tBoard.getADC\n", "run\tSpiController.ReadAll\n",
                                       "run\tBoard.setActive\n"};
        for (int i = 0; !stop; ++i) {
            const QByteArray reply = ask(serverPath, requests[i % 3], 10000);
            if (!reply.isEmpty() && !reply.startsWith("err"))
                ++scripted;
        }
    });
    std::vector<double> waits;
    std::thread clicker([&] {
        std::mt19937 random(3318);
        std::uniform_int_distribution<int> pause(5, 60);
        for (int i = 0; i < Clicks; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
            watch.arm();
            const auto start = Clock::now();
            // The tab's place and the scroll bar's size are read on this
            // thread: both stay as they are while the bench runs.
            if (i % 2 == 0)
                postClick(bar, bar->tabRect((i / 2) % bar->count()).center());
            else
                postClick(scroll, QPoint(scroll->width() / 2, scroll->height() * 3 / 4));
            watch.wait();
            waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        // The script's last request needs the event loop still.
        stop = true;
        script.join();
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    QApplication::exec();
    clicker.join();
    refresh->setChecked(false);
    app->shutdown();
    MainApp::destroyInstance();
    sim.closeWriteChannel();
    sim.waitForFinished(2000);

    if (int(waits.size()) < Clicks || scripted == 0) {
        std::fprintf(stderr, "bench_gui: %zu clicks, %d script requests\n", waits.size(), int(scripted));
        return 1;
    }
    std::sort(waits.begin(), waits.end());
    std::printf("# clicks %zu, script requests %d meanwhile; wait p50 %.1f ms, p99 %.1f ms\n", waits.size(),
                int(scripted), waits[waits.size() / 2], waits[waits.size() * 99 / 100]);
    std::printf("BENCH gui_input_latency_ms %.1f ms target <= 50\n", waits.back());
    return 0;
}
