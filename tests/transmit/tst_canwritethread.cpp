#include "canwritethread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvpipe.h"
#include "simulateddevice.h"
#include "vci_sim.h"

#include <QtTest/QtTest>

#include <atomic>
#include <mutex>

// Qt's object-creation hook, the one debugging tools use: slot 3 of Qt 5's hook table holds a
// function that every QObject constructor calls when it is set.
extern Q_DECL_IMPORT quintptr qtHookData[];

namespace {

constexpr int AddQObjectHook = 3;
std::atomic<int> objectsBuilt{0};

void countObject(QObject *)
{
    ++objectsBuilt;
}

// Counts the QObjects built anywhere in the process while it lives.
class ObjectCounter
{
public:
    ObjectCounter()
    {
        objectsBuilt = 0;
        qtHookData[AddQObjectHook] = reinterpret_cast<quintptr>(&countObject);
    }
    ~ObjectCounter() { qtHookData[AddQObjectHook] = 0; }
    int count() const { return objectsBuilt.load(); }
};

} // namespace

// Records the thread's signals in the order it emits them (direct connections run in the
// emitting thread, so the log is read only after the thread has finished).
class SignalLog : public QObject
{
public:
    explicit SignalLog(CanWriteThread *t)
    {
        connect(
            t, &CanWriteThread::sendSignal, this,
            [this](unsigned long n) { add(QStringLiteral("send %1").arg(n)); },
            Qt::DirectConnection);
        on(t, &CanWriteThread::usedTimeSignal, QStringLiteral("time"));
        on(t, &CanWriteThread::tailSignal, QStringLiteral("tail"));
        on(t, &CanWriteThread::errorSignal, QStringLiteral("error"));
    }
    QStringList entries()
    {
        std::lock_guard<std::mutex> l(lock);
        return log;
    }

private:
    template <typename Signal> void on(CanWriteThread *t, Signal signal, const QString &entry)
    {
        connect(
            t, signal, this, [this, entry] { add(entry); }, Qt::DirectConnection);
    }
    void add(const QString &s)
    {
        std::lock_guard<std::mutex> l(lock);
        log << s;
    }
    // A standard mutex: the thread checker follows its hand-over from the emitting thread.
    std::mutex lock;
    QStringList log;
};

class tst_CanWriteThread : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void batchesOfAtMostHundred_data();
    void batchesOfAtMostHundred();
    void tailSignalOnlyForTaggedLastFrame_data();
    void tailSignalOnlyForTaggedLastFrame();
    void recordsSentFramesUnlessHidden();
    void refusedBatchEndsTheThread();
    void stopMidQueueEndsSilently();
    void idleThreadTakesAPushedQueue();
    void sendingCopiesNoFrame();

private:
    static CanData frames(int n, int batchEndAt = -1, int tailAt = -1);
    static QVector<uint> transmitCalls();
};

CanData tst_CanWriteThread::frames(int n, int batchEndAt, int tailAt)
{
    CanData data;
    for (int i = 0; i < n; ++i) {
        CanObj f;
        f.ID = 0x200 + quint32(i % 0x100);
        f.TimeStamp = 1234; // must never reach the adapter
        f.TimeFlag = 1;
        f.Reserved[1] = 9;
        f.DataLen = 2;
        f.Data[0] = quint8(i);
        f.BatchEndFlag = i == batchEndAt;
        f.TailFlag = i == tailAt;
        data.push(f);
    }
    return data;
}

QVector<uint> tst_CanWriteThread::transmitCalls()
{
    uint counts[64];
    const uint n = VSIM_TakeTransmitCalls(4, 0, 0, counts, 64);
    return QVector<uint>(counts, counts + n);
}

void tst_CanWriteThread::init()
{
    QVERIFY(startSimulatedDevice(2));
    KvPipe::instance(0).clear();
    KvBuffer::instance(0).reset();
}

void tst_CanWriteThread::cleanup()
{
    KvPipe::instance(0).clear();
}

void tst_CanWriteThread::batchesOfAtMostHundred_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("batchEndAt");
    QTest::addColumn<QVector<uint>>("calls");
    QTest::newRow("250 frames") << 250 << -1 << QVector<uint>{100, 100, 50};
    QTest::newRow("batch end after second") << 5 << 1 << QVector<uint>{2, 3};
    QTest::newRow("batch end on the last") << 3 << 2 << QVector<uint>{3};
    QTest::newRow("exactly hundred") << 100 << -1 << QVector<uint>{100};
}

void tst_CanWriteThread::batchesOfAtMostHundred()
{
    QFETCH(int, count);
    QFETCH(int, batchEndAt);
    QFETCH(QVector<uint>, calls);

    CanWriteThread thread(0);
    SignalLog log(&thread);
    KvPipe::instance(0).push(frames(count, batchEndAt));
    thread.start();
    QTRY_COMPARE(VSIM_SentTotal(4, 0, 0), quint64(count));
    thread.stop();
    thread.waitForFinish();

    QCOMPARE(transmitCalls(), calls);
    QStringList expected;
    for (uint n : calls)
        expected << QStringLiteral("send %1").arg(n) << QStringLiteral("time");
    QCOMPARE(log.entries(), expected);

    VCI_CAN_OBJ sent[256];
    QCOMPARE(VSIM_TakeSent(4, 0, 0, sent, 256), uint(count));
    for (int i = 0; i < count; ++i) {
        QCOMPARE(sent[i].TimeStamp, 0u);
        QCOMPARE(sent[i].TimeFlag, quint8(0));
        QCOMPARE(sent[i].Reserved[1], quint8(0));
        QCOMPARE(sent[i].Data[0], quint8(i)); // in order
    }
}

void tst_CanWriteThread::tailSignalOnlyForTaggedLastFrame_data()
{
    QTest::addColumn<int>("tailAt");
    QTest::addColumn<int>("tails");
    QTest::newRow("last frame tagged") << 4 << 1;
    QTest::newRow("earlier frame tagged") << 2 << 0;
    QTest::newRow("none tagged") << -1 << 0;
}

void tst_CanWriteThread::tailSignalOnlyForTaggedLastFrame()
{
    QFETCH(int, tailAt);
    QFETCH(int, tails);
    CanWriteThread thread(0);
    SignalLog log(&thread);
    KvPipe::instance(0).push(frames(5, -1, tailAt));
    thread.start();
    QTRY_COMPARE(VSIM_SentTotal(4, 0, 0), quint64(5));
    thread.stop();
    thread.waitForFinish();
    QCOMPARE(log.entries().count(QStringLiteral("tail")), tails);
    if (tails)
        QCOMPARE(log.entries().last(), QStringLiteral("tail"));
}

void tst_CanWriteThread::recordsSentFramesUnlessHidden()
{
    KvBuffer &buffer = KvBuffer::instance(0);
    CanWriteThread thread(0);
    KvPipe::instance(0).push(frames(3));
    thread.start();
    QTRY_COMPARE(VSIM_SentTotal(4, 0, 0), quint64(3));
    QTRY_COMPARE(buffer.frames(), 3);
    QCOMPARE(buffer.getFrame(2).direction, QStringLiteral("Tx"));
    QCOMPARE(buffer.getFrame(2).timeStamp, QStringLiteral("NULL"));

    thread.setHideSendFrame(true);
    KvPipe::instance(0).push(frames(4));
    QTRY_COMPARE(VSIM_SentTotal(4, 0, 0), quint64(7));
    thread.stop();
    thread.waitForFinish();
    QCOMPARE(buffer.frames(), 3); // hidden frames are not even counted
}

void tst_CanWriteThread::refusedBatchEndsTheThread()
{
    CanWriteThread thread(0);
    SignalLog log(&thread);
    VSIM_ForceResult(4, 0, "VCI_Transmit", 0, 1);
    KvPipe::instance(0).push(frames(150));
    KvPipe::instance(0).push(frames(1));
    thread.start();
    QVERIFY(thread.wait(10000)); // ends by itself
    QCOMPARE(log.entries(), (QStringList{"send 100", "time", "error"}));
    QCOMPARE(KvPipe::instance(0).count(), 1); // the next queue stays
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(0));
    // The refused batch was still recorded as sent.
    QCOMPARE(KvBuffer::instance(0).frames(), 100);
}

void tst_CanWriteThread::stopMidQueueEndsSilently()
{
    CanWriteThread thread(0);
    SignalLog log(&thread);
    // Stop from inside the first batch's signal: the thread must notice before its next frame.
    connect(
        &thread, &CanWriteThread::usedTimeSignal, &thread, [&thread] { thread.stop(); },
        Qt::DirectConnection);
    KvPipe::instance(0).push(frames(450, -1, 449));
    thread.start();
    QVERIFY(thread.wait(10000));
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(100));
    QCOMPARE(log.entries(), (QStringList{"send 100", "time"}));
}

void tst_CanWriteThread::idleThreadTakesAPushedQueue()
{
    CanWriteThread thread(0);
    thread.start();
    QTRY_VERIFY(thread.isRunning());
    for (int round = 1; round <= 3; ++round) {
        KvPipe::instance(0).push(frames(1));
        QTRY_COMPARE(VSIM_SentTotal(4, 0, 0), quint64(round));
    }
    thread.stop();
    thread.waitForFinish();
}

// Frames are QObjects; the thread sends a queue's frames from where they lie, so the cost of
// sending does not include building and destroying a copy of every frame.
void tst_CanWriteThread::sendingCopiesNoFrame()
{
    {
        ObjectCounter probe; // the counter itself works
        CanObj frame;
        QCOMPARE(probe.count(), 1);
    }
    constexpr int Frames = 1000;
    KvPipe::instance(0).push(frames(Frames));
    CanWriteThread writer(0);
    int built = 0;
    {
        ObjectCounter counter;
        writer.start();
        QTRY_COMPARE_WITH_TIMEOUT(quint64(VSIM_SentTotal(4, 0, 0)), quint64(Frames), 30000);
        built = counter.count();
    }
    writer.stop();
    writer.waitForFinish();
    QCOMPARE(KvBuffer::instance(0).frames(), Frames);
    // A handful for the thread's own passes (an empty queue object each); one per frame would be
    // a thousand.
    QVERIFY2(built < Frames / 10, qPrintable(QStringLiteral("%1 objects built").arg(built)));
}

QTEST_GUILESS_MAIN(tst_CanWriteThread)
#include "tst_canwritethread.moc"
