#include "transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

Transcript::~Transcript()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Transcript::open(const std::string &path, std::string &error)
{
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = "cannot open transcript " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void Transcript::line(const std::string &text)
{
    if (m_fd < 0)
        return;
    std::string out;
    out.reserve(text.size() + 1);
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f) {
            out.push_back(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    out.push_back('\n');
    const char *p = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}
