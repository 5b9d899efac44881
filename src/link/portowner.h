#pragma once

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <set>

// The port's ownership handshake. Every user of the port (a transaction,
// connect, speed change, disconnect, the worker's presence check and
// restart) holds it first; only the holder reads, writes or closes the
// port. Callers get it in the order they asked (a ticket may be taken ahead
// of time to keep a place in line); the worker's presence check takes it
// only when it is free and nobody waits, and gives up as soon as somebody
// does. Nobody holds the mutex while waiting on the port.
class PortOwner
{
public:
    using Ticket = quint64;
    enum class Take
    {
        Held,
        // The calling thread holds it already (a nested event loop further
        // down its stack).
        OwnThread,
        TimedOut,
        // Idle only: somebody held it or waited for it.
        Busy,
        // The link is going away.
        Stopped
    };

    PortOwner();
    ~PortOwner();
    PortOwner(const PortOwner &) = delete;
    PortOwner &operator=(const PortOwner &) = delete;

    // A place in line, kept until acquire() uses it or cancel() gives it up.
    Ticket enqueue();
    void cancel(Ticket ticket);
    // Waits until the port is free and every earlier ticket is served, at
    // most until deadline; ticket 0 takes a fresh one.
    Take acquire(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever), Ticket ticket = 0);
    // Takes the port only when it is free and nobody waits; otherwise waits
    // until nobody holds or waits for it, or until stop() says so, and
    // returns Busy. stop() is asked under the mutex: whoever changes its
    // answer calls notify().
    Take acquireIdle(const std::function<bool()> &stop);
    void release();
    // Asked from the holder's own thread further down its stack: the port
    // closes (through the closer) when the holder lets go.
    void closeOnRelease();
    void setCloser(std::function<void()> closer) { m_closer = std::move(closer); }
    // From now on acquire() refuses; every wait ends.
    void stop();
    void notify();

    // Callers waiting for the port (a presence check gives way to them).
    int waiting() const { return m_waiting; }

    // The worker's wake-up: an event descriptor it polls beside the port.
    void setWorkerThread(Qt::HANDLE thread) { m_worker = thread; }
    int wakeFd() const { return m_wakeFd; }
    void wake();
    void drainWake();

private:
    void leaveLine(Ticket ticket);

    mutable QMutex m_mutex;
    QWaitCondition m_changed;
    Qt::HANDLE m_owner = nullptr;
    std::atomic<Qt::HANDLE> m_worker{nullptr};
    std::set<Ticket> m_line;
    Ticket m_next = 1;
    std::atomic<int> m_waiting{0};
    bool m_closePending = false;
    bool m_stopped = false;
    std::function<void()> m_closer;
    int m_wakeFd = -1;
};

// Holds the port for its scope; held() is false when it was refused or the
// wait ran out.
class PortLease
{
public:
    struct Idle
    {
        std::function<bool()> stop;
    };

    explicit PortLease(PortOwner &owner, QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                       PortOwner::Ticket ticket = 0)
        : m_owner(owner), m_take(owner.acquire(deadline, ticket))
    {
    }
    PortLease(PortOwner &owner, const Idle &idle) : m_owner(owner), m_take(owner.acquireIdle(idle.stop)) {}
    ~PortLease() { release(); }
    PortLease(const PortLease &) = delete;
    PortLease &operator=(const PortLease &) = delete;

    bool held() const { return m_take == PortOwner::Take::Held; }
    bool timedOut() const { return m_take == PortOwner::Take::TimedOut; }
    void release()
    {
        if (held())
            m_owner.release();
        m_take = PortOwner::Take::Stopped;
    }

private:
    PortOwner &m_owner;
    PortOwner::Take m_take;
};
