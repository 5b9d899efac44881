#include "app/localserver.h"
#include "app/mainapp.h"
#include "applet/appletcontext.h"
#include "asyncclient.h"
#include "link/controlboard.h"
#include "messageboxanswerer.h"
#include "model/register.h"
#include "model/variable.h"
#include "protocol/scriptprotocol.h"
#include "testapplet.h"
#include "testserver.h"
#include "tools/logs.h"

#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// One request on its own connection; the reply ends when the server closes.
QByteArray ask(const QString &path, const QByteArray &request, bool close = false)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(2000))
        return "<no server>";
    socket.write(request);
    socket.flush();
    if (close)
        socket.disconnectFromServer();
    QByteArray reply;
    QEventLoop loop;
    QObject::connect(&socket, &QLocalSocket::readyRead, [&] { reply += socket.readAll(); });
    QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    if (socket.state() == QLocalSocket::ConnectedState)
        loop.exec();
    return reply + socket.readAll();
}

// An applet with one register field, one variable and a few functions to
// script; like the board window it takes function names as patterns.
class ScriptedApplet : public TestApplet
{
public:
    ScriptedApplet()
        : TestApplet("Basic", "Basic"), reg("EN=0#;MODE[2:0]#;", "CR9"),
          var("@variable=Speed @value=50 @min=0 @max=100")
    {
    }
    bool init() override
    {
        addRegister(&reg);
        addVariable(&var);
        return true;
    }
    QVariant run(const QString &function, const QVariant &argument) override
    {
        // The one function that answers with a value: its argument.
        if (function == "echo")
            return argument;
        return runFunction(functionTable(), function, argument, functionMatch(), false);
    }
    Register reg;
    Variable var;

protected:
    FunctionMatch functionMatch() const override { return MatchWildcard; }
    QList<Function> buildFunctions() override
    {
        return {
            {"ok", {}, [](const QVariant &) { return true; }},
            {"fails", {}, [](const QVariant &) { return false; }},
            {"echo", {}, [](const QVariant &) { return true; }},
            {"complain",
             {},
             [this](const QVariant &) {
                 if (context())
                     context()->log(-1, "<b>Motor</b> stalled<br>twice");
                 return false;
             }},
        };
    }
};

// The application as the server sees it: it tells which lines ran, in order.
struct FakeHost : LocalServerHost
{
    bool set(const QString &name, QVariant &) override
    {
        calls << "set " + name;
        return true;
    }
    bool get(const QString &name, QVariant *result) override
    {
        calls << "get " + name;
        *result = true;
        return true;
    }
    bool run(const QString &name, QVariant &, QVariant *result) override
    {
        calls << "run " + name;
        *result = true;
        return true;
    }
    bool isBoardReserved() const override { return reserved; }

    QStringList calls;
    bool reserved = false;
};

} // namespace

class tst_LocalServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void typedValues_data();
    void typedValues();
    void requests_data();
    void requests();
    void scriptErrors_data();
    void scriptErrors();
    void lastError();
    void refusedOnceStopped();
    void heldWhileBoardReserved();
    void badClientsDisturbNobody();
    void privateSocket();
    void secondServerLeavesLiveSocket();
    void privateDirectory_data();
    void privateDirectory();

private:
    PrivateWorkDirectory workDirectory;
    MainApp *app = nullptr;
    ScriptedApplet *applet = nullptr;
    QString path;
    MessageBoxAnswerer answerer;
};

void tst_LocalServer::initTestCase()
{
    app = testMainApp();
    app->setAppletFactory([this] {
        applet = new ScriptedApplet;
        return QList<Applet *>{applet};
    });
    QVERIFY(app->initialise());
    app->startMainWindow();
    path = app->server()->serverPath();
    QVERIFY(QFile::exists(path));
}

void tst_LocalServer::cleanupTestCase()
{
    app->shutdown();
    MainApp::destroyInstance();
    QVERIFY(!QFile::exists(path));
}

void tst_LocalServer::typedValues_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("integer") << QByteArray("i50") << QVariant(50) << QByteArray("i50");
    QTest::newRow("bad integer") << QByteArray("ix") << QVariant(0) << QByteArray("i0");
    QTest::newRow("real") << QByteArray("f2.5") << QVariant(2.5) << QByteArray("f2.5");
    QTest::newRow("text") << QByteArray("shello world") << QVariant(QString("hello world"))
                          << QByteArray("shello world");
    QTest::newRow("bytes") << QByteArray("x0A0b") << QVariant(QByteArray("\x0a\x0b")) << QByteArray("x0a0b");
    QTest::newRow("bytes with junk") << QByteArray("x0A-0b") << QVariant(QByteArray("\x0a\x0b"))
                                     << QByteArray("x0a0b");
    QTest::newRow("upper case letter") << QByteArray("I50") << QVariant() << QByteArray();
    QTest::newRow("empty") << QByteArray() << QVariant() << QByteArray();
}

void tst_LocalServer::typedValues()
{
    QFETCH(QByteArray, field);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, encoded);

    const QVariant decoded = LocalServer::decode(field);
    QCOMPARE(decoded, value);
    QCOMPARE(LocalServer::encode(decoded), encoded);
    QCOMPARE(LocalServer::encode(true), QByteArray("i1"));
    QCOMPARE(LocalServer::encode(false), QByteArray("i0"));
    QCOMPARE(LocalServer::encode(QVariantList{1, 2}), QByteArray());
}

void tst_LocalServer::requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("version") << QByteArray("get\tversion\n") << QByteArray("i1");
    QTest::newRow("VERSION") << QByteArray("get\tVERSION\n") << QByteArray("i1");
    QTest::newRow("set field") << QByteArray("set\tBasic.CR9[3:1]\ti5\n") << QByteArray("ok\n");
    QTest::newRow("get field") << QByteArray("set\tBasic.CR9[3:1]\ti6\r\nget\tBasic.CR9[3:1]\n")
                               << QByteArray("ok\ni6");
    QTest::newRow("variable out of range") << QByteArray("set\tBasic.Speed\tf150\n") << QByteArray("err\n");
    QTest::newRow("variable") << QByteArray("set\tBasic.Speed\tf75\nget\tBasic.Speed\n")
                              << QByteArray("ok\nf75");
    QTest::newRow("run three fields") << QByteArray("run\tBasic.echo\tsabc\n") << QByteArray("sabc");
    QTest::newRow("run two fields") << QByteArray("run\tBasic.ok\n") << QByteArray("i1");
    QTest::newRow("run list") << QByteArray("run\tBasic.echo\ti1\ti2\n") << QByteArray();
    QTest::newRow("run unknown") << QByteArray("run\tBasic.nothing\n") << QByteArray("i0");
    QTest::newRow("set two fields") << QByteArray("set\tBasic.Speed\n") << QByteArray("err\n");
    QTest::newRow("get three fields") << QByteArray("get\tBasic.Speed\ti1\n") << QByteArray("err\n");
    QTest::newRow("run alone") << QByteArray("run\n") << QByteArray("err\n");
    QTest::newRow("unknown word") << QByteArray("SET\tBasic.Speed\ti1\n") << QByteArray("err\n");
    QTest::newRow("wrong case applet") << QByteArray("set\tbasic.Speed\ti1\n") << QByteArray("err\n");
    QTest::newRow("global set") << QByteArray("set\tBoard\ti1\nset\ta.b.c\ti1\n") << QByteArray("ok\nok\n");
    QTest::newRow("repeated line") << QByteArray("run\tBasic.ok\nrun\tBasic.ok\n") << QByteArray("i1");
    QTest::newRow("A B A") << QByteArray("get\tversion\nrun\tBasic.ok\nget\tversion\n")
                           << QByteArray("i1i1i1");
    QTest::newRow("blank lines") << QByteArray("\n  \n\nget\tversion\n") << QByteArray("i1");
    QTest::newRow("no line end") << QByteArray("get\tversion") << QByteArray("i1");
    QTest::newRow("write") << QByteArray("run\tWRITE\tsget DIO22 AIN5\n")
                           << QByteArray("x") + QByteArray("DIO22=0").toHex();
    QTest::newRow("set_timeout") << QByteArray("run\tset_timeout\ti700\n") << QByteArray("i1");
}

void tst_LocalServer::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    if (!app->isBoardConnected())
        QVERIFY(app->connectToBoard("mockup"));
    const QByteArray got = ask(path, request);
    if (QByteArray(QTest::currentDataTag()) == "write")
        QVERIFY2(got.startsWith(reply), got.constData());
    else
        QCOMPARE(got, reply);
    if (QByteArray(QTest::currentDataTag()) == "set_timeout")
        QCOMPARE(app->link()->defaultTimeout(), 700);
}

// '@' stands for a NUL byte.
QByteArray withNul(const char *text)
{
    return QByteArray(text).replace('@', '\0');
}

// What a request answers and which error lines it logs, with or without a
// board; the connection afterwards tells that nothing else was touched.
void tst_LocalServer::scriptErrors_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<bool>("connectedAfter");

    QTest::newRow("get, no board") << false << QByteArray("get\tBasic.Speed\n") << QByteArray("err\n")
                                   << QStringList{"Error GET Basic.Speed: no board is connected"} << false;
    QTest::newRow("set, no board") << false << QByteArray("set\tBasic.Speed\ti1\n") << QByteArray("err\n")
                                   << QStringList{"Error SET:Basic.Speed: no board is connected"} << false;
    QTest::newRow("run, no board") << false << QByteArray("run\tBasic.ok\n") << QByteArray("err\n")
                                   << QStringList{"Error RUN:Basic.ok: no board is connected"} << false;
    QTest::newRow("no such window, no board")
        << false << QByteArray("set\tBasicc.Speed\ti1\n") << QByteArray("err\n")
        << QStringList{"Error SET:Basicc.Speed: there is no window named Basicc"} << false;
    QTest::newRow("no such window") << true << QByteArray("run\tBasicc.ok\n") << QByteArray("err\n")
                                    << QStringList{"Error RUN:Basicc.ok: there is no window named Basicc"}
                                    << true;
    QTest::newRow("write, no board") << false << QByteArray("run\twrite\tsget VER\n") << QByteArray()
                                     << QStringList() << false;
    QTest::newRow("open") << false << QByteArray("run\topen\tsmockup\n") << QByteArray("i1") << QStringList()
                          << true;

    QTest::newRow("misspelt function") << true << QByteArray("run\tBasic.okk\n") << QByteArray("i0")
                                       << QStringList{"Basic has no function okk"} << true;
    QTest::newRow("function that fails")
        << true << QByteArray("run\tBasic.fails\n") << QByteArray("i0") << QStringList() << true;
    QTest::newRow("pattern that runs")
        << true << QByteArray("run\tBasic.o?\n") << QByteArray("i1") << QStringList() << true;
    QTest::newRow("pattern that runs nothing") << true << QByteArray("run\tBasic.x*\n") << QByteArray("i0")
                                               << QStringList{"Basic has no function x*"} << true;
    QTest::newRow("no such parameter") << true << QByteArray("get\tBasic.Nope[2:0]\n") << QByteArray("err\n")
                                       << QStringList{"Basic has no parameter Nope"} << true;
    QTest::newRow("value out of range")
        << true << QByteArray("set\tBasic.Speed\tf150\n") << QByteArray("err\n") << QStringList() << true;

    QTest::newRow("functions, no board") << false << QByteArray("run\tfunctions\tsBasic\n")
                                         << QByteArray("scomplain;echo;fails;ok") << QStringList() << false;
    QTest::newRow("parameters") << true << QByteArray("run\tPARAMETERS\tsBasic\n") << QByteArray("sCR9;Speed")
                                << QStringList() << true;
    QTest::newRow("functions of no window")
        << false << QByteArray("run\tfunctions\tsBasicc\n") << QByteArray("err\n")
        << QStringList{"Error RUN:functions: there is no window named Basicc"} << false;

    QTest::newRow("NUL in a port")
        << true << withNul("run\topen\tsmock@up\n") << QByteArray("err\n")
        << QStringList{"Error RUN:open: the port name holds a NUL byte; nothing was "
                       "opened"}
        << true;
    QTest::newRow("NUL ends other text")
        << true << withNul("run\tBasic.echo\tsab@cd\n") << QByteArray("sab") << QStringList() << true;
    QTest::newRow("NUL ends a name") << true << withNul("set\tBasic.Speed@x\tf75@1\n") << QByteArray("ok\n")
                                     << QStringList() << true;
}

void tst_LocalServer::scriptErrors()
{
    QFETCH(bool, connected);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, errors);
    QFETCH(bool, connectedAfter);

    if (!connected)
        app->disconnectFromBoard();
    else if (!app->isBoardConnected())
        QVERIFY(app->connectToBoard("mockup"));
    QSignalSpy logged(app->logsApplet(), &Logs::signal_errorAdded);
    QCOMPARE(ask(path, request), reply);
    QStringList seen;
    for (const QList<QVariant> &error : logged)
        seen.append(error.at(0).toString());
    QCOMPARE(seen, errors);
    QCOMPARE(app->isBoardConnected(), connectedAfter);
}

// The last error of the request so far, or of the request before it; only
// errors of requests count.
void tst_LocalServer::lastError()
{
    if (!app->isBoardConnected())
        QVERIFY(app->connectToBoard("mockup"));
    QCOMPARE(ask(path, "get\tlast_error\nrun\tBasic.okk\nget\tlast_error\n"),
             QByteArray("si0sBasic has no function okk"));
    QCOMPARE(ask(path, "get\tlast_error\n"), QByteArray("sBasic has no function okk"));
    QCOMPARE(ask(path, "get\tLAST_ERROR\n"), QByteArray("s"));
    // Plain text on one line, whatever the log window shows.
    QCOMPARE(ask(path, "run\tBasic.complain\nget\tversion\n"), QByteArray("i0i1"));
    emit app->signal_log(-1, "not a request's");
    QCOMPARE(ask(path, "get\tlast_error\n"), QByteArray("sMotor stalled twice"));
}

// Once the program stops serving, every request is answered "err" line by
// line and runs not at all, also those still in the listen queue when the
// server goes.
void tst_LocalServer::refusedOnceStopped()
{
    QTemporaryDir dir;
    const QString where = dir.filePath("stopping");
    FakeHost host;
    auto *server = new LocalServer(&host);
    QVERIFY(server->start(where, false));
    QCOMPARE(ask(where, "get\tversion\n"), QByteArray("i1"));
    server->stopServing();
    QCOMPARE(ask(where, "get\tversion\nrun\tset_timeout\ti999\n"), QByteArray("err\nerr\n"));
    QCOMPARE(host.calls, QStringList{"get version"});

    // Nobody accepts these before the server goes.
    const auto connectRaw = [&where](const QByteArray &request) {
        const QByteArray native = QFile::encodeName(where);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size()) {
            ::close(fd);
            return -1;
        }
        return fd;
    };
    const int whole = connectRaw("get\tversion\nget\tVersion\n");
    const int half = connectRaw("get\tver");
    const int silent = connectRaw(QByteArray());
    QVERIFY(whole >= 0 && half >= 0 && silent >= 0);
    delete server;
    QVERIFY(!QFile::exists(where));

    for (const auto &[fd, expected] :
         {std::pair{whole, QByteArray("err\nerr\n")}, std::pair{half, QByteArray("err\n")},
          std::pair{silent, QByteArray()}}) {
        QByteArray got;
        char buffer[256];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        const int error = n < 0 ? errno : 0;
        ::close(fd);
        QCOMPARE(error, 0);
        QCOMPARE(got, expected);
    }
    QCOMPARE(host.calls, QStringList{"get version"});
}

// While a firmware download has the board, requests that may reach it wait
// in their order; one that only asks the application goes ahead.
void tst_LocalServer::heldWhileBoardReserved()
{
    QTemporaryDir dir;
    const QString where = dir.filePath("reserved");
    FakeHost host;
    LocalServer server(&host);
    QVERIFY(server.start(where, false));
    host.reserved = true;
    AsyncClient write(where, "run\twrite\tsget VER\n");
    QTRY_VERIFY(write.sent);
    AsyncClient field(where, "set\tBasic.Speed\ti1\n");
    QTRY_VERIFY(field.sent);
    AsyncClient version(where, "get\tversion\n");
    QTRY_VERIFY(version.done());
    QCOMPARE(version.reply, QByteArray("i1"));
    QVERIFY(!write.done() && !field.done());
    QCOMPARE(host.calls, QStringList{"get version"});

    host.reserved = false;
    server.resume();
    QTRY_VERIFY(write.done() && field.done());
    QCOMPARE(write.reply, QByteArray("i1"));
    QCOMPARE(field.reply, QByteArray("ok\n"));
    QCOMPARE(host.calls, (QStringList{"get version", "run write", "set Basic.Speed"}));
}

void tst_LocalServer::badClientsDisturbNobody()
{
    // A silent client, a half line and an early hang-up, then a good request.
    QLocalSocket silent;
    silent.connectToServer(path);
    QVERIFY(silent.waitForConnected(1000));
    QLocalSocket half;
    half.connectToServer(path);
    QVERIFY(half.waitForConnected(1000));
    half.write("get\tver");
    half.flush();
    QCOMPARE(ask(path, "get\tversion\n", true), QByteArray());
    QCOMPARE(ask(path, "get\tversion\n"), QByteArray("i1"));
    // An oversized request is refused whole.
    QCOMPARE(ask(path, QByteArray(LocalServer::MaxRequestBytes + 10, 'a')), QByteArray("err\n"));
    QCOMPARE(ask(path, "get\tversion\n"), QByteArray("i1"));
}

void tst_LocalServer::privateSocket()
{
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    // Nobody but the owner may connect.
    QCOMPARE(st.st_mode & 0077, 0u);
}

void tst_LocalServer::secondServerLeavesLiveSocket()
{
    FakeHost host;
    LocalServer second(&host);
    QVERIFY(!second.start(path, false));
    QCOMPARE(ask(path, "get\tversion\n"), QByteArray("i1"));

    // A socket nobody listens on, as a crashed run leaves it, is taken over.
    const QString stale = path + "-stale";
    {
        const QByteArray native = QFile::encodeName(stale);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
    }
    LocalServer third(&host);
    QVERIFY(third.start(stale, false));
    QCOMPARE(ask(stale, "get\tversion\n"), QByteArray("i1"));

    // Anything but a socket is left alone.
    const QString plain = path + "-plain";
    QFile file(plain);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    LocalServer fourth(&host);
    QVERIFY(!fourth.start(plain, false));
    QVERIFY2(fourth.errorText().contains("not a socket"), qPrintable(fourth.errorText()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
    file.remove();
}

void tst_LocalServer::privateDirectory_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("create");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("missing, made") << "missing" << true << true;
    QTest::newRow("missing, only checked") << "missing" << false << false;
    QTest::newRow("private") << "private" << false << true;
    QTest::newRow("open to others") << "open" << true << false;
    QTest::newRow("a link to a private one") << "link" << true << false;
    QTest::newRow("a file") << "file" << true << false;
    QTest::newRow("another user's") << "foreign" << true << false;
}

void tst_LocalServer::privateDirectory()
{
    QFETCH(QString, kind);
    QFETCH(bool, create);
    QFETCH(bool, accepted);

    QTemporaryDir scratch;
    const QString dir = scratch.filePath("hql3318-test");
    const QByteArray native = QFile::encodeName(dir);
    if (kind == "private" || kind == "open" || kind == "foreign")
        QCOMPARE(::mkdir(native.constData(), kind == "open" ? 0777 : 0700), 0);
    if (kind == "open")
        QCOMPARE(::chmod(native.constData(), 0777), 0);
    if (kind == "link") {
        QVERIFY(QDir(scratch.path()).mkdir("real"));
        QVERIFY(QFile::setPermissions(scratch.filePath("real"), QFileDevice::ReadOwner |
                                                                    QFileDevice::WriteOwner |
                                                                    QFileDevice::ExeOwner));
        QVERIFY(QFile::link(scratch.filePath("real"), dir));
    }
    if (kind == "file") {
        QFile file(dir);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (kind == "foreign") {
        if (::geteuid() != 0)
            QSKIP("needs root to give a directory to another user");
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
    }
    QString error;
    QCOMPARE(ScriptProtocol::checkPrivateDirectory(dir, create, &error), accepted);
    QCOMPARE(error.isEmpty(), accepted);
    if (accepted) {
        struct stat st = {};
        QCOMPARE(::lstat(native.constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }
}

QTEST_MAIN(tst_LocalServer)
#include "tst_localserver.moc"
