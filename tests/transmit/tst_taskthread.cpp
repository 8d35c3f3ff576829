#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvpipe.h"
#include "kvsingletaskthread.h"
#include "simulateddevice.h"
#include "taskthread.h"
#include "vci_sim.h"

#include <QtCore/QPointer>
#include <QtTest/QtTest>

#include <numeric>

class tst_TaskThread : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void basicSendBursts_data();
    void basicSendBursts();
    void nothingToSendIsAnError_data();
    void nothingToSendIsAnError();
    void identifierRules_data();
    void identifierRules();
    void dataIncreaseHasNoCarry();
    void refusedBurstEndsWithError();
    void runClearsThePipe();
    void setTaskQueueTakesTheQueue();
    void sequentialPausesBetweenTasks();
    void cyclicStopEndsBetweenBursts();
    void cyclicWithNothingToSendEnds();
    void parallelThreadsAreStoppedAndReleased();

    void singleTaskCycles();
    void singleTaskWrapsIdsAcrossCycles();
    void singleTaskRefusedFrame();
    void singleTaskWithoutFrameOrSends_data();
    void singleTaskWithoutFrameOrSends();

private:
    static taskObj task(quint32 id, int frames, int times, int interval = 0, quint8 ext = 0);
    static bool runToEnd(taskThread &thread, const QList<taskObj> &tasks, int page);
    static QVector<quint32> sentIds(int max = 4096);
    static QVector<uint> transmitCalls();
    static int sendCount() { return KvGlobalSet::instance().channelSets[0].sendCount; }
    int countBefore = 0;
};

taskObj tst_TaskThread::task(quint32 id, int frames, int times, int interval, quint8 ext)
{
    taskObj t;
    t.frames = frames;
    t.times = times;
    t.interval = interval;
    CanObj f;
    f.ID = id;
    f.ExternFlag = ext;
    f.DataLen = 8;
    CanData burst;
    burst.push(f);
    t.dataList.append(burst);
    return t;
}

// Hands the thread its queue and page and waits for it to finish.
bool tst_TaskThread::runToEnd(taskThread &thread, const QList<taskObj> &tasks, int page)
{
    taskQueue q;
    q.append(tasks);
    thread.setTaskQueue(q);
    thread.setPage(page);
    thread.start();
    return thread.wait(10000);
}

QVector<quint32> tst_TaskThread::sentIds(int max)
{
    QVector<VCI_CAN_OBJ> sent(max);
    const uint n = VSIM_TakeSent(4, 0, 0, sent.data(), uint(max));
    QVector<quint32> ids;
    for (uint i = 0; i < n; ++i)
        ids << sent[int(i)].ID;
    return ids;
}

QVector<uint> tst_TaskThread::transmitCalls()
{
    uint counts[4096];
    const uint n = VSIM_TakeTransmitCalls(4, 0, 0, counts, 4096);
    return QVector<uint>(counts, counts + n);
}

void tst_TaskThread::init()
{
    QVERIFY(startSimulatedDevice(1));
    KvBuffer::instance(0).reset();
    KvGlobalSet::instance().idFormat = 0;
    KvGlobalSet::instance().channelSets[0].taskMode = 0;
    countBefore = sendCount();
}

void tst_TaskThread::cleanup()
{
    KvGlobalSet::instance().idFormat = 0;
    KvPipe::instance(0).clear();
}

void tst_TaskThread::basicSendBursts_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("times");
    QTest::addColumn<QVector<uint>>("calls");
    QTest::newRow("three frames twice") << 3 << 2 << QVector<uint>{3, 3};
    QTest::newRow("times 0 sends nothing") << 3 << 0 << QVector<uint>{};
    QTest::newRow("frames 0 sends nothing") << 0 << 2 << QVector<uint>{};
    QTest::newRow("frames above 100 clamp") << 150 << 1 << QVector<uint>{100};
}

void tst_TaskThread::basicSendBursts()
{
    QFETCH(int, frames);
    QFETCH(int, times);
    QFETCH(QVector<uint>, calls);
    taskThread thread(0);
    QSignalSpy start(&thread, &taskThread::startSignal);
    QSignalSpy error(&thread, &taskThread::errorSignal);
    QSignalSpy tail(&thread, &taskThread::tailSignal);
    QVERIFY(runToEnd(thread, {task(0x123, frames, times)}, 0));

    QCOMPARE(start.count(), 1);
    QCOMPARE(error.count(), 0);
    QCOMPARE(tail.count(), 1);
    QCOMPARE(transmitCalls(), calls);
    const int total = std::accumulate(calls.cbegin(), calls.cend(), 0);
    QCOMPARE(sendCount() - countBefore, total);
    QCOMPARE(KvBuffer::instance(0).frames(), total);
    if (total)
        QCOMPARE(KvBuffer::instance(0).getFrame(0).direction, QStringLiteral("Tx"));
}

void tst_TaskThread::nothingToSendIsAnError_data()
{
    QTest::addColumn<int>("tasks"); // 0 none, 1 one without bursts, 2 one with an empty burst
    QTest::addColumn<bool>("stopFirst");
    QTest::newRow("empty queue") << 0 << false;
    QTest::newRow("empty dataList") << 1 << false;
    QTest::newRow("empty first burst") << 2 << false;
    QTest::newRow("page after stop") << 0 << true;
}

void tst_TaskThread::nothingToSendIsAnError()
{
    QFETCH(int, tasks);
    QFETCH(bool, stopFirst);
    taskThread thread(0);
    QSignalSpy error(&thread, &taskThread::errorSignal);
    QSignalSpy tail(&thread, &taskThread::tailSignal);
    taskQueue q;
    if (tasks) {
        taskObj t;
        t.frames = t.times = 1;
        if (tasks == 2)
            t.dataList.append(CanData());
        q << t;
    }
    thread.setTaskQueue(q);
    thread.setPage(0);
    if (stopFirst) {
        thread.stop();
        QCOMPARE(thread.getPage(), -1);
    }
    thread.start();
    QVERIFY(thread.wait(10000));
    QCOMPARE(error.count(), 1);
    QCOMPARE(tail.count(), 1);
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(0));
}

void tst_TaskThread::identifierRules_data()
{
    // The rules themselves are KvTaskFrame's (tst_taskobj); here the thread must apply the
    // chosen layout on both pages and keep the frame's format.
    QTest::addColumn<int>("idFormat");
    QTest::addColumn<int>("page");
    QTest::addColumn<quint32>("stored");
    QTest::addColumn<int>("ext");
    QTest::addColumn<QVector<quint32>>("ids");
    QTest::newRow("register standard") << 1 << 1 << 0x20u << 0 << QVector<quint32>{1, 2, 3};
    QTest::newRow("plain standard wraps")
        << 0 << 0 << 0x7FEu << 0 << QVector<quint32>{0x7FE, 0x7FF, 0};
    QTest::newRow("plain extended wraps")
        << 0 << 1 << 0x1FFFFFFFu << 1 << QVector<quint32>{0x1FFFFFFF, 0, 1};
}

void tst_TaskThread::identifierRules()
{
    QFETCH(int, idFormat);
    QFETCH(int, page);
    QFETCH(quint32, stored);
    QFETCH(int, ext);
    QFETCH(QVector<quint32>, ids);
    KvGlobalSet::instance().idFormat = idFormat;
    taskThread thread(0);
    taskObj t = task(stored, 1, 3, 0, quint8(ext));
    t.idIncrease = 1;
    QVERIFY(runToEnd(thread, {t}, page));
    QCOMPARE(sentIds(), ids);
}

void tst_TaskThread::dataIncreaseHasNoCarry()
{
    taskThread thread(0);
    taskObj t = task(0x100, 1, 2);
    CanObj f = t.dataList[0].pop();
    f.Data[6] = 0x11;
    f.Data[7] = 0xFF;
    t.dataList[0].push(f);
    t.dataIncrease = 8;
    QVERIFY(runToEnd(thread, {t}, 0));
    VCI_CAN_OBJ sent[2];
    QCOMPARE(VSIM_TakeSent(4, 0, 0, sent, 2), 2u);
    QCOMPARE(sent[0].Data[7], quint8(0xFF));
    QCOMPARE(sent[1].Data[7], quint8(0x00));
    QCOMPARE(sent[1].Data[6], quint8(0x11));
}

void tst_TaskThread::refusedBurstEndsWithError()
{
    taskThread thread(0);
    QSignalSpy error(&thread, &taskThread::errorSignal);
    QSignalSpy tail(&thread, &taskThread::tailSignal);
    VSIM_ForceResult(4, 0, "VCI_Transmit", 2, 1); // two of three taken: not in full
    QVERIFY(runToEnd(thread, {task(0x100, 3, 5)}, 0));
    QCOMPARE(error.count(), 1);
    QCOMPARE(tail.count(), 1);
    QCOMPARE(sendCount(), countBefore);          // not counted
    QCOMPARE(KvBuffer::instance(0).frames(), 3); // but recorded
}

void tst_TaskThread::runClearsThePipe()
{
    KvPipe::instance(0).push(CanData());
    taskThread thread(0);
    thread.setPage(2);
    QSignalSpy error(&thread, &taskThread::errorSignal);
    thread.start();
    QVERIFY(thread.wait(10000));
    QVERIFY(KvPipe::instance(0).isEmpty());
    QCOMPARE(error.count(), 0);
}

void tst_TaskThread::setTaskQueueTakesTheQueue()
{
    taskThread thread(0);
    taskQueue q;
    q << task(1, 1, 1) << task(2, 1, 1);
    thread.setTaskQueue(q);
    QVERIFY(q.isEmpty());
    thread.setPage(1);
    thread.start();
    QVERIFY(thread.wait(10000));
    QCOMPARE(sentIds(), (QVector<quint32>{1, 2}));
}

void tst_TaskThread::sequentialPausesBetweenTasks()
{
    taskThread thread(0);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(runToEnd(thread, {task(1, 1, 3, 100), task(2, 1, 3, 100)}, 1));
    // One pause of about 100 ms after each task's bursts, none between the bursts.
    QVERIFY2(timer.elapsed() >= 190, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(transmitCalls(), (QVector<uint>{1, 1, 1, 1, 1, 1}));
}

void tst_TaskThread::cyclicStopEndsBetweenBursts()
{
    KvGlobalSet::instance().channelSets[0].taskMode = 1;
    VSIM_SetBusTiming(1); // makes each burst take real time on the wire
    taskThread thread(0);
    QSignalSpy error(&thread, &taskThread::errorSignal);
    QSignalSpy tail(&thread, &taskThread::tailSignal);
    taskQueue q;
    q << task(0x10, 10, 4);
    thread.setTaskQueue(q);
    thread.setPage(1);
    thread.start();
    QTRY_VERIFY(VSIM_SentTotal(4, 0, 0) > 0);
    thread.stop();
    thread.waitForFinish();
    VSIM_SetBusTiming(0);
    QCOMPARE(error.count(), 0);
    QCOMPARE(tail.count(), 1);
    // The stop came between two bursts of ten, not necessarily after a task's last one.
    QCOMPARE(VSIM_SentTotal(4, 0, 0) % 10, quint64(0));
    QCOMPARE(quint64(sendCount() - countBefore), VSIM_SentTotal(4, 0, 0));
}

void tst_TaskThread::cyclicWithNothingToSendEnds()
{
    KvGlobalSet::instance().channelSets[0].taskMode = 1;
    taskThread thread(0), empty(0);
    QVERIFY(runToEnd(thread, {task(1, 1, 0), taskObj()}, 1));
    QVERIFY(runToEnd(empty, {}, 1));
}

void tst_TaskThread::parallelThreadsAreStoppedAndReleased()
{
    KvGlobalSet::instance().channelSets[0].taskMode = 2;
    taskThread thread(0);
    QSignalSpy tail(&thread, &taskThread::tailSignal);
    QVERIFY(runToEnd(thread, {task(1, 1, 1, 5), task(2, 1, 1, 5), task(3, 1, 1, 5)}, 1));
    QCOMPARE(tail.count(), 1);
    QCOMPARE(thread.singleTaskCount(), 3);
    // All three send, however their threads were scheduled.
    QSet<quint32> seen;
    const auto allThreeSent = [&seen] {
        for (quint32 id : sentIds())
            seen.insert(id);
        return seen.size() == 3;
    };
    QTRY_VERIFY(allThreeSent());

    thread.stopSingleTask();
    QCOMPARE(thread.singleTaskCount(), 0);
    const quint64 total = VSIM_SentTotal(4, 0, 0);
    QCOMPARE(quint64(sendCount() - countBefore), total);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void tst_TaskThread::singleTaskCycles()
{
    KvSingleTaskThread thread(0, task(0x55, 3, 2, 100));
    QElapsedTimer timer;
    timer.start();
    thread.start();
    QTRY_VERIFY(VSIM_SentTotal(4, 0, 0) >= 12);
    thread.stop();
    thread.waitForFinish();
    QVERIFY(timer.elapsed() >= 190); // each cycle waits about 100 ms first
    const quint64 total = VSIM_SentTotal(4, 0, 0);
    QCOMPARE(total % 6, quint64(0));
    QCOMPARE(quint64(sendCount() - countBefore), total);
    for (uint c : transmitCalls())
        QCOMPARE(c, 1u); // one adapter call per frame
}

void tst_TaskThread::singleTaskWrapsIdsAcrossCycles()
{
    taskObj t = task(0x7FE, 2, 1);
    t.idIncrease = 1;
    KvSingleTaskThread thread(0, t);
    thread.start();
    QTRY_VERIFY(VSIM_SentTotal(4, 0, 0) >= 4);
    thread.stop();
    thread.waitForFinish();
    QCOMPARE(sentIds().mid(0, 4), (QVector<quint32>{0x7FE, 0x7FF, 0x000, 0x001}));
}

void tst_TaskThread::singleTaskRefusedFrame()
{
    KvSingleTaskThread thread(0, task(0x55, 1, 1));
    QSignalSpy error(&thread, &KvSingleTaskThread::errorSignal);
    VSIM_ForceResult(4, 0, "VCI_Transmit", 0, -1);
    thread.start();
    QVERIFY(thread.wait(5000));
    QCOMPARE(error.count(), 1);
    QCOMPARE(sendCount(), countBefore);
}

void tst_TaskThread::singleTaskWithoutFrameOrSends_data()
{
    QTest::addColumn<bool>("withFrame");
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("errors");
    QTest::newRow("no frame") << false << 1 << 0 << 1;
    QTest::newRow("times 0 idles") << true << 0 << 0 << 0;
    QTest::newRow("negative interval") << true << 0 << -100000 << 0;
}

void tst_TaskThread::singleTaskWithoutFrameOrSends()
{
    QFETCH(bool, withFrame);
    QFETCH(int, times);
    QFETCH(int, interval);
    QFETCH(int, errors);
    taskObj t = withFrame ? task(1, 1, times, interval) : taskObj();
    KvSingleTaskThread thread(0, t);
    QSignalSpy error(&thread, &KvSingleTaskThread::errorSignal);
    thread.start();
    if (errors == 0) {
        QVERIFY(!thread.wait(100)); // idles until told to stop
        thread.stop();
    }
    QVERIFY(thread.wait(5000));
    QCOMPARE(error.count(), errors);
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(0));
}

QTEST_GUILESS_MAIN(tst_TaskThread)
#include "tst_taskthread.moc"
