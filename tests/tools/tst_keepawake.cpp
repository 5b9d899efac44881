#include "tools/keepawake.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusUnixFileDescriptor>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// What the fake session services were asked, read by the test thread while
// the services answer on a thread of their own.
struct Ledger
{
    QMutex mutex;
    QList<uint> active;
    QList<uint> released;
    QList<QStringList> inhibitCalls;
    int sleepReadEnd = -1;
};

class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    explicit FakeScreenSaver(Ledger *ledger) : m_ledger(ledger) {}

public slots:
    uint Inhibit(const QString &application, const QString &reason)
    {
        QMutexLocker lock(&m_ledger->mutex);
        m_ledger->inhibitCalls.append({application, reason});
        const uint cookie = 4711 + uint(m_ledger->inhibitCalls.size());
        m_ledger->active.append(cookie);
        return cookie;
    }
    void UnInhibit(uint cookie)
    {
        QMutexLocker lock(&m_ledger->mutex);
        m_ledger->active.removeOne(cookie);
        m_ledger->released.append(cookie);
    }

private:
    Ledger *m_ledger;
};

// The login manager hands out the write end of a pipe: the inhibition
// lasts until every copy of it is closed, which the read end then shows.
class FakeLoginManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    explicit FakeLoginManager(Ledger *ledger) : m_ledger(ledger) {}

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return QDBusUnixFileDescriptor();
        QMutexLocker lock(&m_ledger->mutex);
        m_ledger->inhibitCalls.append({what, who, why, mode});
        if (m_ledger->sleepReadEnd >= 0)
            ::close(m_ledger->sleepReadEnd);
        m_ledger->sleepReadEnd = fds[0];
        QDBusUnixFileDescriptor handed(fds[1]);
        ::close(fds[1]);
        return handed;
    }

private:
    Ledger *m_ledger;
};

// True once every writer of the pipe is gone.
bool writerClosed(int readEnd, int timeoutMs)
{
    pollfd p{readEnd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    char byte;
    return ::read(readEnd, &byte, 1) == 0;
}

} // namespace

class tst_KeepAwake : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void onAndOff();
    void releasedWhenDestroyed();
    void withoutServices();
    void withoutSessionBus();
    void defaultBusesPointingNowhere();

private:
    bool startServices();
    QDBusConnection client(const QString &name) { return QDBusConnection::connectToBus(address, name); }

    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    QThread serviceThread;
    Ledger ledger;
    FakeScreenSaver *screenSaver = nullptr;
    FakeLoginManager *loginManager = nullptr;
};

void tst_KeepAwake::initTestCase()
{
    const QString program = QStandardPaths::findExecutable("dbus-daemon");
    if (program.isEmpty())
        QSKIP("dbus-daemon is not installed (Debian package dbus)");
    address = "unix:path=" + dir.filePath("bus");
    daemon.start(program,
                 {"--session", "--nofork", "--nopidfile", "--address=" + address, "--print-address=1"});
    QVERIFY(daemon.waitForStarted());
    QVERIFY(daemon.waitForReadyRead(5000));
    QVERIFY(startServices());
}

void tst_KeepAwake::cleanupTestCase()
{
    serviceThread.quit();
    serviceThread.wait(5000);
    delete screenSaver;
    delete loginManager;
    QDBusConnection::disconnectFromBus("services");
    if (daemon.state() != QProcess::NotRunning) {
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
}

bool tst_KeepAwake::startServices()
{
    QDBusConnection bus = QDBusConnection::connectToBus(address, "services");
    if (!bus.isConnected())
        return false;
    // The services answer on their own thread while the caller blocks.
    serviceThread.start();
    screenSaver = new FakeScreenSaver(&ledger);
    loginManager = new FakeLoginManager(&ledger);
    screenSaver->moveToThread(&serviceThread);
    loginManager->moveToThread(&serviceThread);
    return bus.registerObject("/org/freedesktop/ScreenSaver", screenSaver, QDBusConnection::ExportAllSlots) &&
           bus.registerObject("/org/freedesktop/login1", loginManager, QDBusConnection::ExportAllSlots) &&
           bus.registerService("org.freedesktop.ScreenSaver") &&
           bus.registerService("org.freedesktop.login1");
}

void tst_KeepAwake::onAndOff()
{
    QDBusConnection bus = client("onAndOff");
    KeepAwake keepAwake(bus, bus);
    QVERIFY(keepAwake.set());
    QVERIFY(keepAwake.isOn());
    QVERIFY(keepAwake.screenSaverInhibited());
    QVERIFY(keepAwake.sleepInhibited());
    uint cookie = 0;
    int readEnd = -1;
    {
        QMutexLocker lock(&ledger.mutex);
        QCOMPARE(ledger.active.size(), 1);
        cookie = ledger.active.first();
        readEnd = ledger.sleepReadEnd;
        QCOMPARE(ledger.inhibitCalls.last(),
                 (QStringList{"idle:sleep", "HQL3318", "Long test running", "block"}));
    }
    QVERIFY(!writerClosed(readEnd, 50));

    // A renewal asks for nothing already held.
    QVERIFY(keepAwake.set());
    {
        QMutexLocker lock(&ledger.mutex);
        QCOMPARE(ledger.active, QList<uint>{cookie});
    }

    keepAwake.clear();
    QVERIFY(!keepAwake.isOn());
    QVERIFY(!keepAwake.screenSaverInhibited());
    QVERIFY(!keepAwake.sleepInhibited());
    {
        QMutexLocker lock(&ledger.mutex);
        QVERIFY(ledger.active.isEmpty());
        QCOMPARE(ledger.released.last(), cookie);
    }
    QVERIFY(writerClosed(readEnd, 2000));

    // Off again (or off without ever being on) hands back nothing twice.
    const int releases = int(ledger.released.size());
    keepAwake.clear();
    KeepAwake never(bus, bus);
    never.clear();
    QCOMPARE(int(ledger.released.size()), releases);
}

void tst_KeepAwake::releasedWhenDestroyed()
{
    QDBusConnection bus = client("destroyed");
    int readEnd = -1;
    {
        KeepAwake keepAwake(bus, bus);
        QVERIFY(keepAwake.set());
        QMutexLocker lock(&ledger.mutex);
        QCOMPARE(ledger.active.size(), 1);
        readEnd = ledger.sleepReadEnd;
    }
    QMutexLocker lock(&ledger.mutex);
    QVERIFY(ledger.active.isEmpty());
    QVERIFY(writerClosed(readEnd, 2000));
}

void tst_KeepAwake::withoutServices()
{
    // A second bus on which nobody offers the services.
    QTemporaryDir other;
    QProcess empty;
    const QString emptyAddress = "unix:path=" + other.filePath("bus");
    empty.start(QStandardPaths::findExecutable("dbus-daemon"),
                {"--session", "--nofork", "--nopidfile", "--address=" + emptyAddress, "--print-address=1"});
    QVERIFY(empty.waitForStarted());
    QVERIFY(empty.waitForReadyRead(5000));
    {
        QDBusConnection bus = QDBusConnection::connectToBus(emptyAddress, "empty");
        QVERIFY(bus.isConnected());
        KeepAwake keepAwake(bus, bus);
        QTest::ignoreMessage(QtInfoMsg,
                             QRegularExpression("keep-awake: the screen saver cannot be held off"));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("keep-awake: sleep cannot be held off"));
        QVERIFY(!keepAwake.set());
        QVERIFY(keepAwake.isOn());
        // Renewals stay quiet.
        QVERIFY(!keepAwake.set());
        keepAwake.clear();
    }
    QDBusConnection::disconnectFromBus("empty");
    empty.terminate();
    empty.waitForFinished(5000);
}

void tst_KeepAwake::withoutSessionBus()
{
    QDBusConnection nowhere =
        QDBusConnection::connectToBus("unix:path=" + dir.filePath("nothing-here"), "nowhere");
    QVERIFY(!nowhere.isConnected());
    KeepAwake keepAwake(nowhere, nowhere);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("keep-awake: no session bus"));
    QVERIFY(!keepAwake.set());
    QVERIFY(!keepAwake.screenSaverInhibited());
    QVERIFY(!keepAwake.sleepInhibited());
    keepAwake.clear();
    QVERIFY(!keepAwake.isOn());
}

void tst_KeepAwake::defaultBusesPointingNowhere()
{
    // The process's session bus is made on first use, after this.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.filePath("nothing-here").toUtf8());
    KeepAwake keepAwake;
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("keep-awake: no session bus"));
    QVERIFY(!keepAwake.set());
    keepAwake.clear();
}

QTEST_GUILESS_MAIN(tst_KeepAwake)
#include "tst_keepawake.moc"
