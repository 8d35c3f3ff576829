#include "canreadthread.h"
#include "canwritethread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvidfiltermannger.h"
#include "kvnamemapping.h"
#include "kvpipe.h"
#include "kvsendfilethread.h"
#include "kvsendfirmwarethread.h"
#include "taskthread.h"
#include "vci_sim.h"

#include <QtTest/QtTest>

#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <thread>

// The whole engine on a four-channel adapter, its channels wired in pairs (0-1, 2-3). Another
// node injects numbered frames on every channel, a sender records frames into channel 2's buffer
// by hand, and the application's thread reads texts and the watch list, edits filters and names.
// With every worker, for a bounded time:
//   channel 0  the application pushes frame queues into the transmit pipe
//   channel 1  a task thread in parallel mode runs three endless single tasks
//   channel 2  a binary file is replayed
//   channel 3  a firmware image is downloaded through the pipe
// and the application also drains side queues and toggles switches. Without them the receive
// path runs alone at full speed and is checked frame by frame. Afterwards every total must agree
// with the adapter's own counts.
namespace {

constexpr quint32 Type = 14;
constexpr quint32 Index = 0;
constexpr int Channels = 4;
constexpr int MaxCount = 2000;
constexpr int Identifiers = 3000;
constexpr quint32 FramesPerChannel = 100000;
constexpr int HandSentFrames = 20000;     // recorded on channel 2 as a sender thread would
constexpr int ImageBytes = 24 * 1024 + 5; // a short last frame
constexpr int ReplayFrames = 3000;
constexpr int WaitMs = 240000; // bound on every wait for the workers to drain

int peer(int c)
{
    return c ^ 1;
}

int trafficMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("KAVRI_STRESS_MS", &ok);
    return ok && ms > 0 ? ms : 3000;
}

QByteArray image()
{
    QByteArray bytes(ImageBytes, 0);
    for (int i = 0; i < ImageBytes; ++i)
        bytes[i] = char(i * 7 + i / 256);
    return bytes;
}

bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > WaitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::yieldCurrentThread();
    }
    return true;
}

taskObj endlessTask(quint32 id, int frames, int times, int interval)
{
    CanObj frame;
    frame.ID = id;
    frame.DataLen = 8;
    CanData burst;
    burst.push(frame);
    taskObj task;
    task.dataList.append(burst);
    task.frames = frames;
    task.times = times;
    task.interval = interval;
    task.idIncrease = 1;
    task.dataIncrease = 1;
    return task;
}

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

class tst_Stress : public QObject
{
    Q_OBJECT
private slots:
    void engineUnderLoad_data();
    void engineUnderLoad();
};

void tst_Stress::engineUnderLoad_data()
{
    QTest::addColumn<bool>("everything");
    QTest::newRow("receive path alone, checked frame by frame") << false;
    QTest::newRow("every worker at once") << true;
}

void tst_Stress::engineUnderLoad()
{
    QFETCH(bool, everything);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString imageName = dir.filePath(QStringLiteral("image.bin"));
    const QString replayName = dir.filePath(QStringLiteral("replay.bin"));
    {
        QFile f(imageName);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(image());
        QFile r(replayName);
        QVERIFY(r.open(QIODevice::WriteOnly));
        r.write(QByteArray(ReplayFrames * 8, '\x5A'));
    }

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
        settings.channelSets[c].sendCount = 0;
        KvPipe::instance(c).clear();
    }
    VSIM_Connect(Type, Index, 0, Type, Index, 1);
    VSIM_Connect(Type, Index, 2, Type, Index, 3);
    if (!everything) {
        settings.channelSets[0].rtSave = true; // drained below by the application's thread
        KvBuffer::instance(3).setDBCRun(true);
    }

    std::array<std::unique_ptr<CanReadThread>, Channels> readers;
    std::array<std::unique_ptr<CanWriteThread>, Channels> writers;
    for (int c = 0; c < Channels; ++c) {
        readers[c] = std::make_unique<CanReadThread>(c);
        writers[c] = std::make_unique<CanWriteThread>(c);
        readers[c]->start();
        writers[c]->start();
    }

    taskThread tasks(1);
    KvSendFileThread replay(2);
    KvSendFirmwareThread firmware(3);
    if (everything) {
        settings.channelSets[1].taskMode = 2;
        taskQueue queue;
        queue.append(endlessTask(0x200, 4, 2, 1));
        queue.append(endlessTask(0x1ABCDE00, 1, 5, 2));
        queue.append(endlessTask(0x7F0, 8, 1, 0));
        tasks.setTaskQueue(queue);
        tasks.setPage(1);
        tasks.start();
        replay.setParameter(endlessTask(0x321, 1, 1, 0));
        replay.setFileType(0);
        replay.setFileName(replayName);
        replay.start();
        firmware.setFileName(imageName);
        firmware.start();
    }

    // The other node numbers its frames per channel; it keeps each receive queue short of
    // overflowing, so every frame it injects is delivered.
    std::array<std::atomic<qint64>, Channels> injected{};
    std::atomic<bool> feeding{true};
    std::thread feeder([&injected, &feeding] {
        VCI_CAN_OBJ chunk[97];
        std::array<quint32, Channels> next{};
        for (bool more = true; more && feeding;) {
            more = false;
            for (int c = 0; c < Channels; ++c) {
                if (next[c] == FramesPerChannel)
                    continue;
                more = true;
                if (VSIM_Pending(Type, Index, c) > 20000)
                    continue;
                const quint32 n = qMin<quint32>(97, FramesPerChannel - next[c]);
                for (quint32 i = 0; i < n; ++i)
                    chunk[i] = numbered(next[c] + i);
                const quint32 accepted = VSIM_Inject(Type, Index, c, chunk, n);
                next[c] += accepted;
                injected[c] += accepted;
            }
            std::this_thread::yield();
        }
        feeding = false;
    });
    std::thread sender([] {
        VCI_CAN_OBJ sent[5] = {};
        for (int i = 0; i < HandSentFrames; i += 5)
            KvBuffer::instance(2).addFrame(sent, 5, true);
    });

    auto settled = [&] {
        for (int c = 0; c < Channels; ++c) {
            if (VSIM_Pending(Type, Index, c) != 0 ||
                settings.channelSets[c].receiveCount !=
                    injected[c] + qint64(VSIM_SentTotal(Type, Index, peer(c))))
                return false;
        }
        return true;
    };
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

    // The application's thread: with every worker for the traffic time, alone until the other
    // node has delivered everything.
    std::mt19937 random(everything ? 8 : 3);
    qint64 pushed = 0;
    QElapsedTimer clock;
    clock.start();
    const int duration = trafficMs();
    KvNameMapping &names = KvNameMapping::getSingleton();
    while (clock.elapsed() < WaitMs &&
           (everything ? clock.elapsed() < duration : feeding || !settled())) {
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
        // Alone, only the modes that keep every frame, so that the buffers can be checked.
        filter.setFilterMode(everything ? int(random() % 4) : random() % 2 ? 0 : 3);
        if (filter.NotReceiveCount() > 20) {
            filter.removeAtNotReceive(0);
            filter.replaceOnlyReceive(1, range);
            filter.clearOnlyReceive();
            if (random() % 4 == 0)
                filter.clearNotReceive();
        }
        names.add(random() % Identifiers, QStringLiteral("node %1").arg(c));
        names.find(random() % Identifiers);
        if (random() % 50 == 0)
            names.clear();
        if (random() % 8 == 0)
            settings.onWatch();

        if (!everything) {
            drainSaveQueue();
            continue;
        }
        if (KvPipe::instance(0).count() < 20) {
            CanData data;
            const int n = 1 + int(random() % 150);
            for (int i = 0; i < n; ++i) {
                CanObj f;
                f.ID = 0x100 + quint32(i);
                f.DataLen = quint8(i % 9);
                f.BatchEndFlag = random() % 40 == 0;
                data.push(f);
            }
            KvPipe::instance(0).push(data);
            pushed += n;
        }
        buffer.getRtSaveFrame(0);
        VCI_CAN_OBJ side;
        buffer.DBCFrame(side);
        buffer.GBT27930Frame(side);
        VCI_ERR_INFO error;
        buffer.getErrorData(error);
        if (random() % 16 == 0)
            buffer.ClearDBC();
        switch (random() % 5) {
        case 0:
            settings.channelSets[c].rtSave = !settings.channelSets[c].rtSave;
            break;
        case 1:
            buffer.setDBCRun(!buffer.DBCRun());
            break;
        case 2:
            buffer.setGBT27930Run(!buffer.GBT27930Run());
            break;
        case 3:
            buffer.setHideSendFrame(!buffer.getHideSendFrame());
            break;
        default:
            tasks.singleTaskCount();
            break;
        }
        QCoreApplication::processEvents();
    }
    const qint64 trafficTime = clock.elapsed();

    // Wind down: the endless tasks, the other node, then whatever the workers still hold.
    const int firmwareFrames = everything ? 1 + (ImageBytes + 7) / 8 + 1 + 3 + 1 : 0;
    if (everything) {
        tasks.stopSingleTask();
        QCOMPARE(tasks.singleTaskCount(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(tasks.wait(5000));
    }
    feeding = false;
    feeder.join();
    sender.join();
    QVERIFY(replay.wait(WaitMs));
    QVERIFY(firmware.wait(WaitMs));
    QVERIFY(waitFor([&] { return VSIM_SentTotal(Type, Index, 0) == quint64(pushed); }));
    QVERIFY(waitFor([&] { return VSIM_SentTotal(Type, Index, 3) == quint64(firmwareFrames); }));
    QVERIFY(waitFor(settled));
    for (int c = 0; c < Channels; ++c) {
        readers[c]->stop();
        writers[c]->stop();
    }
    for (int c = 0; c < Channels; ++c) {
        readers[c]->waitForFinish();
        writers[c]->waitForFinish();
    }
    const qint64 totalTime = clock.elapsed();

    // The senders' own counts against what the adapter accepted.
    const qint64 sentCounted[Channels] = {pushed, settings.channelSets[1].sendCount,
                                          settings.channelSets[2].sendCount, firmwareFrames};
    QCOMPARE(qint64(settings.channelSets[2].sendCount), qint64(everything ? ReplayFrames : 0));
    qInfo("stress: %lld ms of traffic, %lld ms in all", trafficTime, totalTime);
    for (int c = 0; c < Channels; ++c) {
        KvBuffer &buffer = KvBuffer::instance(c);
        const qint64 accepted = qint64(VSIM_SentTotal(Type, Index, c));
        const qint64 delivered = injected[c] + qint64(VSIM_SentTotal(Type, Index, peer(c)));
        const qint64 received = settings.channelSets[c].receiveCount;
        const qint64 byHand = c == 2 ? HandSentFrames : 0;
        const qint64 offered = buffer.frames();
        qInfo("stress: channel %d: delivered %lld = received %lld; buffer frames %lld = "
              "received + sent %lld; sent %lld = accepted %lld",
              c, delivered, received, offered, received + accepted + byHand, sentCounted[c],
              accepted);
        QCOMPARE(received, delivered);
        QCOMPARE(offered, received + accepted + byHand);
        QCOMPARE(sentCounted[c], accepted);
        QVERIFY(received > 0);
        QVERIFY(!everything || accepted > 0);
        if (!everything) {
            QCOMPARE(received, qint64(FramesPerChannel));
            QCOMPARE(buffer.count(), MaxCount);
            QVERIFY(buffer.countW() <= Identifiers + 1);
        }
        if (!everything && c != 2) {
            // The newest records are the last frames delivered, in order.
            for (int i = 0; i < MaxCount; ++i)
                QCOMPARE(seqOf(buffer.getFrame(i)), quint32(received - MaxCount + i));
        }
    }

    if (everything) {
        // The firmware frames left in order: start, the image, end, digest, finish.
        std::vector<VCI_CAN_OBJ> sent(size_t(firmwareFrames) + 1);
        QCOMPARE(VSIM_TakeSent(Type, Index, 3, sent.data(), quint32(sent.size())),
                 quint32(firmwareFrames));
        QByteArray kinds, payload[5]; // by kind, 0x110 to 0x114
        for (size_t i = 0; i < size_t(firmwareFrames); ++i) {
            const quint32 kind = sent[i].ID - 0x110;
            QVERIFY2(kind < 5, qPrintable(QString::number(sent[i].ID, 16)));
            kinds += char('0' + kind);
            payload[kind].append(reinterpret_cast<const char *>(sent[i].Data), sent[i].DataLen);
        }
        QCOMPARE(kinds, "0" + QByteArray((ImageBytes + 7) / 8, '1') + "23334");
        QCOMPARE(payload[1], image());
        QCOMPARE(payload[3], QCryptographicHash::hash(image(), QCryptographicHash::Sha1));
    } else {
        drainSaveQueue();
        QCOMPARE(savedFrames, int(FramesPerChannel));
        QVERIFY(savedInOrder);
        VCI_CAN_OBJ first{};
        QVERIFY(KvBuffer::instance(3).DBCFrame(first));
        QCOMPARE(first.ID, 0u);
    }

    settings.watch = false;
    for (int c = 0; c < Channels; ++c) {
        settings.channelSets[c].rtSave = false;
        KvBuffer::instance(c).setDBCRun(false);
    }
    device.closeDevice();
}

QTEST_GUILESS_MAIN(tst_Stress)
#include "tst_stress.moc"
