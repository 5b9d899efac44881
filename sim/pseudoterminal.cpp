#include "pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(std::string &error)
{
    auto fail = [&](const char *what) {
        error = std::string(what) + ": " + std::strerror(errno);
        close();
        return false;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return fail("posix_openpt");
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return fail("grantpt/unlockpt");
    const char *name = ptsname(m_master);
    if (!name)
        return fail("ptsname");
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail("open terminal end");

    // Raw from the start, so bytes pass unchanged even before the
    // application configures the port.
    termios tio{};
    if (tcgetattr(m_slave, &tio) != 0)
        return fail("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");

    // Replies may pile up while nobody reads; the event loop must not block.
    const int flags = fcntl(m_master, F_GETFL);
    if (flags < 0 || fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    return true;
}

bool PseudoTerminal::makeLink(const std::string &path, std::string &error)
{
    struct stat st = {};
    if (lstat(path.c_str(), &st) == 0) {
        // Replace a stale link of an earlier run, never a real file.
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(path.c_str());
    }
    if (symlink(m_slavePath.c_str(), path.c_str()) != 0) {
        error = "cannot link " + path + ": " + std::strerror(errno);
        return false;
    }
    m_link = path;
    return true;
}

void PseudoTerminal::close()
{
    if (!m_link.empty()) {
        // Only our own link: another run may have taken the name since.
        char target[4096];
        const ssize_t n = readlink(m_link.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == m_slavePath)
            ::unlink(m_link.c_str());
        m_link.clear();
    }
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
}
