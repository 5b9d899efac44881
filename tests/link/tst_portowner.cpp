#include "link/portowner.h"

#include <QMutex>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

class tst_PortOwner : public QObject
{
    Q_OBJECT

private slots:
    void servedInTheOrderAsked();
    void aPlaceInLineHoldsOthersBack();
    void idleOnlyWhenNobodyWaits();
    void nestedTakeIsRefused();
    void stopEndsTheWait();
};

// Whoever took a ticket first gets the port first, whatever the order the
// threads come to wait in.
void tst_PortOwner::servedInTheOrderAsked()
{
    PortOwner owner;
    QCOMPARE(owner.acquire(), PortOwner::Take::Held);
    const std::vector<PortOwner::Ticket> tickets{owner.enqueue(), owner.enqueue(), owner.enqueue()};
    QCOMPARE(owner.waiting(), 3);
    QMutex mutex;
    QList<int> served;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 2; i >= 0; --i) {
        threads.emplace_back(QThread::create([&, i] {
            PortLease lease(owner, QDeadlineTimer(QDeadlineTimer::Forever), tickets[size_t(i)]);
            QMutexLocker lock(&mutex);
            served.append(lease.held() ? i : -1);
        }));
        threads.back()->start();
    }
    owner.release();
    for (auto &thread : threads)
        QVERIFY(thread->wait(QDeadlineTimer(QDeadlineTimer::Forever)));
    QCOMPARE(served, (QList<int>{0, 1, 2}));
    QCOMPARE(owner.waiting(), 0);
}

// A free port is not free for somebody behind a ticket; a place given up
// lets the next one in.
void tst_PortOwner::aPlaceInLineHoldsOthersBack()
{
    PortOwner owner;
    const PortOwner::Ticket first = owner.enqueue();
    QCOMPARE(owner.acquire(QDeadlineTimer(0)), PortOwner::Take::TimedOut);
    QCOMPARE(owner.waiting(), 1);
    owner.cancel(first);
    QCOMPARE(owner.acquire(QDeadlineTimer(0)), PortOwner::Take::Held);
    owner.release();
    // Its own ticket serves whoever holds it.
    const PortOwner::Ticket mine = owner.enqueue();
    QCOMPARE(owner.acquire(QDeadlineTimer(0), mine), PortOwner::Take::Held);
    owner.release();
    QCOMPARE(owner.waiting(), 0);
}

void tst_PortOwner::idleOnlyWhenNobodyWaits()
{
    PortOwner owner;
    const PortOwner::Ticket waiting = owner.enqueue();
    QCOMPARE(owner.acquireIdle([] { return true; }), PortOwner::Take::Busy);
    owner.cancel(waiting);
    QCOMPARE(owner.acquireIdle([] { return true; }), PortOwner::Take::Held);
    owner.release();
}

// A wait further down the holder's own stack would never end.
void tst_PortOwner::nestedTakeIsRefused()
{
    PortOwner owner;
    int closed = 0;
    owner.setCloser([&closed] { ++closed; });
    PortLease outer(owner);
    QVERIFY(outer.held());
    {
        PortLease inner(owner);
        QVERIFY(!inner.held());
        QVERIFY(!inner.timedOut());
        // A disconnect from down there closes the port once the holder lets go.
        owner.closeOnRelease();
    }
    QCOMPARE(closed, 0);
    outer.release();
    QCOMPARE(closed, 1);
    QCOMPARE(owner.acquire(QDeadlineTimer(0)), PortOwner::Take::Held);
    owner.release();
    QCOMPARE(closed, 1);
}

void tst_PortOwner::stopEndsTheWait()
{
    PortOwner owner;
    owner.enqueue();
    owner.stop();
    QCOMPARE(owner.acquire(), PortOwner::Take::Stopped);
    QCOMPARE(owner.acquireIdle([] { return false; }), PortOwner::Take::Busy);
}

QTEST_GUILESS_MAIN(tst_PortOwner)
#include "tst_portowner.moc"
