#include "canwritethread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvpipe.h"
#include "simulateddevice.h"
#include "vci_sim.h"

#include <QtTest/QtTest>

#include <atomic>

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

// Frames are QObjects; the transmit thread sends a queue's frames from where they lie, so the
// cost of sending does not include building and destroying a copy of every frame.
class tst_CanWriteThreadCopies : public QObject
{
    Q_OBJECT
private slots:
    void hookCountsFrames();
    void sendingCopiesNoFrame();
};

void tst_CanWriteThreadCopies::hookCountsFrames()
{
    // The counter itself works: ten frames built, ten counted.
    ObjectCounter counter;
    for (int i = 0; i < 10; ++i)
        CanObj frame;
    QCOMPARE(counter.count(), 10);
}

void tst_CanWriteThreadCopies::sendingCopiesNoFrame()
{
    constexpr int Frames = 1000;
    QVERIFY(startSimulatedDevice(1));
    KvPipe::instance(0).clear();
    KvBuffer::instance(0).reset();

    CanData queue;
    for (int i = 0; i < Frames; ++i) {
        CanObj frame;
        frame.ID = 0x300 + quint32(i % 0x100);
        frame.DataLen = 1;
        frame.Data[0] = quint8(i);
        queue.push(frame);
    }
    KvPipe::instance(0).push(queue);

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

QTEST_GUILESS_MAIN(tst_CanWriteThreadCopies)
#include "tst_canwritethreadcopies.moc"
