#include "busiothread_p.h"

#include <QtCore/QElapsedTimer>
#include <QtTest/QtTest>

#include <atomic>
#include <future>

// The hand-over of work to the bus I/O thread: runs there, gives up on a stuck thread within its
// bound without ever running the abandoned work later, and fails cleanly once the thread stopped.
class tst_BusIoThread : public QObject
{
    Q_OBJECT
private slots:
    void workRunsOnTheThread();
    void stuckThreadTimesOut();
    void stoppedThreadRefuses();
};

void tst_BusIoThread::workRunsOnTheThread()
{
    BusIoThread *io = BusIoThread::get();
    QVERIFY(io);
    QCOMPARE(BusIoThread::get(), io);
    QThread *ranOn = nullptr;
    QVERIFY(io->call([&] { ranOn = QThread::currentThread(); }, 2000));
    QCOMPARE(ranOn, static_cast<QThread *>(io));
    QVERIFY(io->owner() && io->owner()->thread() == io);
}

void tst_BusIoThread::stuckThreadTimesOut()
{
    BusIoThread *io = BusIoThread::get();
    QVERIFY(io);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> stuck{false};
    QMetaObject::invokeMethod(io->owner(), [&stuck, released] {
        stuck = true;
        released.wait();
    });
    QTRY_VERIFY(stuck.load());

    std::atomic<bool> abandonedRan{false};
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!io->call([&] { abandonedRan = true; }, 200));
    QVERIFY(timer.elapsed() >= 150 && timer.elapsed() < 2000);

    release.set_value();
    bool after = false;
    QVERIFY(io->call([&] { after = true; }, 2000));
    QVERIFY(after);
    QVERIFY(!abandonedRan.load()); // queued before `after`, so it would have run by now
}

void tst_BusIoThread::stoppedThreadRefuses()
{
    BusIoThread *io = BusIoThread::get();
    QVERIFY(io);
    BusIoThread::shutDown();
    QVERIFY(io->isFinished());
    bool ran = false;
    QVERIFY(!io->call([&] { ran = true; }, 200));
    QVERIFY(!ran);
    BusIoThread *again = BusIoThread::get(); // a new thread on the next use
    QVERIFY(again && again != io);
    QVERIFY(again->call([&] { ran = true; }, 2000));
    QVERIFY(ran);
    BusIoThread::shutDown();
}

QTEST_GUILESS_MAIN(tst_BusIoThread)
#include "tst_busiothread.moc"
