#include "link/serialtransport.h"

#include "link/controlboard.h"
#include "link/handshake.h"
#include "util/bytes.h"

#include <optional>
#include <utility>

#include <cerrno>
#include <poll.h>

namespace {

using Handshake::ACK;
using Handshake::ENQ;
constexpr char CAN = 0x18;
constexpr int ResetLimitMs = 10000;
// How long an ENQ already sent may still wait for its ACK once a caller
// wants the port: a board that is there answers well within it.
constexpr int AckGraceMs = 20;

bool failed(const pollfd &p)
{
    return p.revents & (POLLHUP | POLLERR | POLLNVAL);
}

} // namespace

SerialTransport::SerialTransport(PortOwner &owner, int queueSize, int silenceMs)
    : m_owner(owner), m_framer(queueSize, silenceMs), m_queueSize(queueSize), m_silenceMs(silenceMs)
{
    m_clock.start();
}

bool SerialTransport::open(const QString &name, int baudRate)
{
    m_framer.reset();
    return m_port.open(name, baudRate);
}

bool SerialTransport::closeAt(int baudRate)
{
    if (!m_port.isOpen())
        return false;
    m_port.write("set baudrate=" + QByteArray::number(baudRate) + '\n');
    m_port.drain();
    m_port.setRts(false);
    m_port.close();
    return true;
}

void SerialTransport::changeSpeed(const QString &name, int baudRate)
{
    m_port.write("set baudrate=" + QByteArray::number(baudRate) + '\n');
    m_port.drain();
    m_port.close();
    // A failed reopen is found by the presence check.
    m_port.open(name, baudRate);
}

int SerialTransport::pull(bool *hungUp)
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
        m_framer.feed(chunk);
        if (n < SerialPort::ReadChunk)
            break;
    }
    // Only what the board sends proves it is there.
    if (total > 0)
        touch();
    return total;
}

bool SerialTransport::discardInput()
{
    bool hungUp = false;
    if (pull(&hungUp) > 0)
        m_framer.clearBuffer();
    return !hungUp;
}

bool SerialTransport::hungUp() const
{
    if (!m_port.isOpen())
        return false;
    pollfd p{m_port.fd(), 0, 0};
    return ::poll(&p, 1, 0) > 0 && failed(p);
}

bool SerialTransport::exchange(const LinkRequest &request, LinkSink &sink)
{
    const QList<LinkCommand> &commands = request.commands;
    QList<LinkReply> &replies = *request.replies;
    const qsizetype count = commands.size();
    replies = QList<LinkReply>(count);
    // Each command's bytes; a refused one has none, and its reason.
    QList<QByteArray> outs(count);
    QList<QByteArray> refusals(count);
    qsizetype total = 0;
    for (qsizetype k = 0; k < count; ++k) {
        QByteArray out = commands.at(k).text;
        if (out.isEmpty())
            continue;
        if (!out.endsWith('\n'))
            out += '\n';
        // A command the board's queue cannot hold is refused whole rather
        // than sent cut short.
        if (out.size() > m_queueSize) {
            refusals[k] = "command longer than " + QByteArray::number(m_queueSize) + " bytes";
            continue;
        }
        total += out.size();
        outs[k] = out;
    }
    if (total == 0) {
        for (qsizetype k = 0; k < count; ++k) {
            if (k > 0)
                sink.log(ControlBoard::TX, upToNul(commands.at(k).text));
            sink.log(ControlBoard::RX_ERR, refusals.at(k));
        }
        return false;
    }

    PortLease lease(*request.port, request.portDeadline, request.ticket);
    if (!lease.held())
        return sink.portRefused(lease.timedOut(), request.portWaitMs);
    if (!sink.isConnected()) {
        // The worker lost the board while this command waited for the port.
        lease.release();
        sink.log(ControlBoard::RX_ERR, QByteArray());
        return false;
    }
    bool gone = false;
    pull(&gone);
    m_framer.dropUnasked();
    // All lines in one write when the board's queue holds them, else each
    // command when its turn comes.
    const bool together = total <= m_queueSize;
    bool written = false;
    bool allOk = true;
    QByteArray syncError;
    // A failed command's error is told after its reply, before the next
    // command's line, or once the port is free.
    std::optional<QByteArray> error;
    qsizetype k = 0;
    for (; k < count; ++k) {
        if (k > 0) {
            if (error)
                sink.log(ControlBoard::RX_ERR, *std::exchange(error, std::nullopt));
            if (!sink.isConnected())
                break;
            sink.log(ControlBoard::TX, upToNul(commands.at(k).text));
        }
        if (outs.at(k).isEmpty()) {
            error = refusals.at(k);
            allOk = false;
            continue;
        }
        // What the commands before still owe comes first, as before any
        // command.
        if (!gone)
            resynchronise(&gone, &syncError, sink);
        if (gone)
            break;
        if (!written) {
            m_port.write(together ? outs.join() : outs.at(k));
            sink.sent();
            written = together;
        }
        const int limit = commands.at(k).timeout;
        if (limit == 0) {
            m_framer.oweAll(outs.at(k), now());
            replies[k] = {QByteArray(), true};
            continue;
        }
        sink.log(ControlBoard::RX, "TIMEOUT:" + QByteArray::number(limit));
        collect(outs.at(k), limit, &gone, sink);
        replies[k] = {m_framer.lastLine(), m_framer.succeeded()};
        if (!replies.at(k).ok) {
            error = m_framer.lastLine();
            allOk = false;
        }
        if (gone)
            break;
    }
    // The framer is the next holder's once the port is let go.
    const bool lost = gone && sink.isConnected();
    // A board that never answered the resynchronisation is silent, not gone.
    const ControlBoard::Loss loss =
        syncError.isEmpty() || hungUp() ? ControlBoard::Loss::Unplugged : ControlBoard::Loss::Silent;
    if (lost)
        sink.closeLink();
    // Errors are told once the port is free.
    lease.release();
    if (!syncError.isEmpty())
        sink.log(ControlBoard::RX_ERR, syncError);
    // The lost board is all there is to tell.
    if (lost) {
        sink.lost(int(loss));
        return false;
    }
    if (error)
        sink.log(ControlBoard::RX_ERR, *error);
    return allOk && k == count;
}

void SerialTransport::collect(const QByteArray &out, int limitMs, bool *gone, LinkSink &sink)
{
    m_framer.begin(out, limitMs, now());
    while (!m_framer.complete()) {
        QByteArray line;
        const ReplyFramer::Reply got = m_framer.next(&line, now());
        if (got == ReplyFramer::Reply::Late) {
            sink.log(ControlBoard::INF, "late reply dropped: " + line);
            continue;
        }
        if (got == ReplyFramer::Reply::Line) {
            sink.log(ControlBoard::RX, line);
            continue;
        }
        const qint64 left = m_framer.replyWaitMs(now());
        if (left <= 0 || !sink.isConnected())
            break;
        pollfd p{m_port.fd(), POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            continue;
        if (pull(gone) > 0) {
            sink.received();
        } else if (*gone || failed(p)) {
            *gone = true;
            break;
        }
    }
    m_framer.end(now());
}

bool SerialTransport::resynchronise(bool *gone, QByteArray *error, LinkSink &sink)
{
    // Owed lines come first, in order, so they are read and dropped until
    // the board has been silent for the presence time.
    while (m_framer.owedLines() > 0) {
        QByteArray line;
        const ReplyFramer::Drop dropped = m_framer.dropOwed(&line);
        if (dropped == ReplyFramer::Drop::Line)
            sink.log(ControlBoard::INF, "late reply dropped: " + line);
        if (dropped != ReplyFramer::Drop::None)
            continue;
        const qint64 wait = m_framer.owedWaitMs(now(), m_lastByteMs);
        if (wait < 0 || !sink.isConnected())
            break;
        pollfd p{m_port.fd(), POLLIN, 0};
        if (::poll(&p, 1, int(wait)) <= 0)
            continue;
        if (pull(gone) == 0 && (*gone || failed(p))) {
            *gone = true;
            return false;
        }
    }
    if (m_framer.owedLines() == 0)
        return true;
    // Nothing more came: either the board lost those answers or it is gone.
    pull(gone);
    m_framer.clearBuffer();
    const bool present = sink.isConnected() && !*gone && ping();
    m_framer.clearBuffer();
    m_framer.forgiveOwed();
    if (!present) {
        *error = "no answer for " + QByteArray::number(m_silenceMs) + " ms";
        *gone = true;
        return false;
    }
    return true;
}

SerialTransport::Presence SerialTransport::presence(bool mayGiveWay)
{
    if (!m_port.isOpen() || m_port.bytesAvailable() > 0)
        return Presence::Silent;
    // Three attempts of 100 ms each. The worker also watches its wake-up:
    // a caller that wants the port gets it, after a short grace for an ACK
    // already on its way.
    for (int attempt = 0; attempt < Handshake::Attempts; ++attempt) {
        if (mayGiveWay && (m_owner.waiting() > 0 || m_stopping))
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
            pollfd fds[2] = {{m_port.fd(), POLLIN, 0}, {m_owner.wakeFd(), POLLIN, 0}};
            const int r = ::poll(fds, mayGiveWay ? 2 : 1, int(left));
            if (r < 0 && errno != EINTR)
                return Presence::Silent;
            if (mayGiveWay && (fds[1].revents & POLLIN)) {
                m_owner.drainWake();
                if (m_owner.waiting() > 0 || m_stopping)
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
            m_framer.oweAck();
            return Presence::GaveWay;
        }
    }
    return Presence::Silent;
}

bool SerialTransport::restart(const std::atomic<bool> &cancel)
{
    if (!m_port.isOpen())
        return false;
    m_port.write(QByteArray(6, CAN));
    QElapsedTimer clock;
    clock.start();
    bool answered = false;
    while (!answered && clock.elapsed() < ResetLimitMs && !m_stopping && !cancel) {
        m_port.write(QByteArray(1, ENQ));
        // Up to 10 ms for the answer; without one, 10 ms more before the
        // next ENQ. The wake-up descriptor cuts either short for a stop.
        pollfd fds[2] = {{m_port.fd(), POLLIN, 0}, {m_owner.wakeFd(), POLLIN, 0}};
        if (::poll(fds, 2, 10) > 0 && (fds[1].revents & POLLIN))
            m_owner.drainWake();
        QByteArray bytes;
        if (m_port.readAvailable(bytes) > 0) {
            answered = bytes.contains(ACK);
            continue;
        }
        pollfd wake{m_owner.wakeFd(), POLLIN, 0};
        if (::poll(&wake, 1, 10) > 0)
            m_owner.drainWake();
    }
    QByteArray rest;
    while (m_port.readAvailable(rest) > 0) {
    }
    // The restarted firmware owes nothing.
    m_framer.reset();
    touch();
    return answered;
}
