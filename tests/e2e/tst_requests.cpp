// Scripting requests under automation and faults: the real application,
// the simulated board and clients as separate processes.
#include "appprocess.h"
#include "protocol/scriptprotocol.h"
#include "simboard.h"
#include "timing.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int connectTo(const QString &path, bool nonBlocking = false);

// A client on a raw socket, left to run while the event loop turns; out()
// is the reply as it travels (hql3318-ctl adds a line end when it prints). Which
// reply came first is told by order(), not by clocks: when a client first
// sees its reply, every other client whose reply is already readable gets
// the same number, so a reply written earlier never counts as later.
class Client
{
public:
    Client(const QString &pipe, const QStringList &args)
        : m_fd(connectTo(ScriptProtocol::socketPath(pipe), true))
    {
        s_all.append(this);
        if (m_fd < 0)
            return;
        QByteArray request;
        for (const QString &arg : args)
            request += (request.isEmpty() ? "" : "\t") + arg.toLatin1();
        request += '\n';
        ::send(m_fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        ::shutdown(m_fd, SHUT_WR);
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readSome(); });
    }
    ~Client()
    {
        s_all.removeAll(this);
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool wait()
    {
        return QTest::qWaitFor([this] { return m_done; }, 30000);
    }
    QByteArray out() const { return m_out; }
    int order() const { return m_order; }

private:
    bool readable() const
    {
        pollfd p{m_fd, POLLIN, 0};
        return m_fd >= 0 && ::poll(&p, 1, 0) > 0;
    }
    void readSome()
    {
        if (m_order < 0) {
            ++s_replies;
            for (Client *client : std::as_const(s_all)) {
                if (client->m_order < 0 && (client == this || client->readable()))
                    client->m_order = s_replies;
            }
        }
        char buffer[4096];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            m_out.append(buffer, n);
            return;
        }
        if (n < 0 && errno == EAGAIN)
            return;
        m_notifier->setEnabled(false);
        m_done = true;
    }

    int m_fd;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_out;
    int m_order = -1;
    bool m_done = false;

    static inline QList<Client *> s_all;
    static inline int s_replies = 0;
};

int connectTo(const QString &path, bool nonBlocking)
{
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One request on a raw socket, as other languages' clients send it.
QByteArray exchange(const QString &path, const QByteArray &request, bool halfClose)
{
    const int fd = connectTo(path);
    if (fd < 0)
        return "<no server>";
    qsizetype done = 0;
    while (done < request.size()) {
        const ssize_t n = ::send(fd, request.constData() + done, size_t(request.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        done += n;
    }
    if (halfClose)
        ::shutdown(fd, SHUT_WR);
    QByteArray reply;
    char buffer[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0)
            break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        reply.append(buffer, n);
    }
    ::close(fd);
    return reply;
}

// Lines whose replies are all "i1", different from their neighbours so
// that none is skipped as a repeat.
QByteArray versionLines(int count)
{
    QByteArray lines;
    for (int i = 0; i < count; ++i)
        lines += i % 2 ? "get\tVersion\n" : "get\tversion\n";
    return lines;
}

// The application connected to a simulated board.
struct Bench
{
    explicit Bench(const char *what, const QStringList &simOptions = {}, bool headless = true)
        : sim(simOptions), pipe(uniquePipe(what)), app(pipe, {"--port", sim.path()}, headless)
    {
    }
    bool open() { return app.waitReady() && runCtl(pipe, {"run", "open", "s" + sim.path()}).out == "i1\n"; }

    SimBoard sim;
    QString pipe;
    AppProcess app;
};

} // namespace

class tst_Requests : public QObject
{
    Q_OBJECT

private slots:
    void overlapping_data();
    void overlapping();
    void largeRequests_data();
    void largeRequests();
    void clientLeavesEarly();
    void lateRepliesAreDropped();
    void chainAfterRefusedFrames();
    void textTravelsAsBytes();
    void headlessNeverWaits();
    void ctlTimeout();
    void pipeThatIsNotASocket();
    void privateFallbackDirectory();
    void busyInstanceKeepsItsSocket();
    void otherUsersAreRefused();
    void requestsAfterShutdown();
};

// A request that waits inside (a motor sequence's pauses, a window grab's
// settling) and a second one sent 30 ms later: the second runs only after
// the first has answered, and each client gets its own reply.
void tst_Requests::overlapping_data()
{
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QByteArray>("firstReply");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<QByteArray>("secondReply");
    QTest::addColumn<QString>("lastOnWire");
    QTest::addColumn<bool>("exits");

    const QStringList forward{"run", "Board.setForward1"};
    const QStringList grab{"run", "grab", "sBoard", "s@FILE@"};
    const QStringList get{"run", "write", "sget WDtime"};
    const QByteArray wdtime = "x" + QByteArray("WDtime=20\n").toHex();
    const QStringList close{"run", "close"};
    const QStringList shutdown{"run", "shutdown"};

    QTest::newRow("forward, then write")
        << forward << QByteArray("i1") << get << wdtime << "get WDtime" << false;
    QTest::newRow("forward, then close")
        << forward << QByteArray("i1") << close << QByteArray("i1") << "set baudrate=115200" << false;
    QTest::newRow("forward, then shutdown")
        << forward << QByteArray("i1") << shutdown << QByteArray("i1") << "set baudrate=115200" << true;
    QTest::newRow("forward, then get") << forward << QByteArray("i1") << QStringList{"get", "Board.PWM1_DUTY"}
                                       << QByteArray("f50") << QString() << false;
    QTest::newRow("grab, then write") << grab << QByteArray("i1") << get << wdtime << "get WDtime" << false;
    QTest::newRow("grab, then shutdown")
        << grab << QByteArray("i1") << shutdown << QByteArray("i1") << "set baudrate=115200" << true;
    QTest::newRow("open script, then shutdown") << QStringList{"run", "open", "sscript"} << QByteArray("i1")
                                                << shutdown << QByteArray("i1") << QString() << true;
}

void tst_Requests::overlapping()
{
    QFETCH(QStringList, first);
    QFETCH(QByteArray, firstReply);
    QFETCH(QStringList, second);
    QFETCH(QByteArray, secondReply);
    QFETCH(QString, lastOnWire);
    QFETCH(bool, exits);

    // Pictures need shown windows: an offscreen window instead of headless.
    const bool grabs = first.contains("grab");
    Bench bench("overlap", {}, !grabs);
    QVERIFY(bench.open());
    const QString picture = bench.app.m_dir.filePath("board.png");
    first.replaceInStrings("@FILE@", picture);

    Client one(bench.pipe, first);
    QTest::qWait(30);
    Client two(bench.pipe, second);
    QVERIFY(one.wait());
    QVERIFY(two.wait());
    QCOMPARE(one.out(), firstReply);
    QCOMPARE(two.out(), secondReply);
    QVERIFY2(one.order() <= two.order(), "the second request answered before the first");
    if (grabs)
        QVERIFY(QFileInfo(picture).size() > 0);

    // Nothing of the first request reached the wire after the second's line
    // (presence checks aside), and none of its commands failed for it.
    if (!lastOnWire.isEmpty()) {
        const auto lastLine = [&bench] {
            QStringList lines = bench.sim.transcript();
            lines.removeAll("<ENQ>");
            return lines.value(lines.size() - 1);
        };
        QTRY_COMPARE(lastLine(), lastOnWire);
        QVERIFY2(!bench.app.output().contains("hql3318: Error"), bench.app.output().constData());
    }
    if (exits) {
        QVERIFY(bench.app.m_process.waitForFinished(10000));
        QCOMPARE(bench.app.m_process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bench.app.m_process.exitCode(), 0);
    } else {
        QCOMPARE(runCtl(bench.pipe, {"get", "version"}).out, QByteArray("i1\n"));
    }
}

// Requests larger than one socket buffer run whole; one over the limit
// runs not at all.
void tst_Requests::largeRequests_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("halfClose");
    QTest::addColumn<bool>("lastLineEnds");
    QTest::addColumn<bool>("refused");

    // 12 bytes a line: 26,000 lines are about 305 KiB.
    QTest::newRow("300 KiB, half-closed") << 26000 << true << true << false;
    QTest::newRow("300 KiB, left open") << 26000 << false << true << false;
    QTest::newRow("300 KiB, half-closed, last line without LF") << 26000 << true << false << false;
    QTest::newRow("900 KiB, left open") << 78000 << false << true << false;
    QTest::newRow("over 1 MiB") << 90000 << true << true << true;
}

void tst_Requests::largeRequests()
{
    QFETCH(int, lines);
    QFETCH(bool, halfClose);
    QFETCH(bool, lastLineEnds);
    QFETCH(bool, refused);

    const QString pipe = uniquePipe("large");
    AppProcess app(pipe);
    QVERIFY(app.waitReady());
    // A refused request must not run even its first line.
    QByteArray request = "run\tshutdown\n";
    if (!refused)
        request.clear();
    request += versionLines(lines);
    if (!lastLineEnds)
        request.chop(1);
    const QByteArray reply = exchange(app.m_path, request, halfClose);
    if (refused) {
        QCOMPARE(reply, QByteArray("err\n"));
        QCOMPARE(app.m_process.state(), QProcess::Running);
    } else {
        QCOMPARE(reply.size(), qsizetype(2 * lines));
        QCOMPARE(reply.count("i1"), qsizetype(lines));
    }
    QCOMPARE(runCtl(pipe, {"get", "version"}).out, QByteArray("i1\n"));
}

// Clients that send failing lines and go away at once: each error opens a
// box (answered on standard error when headless) while the client is gone.
void tst_Requests::clientLeavesEarly()
{
    const QString pipe = uniquePipe("early");
    AppProcess app(pipe);
    QVERIFY(app.waitReady());
    for (int round = 0; round < 10; ++round) {
        QByteArray request;
        for (int i = 0; i < 8; ++i)
            request += "get\tSpiController.CR" + QByteArray::number(i) + "\n";
        const int fd = connectTo(app.m_path);
        QVERIFY(fd >= 0);
        QCOMPARE(::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL),
                 ssize_t(request.size()));
        ::close(fd);
    }
    QTRY_VERIFY_WITH_TIMEOUT(app.output().count("Error GET SpiController.CR") == 80, 10000);
    QCOMPARE(app.m_process.state(), QProcess::Running);
    QCOMPARE(runCtl(pipe, {"get", "version"}).out, QByteArray("i1\n"));
}

// A board slower than the time-out: a reply that comes late is never
// taken for a later command's.
void tst_Requests::lateRepliesAreDropped()
{
    Bench bench("late", {"--delay", "700"});
    QVERIFY(bench.open());
    const QList<QByteArray> names{"PWM0FREQ", "PWM0DUTY", "PWM1FREQ", "PWM1DUTY", "WDtime", "DIO25"};
    for (const QByteArray &name : names) {
        const QByteArray reply = runCtl(bench.pipe, {"run", "write", "sget " + name}).out;
        const QByteArray text = QByteArray::fromHex(reply.mid(1).trimmed());
        QVERIFY2(text.isEmpty() || text.startsWith(name + '='), (name + " answered " + text).constData());
    }
    // With a time-out the board can meet, the next read is right again.
    QCOMPARE(runCtl(bench.pipe, {"run", "set_timeout", "i1500"}).out, QByteArray("i1\n"));
    const QByteArray reply = runCtl(bench.pipe, {"run", "write", "sget PWM1DUTY"}).out;
    QCOMPARE(QByteArray::fromHex(reply.mid(1).trimmed()), QByteArray("PWM1DUTY=50\n"));
}

// A board that answers ENQ but refuses every SPI frame: the frames kept for
// the next chain stop growing once they cannot fit one line, and a new
// connection starts with none.
void tst_Requests::chainAfterRefusedFrames()
{
    auto refusing = std::make_unique<Bench>("chain", QStringList{"--error", "SPI0CS0DATA"});
    QVERIFY(refusing->open());
    for (int i = 0; i < 40; ++i)
        QCOMPARE(runCtl(refusing->pipe, {"run", "SpiController.ReadAll"}).out, QByteArray("i0\n"));
    QTRY_COMPARE(refusing->app.output().count("too long for one command"), qsizetype(1));
    for (const QString &line : refusing->sim.transcript())
        QVERIFY2(line.size() < 5000, "a chain line longer than the board's queue was sent");

    SimBoard healthy;
    QCOMPARE(runCtl(refusing->pipe, {"run", "open", "s" + healthy.path()}).out, QByteArray("i1\n"));
    QCOMPARE(runCtl(refusing->pipe, {"run", "SpiController.ReadAll"}).out, QByteArray("i1\n"));
    QString chain;
    for (const QString &line : healthy.transcript()) {
        if (line.startsWith("set SPI0CS0DATA") && line.count("SPI0CS0DATA=") > 1)
            chain = line;
    }
    QCOMPARE(chain.count("SPI0CS0DATA="), 7);
}

void tst_Requests::textTravelsAsBytes()
{
    Bench bench("bytes");
    QVERIFY(bench.open());
    runCtl(bench.pipe, {"-"}, QByteArray("run\twrite\tsget A\xe9Z\n"));
    QTRY_VERIFY(bench.sim.transcript().contains("get A\\xE9Z"));
}

void tst_Requests::headlessNeverWaits()
{
    const QString pipe = uniquePipe("never");
    AppProcess app(pipe);
    QVERIFY(app.waitReady());
    QElapsedTimer clock;
    clock.start();
    // A dialog would wait for ever; the bound leaves room for slow builds.
    QCOMPARE(runCtl(pipe, {"--timeout", "20", "run", "open", "sscript"}).out, QByteArray("i1\n"));
    QVERIFY(clock.elapsed() < TestTiming::bound(20000));
    QTRY_VERIFY(app.output().contains("script:PATH"));
    QCOMPARE(runCtl(pipe, {"run", "shutdown"}).out, QByteArray("i1\n"));
    QVERIFY(app.m_process.waitForFinished(10000));
    QCOMPARE(app.m_process.exitStatus(), QProcess::NormalExit);
}

// A server that takes the connection and never answers.
void tst_Requests::ctlTimeout()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mute");
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QCOMPARE(::bind(server, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(::listen(server, 4), 0);
    QElapsedTimer clock;
    clock.start();
    const CtlReply r = runCtl(path, {"--timeout", "1", "get", "version"});
    const qint64 took = clock.elapsed();
    ::close(server);
    QCOMPARE(r.status, 2);
    QVERIFY2(took >= 900 && took < 5000, QByteArray::number(took).constData());
}

// --pipe naming something that is no socket leaves it alone.
void tst_Requests::pipeThatIsNotASocket()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("precious.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me\n");
    file.close();
    AppProcess app(path);
    QVERIFY(app.m_process.waitForFinished(10000));
    QVERIFY(app.output().contains("is not a socket"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me\n"));
}

void tst_Requests::privateFallbackDirectory()
{
    const QString pipe = uniquePipe("fallback");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    QTemporaryDir work;
    QProcess app;
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(work.path());
    app.start(QStringLiteral(HQL_APP_PATH), {"--headless", "--pipe", pipe});
    const QString dir = QStringLiteral("/tmp/hql3318-%1").arg(::geteuid());
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(dir + "/" + pipe); }, 10000));
    struct stat st = {};
    QCOMPARE(::lstat(QFile::encodeName(dir).constData(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_uid, ::geteuid());
    QCOMPARE(st.st_mode & 0777, 0700u);

    QProcess ctl;
    ctl.setProcessEnvironment(env);
    ctl.start(QStringLiteral(HQL_CTL_PATH), {"--pipe", pipe, "run", "shutdown"});
    QVERIFY(ctl.waitForFinished(10000));
    QCOMPARE(ctl.readAllStandardOutput(), QByteArray("i1\n"));
    QVERIFY(app.waitForFinished(10000));
    QVERIFY(!QFile::exists(dir + "/" + pipe));
}

// An instance whose thread is busy and whose backlog is full is still
// alive: a second instance must not take its name.
void tst_Requests::busyInstanceKeepsItsSocket()
{
    // A board that falls silent right after the connect keeps the GUI
    // thread in one long transaction.
    qsizetype connectLines = 0;
    {
        Bench counting("count");
        QVERIFY(counting.open());
        // The board notes each line before it answers, and the connect
        // returns after its last answer.
        connectLines = counting.sim.transcript().size();
    }
    Bench bench("busy", {"--silent-after", QString::number(connectLines)});
    QVERIFY(bench.open());
    QCOMPARE(runCtl(bench.pipe, {"run", "set_timeout", "i4000"}).out, QByteArray("i1\n"));
    Client slow(bench.pipe, {"run", "write", "sget PWM0DUTY"});
    QTest::qWait(300);
    QList<int> waiting;
    for (int i = 0; i < 200; ++i) {
        const int fd = connectTo(bench.app.m_path, true);
        if (fd < 0)
            break;
        waiting.append(fd);
    }
    QVERIFY2(waiting.size() < 200, "the backlog never filled");
    AppProcess second(bench.pipe);
    QVERIFY(second.m_process.waitForFinished(10000));
    QVERIFY(second.output().contains("another program serves"));
    for (int fd : std::as_const(waiting))
        ::close(fd);
    QVERIFY(slow.wait());
    QCOMPARE(runCtl(bench.pipe, {"get", "version"}).out, QByteArray("i1\n"));
}

// Only the user who started the application may drive it, even when the
// socket's mode would let others in.
void tst_Requests::otherUsersAreRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run a client as another user");
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (setpriv.isEmpty())
        QSKIP("setpriv is not installed");
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ExeOther |
                                                  QFileDevice::ReadOther));
    const QString path = dir.filePath("open-socket");
    AppProcess app(path);
    QVERIFY(app.waitReady());
    // Open to all, the server closes the connection; as made, the socket
    // refuses the connect. Either way the client says why.
    for (const mode_t mode : {0666, 0600}) {
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
        QProcess other;
        other.start(setpriv,
                    {"--reuid=65534", "--regid=65534", "--clear-groups", QStringLiteral(HQL_CTL_PATH),
                     "--pipe", path, "--timeout", "5", "run", "shutdown"});
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(other.readAllStandardOutput(), QByteArray());
        QCOMPARE(other.exitCode(), 2);
        const QByteArray said = other.readAllStandardError();
        QVERIFY2(said.contains(path.toLocal8Bit() + " is served by another user (uid " +
                               QByteArray::number(::geteuid()) + ")"),
                 said.constData());
    }
    QTRY_VERIFY(app.output().contains("refused a connection"));
    QCOMPARE(app.m_process.state(), QProcess::Running);
}

// Requests sent while "run shutdown" runs and after it answered: served by
// the ending loop, waiting in the listen queue, or arriving while the
// program shuts down, each is answered "err", none is reset.
void tst_Requests::requestsAfterShutdown()
{
    const QString pipe = uniquePipe("after");
    AppProcess app(pipe);
    QVERIFY(app.waitReady());
    const int shutdown = connectTo(app.m_path);
    QVERIFY(shutdown >= 0);
    const QByteArray request = "run\tshutdown\n";
    QCOMPARE(::send(shutdown, request.constData(), size_t(request.size()), MSG_NOSIGNAL), request.size());
    ::shutdown(shutdown, SHUT_WR);

    QList<int> clients;
    const auto burst = [&] {
        for (int i = 0; i < 60; ++i) {
            const int fd = connectTo(app.m_path);
            if (fd < 0)
                continue;
            const QByteArray line = i % 2 ? "get\tversion\n" : "set\tSpiController.CR0[]\ti1\n";
            if (::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) == line.size())
                ::shutdown(fd, SHUT_WR);
            clients.append(fd);
        }
    };
    const auto readAll = [](int fd) {
        QByteArray got;
        char buffer[256];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        ::close(fd);
        return n < 0 ? QByteArray("<") + std::strerror(errno) + ">" : got;
    };
    burst();
    QCOMPARE(readAll(shutdown), QByteArray("i1"));
    burst();
    // Those that came after the socket was gone could not connect at all.
    QVERIFY(!clients.isEmpty());
    qInfo("%lld clients connected", qlonglong(clients.size()));
    for (int fd : std::as_const(clients))
        QCOMPARE(readAll(fd), QByteArray("err\n"));
    QVERIFY(app.m_process.waitForFinished(10000));
    QCOMPARE(app.m_process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.m_process.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_Requests)
#include "tst_requests.moc"
