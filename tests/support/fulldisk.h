#pragma once

// Two ways to make file writes fail the way a full disk does.
//
// SmallDisk mounts a 64 KiB tmpfs on a temporary directory and can fill it
// to the last byte: a real full file system, for tests run as root (as in
// CI). Elsewhere it stays unmounted and says why, for a QSKIP.
//
// FileSizeLimit lowers this process's file size limit while it lives:
// every write past it fails with EFBIG, for anyone, no root needed.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

class SmallDisk
{
public:
    static constexpr int Size = 64 * 1024;

    SmallDisk()
    {
        if (::geteuid() != 0) {
            m_whyNot = QStringLiteral("a full file system needs root to mount a small tmpfs; "
                                      "the file size limit tests cover this case without root");
            return;
        }
        const QByteArray where = QFile::encodeName(m_dir.path());
        const QByteArray options = "size=" + QByteArray::number(Size);
        if (!m_dir.isValid() || ::mount("tmpfs", where.constData(), "tmpfs", 0, options.constData()) != 0) {
            m_whyNot = QStringLiteral("cannot mount a tmpfs on %1: %2")
                           .arg(m_dir.path(), QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool isMounted() const { return m_mounted; }
    QString whyNot() const { return m_whyNot; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // Takes up all room that is left; true once a write found none.
    bool fill()
    {
        const int fd = ::open(QFile::encodeName(filePath(QStringLiteral("filler"))).constData(),
                              O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd < 0)
            return false;
        const QByteArray chunk(512, 'f');
        ssize_t n = 0;
        do {
            n = ::write(fd, chunk.constData(), size_t(chunk.size()));
        } while (n > 0);
        const bool full = errno == ENOSPC;
        ::close(fd);
        return full;
    }

private:
    QTemporaryDir m_dir;
    QString m_whyNot;
    bool m_mounted = false;
};

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        // Writing past the limit raises SIGXFSZ, which would end the test.
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};
