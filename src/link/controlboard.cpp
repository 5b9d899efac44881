#include "link/controlboard.h"

#include "link/handshake.h"
#include "link/linklog.h"
#include "util/bytes.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTime>

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcLink, "hql.link", QtInfoMsg)

namespace {

using Handshake::ACK;
using Handshake::ENQ;
constexpr char CAN = 0x18;

constexpr int ResetLimitMs = 10000;
// How long an ENQ already sent may still wait for its ACK once a caller
// wants the port: a board that is there answers well within it.
constexpr int AckGraceMs = 20;
constexpr int StopWaitMs = 2000;

int levelOf(int kind)
{
    switch (kind) {
    case ControlBoard::RX: return 108;
    case ControlBoard::TX: return 109;
    case ControlBoard::INF: return 104;
    default: return -1000;
    }
}

} // namespace

// Holds the port for the scope; held() is false when it was refused or the
// wait ran out.
class ControlBoard::PortLease
{
public:
    explicit PortLease(ControlBoard *link, int timeoutMs = -1)
        : m_link(link), m_take(link->acquirePort(timeoutMs)), m_held(m_take == Take::Held)
    {
    }
    ~PortLease() { release(); }
    PortLease(const PortLease &) = delete;
    PortLease &operator=(const PortLease &) = delete;
    bool held() const { return m_held; }
    bool timedOut() const { return m_take == Take::TimedOut; }
    void release()
    {
        if (m_held)
            m_link->releasePort();
        m_held = false;
    }

private:
    ControlBoard *m_link;
    Take m_take;
    bool m_held;
};

ControlBoard::ControlBoard(QObject *parent) : QThread(parent)
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_clock.start();
    start(QThread::HighPriority);
}

ControlBoard::~ControlBoard()
{
    m_quit = true;
    m_cancelReset = true;
    {
        QMutexLocker lock(&m_mutex);
        m_ownerChanged.wakeAll();
    }
    wakeWorker();
    // Every wait of the worker ends on the quit flag within a few ms; a
    // running thread must not be destroyed, so a late one is waited for.
    if (!wait(QDeadlineTimer(StopWaitMs))) {
        qCCritical(lcLink) << "link worker did not stop within" << StopWaitMs << "ms";
        wait();
    }
    m_port.close();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void ControlBoard::wakeWorker()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void ControlBoard::drainWake()
{
    quint64 count;
    [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
}

ControlBoard::Take ControlBoard::acquirePort(int timeoutMs)
{
    const Qt::HANDLE self = QThread::currentThreadId();
    QMutexLocker lock(&m_mutex);
    if (m_owner == self)
        return Take::OwnThread;
    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    ++m_waiting;
    // A presence check in progress gives way. A free port needs no wake-up:
    // that would cost every command a context switch.
    if (m_owner)
        wakeWorker();
    while (m_owner) {
        // A restart holds the port for up to ten seconds: a command waits no
        // longer than it would for its answer.
        if (!m_ownerChanged.wait(&m_mutex, deadline) && m_owner) {
            --m_waiting;
            // The worker may have waited for the waiters to leave.
            m_ownerChanged.wakeAll();
            return Take::TimedOut;
        }
    }
    --m_waiting;
    m_owner = self;
    return Take::Held;
}

void ControlBoard::releasePort()
{
    bool closeNow = false;
    {
        QMutexLocker lock(&m_mutex);
        closeNow = m_closePending;
        m_closePending = false;
    }
    if (closeNow)
        closeLink();
    QMutexLocker lock(&m_mutex);
    m_owner = nullptr;
    m_ownerChanged.wakeAll();
}

void ControlBoard::clearQueues()
{
    QMutexLocker lock(&m_mutex);
    m_rxQueue.clear();
}

void ControlBoard::touch()
{
    m_lastActivityMs = m_clock.elapsed();
}

int ControlBoard::pullFromPort(bool *hungUp)
{
    // One read takes everything that waits (up to a chunk): no need to ask
    // the driver how much there is first.
    int total = 0;
    QByteArray chunk;
    for (;;) {
        const int n = m_port.read(chunk, SerialPort::ReadChunk);
        if (n < 0) {
            *hungUp = true;
            break;
        }
        if (n == 0)
            break;
        total += n;
        while (m_acksOwed > 0) {
            const qsizetype at = chunk.indexOf(ACK);
            if (at < 0)
                break;
            chunk.remove(at, 1);
            --m_acksOwed;
        }
        m_rxQueue.write(chunk);
        if (n < SerialPort::ReadChunk)
            break;
    }
    // Only what the board sends proves it is there.
    if (total > 0)
        touch();
    return total;
}

void ControlBoard::run()
{
    touch();
    while (!m_quit) {
        if (m_resetRequested) {
            {
                QMutexLocker lock(&m_mutex);
                while (m_owner && !m_quit)
                    m_ownerChanged.wait(&m_mutex);
                if (m_quit)
                    break;
                m_owner = QThread::currentThreadId();
            }
            const bool answered = runReset();
            releasePort();
            m_resetRequested = false;
            emit signal_resetFinished(answered);
            continue;
        }

        // The port belongs to the callers: a transaction writes its command
        // and reads its reply itself, so no thread hand-over slows a round
        // trip. The worker only wakes after a silence to check the board.
        const bool watching = m_connected && m_mode == Serial;
        const int timeout =
            watching ? int(qMax<qint64>(0, SilenceMs - (m_clock.elapsed() - m_lastActivityMs))) + 1 : -1;
        pollfd wake{m_wakeFd, POLLIN, 0};
        int r;
        do {
            r = ::poll(&wake, 1, timeout);
        } while (r < 0 && errno == EINTR);
        if (wake.revents & POLLIN)
            drainWake();
        if (m_quit || m_resetRequested || !watching || m_clock.elapsed() - m_lastActivityMs <= SilenceMs)
            continue;

        {
            // A transaction in progress is no silence: its end (which may
            // bring the board's answer) wakes the worker.
            QMutexLocker lock(&m_mutex);
            if (m_owner || m_waiting > 0) {
                while ((m_owner || m_waiting > 0) && !m_quit && !m_resetRequested)
                    m_ownerChanged.wait(&m_mutex);
                continue;
            }
            m_owner = QThread::currentThreadId();
        }
        Presence presence = Presence::Silent;
        if (m_connected && m_mode == Serial) {
            bool hungUp = false;
            {
                QMutexLocker lock(&m_mutex);
                if (pullFromPort(&hungUp) > 0)
                    m_rxQueue.clear();
            }
            if (!hungUp)
                presence = presenceCheck(true);
        } else {
            presence = Presence::Answered;
        }
        const bool lost = presence == Presence::Silent && m_connected;
        const Loss loss = portHungUp() ? Loss::Unplugged : Loss::Silent;
        if (lost)
            closeLink();
        releasePort();
        if (lost)
            announceDisconnect(DueToErrors, loss);
    }
}

bool ControlBoard::connectBoard(const QString &name)
{
    // Asked again for the port it is on, the link starts afresh: the board
    // is set up anew and the mock-up gives its numbers from the start.
    if (m_connected)
        disconnectBoard(ByUser);
    m_loss = Loss::None;

    if (name == QLatin1String("mockup")) {
        m_mode = MockUp;
        m_mockUp.seed(100);
        m_portName = name;
        emit signal_notice(QStringLiteral("Software is in Mock-up mode. \n Communication is simulated!"));
        m_connected = true;
    } else if (name == QLatin1String("script") || name.startsWith(QLatin1String("script:"))) {
        m_mode = Script;
        QString path = name.mid(7);
        if (name == QLatin1String("script"))
            path = m_askScriptPath ? m_askScriptPath() : QString();
        if (path.isEmpty() || !QFile::exists(path))
            return false;
        m_scriptPath = path;
        m_portName = name;
        m_connected = true;
    } else {
        m_mode = Serial;
        m_connectError.clear();
        if (name.isEmpty())
            return false;
        {
            PortLease lease(this);
            if (!lease.held())
                return false;
            if (!m_port.open(name, LinkBaudRate))
                m_connectError = m_port.errorString();
            m_acksOwed = 0;
            QElapsedTimer waited;
            waited.start();
            if (m_port.isOpen() && !pingPort()) {
                m_port.close();
                clearQueues();
                m_connectError =
                    QStringLiteral("No board answered on %1 after %2 ms.").arg(name).arg(waited.elapsed());
            }
            if (!m_port.isOpen()) {
                lease.release();
                // Told whether or not traffic is logged: the user asked for it.
                emit signal_log(levelOf(RX_ERR), m_connectError);
                return false;
            }
            m_portName = name;
            m_baudRate = LinkBaudRate;
            clearQueues();
            m_owedLines = 0;
            m_suspect = false;
            m_connected = true;
        }
        // The worker starts watching the board's presence.
        wakeWorker();
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
        m_loss.compare_exchange_strong(expected, Loss::Silent);
        log(RX_ERR, "Disconnect due to errors");
    } else {
        m_loss = Loss::None;
        log(INF, "Disconnect by user");
    }
    // A restart in progress is given up.
    m_cancelReset = true;
    PortLease lease(this);
    if (lease.held()) {
        closeLink();
    } else {
        // This thread holds the port further down its stack: no new
        // command starts, and the port closes when the holder lets go.
        QMutexLocker lock(&m_mutex);
        m_closePending = true;
        m_connected = false;
    }
    m_cancelReset = false;
    lease.release();
    emit signal_disconnected();
}

void ControlBoard::boardUnplugged()
{
    if (!m_connected)
        return;
    m_loss = Loss::Unplugged;
    disconnectBoard(DueToErrors);
}

bool ControlBoard::portHungUp() const
{
    if (!m_port.isOpen())
        return false;
    pollfd p{m_port.fd(), 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void ControlBoard::closeLink()
{
    if (m_mode == Serial && m_port.isOpen()) {
        // The board goes back to the link's speed while it still listens at the old one.
        m_port.write("set baudrate=" + QByteArray::number(LinkBaudRate) + '\n');
        m_port.drain();
        m_baudRate = LinkBaudRate;
        m_port.setRts(false);
        m_port.close();
    }
    m_connected = false;
    m_owedLines = 0;
    m_suspect = false;
    m_acksOwed = 0;
    clearQueues();
}

void ControlBoard::announceDisconnect(int reason, Loss loss)
{
    m_loss = reason == DueToErrors ? loss : Loss::None;
    if (reason == DueToErrors)
        log(RX_ERR, "Disconnect due to errors");
    else
        log(INF, "Disconnect by user");
    emit signal_disconnected();
}

bool ControlBoard::setBaudRate(int rate)
{
    if (!m_connected || m_mode != Serial) {
        m_baudRate = rate;
        return true;
    }
    PortLease lease(this);
    if (!lease.held())
        return false;
    m_baudRate = rate;
    if (!m_connected)
        return true;
    m_port.write("set baudrate=" + QByteArray::number(rate) + '\n');
    m_port.drain();
    m_port.close();
    // A failed reopen is found by the presence check.
    m_port.open(m_portName, rate);
    return true;
}

void ControlBoard::reserve(const void *holder)
{
    m_reservedBy = holder;
}

void ControlBoard::unreserve(const void *holder)
{
    if (m_reservedBy != holder || !holder)
        return;
    m_reservedBy = nullptr;
    emit signal_unreserved();
}

bool ControlBoard::transact(const QByteArray &command, QByteArray *reply, int timeout, const void *holder)
{
    if (!m_connected)
        return false;
    if (m_reservedBy && holder != m_reservedBy) {
        log(RX_ERR, "held back, a firmware download is under way: " + upToNul(command));
        return false;
    }
    emit signal_aboutToSend();
    log(TX, upToNul(command));

    if (m_mode == Script) {
        QByteArray text = command;
        text.replace('\n', QByteArray());
        const QByteArray answer = m_script.run(m_pythonPath, m_scriptPath, text);
        log(RX, answer);
        if (reply)
            *reply = answer;
        return true;
    }
    if (m_mode == MockUp) {
        const QByteArray answer = m_mockUp.reply(command);
        log(RX, answer);
        if (reply)
            *reply = answer;
        return true;
    }

    if (command.isEmpty()) {
        log(RX_ERR, QByteArray());
        return false;
    }
    QByteArray out = command;
    int lines = int(out.count('\n'));
    if (!out.endsWith('\n')) {
        out += '\n';
        ++lines;
    }
    // A command the board's queue cannot hold is refused whole rather
    // than sent cut short.
    if (out.size() > QueueSize) {
        log(RX_ERR, "command longer than " + QByteArray::number(QueueSize) + " bytes");
        return false;
    }

    const int limit = timeout < 0 ? int(m_defaultTimeoutMs) : timeout;
    // The caller writes its command and reads the reply itself: a hand-over
    // through the worker would add a thread wake-up to every round trip.
    PortLease lease(this, limit > 0 ? limit : int(m_defaultTimeoutMs));
    if (lease.timedOut()) {
        log(RX_ERR, "the port stayed busy (a board restart) for " +
                        QByteArray::number(limit > 0 ? limit : int(m_defaultTimeoutMs)) + " ms");
        return false;
    }
    if (!lease.held()) {
        qCWarning(lcLink) << "command refused: the port is in use further down this thread's stack";
        return false;
    }
    if (!m_connected) {
        // The worker lost the board while this command waited for the port.
        lease.release();
        log(RX_ERR, QByteArray());
        return false;
    }
    bool hungUp = false;
    {
        QMutexLocker lock(&m_mutex);
        pullFromPort(&hungUp);
        // Bytes that came unasked are not this command's reply; lines still
        // owed to a command that timed out are dropped as they come.
        if (m_owedLines == 0)
            m_rxQueue.clear();
    }
    QByteArray syncError;
    bool synced = hungUp || resynchronise(&hungUp, &syncError);
    if (synced && !hungUp) {
        m_port.write(out);
        emit signal_tx();
    }

    QByteArray current;
    int received = 0;
    int good = 0;
    if (limit > 0 && synced && !hungUp) {
        log(RX, "TIMEOUT:" + QByteArray::number(limit));
        const QList<QByteArray> sent = m_suspect ? out.split('\n') : QList<QByteArray>();
        // The limit is on silence between reply lines, not on the whole exchange.
        QElapsedTimer silence;
        silence.start();
        while (received < lines) {
            bool found = false;
            QByteArray line;
            {
                QMutexLocker lock(&m_mutex);
                line = m_rxQueue.readLine(found);
            }
            if (found) {
                silence.restart();
                // After a time-out a slow board's old answers may still come:
                // one that does not answer this line is not taken for its reply.
                if (m_suspect && !answers(line, sent.value(received))) {
                    log(INF, "late reply dropped: " + line);
                    continue;
                }
                current = line;
                log(RX, line);
                if (!line.contains("err"))
                    ++good;
                ++received;
                continue;
            }
            const qint64 left = limit - silence.elapsed();
            if (left <= 0 || !m_connected)
                break;
            pollfd p{m_port.fd(), POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            int arrived = 0;
            {
                QMutexLocker lock(&m_mutex);
                arrived = pullFromPort(&hungUp);
            }
            if (arrived > 0) {
                emit signal_rx();
            } else if (hungUp || (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                hungUp = true;
                break;
            }
        }
        if (received < lines) {
            // Their answers are still owed and come before any later reply.
            m_owedLines += lines - received;
            m_owedSinceMs = m_clock.elapsed();
            m_suspect = true;
        } else {
            m_suspect = false;
        }
    } else if (limit == 0 && synced && !hungUp) {
        m_owedLines += lines;
        m_owedSinceMs = m_clock.elapsed();
    }
    const bool lost = hungUp && m_connected;
    // A board that never answered the resynchronisation is silent, not gone.
    const Loss loss = syncError.isEmpty() || portHungUp() ? Loss::Unplugged : Loss::Silent;
    if (lost)
        closeLink();
    // Errors are told once the port is free.
    lease.release();
    if (!syncError.isEmpty())
        log(RX_ERR, syncError);
    // The lost board is all there is to tell.
    if (lost) {
        announceDisconnect(DueToErrors, loss);
        return false;
    }
    if (!synced)
        return false;

    if (limit == 0) {
        if (reply)
            reply->clear();
        return true;
    }
    if (received < lines || good < received) {
        log(RX_ERR, current);
        return false;
    }
    if (reply)
        *reply = current;
    return true;
}

bool ControlBoard::answers(const QByteArray &reply, const QByteArray &commandLine)
{
    if (reply.contains("err"))
        return true;
    const bool get = commandLine.startsWith("get ");
    if (!get && !commandLine.startsWith("set "))
        return true;
    qsizetype end = 4;
    while (end < commandLine.size() && commandLine.at(end) != ' ' && commandLine.at(end) != '=')
        ++end;
    const QByteArray name = commandLine.mid(4, end - 4);
    return reply.contains(name + (get ? '=' : ':'));
}

bool ControlBoard::resynchronise(bool *hungUp, QByteArray *error)
{
    // Owed lines come first, in order, so they are read and dropped until
    // the board has been silent for the presence time.
    while (m_owedLines > 0) {
        bool found = false;
        QByteArray line;
        {
            QMutexLocker lock(&m_mutex);
            line = m_rxQueue.readLine(found);
        }
        if (found) {
            --m_owedLines;
            log(INF, "late reply dropped: " + line);
            continue;
        }
        {
            // A line longer than the queue lost its end: it is dropped whole.
            QMutexLocker lock(&m_mutex);
            if (m_rxQueue.isFull()) {
                m_rxQueue.clear();
                --m_owedLines;
                continue;
            }
        }
        // Silence counts from the last byte, but not from before the
        // command whose answers are awaited.
        const qint64 silent = m_clock.elapsed() - qMax<qint64>(m_lastActivityMs, m_owedSinceMs);
        if (silent > SilenceMs || !m_connected)
            break;
        pollfd p{m_port.fd(), POLLIN, 0};
        if (::poll(&p, 1, int(SilenceMs - silent) + 1) <= 0)
            continue;
        QMutexLocker lock(&m_mutex);
        if (pullFromPort(hungUp) == 0 && (*hungUp || (p.revents & (POLLHUP | POLLERR | POLLNVAL)))) {
            *hungUp = true;
            return false;
        }
    }
    if (m_owedLines == 0)
        return true;
    // Nothing more came: either the board lost those answers or it is gone.
    bool present = false;
    {
        QMutexLocker lock(&m_mutex);
        pullFromPort(hungUp);
        m_rxQueue.clear();
        present = m_connected && !*hungUp && pingPort();
        m_rxQueue.clear();
    }
    m_owedLines = 0;
    if (!present) {
        *error = "no answer for " + QByteArray::number(SilenceMs) + " ms";
        *hungUp = true;
        return false;
    }
    return true;
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
    m_firmwareIdentity = QString::fromLatin1(QByteArray(idn).replace('\n', QByteArray()));
    static const QRegularExpression pattern(
        QStringLiteral("\\w+=([\\w\\d]+) (\\w+) (\\w+) (\\d+) (\\d+):(\\d+):(\\d+) (\\d+)"));
    const QRegularExpressionMatch m = pattern.match(QString::fromLatin1(ver));
    if (m.hasMatch()) {
        bool ok = false;
        const int version = m.captured(1).toInt(&ok, 16);
        if (ok)
            m_firmwareVersion = version;
        const QString date = QStringLiteral("%1 %2 %3 %4:%5:%6 %7")
                                 .arg(m.captured(2), m.captured(3), m.captured(4), m.captured(5),
                                      m.captured(6), m.captured(7), m.captured(8));
        m_firmwareBuildDate = QLocale::c().toDateTime(date, QStringLiteral("ddd MMM dd hh:mm:ss yyyy"));
    }
    return verOk && idnOk;
}

bool ControlBoard::ping()
{
    if (m_mode != Serial)
        return true;
    PortLease lease(this);
    return lease.held() && pingPort();
}

ControlBoard::Presence ControlBoard::presenceCheck(bool mayGiveWay)
{
    if (m_mode != Serial)
        return Presence::Answered;
    if (!m_port.isOpen() || m_port.bytesAvailable() > 0)
        return Presence::Silent;
    // Three attempts of 100 ms each. The worker also watches its wake-up:
    // a caller that wants the port gets it, after a short grace for an ACK
    // already on its way.
    for (int attempt = 0; attempt < Handshake::Attempts; ++attempt) {
        if (mayGiveWay && (m_waiting > 0 || m_quit))
            return Presence::GaveWay;
        if (m_port.write(QByteArray(1, ENQ)) != 1)
            return Presence::Silent;
        QElapsedTimer clock;
        clock.start();
        qint64 limit = Handshake::AttemptMs;
        for (;;) {
            const qint64 left = limit - clock.elapsed();
            if (left <= 0)
                break;
            pollfd fds[2] = {{m_port.fd(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
            const int r = ::poll(fds, mayGiveWay ? 2 : 1, int(left));
            if (r < 0 && errno != EINTR)
                return Presence::Silent;
            if (mayGiveWay && (fds[1].revents & POLLIN)) {
                drainWake();
                if (m_waiting > 0 || m_quit)
                    limit = qMin<qint64>(limit, AckGraceMs);
            }
            if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            QByteArray byte;
            if (m_port.read(byte, 1) < 0)
                return Presence::Silent;
            if (byte.size() == 1 && byte.at(0) == ACK) {
                touch();
                return Presence::Answered;
            }
            if (byte.isEmpty() && (fds[0].revents & (POLLHUP | POLLERR)))
                return Presence::Silent;
        }
        if (limit < Handshake::AttemptMs) {
            // Should the ACK come after all, it is no part of the caller's reply.
            ++m_acksOwed;
            return Presence::GaveWay;
        }
    }
    return Presence::Silent;
}

void ControlBoard::resetBoard()
{
    log(INF, "Board reset");
    if (m_mode != Serial || !m_connected) {
        QMetaObject::invokeMethod(
            this, [this] { emit signal_resetFinished(false); }, Qt::QueuedConnection);
        return;
    }
    if (m_resetRequested.exchange(true))
        return;
    wakeWorker();
}

bool ControlBoard::runReset()
{
    // Port held by the worker.
    if (m_mode != Serial || !m_port.isOpen())
        return false;
    m_port.write(QByteArray(6, CAN));
    QElapsedTimer clock;
    clock.start();
    bool answered = false;
    while (!answered && clock.elapsed() < ResetLimitMs && !m_quit && !m_cancelReset) {
        m_port.write(QByteArray(1, ENQ));
        // Up to 10 ms for the answer; without one, 10 ms more before the
        // next ENQ. The wake-up descriptor cuts either short for a quit.
        pollfd fds[2] = {{m_port.fd(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, 10) > 0 && (fds[1].revents & POLLIN))
            drainWake();
        QByteArray bytes;
        if (m_port.readAvailable(bytes) > 0) {
            answered = bytes.contains(ACK);
            continue;
        }
        pollfd wake{m_wakeFd, POLLIN, 0};
        if (::poll(&wake, 1, 10) > 0)
            drainWake();
    }
    QByteArray rest;
    while (m_port.readAvailable(rest) > 0) {
    }
    clearQueues();
    // The restarted firmware owes nothing.
    m_owedLines = 0;
    m_suspect = false;
    m_acksOwed = 0;
    touch();
    return answered;
}

void ControlBoard::setLogging(bool on)
{
    m_logging = on;
}

void ControlBoard::log(int kind, const QByteArray &text)
{
    QString line;
    {
        QMutexLocker lock(&m_logMutex);
        if (!m_logClock.isValid())
            m_logClock.start();
        if (!m_logging)
            return;
        line = formatLogLine(kind, text, m_logClock.restart(), QTime::currentTime());
    }
    emit signal_log(levelOf(kind), line);
}

QString ControlBoard::formatLogLine(int kind, const QByteArray &text, qint64 sinceLastMs, const QTime &now)
{
    qint64 elapsed = sinceLastMs;
    QString unit = QStringLiteral("ms");
    if (elapsed > 1000) {
        elapsed /= 1000;
        unit = QStringLiteral("s");
    }
    const QString clock = now.toString(QStringLiteral("hh:mm:ss.zzz"));
    QString body = QString::fromLatin1(text);
    if (kind == RX || kind == TX)
        body.replace(QLatin1Char('\n'), QStringLiteral("&lt;cr&gt; "));
    switch (kind) {
    case RX: return QStringLiteral("RX(+%1%2):%3").arg(elapsed).arg(unit, body);
    case TX: return QStringLiteral("TX(%1):%2").arg(clock, body);
    case INF: return QStringLiteral("INF(%1):%2").arg(clock, body);
    default: return QStringLiteral("RX_ERR(+%1%2):%3").arg(elapsed).arg(unit, body);
    }
}
