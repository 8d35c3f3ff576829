#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvidfiltermannger.h"

#include <QtTest/QtTest>

#include <atomic>
#include <thread>
#include <vector>

// The frames of one addFrame() call (one adapter read) enter the frame list and the save queue
// together, under one taking of each list's lock: a reader never sees part of a read. Taking the
// locks once per read instead of once per frame is what keeps the receive path cheap while the
// application reads and drains at the same time.
class tst_KvBufferBatch : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void aReadEntersTheListsWhole();
    void filteredFramesLeaveNoGap();
    void aDrainingReaderTakesEveryRecordInOrder();
    void resetEmptiesWhatTheReaderHasNotTaken();
};

namespace {

constexpr int Channel = 2;
constexpr int ReadSize = 32;
constexpr int Reads = 3000;

std::vector<VCI_CAN_OBJ> read(int first)
{
    std::vector<VCI_CAN_OBJ> frames(ReadSize);
    for (int i = 0; i < ReadSize; ++i) {
        frames[size_t(i)].ID = quint32(0x100 + (first + i) % 50);
        frames[size_t(i)].TimeStamp = quint32(first + i + 1);
        frames[size_t(i)].DataLen = 8;
    }
    return frames;
}

} // namespace

void tst_KvBufferBatch::cleanup()
{
    KvGlobalSet::instance().channelSets[Channel].rtSave = false;
    KvGlobalSet::instance().watch = false;
    KvIdFilterMannger::instance(Channel).setFilterMode(0);
    KvIdFilterMannger::instance(Channel).clearNotReceive();
    KvBuffer::instance(Channel).setMaxCount(30000);
    KvBuffer::instance(Channel).reset();
}

void tst_KvBufferBatch::aReadEntersTheListsWhole()
{
    KvBuffer &buffer = KvBuffer::instance(Channel);
    buffer.setChannel(Channel);
    buffer.setMaxCount(ReadSize * Reads);
    buffer.reset();
    KvGlobalSet::instance().channelSets[Channel].rtSave = true;
    KvGlobalSet::instance().watch = true;

    std::atomic<bool> done{false};
    std::thread receiver([&] {
        for (int r = 0; r < Reads; ++r) {
            std::vector<VCI_CAN_OBJ> frames = read(r * ReadSize);
            buffer.addFrame(frames.data(), ReadSize, false);
        }
        done = true;
    });
    int partialList = 0, partialQueue = 0, looks = 0;
    while (!done) {
        if (buffer.count() % ReadSize != 0)
            ++partialList;
        if (buffer.countRt() % ReadSize != 0)
            ++partialQueue;
        ++looks;
    }
    receiver.join();
    QVERIFY(looks > 0);
    QCOMPARE(partialList, 0);
    QCOMPARE(partialQueue, 0);
    QCOMPARE(buffer.count(), ReadSize * Reads);
    QCOMPARE(buffer.countRt(), ReadSize * Reads);
    QCOMPARE(buffer.countW(), 50);
    // In order, nothing lost between the chunks of a read.
    for (int i : {0, 31, 32, 64 * 3 + 5, ReadSize * Reads - 1})
        QCOMPARE(buffer.getFrame(i).timeStamp,
                 QStringLiteral("0x") + QString::number(i + 1, 16).toUpper());
}

void tst_KvBufferBatch::filteredFramesLeaveNoGap()
{
    // A call longer than the store chunk with every other frame filtered out: the stored frames
    // keep their order and the totals count every frame offered.
    KvBuffer &buffer = KvBuffer::instance(Channel);
    buffer.setChannel(Channel);
    buffer.reset();
    KvIdFilter odd;
    odd.startId = 0x501;
    odd.endId = 0x501;
    KvIdFilterMannger::instance(Channel).addNotReceive(odd);
    KvIdFilterMannger::instance(Channel).setFilterMode(1);
    std::vector<VCI_CAN_OBJ> frames(301);
    for (int i = 0; i < 301; ++i) {
        frames[size_t(i)].ID = i % 2 ? 0x501 : 0x500;
        frames[size_t(i)].TimeStamp = quint32(i + 1);
    }
    QCOMPARE(buffer.addFrame(frames.data(), 301, false), 151);
    QCOMPARE(buffer.frames(), 301);
    QCOMPARE(buffer.count(), 151);
    for (int i = 0; i < 151; ++i)
        QCOMPARE(buffer.getFrame(i).timeStamp,
                 QStringLiteral("0x") + QString::number(2 * i + 1, 16).toUpper());
}

namespace {

QString stampText(int stamp)
{
    return QStringLiteral("0x") + QString::number(stamp, 16).toUpper();
}

} // namespace

void tst_KvBufferBatch::aDrainingReaderTakesEveryRecordInOrder()
{
    // The reader takes records while the receiver keeps adding: each record comes out once, in
    // the order it went in, and the count never runs ahead of what can be taken.
    KvBuffer &buffer = KvBuffer::instance(Channel);
    buffer.setChannel(Channel);
    buffer.reset();
    KvGlobalSet::instance().channelSets[Channel].rtSave = true;
    std::thread receiver([&] {
        for (int r = 0; r < Reads; ++r) {
            std::vector<VCI_CAN_OBJ> frames = read(r * ReadSize);
            buffer.addFrame(frames.data(), ReadSize, false);
        }
    });
    int taken = 0, outOfOrder = 0, emptyTakes = 0;
    while (taken < ReadSize * Reads) {
        for (int waiting = buffer.countRt(); waiting > 0; --waiting) {
            const CanObjStr record = buffer.getRtSaveFrame(taken);
            if (record.timeStamp.isEmpty())
                ++emptyTakes;
            else if (record.timeStamp != stampText(++taken))
                ++outOfOrder;
        }
    }
    receiver.join();
    QCOMPARE(emptyTakes, 0);
    QCOMPARE(outOfOrder, 0);
    QCOMPARE(buffer.countRt(), 0);
    QVERIFY(buffer.getRtSaveFrame(0).timeStamp.isEmpty());
}

void tst_KvBufferBatch::resetEmptiesWhatTheReaderHasNotTaken()
{
    KvBuffer &buffer = KvBuffer::instance(Channel);
    buffer.setChannel(Channel);
    buffer.reset();
    KvGlobalSet::instance().channelSets[Channel].rtSave = true;
    std::vector<VCI_CAN_OBJ> frames = read(0);
    buffer.addFrame(frames.data(), 3, false);
    QCOMPARE(buffer.getRtSaveFrame(0).timeStamp, stampText(1));
    buffer.addFrame(frames.data() + 3, 2, false);
    QCOMPARE(buffer.countRt(), 4);
    QCOMPARE(buffer.getRtSaveFrame(1).timeStamp, stampText(2));
    buffer.reset();
    QCOMPARE(buffer.countRt(), 0);
    QVERIFY(buffer.getRtSaveFrame(2).timeStamp.isEmpty());
    buffer.addFrame(frames.data() + 5, 1, false);
    QCOMPARE(buffer.getRtSaveFrame(3).timeStamp, stampText(6));
}

QTEST_GUILESS_MAIN(tst_KvBufferBatch)
#include "tst_kvbufferbatch.moc"
