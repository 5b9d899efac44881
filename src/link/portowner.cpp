#include "link/portowner.h"

#include <QThread>

#include <sys/eventfd.h>
#include <unistd.h>

PortOwner::PortOwner()
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

PortOwner::~PortOwner()
{
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void PortOwner::wake()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void PortOwner::drainWake()
{
    quint64 count;
    [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
}

PortOwner::Ticket PortOwner::enqueue()
{
    QMutexLocker lock(&m_mutex);
    const Ticket ticket = m_next++;
    m_line.insert(ticket);
    ++m_waiting;
    return ticket;
}

void PortOwner::leaveLine(Ticket ticket)
{
    if (m_line.erase(ticket) > 0)
        --m_waiting;
}

void PortOwner::cancel(Ticket ticket)
{
    QMutexLocker lock(&m_mutex);
    leaveLine(ticket);
    // The next in line may be first now.
    m_changed.wakeAll();
}

PortOwner::Take PortOwner::acquire(QDeadlineTimer deadline, Ticket ticket)
{
    const Qt::HANDLE self = QThread::currentThreadId();
    QMutexLocker lock(&m_mutex);
    if (m_owner == self) {
        leaveLine(ticket);
        m_changed.wakeAll();
        return Take::OwnThread;
    }
    if (ticket == 0) {
        ticket = m_next++;
        m_line.insert(ticket);
        ++m_waiting;
    }
    // A presence check in progress gives way. A free port needs no wake-up:
    // that would cost every command a context switch.
    if (m_owner && self != m_worker)
        wake();
    while (m_owner || *m_line.begin() != ticket) {
        if (m_stopped) {
            leaveLine(ticket);
            m_changed.wakeAll();
            return Take::Stopped;
        }
        // A restart holds the port for up to ten seconds: a command waits no
        // longer than it would for its answer.
        if (!m_changed.wait(&m_mutex, deadline) && (m_owner || *m_line.begin() != ticket)) {
            leaveLine(ticket);
            // The worker may have waited for the waiters to leave, the next
            // in line for this one.
            m_changed.wakeAll();
            return Take::TimedOut;
        }
    }
    leaveLine(ticket);
    m_owner = self;
    return Take::Held;
}

PortOwner::Take PortOwner::acquireIdle(const std::function<bool()> &stop)
{
    QMutexLocker lock(&m_mutex);
    if (m_owner || m_waiting > 0) {
        // A transaction in progress is no silence: its end (which may bring
        // the board's answer) wakes the worker.
        while ((m_owner || m_waiting > 0) && !m_stopped && !stop())
            m_changed.wait(&m_mutex);
        return Take::Busy;
    }
    if (m_stopped)
        return Take::Stopped;
    m_owner = QThread::currentThreadId();
    return Take::Held;
}

void PortOwner::release()
{
    bool closeNow = false;
    {
        QMutexLocker lock(&m_mutex);
        closeNow = m_closePending;
        m_closePending = false;
    }
    if (closeNow && m_closer)
        m_closer();
    QMutexLocker lock(&m_mutex);
    m_owner = nullptr;
    m_changed.wakeAll();
}

void PortOwner::closeOnRelease()
{
    QMutexLocker lock(&m_mutex);
    m_closePending = true;
}

void PortOwner::stop()
{
    QMutexLocker lock(&m_mutex);
    m_stopped = true;
    m_changed.wakeAll();
}

void PortOwner::notify()
{
    QMutexLocker lock(&m_mutex);
    m_changed.wakeAll();
}
