#include "kvpipe.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtTest/QtTest>

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
    void popWakesAWaitingProducer();
    void clearWakesAWaitingProducer();
    void waitTimesOutWhileThePipeStaysFull();
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

void tst_KvPipeRoom::popWakesAWaitingProducer()
{
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, 11);
    QScopedPointer<QThread> consumer(QThread::create([&pipe] {
        QThread::msleep(50);
        CanData taken;
        pipe.tryPop(taken);
    }));
    QElapsedTimer timer;
    timer.start();
    consumer->start();
    QVERIFY(pipe.waitForRoom(10, LongWaitMs));
    QVERIFY2(timer.elapsed() < LongWaitMs / 2, "the pop did not wake the waiting producer");
    QVERIFY(consumer->wait(5000));
    QCOMPARE(pipe.count(), 10);
}

void tst_KvPipeRoom::clearWakesAWaitingProducer()
{
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, 3);
    QScopedPointer<QThread> clearer(QThread::create([&pipe] {
        QThread::msleep(50);
        pipe.clear();
    }));
    QElapsedTimer timer;
    timer.start();
    clearer->start();
    QVERIFY(pipe.waitForRoom(0, LongWaitMs));
    QVERIFY2(timer.elapsed() < LongWaitMs / 2, "the clear did not wake the waiting producer");
    QVERIFY(clearer->wait(5000));
    QVERIFY(pipe.isEmpty());
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

void tst_KvPipeRoom::wakeConsumerEndsAnIdleWait()
{
    KvPipe &pipe = KvPipe::instance(Channel);
    QScopedPointer<QThread> owner(QThread::create([&pipe] {
        QThread::msleep(50);
        pipe.wakeConsumer();
    }));
    QElapsedTimer timer;
    timer.start();
    owner->start();
    QVERIFY(!pipe.waitForData(LongWaitMs)); // woken without data
    QVERIFY2(timer.elapsed() < LongWaitMs / 2, "the wake did not end the wait");
    QVERIFY(owner->wait(5000));
    // The wake is spent: the next wait runs its course.
    timer.restart();
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
