#include "canreadthread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvidfiltermannger.h"
#include "vci_sim.h"

#include <QtTest/QtTest>

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

namespace {

constexpr quint32 Type = 14; // four channels
constexpr quint32 Index = 0;
constexpr int Channels = 4;
constexpr quint32 FramesPerChannel = 100000;
constexpr int MaxCount = 2000;
constexpr int Identifiers = 3000;
constexpr int SentFrames = 20000; // recorded on channel 2 as a sender thread would
constexpr int DeadlineMs = 240000;

VCI_CAN_OBJ numbered(quint32 seq)
{
    VCI_CAN_OBJ f{};
    f.ID = seq % Identifiers;
    f.ExternFlag = seq % 3 == 0;
    f.DataLen = 8;
    std::memcpy(f.Data, &seq, 4);
    return f;
}

quint32 seqOf(const CanObjStr &text)
{
    bool ok = false;
    const QStringList bytes = text.data.split(' ');
    quint32 seq = 0;
    for (int b = 3; b >= 0 && bytes.size() == 8; --b)
        seq = (seq << 8) | bytes[b].toUInt(&ok, 16);
    return ok ? seq : 0xFFFFFFFFu;
}

} // namespace

// Four channels receive at full speed while the application's thread reads texts, edits filters
// and flips the watch switch, and a sender records frames into one of the buffers. Afterwards
// every buffer holds exactly what was delivered: nothing lost, nothing counted twice.
class tst_ReceiveStress : public QObject
{
    Q_OBJECT
private slots:
    void fourChannelsWhileTheApplicationReads();
};

void tst_ReceiveStress::fourChannelsWhileTheApplicationReads()
{
    VSIM_Reset();
    DevCan &device = DevCan::instance();
    QCOMPARE(device.openDevice(Type, Index, 0), 1ul);
    VCI_INIT_CONFIG config{};
    config.AccMask = 0xFFFFFFFF;
    config.Timing1 = 0x14; // 1 Mbit/s
    KvGlobalSet &settings = KvGlobalSet::instance();
    for (int c = 0; c < Channels; ++c) {
        QCOMPARE(device.initCAN(c, &config), 1ul);
        QCOMPARE(device.StartCAN(c), 1ul);
        KvBuffer::instance(c).setMaxCount(MaxCount);
        KvBuffer::instance(c).reset();
        settings.channelSets[c].receiveCount = 0;
    }
    settings.channelSets[0].rtSave = true; // drained below by the application's thread
    KvBuffer::instance(3).setDBCRun(true);

    std::array<std::unique_ptr<CanReadThread>, Channels> readers;
    for (int c = 0; c < Channels; ++c) {
        readers[c] = std::make_unique<CanReadThread>(c);
        readers[c]->start();
    }

    std::array<std::atomic<quint32>, Channels> delivered{};
    std::atomic<bool> feeding{true};
    std::thread feeder([&delivered, &feeding] {
        VCI_CAN_OBJ chunk[97];
        for (quint32 next = 0; next < FramesPerChannel;) {
            const quint32 n = qMin<quint32>(97, FramesPerChannel - next);
            for (quint32 i = 0; i < n; ++i)
                chunk[i] = numbered(next + i);
            for (int c = 0; c < Channels; ++c)
                delivered[c] += VSIM_Inject(Type, Index, c, chunk, n);
            next += n;
        }
        feeding = false;
    });
    std::thread sender([] {
        VCI_CAN_OBJ sent[5] = {};
        for (int i = 0; i < SentFrames; i += 5)
            KvBuffer::instance(2).addFrame(sent, 5, true);
    });

    // The application's side: read, edit, flip, drain, until all is delivered and buffered.
    std::mt19937 random(3);
    QElapsedTimer clock;
    clock.start();
    int savedFrames = 0;
    quint32 lastSaved = 0xFFFFFFFFu;
    bool savedInOrder = true;
    auto drainSaveQueue = [&] {
        KvBuffer &saving = KvBuffer::instance(0);
        for (int left = saving.countRt(); left > 0; --left) {
            const quint32 seq = seqOf(saving.getRtSaveFrame(savedFrames++));
            savedInOrder = savedInOrder && seq == lastSaved + 1;
            lastSaved = seq;
        }
    };
    auto allBuffered = [&] {
        for (int c = 0; c < Channels; ++c) {
            const int expected = int(delivered[c]) + (c == 2 ? SentFrames : 0);
            if (KvBuffer::instance(c).frames() != expected)
                return false;
        }
        return true;
    };
    while ((feeding || !allBuffered()) && clock.elapsed() < DeadlineMs) {
        const int c = int(random() % Channels);
        KvBuffer &buffer = KvBuffer::instance(c);
        buffer.getFrame(int(random() % quint32(MaxCount + 10)));
        buffer.getWatchFrame(int(random() % quint32(MaxCount + 10)));
        buffer.count();
        buffer.countW();

        KvIdFilterMannger &filter = KvIdFilterMannger::instance(c);
        KvIdFilter range;
        range.startId = random() % Identifiers;
        range.endId = range.startId + 50;
        filter.addNotReceive(range);
        filter.addOnlyReceive(range);
        filter.setFilterMode(random() % 2 ? 0 : 3); // both keep every frame
        if (filter.NotReceiveCount() > 20) {
            filter.removeAtNotReceive(0);
            filter.replaceOnlyReceive(1, range);
            filter.clearOnlyReceive();
        }
        if (random() % 8 == 0)
            settings.onWatch();

        drainSaveQueue();
    }
    feeder.join();
    sender.join();
    for (auto &reader : readers) {
        reader->stop();
        reader->waitForFinish();
    }
    QVERIFY2(clock.elapsed() < DeadlineMs, "the buffers did not catch up in time");

    for (int c = 0; c < Channels; ++c) {
        KvBuffer &buffer = KvBuffer::instance(c);
        const int received = int(delivered[c].load());
        const int sent = c == 2 ? SentFrames : 0;
        QCOMPARE(received, int(FramesPerChannel));
        QCOMPARE(VSIM_Pending(Type, Index, c), 0u);
        QCOMPARE(settings.channelSets[c].receiveCount.load(), received);
        QCOMPARE(buffer.frames(), received + sent);
        QCOMPARE(buffer.count(), MaxCount);
        QVERIFY(buffer.countW() <= Identifiers + 1);
        if (c != 2) {
            // The newest records are the last frames delivered, in order.
            for (int i = 0; i < MaxCount; ++i)
                QCOMPARE(seqOf(buffer.getFrame(i)), quint32(received - MaxCount + i));
        }
    }
    drainSaveQueue();
    QCOMPARE(savedFrames, int(FramesPerChannel));
    QVERIFY(savedInOrder);
    VCI_CAN_OBJ first{};
    QVERIFY(KvBuffer::instance(3).DBCFrame(first));
    QCOMPARE(first.ID, 0u);

    settings.channelSets[0].rtSave = false;
    settings.watch = false;
    device.closeDevice();
}

QTEST_GUILESS_MAIN(tst_ReceiveStress)
#include "tst_receivestress.moc"
