#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

// A terminal program on a serial line: another process has the line open
// at 9600 baud without any lock, as terminal programs do. The line is a
// pseudo-terminal whose other end the test keeps, so it sees the line's
// speed and every byte anybody sends on it.
class TerminalProgram
{
public:
    TerminalProgram()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
        m_process.setStandardInputFile(m_path);
        m_process.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("stty 9600 raw -echo && echo ready && exec sleep 600")});
        m_ready = m_process.waitForReadyRead(10000) && m_process.readAll().startsWith("ready");
    }
    ~TerminalProgram()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
        if (m_master >= 0)
            ::close(m_master);
    }
    TerminalProgram(const TerminalProgram &) = delete;
    TerminalProgram &operator=(const TerminalProgram &) = delete;

    bool isReady() const { return m_ready; }
    QString path() const { return m_path; }
    // How the message names it: the program and its process.
    QString holder() const { return QStringLiteral("sleep (process %1)").arg(m_process.processId()); }
    speed_t speed() const
    {
        termios tio{};
        return ::tcgetattr(m_master, &tio) == 0 ? ::cfgetospeed(&tio) : B0;
    }
    // What was sent on the line so far.
    QByteArray received() const
    {
        QByteArray bytes;
        pollfd p{m_master, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
            char buffer[256];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        return bytes;
    }

private:
    int m_master = -1;
    QString m_path;
    QProcess m_process;
    bool m_ready = false;
};
