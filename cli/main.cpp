// hql3318-ctl: sends one request to the application's scripting socket and
// prints the reply.
//   hql3318-ctl [--pipe NAME] [--timeout SECONDS] set|get|run NAME [TYPED_VALUE ...]
//   hql3318-ctl [--pipe NAME] [--timeout SECONDS] -   (lines from standard input, one request)
// Exit status: 0 for a reply, 1 for "err", 2 when no server answers in time
// or the server is another user's.
#include "protocol/scriptprotocol.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace {

int usage()
{
    std::fputs(
        "usage: hql3318-ctl [--pipe NAME] [--timeout SECONDS] set|get|run NAME [TYPED_VALUE ...]\n"
        "       hql3318-ctl [--pipe NAME] [--timeout SECONDS] -   (request lines from standard input)\n"
        "typed values: i<integer> f<real> s<text> x<hex bytes>\n"
        "--timeout: how long to wait for the reply (default 60, 0 waits for ever);\n"
        "           in a window a request may wait for a message box\n",
        stderr);
    return 2;
}

qint64 nowMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

int servedByAnother(const QByteArray &path, uid_t owner)
{
    std::fprintf(
        stderr,
        "hql3318-ctl: %s is served by another user (uid %u); it accepts only requests from its own user\n",
        path.constData(), unsigned(owner));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QByteArray pipe = ScriptProtocol::DefaultName;
    double timeoutSeconds = 60;
    int i = 1;
    for (; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--pipe") == 0) {
            pipe = argv[i + 1];
        } else if (std::strcmp(argv[i], "--timeout") == 0) {
            char *end = nullptr;
            timeoutSeconds = std::strtod(argv[i + 1], &end);
            if (!end || *end || timeoutSeconds < 0)
                return usage();
        } else {
            break;
        }
    }
    if (i >= argc || std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
        return usage();

    // Arguments travel as the bytes the shell gave, as the protocol's text is 8-bit.
    QByteArray request;
    if (std::strcmp(argv[i], "-") == 0) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            return usage();
        request = in.readAll();
        if (!request.endsWith('\n'))
            request += '\n';
    } else {
        const QByteArray word = argv[i];
        if ((word != "set" && word != "get" && word != "run") || argc - i < 2)
            return usage();
        for (int k = i; k < argc; ++k) {
            if (k > i)
                request += '\t';
            request += argv[k];
        }
        request += '\n';
    }

    const QString name = QString::fromLocal8Bit(pipe);
    QString error;
    if (!ScriptProtocol::checkPlace(name, false, &error)) {
        std::fprintf(stderr, "hql3318-ctl: %s\n", qPrintable(error));
        return 2;
    }
    const QByteArray path = QFile::encodeName(ScriptProtocol::socketPath(name));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path) {
        std::fprintf(stderr, "hql3318-ctl: socket path too long: %s\n", path.constData());
        return 2;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const qint64 deadline = timeoutSeconds > 0 ? nowMs() + qint64(timeoutSeconds * 1000) : -1;
    // While the server's listen queue is full the connect waits for room,
    // but not beyond the time-out.
    if (fd >= 0 && deadline >= 0) {
        const qint64 ms = qint64(timeoutSeconds * 1000);
        timeval limit{time_t(ms / 1000), suseconds_t(ms % 1000 * 1000)};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        struct stat socketFile = {};
        if (errno == EACCES && ::stat(path.constData(), &socketFile) == 0 && socketFile.st_uid != ::geteuid())
            return servedByAnother(path, socketFile.st_uid);
        if (errno == EAGAIN)
            std::fprintf(stderr, "hql3318-ctl: %s accepted no connection within %g s\n", path.constData(),
                         timeoutSeconds);
        else
            std::fprintf(stderr, "hql3318-ctl: no server at %s\n", path.constData());
        return 2;
    }
    // The server closes another user's connection without a word; its
    // socket's owner tells why beforehand.
    ucred server{};
    socklen_t length = sizeof server;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &server, &length) == 0 && server.uid != ::geteuid())
        return servedByAnother(path, server.uid);
    // The half-close tells the server that the request is complete.
    if (!writeAll(fd, request) || ::shutdown(fd, SHUT_WR) != 0) {
        std::fprintf(stderr, "hql3318-ctl: cannot send the request: %s\n", std::strerror(errno));
        return 2;
    }

    // The server closes the connection when the reply is complete.
    QByteArray reply;
    char buffer[65536];
    for (;;) {
        const qint64 left = deadline < 0 ? -1 : deadline - nowMs();
        if (deadline >= 0 && left <= 0) {
            std::fprintf(stderr, "hql3318-ctl: no reply within %g s\n", timeoutSeconds);
            return 2;
        }
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, left < 0 ? -1 : int(qMin<qint64>(left, 1 << 30)));
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        reply.append(buffer, n);
    }
    ::close(fd);
    std::fwrite(reply.constData(), 1, size_t(reply.size()), stdout);
    if (!reply.isEmpty() && !reply.endsWith('\n'))
        std::fputc('\n', stdout);
    // Only "ok" and "err" replies end with a line feed, so an "err" line
    // shows even between typed values.
    return reply.contains("err\n") ? 1 : 0;
}
