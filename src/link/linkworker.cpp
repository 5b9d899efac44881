#include "link/linkworker.h"

#include "link/controlboard_p.h"

#include <cerrno>
#include <poll.h>

void LinkWorker::post(Job job)
{
    {
        QMutexLocker lock(&m_jobsMutex);
        m_jobs.push_back(std::move(job));
        ++m_queued;
    }
    // The worker may sleep in poll() or wait for the port to fall idle.
    m_d.port.wake();
    m_d.port.notify();
}

bool LinkWorker::take(Job *job)
{
    QMutexLocker lock(&m_jobsMutex);
    if (m_jobs.empty())
        return false;
    *job = std::move(m_jobs.front());
    m_jobs.pop_front();
    --m_queued;
    return true;
}

void LinkWorker::cancelQueued(bool tellRestart)
{
    std::deque<Job> jobs;
    {
        QMutexLocker lock(&m_jobsMutex);
        jobs.swap(m_jobs);
        m_queued = 0;
    }
    for (Job &job : jobs) {
        m_d.port.cancel(job.ticket);
        if (job.task) {
            job.task(false);
        } else if (job.reset) {
            m_d.resetRequested = false;
            if (tellRestart) {
                ControlBoard *q = m_d.q;
                QMetaObject::invokeMethod(
                    q, [q] { emit q->signal_resetFinished(false); }, Qt::QueuedConnection);
            }
        } else if (job.completion) {
            emit job.completion->finished(false, QList<LinkReply>(job.commands.size()));
        }
    }
}

void LinkWorker::transact(Job &job)
{
    QList<LinkReply> replies(job.commands.size());
    // Jobs ahead of it in line ran on this thread: its wait for the port
    // counts from here, as a blocking command's counts from its call.
    const bool ok = !m_d.quit && m_d.perform(job.commands, &replies, job.holder, job.ticket, false);
    // A command refused before it reached the port leaves its place.
    m_d.port.cancel(job.ticket);
    if (job.completion)
        emit job.completion->finished(ok, replies);
}

void LinkWorker::restart(Job &job)
{
    bool answered = false;
    {
        PortLease lease(m_d.port, QDeadlineTimer(QDeadlineTimer::Forever), job.ticket);
        if (!lease.held())
            return;
        if (m_d.mode == ControlBoard::Serial)
            answered = m_d.serial.restart(m_d.cancelReset);
    }
    m_d.resetRequested = false;
    emit m_d.q->signal_resetFinished(answered);
}

void LinkWorker::run()
{
    m_d.port.setWorkerThread(QThread::currentThreadId());
    m_d.serial.touch();
    while (!m_d.quit) {
        Job job;
        if (take(&job)) {
            if (job.task) {
                job.task(!m_d.quit);
                m_d.port.cancel(job.ticket);
            } else if (job.reset) {
                restart(job);
            } else {
                transact(job);
            }
            continue;
        }

        // The port belongs to the callers: a transaction writes its command
        // and reads its reply itself, so no thread hand-over slows a round
        // trip. The worker only wakes after a silence to check the board.
        const bool watching = m_d.connected && m_d.mode == ControlBoard::Serial;
        const int timeout =
            watching ? int(qMax<qint64>(0, ControlBoard::SilenceMs - m_d.serial.silentMs())) + 1 : -1;
        pollfd wake{m_d.port.wakeFd(), POLLIN, 0};
        int r;
        do {
            r = ::poll(&wake, 1, timeout);
        } while (r < 0 && errno == EINTR);
        if (wake.revents & POLLIN)
            m_d.port.drainWake();
        if (m_d.quit || hasQueued() || !watching || m_d.serial.silentMs() <= ControlBoard::SilenceMs)
            continue;
        checkPresence();
    }
}

void LinkWorker::checkPresence()
{
    PortLease lease(m_d.port, PortLease::Idle{[this] { return m_d.quit || hasQueued(); }});
    if (!lease.held())
        return;
    SerialTransport::Presence presence = SerialTransport::Presence::Silent;
    if (m_d.connected && m_d.mode == ControlBoard::Serial) {
        if (m_d.serial.discardInput())
            presence = m_d.serial.presence(true);
    } else {
        presence = SerialTransport::Presence::Answered;
    }
    const bool lost = presence == SerialTransport::Presence::Silent && m_d.connected;
    const ControlBoard::Loss loss =
        m_d.serial.hungUp() ? ControlBoard::Loss::Unplugged : ControlBoard::Loss::Silent;
    if (lost)
        m_d.closeLink();
    lease.release();
    if (lost)
        m_d.announceDisconnect(ControlBoard::DueToErrors, loss);
}
