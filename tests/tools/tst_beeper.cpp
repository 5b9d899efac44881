#include "timing.h"
#include "tools/beeper.h"
#include "tools/tonesink.h"
#ifdef HQL_HAVE_ALSA
#include "tools/alsatonesink.h"
#endif

#include <QElapsedTimer>
#include <QMutex>
#include <QSemaphore>
#include <QSet>
#include <QTest>
#include <QThread>
#include <QWaitCondition>

using Sequence = Beeper::Sequence;

namespace {

// Records what the player asks of the sound system. With a closed gate each
// tone waits until the test opens it or the player cancels.
class FakeSink : public ToneSink
{
public:
    explicit FakeSink(bool device = true, bool gated = false) : m_device(device), m_gateOpen(!gated) {}

    bool open() override
    {
        QMutexLocker lock(&m_mutex);
        ++opens;
        return m_device;
    }
    void tone(int frequency, int duration) override
    {
        QMutexLocker lock(&m_mutex);
        tones.append(qMakePair(frequency, duration));
        threads.insert(QThread::currentThread());
        entered.release();
        while (!m_gateOpen && !m_cancelled)
            m_changed.wait(&m_mutex);
    }
    void close() override
    {
        QMutexLocker lock(&m_mutex);
        ++closes;
    }
    void cancel() override
    {
        QMutexLocker lock(&m_mutex);
        m_cancelled = true;
        m_changed.wakeAll();
    }
    void openGate()
    {
        QMutexLocker lock(&m_mutex);
        m_gateOpen = true;
        m_changed.wakeAll();
    }
    Sequence recorded() const
    {
        QMutexLocker lock(&m_mutex);
        return tones;
    }

    QSemaphore entered;
    Sequence tones;
    QSet<QThread *> threads;
    int opens = 0;
    int closes = 0;

private:
    mutable QMutex m_mutex;
    QWaitCondition m_changed;
    bool m_device;
    bool m_gateOpen;
    bool m_cancelled = false;
};

} // namespace

class tst_Beeper : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void playsPairsInOrder_data();
    void playsPairsInOrder();
    void withoutDeviceNothingPlays();
    void runOfErrorsIsBounded();
    void stopCutsToneShort();
    void sharedPlayerDoesNotBlock();
    void alsaOutput();
};

void tst_Beeper::parse_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Sequence>("pairs");

    QTest::newRow("error beep") << "1000:100;1200:200;2000:100" << true
                                << Sequence{{1000, 100}, {1200, 200}, {2000, 100}};
    QTest::newRow("one pair") << "440:5" << true << Sequence{{440, 5}};
    QTest::newRow("empty sequence") << "" << false << Sequence();
    QTest::newRow("empty part") << "1000:100;;2000:100" << false << Sequence();
    QTest::newRow("trailing separator") << "1000:100;" << false << Sequence();
    QTest::newRow("no colon") << "1000" << false << Sequence();
    QTest::newRow("three pieces") << "1:2:3" << false << Sequence();
    QTest::newRow("three pieces in the middle") << "1000:100;1:2:3;2000:100" << false << Sequence();
    QTest::newRow("bad frequency earlier") << "x:100;2000:100" << true << Sequence{{0, 100}, {2000, 100}};
    QTest::newRow("bad duration earlier") << "1000:;2000:100" << true << Sequence{{1000, 0}, {2000, 100}};
    QTest::newRow("bad frequency last") << "1000:100;k:100" << false << Sequence();
    QTest::newRow("bad duration last") << "1000:100;2000:z" << false << Sequence();
    QTest::newRow("hex is not decimal") << "0x10:100" << false << Sequence();
    QTest::newRow("negative numbers parse") << "-5:100" << true << Sequence{{-5, 100}};
}

void tst_Beeper::parse()
{
    QFETCH(QString, sequence);
    QFETCH(bool, valid);
    QFETCH(Sequence, pairs);
    Sequence parsed{{1, 1}};
    QCOMPARE(Beeper::parse(sequence, &parsed), valid);
    QCOMPARE(parsed, pairs);
    if (!valid)
        QVERIFY(!Beeper::play(sequence));
}

void tst_Beeper::playsPairsInOrder_data()
{
    QTest::addColumn<Sequence>("sequence");
    QTest::addColumn<Sequence>("played");
    QTest::addColumn<int>("opens");

    QTest::newRow("error beep") << Sequence{{1000, 100}, {1200, 200}, {2000, 100}}
                                << Sequence{{1000, 100}, {1200, 200}, {2000, 100}} << 1;
    // Pairs the platform beep refuses make no sound and no pause.
    QTest::newRow("refused pairs skipped")
        << Sequence{{0, 100}, {36, 10}, {37, 1}, {32767, 1}, {32768, 10}, {-5, 10}, {1000, 0}, {1000, -1}}
        << Sequence{{37, 1}, {32767, 1}} << 1;
    QTest::newRow("nothing to sound opens nothing") << Sequence{{0, 100}, {1000, 0}} << Sequence() << 0;
}

void tst_Beeper::playsPairsInOrder()
{
    QFETCH(Sequence, sequence);
    QFETCH(Sequence, played);
    QFETCH(int, opens);
    auto *sink = new FakeSink;
    Beeper beeper{std::unique_ptr<ToneSink>(sink)};
    QVERIFY(beeper.enqueue(sequence));
    QVERIFY(beeper.waitIdle(5000));
    QCOMPARE(sink->recorded(), played);
    QCOMPARE(sink->opens, opens);
    QCOMPARE(sink->closes, opens);
}

void tst_Beeper::withoutDeviceNothingPlays()
{
    auto *sink = new FakeSink(false);
    Beeper beeper{std::unique_ptr<ToneSink>(sink)};
    QVERIFY(beeper.enqueue({{1000, 100}, {2000, 100}}));
    QVERIFY(beeper.waitIdle(1000));
    QCOMPARE(sink->opens, 1);
    QVERIFY(sink->recorded().isEmpty());
    QCOMPARE(sink->closes, 0);

    Beeper silent{nullptr};
    QVERIFY(silent.enqueue({{1000, 100}}));
    QVERIFY(silent.waitIdle(1000));
}

void tst_Beeper::runOfErrorsIsBounded()
{
    auto *sink = new FakeSink(true, true);
    Beeper beeper{std::unique_ptr<ToneSink>(sink)};
    QVERIFY(beeper.enqueue({{1000, 1}}));
    QVERIFY2(sink->entered.tryAcquire(1, 5000), "the first sequence starts playing");

    // While one plays, MaxWaiting more are kept and the rest are dropped
    // without waiting.
    QElapsedTimer timer;
    timer.start();
    int taken = 0;
    for (int i = 0; i < 50; ++i)
        taken += beeper.enqueue({{2000 + i, 1}}) ? 1 : 0;
    QVERIFY(timer.elapsed() < TestTiming::bound(1000));
    QCOMPARE(taken, Beeper::MaxWaiting);
    QCOMPARE(beeper.waiting(), Beeper::MaxWaiting);
    QVERIFY(!beeper.waitIdle(50));

    sink->openGate();
    QVERIFY(beeper.waitIdle(5000));
    QCOMPARE(sink->recorded(), (Sequence{{1000, 1}, {2000, 1}, {2001, 1}, {2002, 1}, {2003, 1}}));
    // All on one player thread, never the caller's.
    QCOMPARE(sink->threads.size(), 1);
    QVERIFY(!sink->threads.contains(QThread::currentThread()));
}

void tst_Beeper::stopCutsToneShort()
{
    auto *sink = new FakeSink(true, true);
    Beeper beeper{std::unique_ptr<ToneSink>(sink)};
    QVERIFY(beeper.enqueue({{1000, 60000}, {1200, 60000}}));
    QVERIFY(beeper.enqueue({{1500, 60000}}));
    QVERIFY(sink->entered.tryAcquire(1, 5000));
    QElapsedTimer timer;
    timer.start();
    beeper.stop();
    QVERIFY(timer.elapsed() < TestTiming::bound(Beeper::StopTimeoutMs));
    QVERIFY(beeper.isFinished());
    QVERIFY(!sink->recorded().contains(qMakePair(1500, 60000)));
    QVERIFY(!beeper.enqueue({{1000, 1}}));
}

void tst_Beeper::sharedPlayerDoesNotBlock()
{
    // Whether or not this machine has a sound device, playing returns at
    // once and the shared player finishes on its own.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(Beeper::play(QLatin1String(Beeper::ErrorSequence)));
    QVERIFY2(timer.elapsed() < TestTiming::bound(200), qPrintable(QString::number(timer.elapsed())));
    QVERIFY(Beeper::shared()->waitIdle(5000));
}

void tst_Beeper::alsaOutput()
{
#ifdef HQL_HAVE_ALSA
    // The sound system's null output takes samples without hardware, so the
    // generating and writing path runs on any machine.
    AlsaToneSink sink("null");
    if (!sink.open())
        QSKIP("this sound system has no null output");
    QElapsedTimer timer;
    timer.start();
    sink.tone(1000, 150);
    sink.tone(40000, 20);
    sink.tone(1000, 0);
    sink.close();
    sink.close();
    QVERIFY(timer.elapsed() < TestTiming::bound(3000));

    QVERIFY(!AlsaToneSink("hw:99,0").open());

    Beeper beeper{std::make_unique<AlsaToneSink>("null")};
    QVERIFY(beeper.enqueue({{1000, 100}, {1200, 200}, {2000, 100}}));
    QVERIFY(beeper.waitIdle(5000));

    sink.cancel();
    QVERIFY(!sink.open());
#else
    QSKIP("built without the ALSA sound layer");
#endif
}

QTEST_MAIN(tst_Beeper)
#include "tst_beeper.moc"
