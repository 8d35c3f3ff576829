#include "canthread.h"
#include "kvthread.h"

#include <QtTest/QtTest>

#include <memory>

namespace {

// Lets the test see the flag that run() raised.
class ProbeThread : public CanThread
{
public:
    using CanThread::CanThread;
    bool looping() const { return running; }
};

// Ends as soon as it has started; counts its runs.
class OneShotThread : public KvThread
{
public:
    void run() override
    {
        running = true;
        ++runs;
    }
    std::atomic<int> runs{0};
};

} // namespace

class tst_KvThread : public QObject
{
    Q_OBJECT
private slots:
    void baseRunReturnsAtOnce();
    void channelFromConstructor_data();
    void channelFromConstructor();
    void stopBeforeStartDoesNotStopTheRun();
    void stopEndsIdleLoopWithinAboutOnePoll();
    void stoppedThreadRunsAgain();
    void stopRightAfterStartIsNotLost();
    void destroyingRunningThreadStopsIt();
    void waitForFinishWithoutStopWaitsForTheRun();
};

void tst_KvThread::baseRunReturnsAtOnce()
{
    KvThread thread;
    thread.start();
    QVERIFY(thread.wait(5000));
    QVERIFY(thread.isFinished());
}

void tst_KvThread::channelFromConstructor_data()
{
    QTest::addColumn<int>("given"); // -1: default constructor
    QTest::addColumn<unsigned long>("channel");
    QTest::newRow("no argument serves channel 0") << -1 << 0ul;
    QTest::newRow("channel 3") << 3 << 3ul;
}

void tst_KvThread::channelFromConstructor()
{
    QFETCH(int, given);
    QFETCH(unsigned long, channel);
    std::unique_ptr<CanThread> thread(given < 0 ? new CanThread
                                                : new CanThread(static_cast<unsigned long>(given)));
    QCOMPARE(thread->getChannel(), channel);
    QCOMPARE(thread->parent(), static_cast<QObject *>(nullptr));
}

void tst_KvThread::stopBeforeStartDoesNotStopTheRun()
{
    ProbeThread thread;
    thread.stop();
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(thread.looping(), 5000);
    QVERIFY(!thread.wait(150)); // three idle polls later it is still looping
    thread.stop();
    thread.waitForFinish();
    QVERIFY(thread.isFinished());
}

void tst_KvThread::stopEndsIdleLoopWithinAboutOnePoll()
{
    ProbeThread thread(1);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(thread.looping(), 5000);
    QElapsedTimer clock;
    clock.start();
    thread.stop();
    thread.waitForFinish();
    // One poll is 50 ms; the band leaves room for a loaded machine.
    QVERIFY2(clock.elapsed() < 250, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!thread.looping());
}

void tst_KvThread::stoppedThreadRunsAgain()
{
    ProbeThread thread;
    for (int round = 0; round < 2; ++round) {
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(thread.looping(), 5000);
        thread.stop();
        thread.waitForFinish();
        QVERIFY(thread.isFinished());
    }
}

void tst_KvThread::stopRightAfterStartIsNotLost()
{
    // The stop may arrive before run() has raised its flag; the pair must end the run anyway.
    for (int round = 0; round < 20; ++round) {
        ProbeThread thread;
        thread.start();
        thread.stop();
        thread.waitForFinish();
        QVERIFY(thread.isFinished());
    }
}

void tst_KvThread::destroyingRunningThreadStopsIt()
{
    auto thread = std::make_unique<ProbeThread>(2);
    thread->start();
    QTRY_VERIFY_WITH_TIMEOUT(thread->looping(), 5000);
    thread.reset(); // must neither abort nor hang
    QVERIFY(!thread);
}

void tst_KvThread::waitForFinishWithoutStopWaitsForTheRun()
{
    OneShotThread thread;
    thread.stop(); // before start: no effect on the run
    thread.start();
    thread.waitForFinish();
    QCOMPARE(thread.runs.load(), 1);
    thread.start();
    thread.waitForFinish();
    QCOMPARE(thread.runs.load(), 2);
}

QTEST_GUILESS_MAIN(tst_KvThread)
#include "tst_kvthread.moc"
