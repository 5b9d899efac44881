#include "link/controlboard.h"

#include "link/controlboard_p.h"
#include "link/linklog.h"
#include "util/bytes.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

Q_LOGGING_CATEGORY(lcLink, "hql.link", QtInfoMsg)

ControlBoard::ControlBoard(QObject *parent) : QObject(parent), d(std::make_unique<ControlBoardPrivate>(this))
{
    d->worker.start(QThread::HighPriority);
}

ControlBoard::~ControlBoard()
{
    d->shutdown();
}

bool ControlBoard::connectBoard(const QString &name)
{
    // Asked again for the port it is on, the link starts afresh: the board
    // is set up anew and the mock-up gives its numbers from the start.
    if (d->connected)
        disconnectBoard(ByUser);
    d->loss = Loss::None;

    if (name == QLatin1String("mockup")) {
        d->mode = MockUp;
        d->mockUp.seed(100);
        d->portName = name;
        emit signal_notice(QStringLiteral("Software is in Mock-up mode. \n Communication is simulated!"));
        d->connected = true;
    } else if (name == QLatin1String("script") || name.startsWith(QLatin1String("script:"))) {
        d->mode = Script;
        QString path = name.mid(7);
        if (name == QLatin1String("script"))
            path = d->askScriptPath ? d->askScriptPath() : QString();
        if (path.isEmpty() || !QFile::exists(path))
            return false;
        d->script.setScriptPath(path);
        d->portName = name;
        d->connected = true;
    } else {
        d->mode = Serial;
        d->connectError.clear();
        if (name.isEmpty())
            return false;
        bool held = false;
        const auto openAndAsk = [this, &name, &held](PortOwner::Ticket ticket) {
            PortLease lease(d->port, QDeadlineTimer(QDeadlineTimer::Forever), ticket);
            held = lease.held();
            if (!held)
                return;
            if (!d->serial.open(name, LinkBaudRate))
                d->connectError = d->serial.openError();
            QElapsedTimer waited;
            waited.start();
            if (d->serial.isOpen() && !d->serial.ping()) {
                d->serial.closePort();
                d->serial.forget();
                d->connectError =
                    QStringLiteral("No board answered on %1 after %2 ms.").arg(name).arg(waited.elapsed());
            }
            if (!d->serial.isOpen())
                return;
            d->baudRate = LinkBaudRate;
            d->serial.forget();
            d->connected = true;
        };
        if (d->waitsLive()) {
            const PortOwner::Ticket ticket = d->port.enqueue();
            d->runLive([&] { openAndAsk(ticket); }, ticket);
        } else {
            openAndAsk(0);
        }
        if (!held)
            return false;
        if (!d->connected) {
            // Told whether or not traffic is logged: the user asked for it.
            emit signal_log(ErrorLevel, d->connectError);
            return false;
        }
        d->portName = name;
        // The worker starts watching the board's presence.
        d->port.wake();
        queryVersion();
    }

    log(INF, "Connected to " + name.toLatin1());
    emit signal_connected();
    return true;
}

void ControlBoard::disconnectBoard(int reason)
{
    if (reason == DueToErrors) {
        Loss expected = Loss::None;
        d->loss.compare_exchange_strong(expected, Loss::Silent);
        log(RX_ERR, "Disconnect due to errors");
    } else {
        d->loss = Loss::None;
        log(INF, "Disconnect by user");
    }
    // What waits for the link's thread is not begun; a restart in progress
    // is given up.
    d->worker.cancelQueued(true);
    d->cancelReset = true;
    PortLease lease(d->port);
    if (lease.held()) {
        d->closeLink();
    } else {
        // This thread holds the port further down its stack: no new
        // command starts, and the port closes when the holder lets go.
        d->port.closeOnRelease();
        d->connected = false;
    }
    d->cancelReset = false;
    lease.release();
    emit signal_disconnected();
}

void ControlBoard::boardUnplugged()
{
    if (!d->connected)
        return;
    d->loss = Loss::Unplugged;
    disconnectBoard(DueToErrors);
}

ControlBoard::Loss ControlBoard::loss() const
{
    return d->loss;
}

bool ControlBoard::setBaudRate(int rate)
{
    if (!d->connected || d->mode != Serial) {
        d->baudRate = rate;
        return true;
    }
    PortLease lease(d->port);
    if (!lease.held())
        return false;
    d->baudRate = rate;
    if (!d->connected)
        return true;
    d->serial.changeSpeed(d->portName, rate);
    return true;
}

void ControlBoard::reserve(const void *holder)
{
    d->reservedBy = holder;
}

void ControlBoard::unreserve(const void *holder)
{
    if (d->reservedBy != holder || !holder)
        return;
    d->reservedBy = nullptr;
    emit signal_unreserved();
}

bool ControlBoard::isReserved() const
{
    return d->reservedBy != nullptr;
}

bool ControlBoard::transact(const QByteArray &command, QByteArray *reply, int timeout, const void *holder)
{
    QList<LinkReply> replies;
    const bool ok = transact({{command, timeout}}, &replies, holder);
    if (ok && reply)
        *reply = replies.value(0).text;
    return ok;
}

bool ControlBoard::transact(const QList<LinkCommand> &commands, QList<LinkReply> *replies, const void *holder)
{
    QList<LinkReply> own;
    QList<LinkReply> *into = replies ? replies : &own;
    if (!d->waitsLive() || !d->connected)
        return d->perform(commands, into, holder, 0, true);
    emit signal_aboutToSend();
    bool ok = false;
    const PortOwner::Ticket ticket = d->port.enqueue();
    d->runLive([&] { ok = d->perform(commands, into, holder, ticket, false); }, ticket);
    return ok;
}

void ControlBoard::setLiveWait(std::function<void(bool entering)> guard)
{
    d->liveGuard = std::move(guard);
}

bool ControlBoard::isWaitingLive() const
{
    return d->liveDepth > 0;
}

void ControlBoard::transactAsync(const QByteArray &command, int timeout, QObject *context,
                                 std::function<void(bool ok, const QByteArray &reply)> done,
                                 const void *holder)
{
    std::function<void(bool, const QList<LinkReply> &)> first;
    if (done) {
        first = [done = std::move(done)](bool ok, const QList<LinkReply> &replies) {
            done(ok, ok ? replies.value(0).text : QByteArray());
        };
    }
    transactAsync({{command, timeout}}, context, std::move(first), holder);
}

void ControlBoard::transactAsync(const QList<LinkCommand> &commands, QObject *context,
                                 std::function<void(bool ok, const QList<LinkReply> &replies)> done,
                                 const void *holder)
{
    LinkWorker::Job job;
    job.completion = std::make_unique<LinkCompletion>();
    if (done) {
        QObject::connect(
            job.completion.get(), &LinkCompletion::finished, context ? context : this,
            [done = std::move(done)](bool ok, const QList<LinkReply> &replies) { done(ok, replies); },
            Qt::QueuedConnection);
    }
    if (!d->connected || d->quit) {
        emit job.completion->finished(false, QList<LinkReply>(commands.size()));
        return;
    }
    emit signal_aboutToSend();
    job.commands = commands;
    job.holder = holder;
    job.ticket = d->port.enqueue();
    d->worker.post(std::move(job));
}

bool ControlBoard::setParameter(const QString &name, const QByteArray &value)
{
    return transact("set " + name.toLatin1() + '=' + upToNul(value) + '\n');
}

bool ControlBoard::getParameter(const QString &name, QByteArray *value)
{
    QByteArray answer;
    if (!transact("get " + name.toLatin1(), &answer))
        return false;
    answer.replace('\n', QByteArray());
    QByteArray v;
    if (!parseValue(answer, name, &v))
        return false;
    if (value && !v.isEmpty())
        *value = v;
    return true;
}

bool ControlBoard::parseValue(const QByteArray &reply, const QString &name, QByteArray *value)
{
    if (!value || reply.isEmpty())
        return false;
    const QByteArray key = name.toLatin1();
    const QList<QByteArray> words = reply.split(' ');
    for (const QByteArray &word : words) {
        const int eq = word.indexOf('=');
        if (eq >= 0 && word.left(eq) == key) {
            *value = word.mid(eq + 1);
            return true;
        }
    }
    return false;
}

bool ControlBoard::queryVersion()
{
    QByteArray ver;
    QByteArray idn;
    const bool verOk = transact("get VER", &ver);
    const bool idnOk = transact("*IDN?", &idn);
    d->firmwareIdentity = QString::fromLatin1(QByteArray(idn).replace('\n', QByteArray()));
    static const QRegularExpression pattern(
        QStringLiteral("\\w+=([\\w\\d]+) (\\w+) (\\w+) (\\d+) (\\d+):(\\d+):(\\d+) (\\d+)"));
    const QRegularExpressionMatch m = pattern.match(QString::fromLatin1(ver));
    if (m.hasMatch()) {
        bool ok = false;
        const int version = m.captured(1).toInt(&ok, 16);
        if (ok)
            d->firmwareVersion = version;
        const QString date = QStringLiteral("%1 %2 %3 %4:%5:%6 %7")
                                 .arg(m.captured(2), m.captured(3), m.captured(4), m.captured(5),
                                      m.captured(6), m.captured(7), m.captured(8));
        d->firmwareBuildDate = QLocale::c().toDateTime(date, QStringLiteral("ddd MMM dd hh:mm:ss yyyy"));
    }
    return verOk && idnOk;
}

bool ControlBoard::ping()
{
    if (d->mode != Serial)
        return true;
    PortLease lease(d->port);
    return lease.held() && d->serial.ping();
}

void ControlBoard::resetBoard()
{
    log(INF, "Board reset");
    if (d->mode != Serial || !d->connected) {
        QMetaObject::invokeMethod(
            this, [this] { emit signal_resetFinished(false); }, Qt::QueuedConnection);
        return;
    }
    if (d->resetRequested.exchange(true))
        return;
    LinkWorker::Job job;
    job.reset = true;
    job.ticket = d->port.enqueue();
    d->worker.post(std::move(job));
}

bool ControlBoard::isResetting() const
{
    return d->resetRequested;
}

void ControlBoard::setLogging(bool on)
{
    d->logging = on;
}

bool ControlBoard::isLogging() const
{
    return d->logging;
}

void ControlBoard::setDefaultTimeout(int ms)
{
    d->defaultTimeoutMs = ms;
}

int ControlBoard::defaultTimeout() const
{
    return d->defaultTimeoutMs;
}

QString ControlBoard::connectError() const
{
    return d->connectError;
}

bool ControlBoard::isConnected() const
{
    return d->connected;
}

int ControlBoard::mode() const
{
    return d->mode;
}

QString ControlBoard::portName() const
{
    return d->portName;
}

int ControlBoard::baudRate() const
{
    return d->baudRate;
}

int ControlBoard::firmwareVersion() const
{
    return d->firmwareVersion;
}

QDateTime ControlBoard::firmwareBuildDate() const
{
    return d->firmwareBuildDate;
}

QString ControlBoard::firmwareIdentity() const
{
    return d->firmwareIdentity;
}

void ControlBoard::setScriptPathProvider(std::function<QString()> provider)
{
    d->askScriptPath = std::move(provider);
}

void ControlBoard::setPythonPath(const QString &path)
{
    d->script.setInterpreter(path);
}

void ControlBoard::log(int kind, const QByteArray &text)
{
    qint64 sinceLast = 0;
    QTime at;
    {
        QMutexLocker lock(&d->logMutex);
        if (!d->logClock.isValid())
            d->logClock.start();
        if (!d->logging)
            return;
        sinceLast = d->logClock.restart();
        at = QTime::currentTime();
    }
    d->tell([this, kind, text, sinceLast, at] { emit signal_traffic(kind, text, sinceLast, at); });
}
