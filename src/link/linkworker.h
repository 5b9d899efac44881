#pragma once

#include "link/linkcommand.h"
#include "link/portowner.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QThread>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class ControlBoardPrivate;

// Carries one finished transaction to its caller's context: a queued
// connection to the context drops the call if the context is gone.
class LinkCompletion : public QObject
{
    Q_OBJECT

signals:
    void finished(bool ok, const QList<LinkReply> &replies);
};

// The link's worker thread: it runs what was handed to it in order (the
// transactions started without waiting, the firmware restart), each in
// its place in the port's line, and between them checks the board's
// presence after a silence. It takes the port only through PortLease.
class LinkWorker : public QThread
{
public:
    struct Job
    {
        // Holds the job's place in the port's line from the moment it was asked.
        PortOwner::Ticket ticket = 0;
        bool reset = false;
        // Run on the worker in the job's place in line; told false when the
        // job is taken back unrun.
        std::function<void(bool run)> task;
        QList<LinkCommand> commands;
        const void *holder = nullptr;
        std::unique_ptr<LinkCompletion> completion;
    };

    explicit LinkWorker(ControlBoardPrivate &d) : m_d(d) {}

    void post(Job job);
    // Takes back every job not yet started: a transaction is told it
    // failed, a restart that it found no board (when tellRestart).
    void cancelQueued(bool tellRestart);
    bool hasQueued() const { return m_queued > 0; }

protected:
    void run() override;

private:
    bool take(Job *job);
    void transact(Job &job);
    void restart(Job &job);
    void checkPresence();

    ControlBoardPrivate &m_d;
    QMutex m_jobsMutex;
    std::deque<Job> m_jobs;
    std::atomic<int> m_queued{0};
};
