#include "canwritethread.h"
#include "kvpipe.h"
#include "simulateddevice.h"

#include <QtCore/QTimer>
#include <QtTest/QtTest>

#include <atomic>
#include <thread>

// The transmit thread serves the events of objects that live in it: queued calls at once, timers
// within a few milliseconds, whether the pipe is idle or busy with a stream of short queues.
class tst_CanWriteThreadEvents : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(startSimulatedDevice(1)); }
    void eventsAreServed_data();
    void eventsAreServed();
};

void tst_CanWriteThreadEvents::eventsAreServed_data()
{
    QTest::addColumn<bool>("busy");
    QTest::newRow("idle") << false;
    QTest::newRow("busy") << true;
}

void tst_CanWriteThreadEvents::eventsAreServed()
{
    QFETCH(bool, busy);
    KvPipe::instance(0).clear();
    CanWriteThread writer(0);
    writer.setHideSendFrame(true);
    // A timer that lives in the transmit thread, made and connected before the thread starts,
    // then started by a queued call: its timeouts need the full dispatcher, the queued call only
    // the posted events. What the slot reports goes through atomics.
    static std::atomic<QThread *> firedIn;
    static std::atomic<int> ticks;
    firedIn = nullptr;
    ticks = 0;
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(
        timer, &QTimer::timeout, timer,
        [] {
            firedIn = QThread::currentThread();
            ++ticks;
        },
        Qt::DirectConnection);
    timer->moveToThread(&writer);
    writer.start();

    std::atomic<bool> feeding{busy};
    std::thread feeder([&] {
        CanData queue;
        queue.push(CanObj());
        while (feeding) {
            KvPipe::instance(0).push(queue);
            KvPipe::instance(0).waitForRoom(4, 1);
        }
    });

    QVERIFY(QMetaObject::invokeMethod(timer, "start", Qt::QueuedConnection));
    QTRY_VERIFY(ticks >= 5);
    QCOMPARE(firedIn.load(), static_cast<QThread *>(&writer));
    timer->deleteLater(); // on its own thread, when that ends

    feeding = false;
    feeder.join();
    QVERIFY(writer.isRunning()); // no transmit failure ended it
    writer.stop();
    writer.waitForFinish();
}

QTEST_GUILESS_MAIN(tst_CanWriteThreadEvents)
#include "tst_canwritethreadevents.moc"
