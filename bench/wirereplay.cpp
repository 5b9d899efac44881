#include "wirereplay.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace {

// What the board needs to answer a write through the link: its lines, the
// last one ended by the LF the link adds when the caller left it out.
QStringList linesOf(const QByteArray &command)
{
    QStringList lines = QString::fromLatin1(command).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// How long one answer may take, however slow the modelled line.
constexpr int AnswerLimitMs = 5000;

} // namespace

bool planReplay(const QStringList &heard, const QList<QByteArray> &commands, QList<WireStep> *steps,
                QString *error)
{
    steps->clear();
    // A board that marks its round trips tells which commands went out in
    // one write; without the marks each command is a write of its own.
    const QString mark = QStringLiteral("<ROUND TRIP>");
    const bool marked = heard.contains(mark);
    bool newWrite = true;
    int next = 0;
    for (qsizetype i = 0; i < heard.size();) {
        if (heard.at(i) == mark) {
            newWrite = true;
            ++i;
            continue;
        }
        if (next < commands.size()) {
            const QStringList lines = linesOf(commands.at(next));
            if (!lines.isEmpty() && heard.mid(i, lines.size()) == lines) {
                QByteArray bytes = commands.at(next);
                if (!bytes.endsWith('\n'))
                    bytes += '\n';
                if (marked && !newWrite && !steps->isEmpty() &&
                    steps->last().answer == WireStep::Answer::Lines) {
                    steps->last().bytes += bytes;
                    steps->last().lines += int(lines.size());
                } else {
                    steps->append({bytes, WireStep::Answer::Lines, int(lines.size())});
                }
                newWrite = false;
                i += lines.size();
                ++next;
                continue;
            }
        }
        newWrite = true;
        const QString &line = heard.at(i);
        if (line == QLatin1String("<ENQ>")) {
            steps->append({QByteArray(1, '\x05'), WireStep::Answer::Ack, 0});
        } else if (line.startsWith(QLatin1String("set baudrate="))) {
            steps->append({line.toLatin1() + '\n', WireStep::Answer::Nothing, 0});
        } else {
            *error = QStringLiteral("the board heard \"%1\", which the link did not log as sent").arg(line);
            return false;
        }
        ++i;
    }
    if (next < commands.size()) {
        *error = QStringLiteral("the link sent \"%1\", which the board did not hear")
                     .arg(QString::fromLatin1(commands.at(next)));
        return false;
    }
    return true;
}

QString startWireSim(QProcess &sim, int latencyMs, const QString &transcript)
{
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(HQL_SIM_PATH),
              {QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--latency"),
               QString::number(latencyMs), QStringLiteral("--count-round-trips"),
               QStringLiteral("--transcript"), transcript, QStringLiteral("--exit-on-stdin-eof")});
    if (!sim.waitForStarted(5000))
        return QString();
    while (!sim.canReadLine()) {
        if (!sim.waitForReadyRead(5000))
            return QString();
    }
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

void stopSim(QProcess &sim)
{
    sim.closeWriteChannel();
    if (!sim.waitForFinished(5000))
        sim.kill();
    sim.waitForFinished(2000);
}

int roundsFor(int latencyMs, int slowLineRounds, int fastLineRounds)
{
    if (qEnvironmentVariableIsSet("HQL_BENCH_ROUNDS"))
        return qMax(1, qEnvironmentVariableIntValue("HQL_BENCH_ROUNDS"));
    return latencyMs > 4 ? slowLineRounds : fastLineRounds;
}

QStringList transcriptLines(const QString &path, int from)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.mid(from);
}

QStringList withoutMarks(QStringList lines)
{
    lines.removeAll(QStringLiteral("<ROUND TRIP>"));
    return lines;
}

int waitForLine(const QString &path, int from, const QString &line, int timeoutMs)
{
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0)
        return -1;
    const bool watched = ::inotify_add_watch(watch, QFile::encodeName(path).constData(), IN_MODIFY) >= 0;
    const QDeadlineTimer deadline(timeoutMs);
    int heard = -1;
    while (watched) {
        const QStringList lines = transcriptLines(path);
        if (lines.indexOf(line, from) >= 0) {
            heard = int(lines.size());
            break;
        }
        pollfd p{watch, POLLIN, 0};
        const int left = int(deadline.remainingTime());
        if (left <= 0 || ::poll(&p, 1, left) < 0)
            break;
        char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
    }
    ::close(watch);
    return heard;
}

bool ReplayClient::open(const QString &path)
{
    close();
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
}

void ReplayClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}

bool ReplayClient::play(const QList<WireStep> &steps)
{
    for (const WireStep &step : steps) {
        if (!writeAll(step.bytes))
            return false;
        // A new speed waits until the old one has carried the line out.
        if (step.answer == WireStep::Answer::Nothing) {
            if (::tcdrain(m_fd) != 0)
                return false;
            continue;
        }
        if (!await(step))
            return false;
    }
    return true;
}

bool ReplayClient::writeAll(const QByteArray &bytes)
{
    if (m_fd < 0)
        return false;
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

bool ReplayClient::await(const WireStep &step)
{
    char chunk[512];
    for (;;) {
        if (step.answer == WireStep::Answer::Ack) {
            const qsizetype ack = m_buffer.indexOf('\x06');
            if (ack >= 0) {
                m_buffer.remove(0, ack + 1);
                return true;
            }
        } else {
            qsizetype end = -1;
            int found = 0;
            while (found < step.lines && (end = m_buffer.indexOf('\n', end + 1)) >= 0)
                ++found;
            if (found == step.lines) {
                m_buffer.remove(0, end + 1);
                return true;
            }
        }
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, AnswerLimitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, n);
    }
}
