// The least a server of the scripting protocol can do for a board read: one
// connection per request, the request's text written to the board's
// terminal, its reply line read back and sent hex-encoded, the connection
// closed. Blocking calls, no event loop, nothing else. The scripted-read
// benchmark measures it beside the application to show what any server of
// this protocol adds to a direct read, and what is the application's own.
//
//   bench_script_floor SOCKET TERMINAL     prints "ready" once it listens
// Any request but "run<TAB>write<TAB>s<text>" is answered "err".
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Reads up to and including the first LF, or to the end of the data.
std::string readLine(int fd)
{
    std::string line;
    char buffer[512];
    while (line.empty() || line.back() != '\n') {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, size_t(n));
    }
    return line;
}

std::string serve(int terminal, const std::string &request)
{
    static const std::string prefix = "run\twrite\ts";
    if (request.size() <= prefix.size() || request.compare(0, prefix.size(), prefix) != 0 ||
        request.back() != '\n')
        return "err\n";
    if (!writeAll(terminal, request.substr(prefix.size())))
        return "err\n";
    const std::string reply = readLine(terminal);
    static const char digits[] = "0123456789abcdef";
    std::string encoded = "x";
    for (const unsigned char c : reply) {
        encoded += digits[c >> 4];
        encoded += digits[c & 15];
    }
    return encoded;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOCKET TERMINAL\n", argv[0]);
        return 2;
    }
    const int terminal = ::open(argv[2], O_RDWR | O_NOCTTY);
    if (terminal < 0) {
        std::perror(argv[2]);
        return 1;
    }
    termios tio{};
    ::tcgetattr(terminal, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(terminal, TCSANOW, &tio);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(argv[1]) >= sizeof address.sun_path) {
        std::fprintf(stderr, "socket path too long\n");
        return 1;
    }
    std::strcpy(address.sun_path, argv[1]);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        writeAll(client, serve(terminal, readLine(client)));
        ::close(client);
    }
}
