#include "kvpipe.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtTest/QtTest>

#include <chrono>
#include <thread>

// A producer that throttles itself on the pipe's length (the firmware download) waits for room
// and is woken by the consumer's pop or a clear, not by a timer of its own. Likewise an idle
// consumer waiting for data is woken by its owner when it is to stop.
class tst_KvPipeRoom : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void roomAtOnceWhenShortEnough_data();
    void roomAtOnceWhenShortEnough();
    void popOrClearWakesAWaitingProducer_data();
    void popOrClearWakesAWaitingProducer();
    void waitTimesOutWhileThePipeStaysFull();
    void pollSeesChangeMadeMeanwhile_data();
    void pollSeesChangeMadeMeanwhile();
    void pollGivesUpAfterItsTime();
    void wakeConsumerEndsAnIdleWait();
    void wakeBeforeTheWaitIsNotLost();
};

namespace {

constexpr int Channel = 1;
// Long enough that a wake-up that never came shows as a wait of this length.
constexpr int LongWaitMs = 30000;

CanData oneFrame()
{
    CanData data;
    data.push(CanObj());
    return data;
}

void fill(KvPipe &pipe, int queues)
{
    for (int i = 0; i < queues; ++i)
        pipe.push(oneFrame());
}

// Runs `wait` here while another thread does `action` 50 ms in (the delay lets the wait begin
// first); true when the wait returned `expected` well before its long timeout.
template <typename Action, typename Wait> bool wokenBy(Action action, Wait wait, bool expected)
{
    QElapsedTimer timer;
    timer.start();
    // A standard thread: its join orders the end of `action` before what follows for the
    // thread checker too, which cannot see QThread::wait().
    std::thread other([action] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        action();
    });
    const bool result = wait();
    const bool prompt = timer.elapsed() < LongWaitMs / 2;
    other.join();
    return result == expected && prompt;
}

} // namespace

void tst_KvPipeRoom::cleanup()
{
    KvPipe::instance(Channel).clear();
}

void tst_KvPipeRoom::roomAtOnceWhenShortEnough_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<int>("maxQueued");
    QTest::addColumn<bool>("room");
    QTest::newRow("empty pipe") << 0 << 0 << true;
    QTest::newRow("exactly at the limit") << 10 << 10 << true;
    QTest::newRow("one above the limit") << 11 << 10 << false;
}

void tst_KvPipeRoom::roomAtOnceWhenShortEnough()
{
    QFETCH(int, queued);
    QFETCH(int, maxQueued);
    QFETCH(bool, room);
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, queued);
    // No wait at all: the answer is the pipe's state now.
    QCOMPARE(pipe.waitForRoom(maxQueued, 0), room);
    QCOMPARE(pipe.count(), queued);
}

void tst_KvPipeRoom::popOrClearWakesAWaitingProducer_data()
{
    QTest::addColumn<bool>("clear");
    QTest::addColumn<int>("queued");
    QTest::addColumn<int>("maxQueued");
    QTest::newRow("pop") << false << 11 << 10;
    // Pops that leave the pipe above the mark wake no one; the one that reaches it must.
    QTest::newRow("pops down to a low mark") << false << 11 << 5;
    QTest::newRow("clear") << true << 3 << 0;
}

void tst_KvPipeRoom::popOrClearWakesAWaitingProducer()
{
    QFETCH(bool, clear);
    QFETCH(int, queued);
    QFETCH(int, maxQueued);
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, queued);
    const auto consume = [&pipe, clear, pops = queued - maxQueued] {
        CanData taken;
        if (clear)
            pipe.clear();
        for (int i = 0; !clear && i < pops; ++i)
            pipe.tryPop(taken);
    };
    QVERIFY2(wokenBy(
                 consume, [&] { return pipe.waitForRoom(maxQueued, LongWaitMs); }, true),
             "the consumer did not wake the waiting producer");
    QCOMPARE(pipe.count(), clear ? 0 : maxQueued);
}

void tst_KvPipeRoom::waitTimesOutWhileThePipeStaysFull()
{
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, 2);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!pipe.waitForRoom(1, 100));
    QVERIFY(timer.elapsed() >= 90);
    QCOMPARE(pipe.count(), 2);
}

void tst_KvPipeRoom::pollSeesChangeMadeMeanwhile_data()
{
    QTest::addColumn<bool>("forData");
    QTest::newRow("producer polls for room") << false;
    QTest::newRow("consumer polls for data") << true;
}

void tst_KvPipeRoom::pollSeesChangeMadeMeanwhile()
{
    QFETCH(bool, forData);
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, forData ? 0 : 11);
    const auto change = [&pipe, forData] {
        CanData taken;
        forData ? pipe.push(oneFrame()) : void(pipe.tryPop(taken));
    };
    const auto poll = [&pipe, forData] {
        return forData ? pipe.pollForData(LongWaitMs * 1000)
                       : pipe.pollForRoom(10, LongWaitMs * 1000);
    };
    QVERIFY2(wokenBy(change, poll, true), "the poll did not see the change");
}

void tst_KvPipeRoom::pollGivesUpAfterItsTime()
{
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, 2);
    QVERIFY(pipe.pollForRoom(2, 0));
    QVERIFY(pipe.pollForData(0));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!pipe.pollForRoom(1, 50 * 1000));
    QVERIFY(timer.elapsed() >= 45);
    QCOMPARE(pipe.count(), 2);
    pipe.clear();
    timer.start();
    QVERIFY(!pipe.pollForData(50 * 1000));
    QVERIFY(timer.elapsed() >= 45);
}

void tst_KvPipeRoom::wakeConsumerEndsAnIdleWait()
{
    KvPipe &pipe = KvPipe::instance(Channel);
    // Woken without data.
    QVERIFY2(wokenBy([&pipe] { pipe.wakeConsumer(); },
                     [&pipe] { return pipe.waitForData(LongWaitMs); }, false),
             "the wake did not end the wait");
    // The wake is spent: the next wait runs its course.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!pipe.waitForData(100));
    QVERIFY(timer.elapsed() >= 90);
}

void tst_KvPipeRoom::wakeBeforeTheWaitIsNotLost()
{
    // A stop that comes just before the consumer starts its wait must not be slept through.
    KvPipe &pipe = KvPipe::instance(Channel);
    pipe.wakeConsumer();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!pipe.waitForData(LongWaitMs));
    QVERIFY(timer.elapsed() < LongWaitMs / 2);
}

QTEST_GUILESS_MAIN(tst_KvPipeRoom)
#include "tst_kvpiperoom.moc"
