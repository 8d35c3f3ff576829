#include "kvpipe.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtTest/QtTest>

#include <chrono>
#include <functional>
#include <thread>

// Queues of frames go from the application's threads to a channel's transmit thread. A producer
// that throttles itself on the pipe's length (the firmware download) waits for room and is woken
// by the consumer's pop or a clear, not by a timer of its own; an idle consumer waiting for data
// is woken by a push, or by its owner when it is to stop.
namespace {

constexpr int Channel = 1;
// Long enough that a wake-up that never came shows as a wait of this length.
constexpr int LongWaitMs = 30000;

CanData burst(quint32 firstId, int n)
{
    CanData data;
    for (int i = 0; i < n; ++i) {
        CanObj f;
        f.ID = firstId + quint32(i);
        data.push(f);
    }
    return data;
}

void fill(KvPipe &pipe, int queues)
{
    for (int i = 0; i < queues; ++i)
        pipe.push(burst(0, 1));
}

void popSome(KvPipe &pipe, int n)
{
    CanData taken;
    for (int i = 0; i < n; ++i)
        pipe.tryPop(taken);
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

using PipeAction = std::function<void(KvPipe &)>;
using PipeWait = std::function<bool(KvPipe &)>;

} // namespace

Q_DECLARE_METATYPE(PipeAction)
Q_DECLARE_METATYPE(PipeWait)

class tst_KvPipe : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void queuesComeOutInOrder();
    void channelsAreSeparate();
    void pushStoresASnapshot();
    void emptyPipeIsHarmless();
    void roomAtOnceWhenShortEnough_data();
    void roomAtOnceWhenShortEnough();
    void aChangeWakesTheWaiter_data();
    void aChangeWakesTheWaiter();
    void waitsRunTheirCourse_data();
    void waitsRunTheirCourse();
    void wakeBeforeTheWaitIsNotLost();
    void concurrentProducersLoseNothing();
};

void tst_KvPipe::cleanup()
{
    for (int ch = 0; ch < 4; ++ch)
        KvPipe::instance(ch).clear();
}

void tst_KvPipe::queuesComeOutInOrder()
{
    KvPipe &pipe = KvPipe::instance(0);
    pipe.push(burst(0x10, 2));
    pipe.push(burst(0x20, 3));
    QCOMPARE(pipe.count(), 2);
    CanData first = pipe.pop();
    QCOMPARE(first.size(), 2);
    QCOMPARE(first.pop().ID, 0x10u);
    QCOMPARE(first.pop().ID, 0x11u);
    CanData second = pipe.pop();
    QCOMPARE(second.size(), 3);
    QCOMPARE(second.at(2).ID, 0x22u);
    QVERIFY(pipe.isEmpty());
}

void tst_KvPipe::channelsAreSeparate()
{
    KvPipe::instance(1).push(burst(1, 1));
    QVERIFY(KvPipe::instance(0).isEmpty());
    QCOMPARE(KvPipe::instance(1).count(), 1);
    QVERIFY(&KvPipe::instance(3) != &KvPipe::instance(2));
    QCOMPARE(&KvPipe::instance(3), &KvPipe::instance(3));
    // A channel outside 0..3 never reaches one of the four pipes.
    KvPipe::instance(7).push(burst(9, 1));
    for (int ch = 0; ch < 4; ++ch)
        QVERIFY(&KvPipe::instance(7) != &KvPipe::instance(ch));
    KvPipe::instance(7).clear();
}

void tst_KvPipe::pushStoresASnapshot()
{
    KvPipe &pipe = KvPipe::instance(0);
    CanData data = burst(0x100, 2);
    pipe.push(data);
    data.push(burst(0x200, 1).at(0));
    data.clear();
    const CanData out = pipe.pop();
    QCOMPARE(out.size(), 2);
    QCOMPARE(out.at(1).ID, 0x101u);
}

void tst_KvPipe::emptyPipeIsHarmless()
{
    KvPipe &pipe = KvPipe::instance(3);
    QVERIFY(pipe.pop().isEmpty());
    CanData untouched = burst(5, 1);
    QVERIFY(!pipe.tryPop(untouched));
    QCOMPARE(untouched.size(), 1);
    QCOMPARE(pipe.count(), 0);
    QVERIFY(!pipe.waitForData(-1)); // a negative wait does not block
}

void tst_KvPipe::roomAtOnceWhenShortEnough_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<int>("maxQueued");
    QTest::addColumn<bool>("room");
    QTest::newRow("empty pipe") << 0 << 0 << true;
    QTest::newRow("exactly at the limit") << 10 << 10 << true;
    QTest::newRow("one above the limit") << 11 << 10 << false;
}

// No wait at all: the answer is the pipe's state now.
void tst_KvPipe::roomAtOnceWhenShortEnough()
{
    QFETCH(int, queued);
    QFETCH(int, maxQueued);
    QFETCH(bool, room);
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, queued);
    QCOMPARE(pipe.waitForRoom(maxQueued, 0), room);
    QCOMPARE(pipe.pollForRoom(maxQueued, 0), room);
    QCOMPARE(pipe.pollForData(0), queued > 0);
    QCOMPARE(pipe.count(), queued);
}

void tst_KvPipe::aChangeWakesTheWaiter_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<PipeAction>("change"); // made by another thread while this one waits
    QTest::addColumn<PipeWait>("wait");
    QTest::addColumn<bool>("result"); // what the wait returns
    QTest::addColumn<int>("left");
    const auto push = PipeAction([](KvPipe &p) { p.push(burst(1, 1)); });
    const auto pop = [](int n) { return PipeAction([n](KvPipe &p) { popSome(p, n); }); };
    const auto room = [](int maxQueued) {
        return PipeWait([maxQueued](KvPipe &p) { return p.waitForRoom(maxQueued, LongWaitMs); });
    };
    const auto data = PipeWait([](KvPipe &p) { return p.waitForData(LongWaitMs); });
    QTest::newRow("push wakes a waiting consumer") << 0 << push << data << true << 1;
    QTest::newRow("pop wakes a waiting producer") << 11 << pop(1) << room(10) << true << 10;
    // Pops that leave the pipe above the mark wake no one; the one that reaches it must.
    QTest::newRow("pops down to a low mark") << 11 << pop(6) << room(5) << true << 5;
    QTest::newRow("clear wakes a waiting producer")
        << 3 << PipeAction([](KvPipe &p) { p.clear(); }) << room(0) << true << 0;
    QTest::newRow("a wake ends a consumer's idle wait")
        << 0 << PipeAction([](KvPipe &p) { p.wakeConsumer(); }) << data << false << 0;
    QTest::newRow("producer polls for room")
        << 11 << pop(1) << PipeWait([](KvPipe &p) { return p.pollForRoom(10, LongWaitMs * 1000); })
        << true << 10;
    QTest::newRow("consumer polls for data")
        << 0 << push << PipeWait([](KvPipe &p) { return p.pollForData(LongWaitMs * 1000); }) << true
        << 1;
}

void tst_KvPipe::aChangeWakesTheWaiter()
{
    QFETCH(int, queued);
    QFETCH(PipeAction, change);
    QFETCH(PipeWait, wait);
    QFETCH(bool, result);
    QFETCH(int, left);
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, queued);
    QVERIFY2(
        wokenBy([&pipe, change] { change(pipe); }, [&pipe, wait] { return wait(pipe); }, result),
        "the change did not end the wait");
    QCOMPARE(pipe.count(), left);
}

void tst_KvPipe::waitsRunTheirCourse_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<bool>("spentWake"); // a wake that ended an earlier wait
    QTest::addColumn<PipeWait>("wait");
    QTest::addColumn<int>("atLeastMs");
    QTest::newRow("wait for room while full")
        << 2 << false << PipeWait([](KvPipe &p) { return p.waitForRoom(1, 100); }) << 90;
    QTest::newRow("poll for room while full")
        << 2 << false << PipeWait([](KvPipe &p) { return p.pollForRoom(1, 50 * 1000); }) << 45;
    QTest::newRow("poll for data while empty")
        << 0 << false << PipeWait([](KvPipe &p) { return p.pollForData(50 * 1000); }) << 45;
    QTest::newRow("wait for data after a spent wake")
        << 0 << true << PipeWait([](KvPipe &p) { return p.waitForData(100); }) << 90;
}

void tst_KvPipe::waitsRunTheirCourse()
{
    QFETCH(int, queued);
    QFETCH(bool, spentWake);
    QFETCH(PipeWait, wait);
    QFETCH(int, atLeastMs);
    KvPipe &pipe = KvPipe::instance(Channel);
    fill(pipe, queued);
    if (spentWake) {
        pipe.wakeConsumer();
        QVERIFY(!pipe.waitForData(LongWaitMs));
    }
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!wait(pipe));
    QVERIFY(timer.elapsed() >= atLeastMs);
    QCOMPARE(pipe.count(), queued);
}

void tst_KvPipe::wakeBeforeTheWaitIsNotLost()
{
    // A stop that comes just before the consumer starts its wait must not be slept through.
    KvPipe &pipe = KvPipe::instance(Channel);
    pipe.wakeConsumer();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!pipe.waitForData(LongWaitMs));
    QVERIFY(timer.elapsed() < LongWaitMs / 2);
}

void tst_KvPipe::concurrentProducersLoseNothing()
{
    KvPipe &pipe = KvPipe::instance(1);
    const int perProducer = 2000;
    QVector<QThread *> producers;
    for (int p = 0; p < 3; ++p)
        producers << QThread::create([&pipe, p] {
            for (int i = 0; i < perProducer; ++i)
                pipe.push(burst(quint32(p), 1));
        });
    int taken = 0;
    for (QThread *t : producers)
        t->start();
    CanData data;
    while (taken < 3 * perProducer) {
        if (pipe.tryPop(data))
            ++taken;
        else
            pipe.waitForData(10);
    }
    for (QThread *t : producers) {
        QVERIFY(t->wait(5000));
        delete t;
    }
    QVERIFY(pipe.isEmpty());
}

QTEST_GUILESS_MAIN(tst_KvPipe)
#include "tst_kvpipe.moc"
