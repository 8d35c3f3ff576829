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

    auto *probe = new QObject;
    probe->moveToThread(&writer);
    std::atomic<QThread *> calledIn{nullptr};
    std::atomic<int> ticks{0};
    QMetaObject::invokeMethod(
        probe,
        [&] {
            calledIn = QThread::currentThread();
            auto *timer = new QTimer(probe);
            QObject::connect(timer, &QTimer::timeout, [&] { ++ticks; });
            timer->start(5);
        },
        Qt::QueuedConnection);
    QTRY_COMPARE(calledIn.load(), static_cast<QThread *>(&writer));
    QTRY_VERIFY(ticks >= 5);

    feeding = false;
    feeder.join();
    QVERIFY(writer.isRunning()); // no transmit failure ended it
    writer.stop();
    writer.waitForFinish();
    delete probe;
}

QTEST_GUILESS_MAIN(tst_CanWriteThreadEvents)
#include "tst_canwritethreadevents.moc"
