#include "canthread.h"

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

// Ends on its own; counts its runs.
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
    void stopBeforeStartDoesNotStopTheRun();
    void stopRightAfterStartIsNotLost();
    void destroyingRunningThreadStopsIt();
    void waitForFinishAloneWaitsForTheRun();
};

void tst_KvThread::stopBeforeStartDoesNotStopTheRun()
{
    ProbeThread thread;
    for (int round = 0; round < 2; ++round) { // a stopped thread runs again
        thread.stop();
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(thread.looping(), 5000);
        QVERIFY(!thread.wait(150)); // three idle polls later it is still looping
        thread.stop();
        thread.waitForFinish();
        QVERIFY(thread.isFinished());
    }
}

void tst_KvThread::stopRightAfterStartIsNotLost()
{
    // The stop may come before run() has raised its flag; the pair must end the run anyway.
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
}

void tst_KvThread::waitForFinishAloneWaitsForTheRun()
{
    OneShotThread thread;
    thread.start();
    thread.waitForFinish();
    thread.stop(); // after the run: spent, so the next run is not cut short
    thread.start();
    thread.waitForFinish();
    QCOMPARE(thread.runs.load(), 2);
}

QTEST_GUILESS_MAIN(tst_KvThread)
#include "tst_kvthread.moc"
