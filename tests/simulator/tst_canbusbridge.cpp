#include "canbusbridge_p.h"
#include "candata.h"
#include "canobj.h"
#include "canobjstr.h"
#include "canreadthread.h"
#include "canwritethread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvpipe.h"
#include "simulateddevice.h"
#include "vci_sim.h"

#include <QtCore/QElapsedTimer>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>
#include <QtSerialBus/QCanBus>
#include <QtSerialBus/QCanBusDevice>
#include <QtTest/QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr quint32 Type = 4;
constexpr quint32 Index = 0;
const char *const Mapping = "4:0:0=virtualcan:can0";

// One frame of each data length 0 to 8 of a kind, with distinct identifiers and bytes.
QVector<VCI_CAN_OBJ> framesOfKind(bool extended, bool remote)
{
    QVector<VCI_CAN_OBJ> frames;
    for (quint8 len = 0; len <= 8; ++len) {
        VCI_CAN_OBJ f{};
        f.ID = (extended ? 0x18FEF100u : 0x100u) + len;
        f.ExternFlag = extended;
        f.RemoteFlag = remote;
        f.DataLen = len;
        for (quint8 i = 0; i < len && !remote; ++i)
            f.Data[i] = quint8(len * 16 + i);
        frames << f;
    }
    return frames;
}

QCanBusFrame toQt(const VCI_CAN_OBJ &f)
{
    QCanBusFrame q(f.ID, f.RemoteFlag
                             ? QByteArray(f.DataLen, '\0')
                             : QByteArray(reinterpret_cast<const char *>(f.Data), f.DataLen));
    q.setExtendedFrameFormat(f.ExternFlag);
    if (f.RemoteFlag)
        q.setFrameType(QCanBusFrame::RemoteRequestFrame);
    return q;
}

} // namespace

// The adapter library bridging a mapped device to Qt's virtual CAN bus, driven through the engine
// (device manager, receive and transmit threads, receive buffer, pipe) against a peer device on the
// same bus that the engine knows nothing of.
class tst_CanBusBridge : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void peerFramesReachTheBuffer_data();
    void peerFramesReachTheBuffer();
    void pipeFramesReachThePeerInOrder_data();
    void pipeFramesReachThePeerInOrder();
    void concurrentSendersKeepTheirOrder();
    void unmappedDevicesAndChannels();
    void failuresAreResults_data();
    void failuresAreResults();
    void lostPeerGivesARecord();
    void errorQueueIsBounded_data();
    void errorQueueIsBounded();

private:
    void startBridged();
    void syncWithPeer();
    QVector<QCanBusFrame> peerReceived;
    QCanBusDevice *peer = nullptr;
    CanReadThread *reader = nullptr;
    CanWriteThread *writer = nullptr;
};

void tst_CanBusBridge::initTestCase()
{
    QVERIFY(QCanBus::instance()->plugins().contains("virtualcan"));
    peer = QCanBus::instance()->createDevice("virtualcan", "can0");
    QVERIFY(peer);
    connect(peer, &QCanBusDevice::framesReceived, this, [this] {
        for (const QCanBusFrame &f : peer->readAllFrames())
            peerReceived << f;
    });
    QVERIFY(peer->connectDevice());
    QTRY_COMPARE(peer->state(), QCanBusDevice::ConnectedState);
}

void tst_CanBusBridge::cleanupTestCase()
{
    delete peer;
}

void tst_CanBusBridge::init()
{
    qputenv("KAVRI_CANBUS", Mapping);
    peerReceived.clear();
}

void tst_CanBusBridge::cleanup()
{
    for (CanThread *t : {static_cast<CanThread *>(reader), static_cast<CanThread *>(writer)}) {
        if (t) {
            t->stop();
            QVERIFY(t->wait(5000));
            delete t;
        }
    }
    reader = nullptr;
    writer = nullptr;
    // Some cases open through the entry points directly, so close the same way.
    VCI_ResetCAN(Type, Index, 0);
    VCI_CloseDevice(Type, Index);
    KvBuffer::instance(0).reset();
    KvPipe::instance(0).clear();
}

void tst_CanBusBridge::startBridged()
{
    // The shared set-up opens device 4:0 channel 0, which the mapping puts on the virtual bus.
    QVERIFY(startSimulatedDevice(1));
    syncWithPeer();
}

// The relay registers a client when it reads its first line: a frame from the engine reaching
// the peer proves the engine's connection is registered, so nothing the peer sends is lost.
void tst_CanBusBridge::syncWithPeer()
{
    VCI_CAN_OBJ sync{};
    sync.ID = 0x7FF;
    QCOMPARE(DevCan::instance().Transmit(0, &sync, 1), 1ul);
    QTRY_VERIFY(!peerReceived.isEmpty());
    QCOMPARE(peerReceived.first().frameId(), 0x7FFu);
    peerReceived.clear();
}

void tst_CanBusBridge::peerFramesReachTheBuffer_data()
{
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("remote");
    QTest::newRow("standard data frames") << false << false;
    QTest::newRow("extended data frames") << true << false;
    QTest::newRow("standard remote frames") << false << true;
    QTest::newRow("extended remote frames") << true << true;
}

void tst_CanBusBridge::peerFramesReachTheBuffer()
{
    QFETCH(bool, extended);
    QFETCH(bool, remote);
    startBridged();
    KvBuffer &buffer = KvBuffer::instance(0);
    buffer.reset();
    reader = new CanReadThread(0);
    reader->start();

    const QVector<VCI_CAN_OBJ> sent = framesOfKind(extended, remote);
    for (const VCI_CAN_OBJ &f : sent)
        QVERIFY(peer->writeFrame(toQt(f)));
    QTRY_COMPARE(buffer.count(), sent.size());

    quint32 lastStamp = 0;
    for (int i = 0; i < sent.size(); ++i) {
        const VCI_CAN_OBJ &want = sent.at(i);
        const CanObjStr got = buffer.getFrame(i);
        // A remote frame carries no bytes; what its data column shows is not the bridge's concern.
        const QByteArray data(reinterpret_cast<const char *>(want.Data), remote ? 0 : want.DataLen);
        QCOMPARE(QStringList({got.direction, got.id, got.frameFormat, got.frameType, got.dataLen,
                              remote ? QString() : got.data.trimmed()}),
                 QStringList({"Rx", QString::asprintf("%08X ", want.ID),
                              extended ? "Extend" : "Standard", remote ? "Remote" : "Data",
                              QString::number(want.DataLen), data.toHex(' ').toUpper()}));
        // Device stamps: never 0 (that reads as a frame the engine sent), never going back.
        bool ok = false;
        const quint32 stamp = got.timeStamp.toUInt(&ok, 0);
        QVERIFY2(ok && stamp != 0, qPrintable(got.timeStamp));
        QVERIFY(stamp >= lastStamp);
        lastStamp = stamp;
    }
}

void tst_CanBusBridge::pipeFramesReachThePeerInOrder_data()
{
    peerFramesReachTheBuffer_data();
}

void tst_CanBusBridge::pipeFramesReachThePeerInOrder()
{
    QFETCH(bool, extended);
    QFETCH(bool, remote);
    startBridged();
    writer = new CanWriteThread(0);
    writer->start();

    // Several queues, and more frames than one transmit batch holds.
    QVector<VCI_CAN_OBJ> expected;
    for (int round = 0; round < 12; ++round) {
        CanData queue;
        for (VCI_CAN_OBJ f : framesOfKind(extended, remote)) {
            f.ID += quint32(round) << 4;
            CanObj o;
            o.ID = f.ID;
            o.ExternFlag = f.ExternFlag;
            o.RemoteFlag = f.RemoteFlag;
            o.DataLen = f.DataLen;
            memcpy(o.Data, f.Data, 8);
            queue.push(o);
            expected << f;
        }
        KvPipe::instance(0).push(queue);
    }
    QTRY_COMPARE(peerReceived.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QCanBusFrame &got = peerReceived.at(i);
        const QCanBusFrame want = toQt(expected.at(i));
        QCOMPARE(QVariantList({got.frameId(), got.hasExtendedFrameFormat(), got.frameType(),
                               got.payload().size()}),
                 QVariantList({want.frameId(), want.hasExtendedFrameFormat(), want.frameType(),
                               want.payload().size()}));
        if (!remote)
            QCOMPARE(got.payload(), want.payload());
    }
    QTRY_COMPARE(KvBuffer::instance(0).count(), expected.size()); // recorded as sent
}

// Several engine threads transmitting at once, with the receive thread polling: nothing lost,
// and each sender's frames arrive in its own order.
void tst_CanBusBridge::concurrentSendersKeepTheirOrder()
{
    startBridged();
    reader = new CanReadThread(0);
    reader->start();
    constexpr int Senders = 4, Calls = 50, PerCall = 10;
    std::vector<std::thread> senders;
    std::atomic<int> refused{0};
    for (int s = 0; s < Senders; ++s) {
        senders.emplace_back([s, &refused] {
            for (int call = 0; call < Calls; ++call) {
                VCI_CAN_OBJ batch[PerCall] = {};
                for (int i = 0; i < PerCall; ++i) {
                    batch[i].ID = quint32(s);
                    batch[i].DataLen = 2;
                    batch[i].Data[0] = quint8(call);
                    batch[i].Data[1] = quint8(i);
                }
                if (VCI_Transmit(Type, Index, 0, batch, PerCall) != PerCall)
                    ++refused;
            }
        });
    }
    for (std::thread &t : senders)
        t.join();
    QCOMPARE(refused.load(), 0);
    QTRY_COMPARE(peerReceived.size(), Senders * Calls * PerCall);
    QVector<int> next(Senders, 0);
    for (const QCanBusFrame &f : peerReceived) {
        const int s = int(f.frameId());
        QVERIFY(s < Senders);
        const int seq = quint8(f.payload().at(0)) * PerCall + quint8(f.payload().at(1));
        QCOMPARE(seq, next[s]++);
    }
}

void tst_CanBusBridge::unmappedDevicesAndChannels()
{
    startBridged();
    // Channel 1 of the bridged device is not mapped: it is absent, not simulated.
    VCI_INIT_CONFIG config{};
    QCOMPARE(VCI_InitCAN(Type, Index, 1, &config), 0u);
    QCOMPARE(VCI_StartCAN(Type, Index, 1), 0u);

    // Another device is simulated exactly as before, beside the bridged one.
    VSIM_Reset();
    QCOMPARE(VCI_OpenDevice(3, 0, 0), 1u);
    QCOMPARE(VCI_InitCAN(3, 0, 0, &config), 1u);
    QCOMPARE(VCI_StartCAN(3, 0, 0), 1u);
    VCI_CAN_OBJ f{};
    f.ID = 0x42;
    QCOMPARE(VSIM_Inject(3, 0, 0, &f, 1), 1u);
    VCI_CAN_OBJ got[4];
    QCOMPARE(VCI_Receive(3, 0, 0, got, 4, 0), 1u);
    QCOMPARE(got[0].ID, 0x42u);
    QCOMPARE(VCI_CloseDevice(3, 0), 1u);
    // Bridged calls never reach the simulation.
    QCOMPARE(VCI_Receive(Type, Index, 0, got, 4, 0), 0u);
    QCOMPARE(VSIM_CallCount("VCI_Receive"), 1u);
}

void tst_CanBusBridge::failuresAreResults_data()
{
    QTest::addColumn<QByteArray>("mapping");
    QTest::addColumn<uint>("openResult");
    QTest::addColumn<uint>("errCode");
    QTest::addColumn<int>("detail"); // Passive_ErrData[0], -1 for any

    QTest::newRow("missing plugin")
        << QByteArray("4:0:0=nosuchplugin:can0") << 0u << uint(BridgeErrNoDevice) << int(NoPlugin);
    QTest::newRow("interface the plugin rejects") << QByteArray("4:0:0=virtualcan:can7") << 0u
                                                  << uint(BridgeErrNoDevice) << int(BadInterface);
    QTest::newRow("entry without interface")
        << QByteArray("4:0:0=virtualcan") << 0u << uint(BridgeErrNoDevice) << int(NoTarget);
    // A host name the plugin cannot resolve leaves its device connecting for ever.
    QTest::newRow("bus that never answers")
        << QByteArray("4:0:0=virtualcan:tcp://nosuchhost:35468/can0") << 1u
        << uint(BridgeErrNoConnect) << -1;
    QTest::newRow("socketcan without such interface")
        << QByteArray("4:0:0=socketcan:kvnosuch0") << 1u
        << uint(BridgeErrDevice | QCanBusDevice::ConnectionError) << -1;
}

void tst_CanBusBridge::failuresAreResults()
{
    QFETCH(QByteArray, mapping);
    QFETCH(uint, openResult);
    QFETCH(uint, errCode);
    QFETCH(int, detail);
    qputenv("KAVRI_CANBUS", mapping);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(VCI_OpenDevice(Type, Index, 0), openResult);
    if (openResult == 1) {
        VCI_INIT_CONFIG config{};
        QCOMPARE(VCI_InitCAN(Type, Index, 0, &config), 1u);
        QCOMPARE(VCI_StartCAN(Type, Index, 0), 0u);
        VCI_CAN_OBJ f{};
        QCOMPARE(VCI_Transmit(Type, Index, 0, &f, 1), 0u);
    }
    QVERIFY2(timer.elapsed() < 6000, "a failing bus must not hold the caller");
    VCI_ERR_INFO info{};
    QCOMPARE(VCI_ReadErrInfo(Type, Index, 0, &info), 1u);
    QCOMPARE(info.ErrCode, errCode);
    if (detail >= 0)
        QCOMPARE(int(info.Passive_ErrData[0]), detail);
    QCOMPARE(VCI_CloseDevice(Type, Index), 1u);
}

// A bus server that answers like the virtual bus, hands the engine one frame and then goes away.
void tst_CanBusBridge::lostPeerGivesARecord()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    qputenv("KAVRI_CANBUS", QByteArray("4:0:0=virtualcan:tcp://127.0.0.1:") +
                                QByteArray::number(server.serverPort()) + "/can0");
    QCOMPARE(VCI_OpenDevice(Type, Index, 0), 1u);
    VCI_INIT_CONFIG config{};
    QCOMPARE(VCI_InitCAN(Type, Index, 0, &config), 1u);
    QCOMPARE(VCI_StartCAN(Type, Index, 0), 1u);
    QTRY_VERIFY(server.hasPendingConnections());
    std::unique_ptr<QTcpSocket> link(server.nextPendingConnection());
    QTRY_VERIFY(link->canReadLine());
    QCOMPARE(link->readLine().trimmed(), QByteArray("connect:can0"));
    link->write("291##0102\n"); // standard data frame 0x123: 01 02
    VCI_CAN_OBJ got[4];
    uint received = 0; // QTRY_ macros evaluate once more after success: count, don't re-read
    QTRY_VERIFY((received += VCI_Receive(Type, Index, 0, got + received, 4 - received, 0)) > 0);
    QCOMPARE(received, 1u);
    QCOMPARE(got[0].ID, 0x123u);
    QCOMPARE(got[0].DataLen, quint8(2));

    link->close();
    VCI_ERR_INFO info{};
    bool reported = false;
    QTRY_VERIFY(reported || (reported = VCI_ReadErrInfo(Type, Index, 0, &info) == 1));
    QCOMPARE(info.ErrCode, uint32_t(BridgeErrLost));
    VCI_CAN_OBJ f{};
    QCOMPARE(VCI_Transmit(Type, Index, 0, &f, 1), 0u);
    QCOMPARE(VCI_Receive(Type, Index, 0, got, 4, 0), 0u);
    VCI_CAN_STATUS status{};
    QCOMPARE(VCI_ReadCANStatus(Type, Index, 0, &status), 1u);
    QCOMPARE(status.regMode, quint8(1));

    // Starting again connects afresh.
    QCOMPARE(VCI_StartCAN(Type, Index, 0), 1u);
    QTRY_VERIFY(server.hasPendingConnections());
    link.reset(server.nextPendingConnection());
    QTRY_VERIFY(link->canReadLine());
    QCOMPARE(link->readLine().trimmed(), QByteArray("connect:can0"));
    QCOMPARE(VCI_Transmit(Type, Index, 0, &f, 1), 1u);
    QCOMPARE(VCI_ResetCAN(Type, Index, 0), 1u);
    QCOMPARE(VCI_CloseDevice(Type, Index), 1u);
}

void tst_CanBusBridge::errorQueueIsBounded_data()
{
    QTest::addColumn<int>("pushed");
    QTest::addColumn<int>("readBetween"); // records read after the first half of the pushes
    // What the reads give at the end: codes, with the drop mark as "d<count>".
    QTest::addColumn<QStringList>("read");
    QTest::newRow("within the limit") << 3 << 0 << QStringList{"1", "2", "3"};
    QTest::newRow("full: one mark counts the rest")
        << 7 << 0 << QStringList{"1", "2", "3", "4", "d3"};
    QTest::newRow("room made, then full again: the mark counts both")
        << 12 << 2 << QStringList{"3", "4", "d7", "7"};
}

void tst_CanBusBridge::errorQueueIsBounded()
{
    QFETCH(int, pushed);
    QFETCH(int, readBetween);
    QFETCH(QStringList, read);
    BridgeErrorQueue queue(4);
    VCI_ERR_INFO out{};
    auto text = [&out] {
        return out.ErrCode == BridgeErrDropped
                   ? QStringLiteral("d%1").arg(out.Passive_ErrData[0] |
                                               out.Passive_ErrData[1] << 8 |
                                               out.Passive_ErrData[2] << 16)
                   : QString::number(out.ErrCode);
    };
    for (int code = 1; code <= pushed; ++code) {
        queue.push(VCI_ERR_INFO{uint32_t(code), {0, 0, 0}, 0});
        if (code == pushed / 2)
            for (int i = 0; i < readBetween; ++i)
                QVERIFY(queue.pop(out));
    }
    QVERIFY(queue.size() <= 5);
    QStringList got;
    while (queue.pop(out))
        got << text();
    QCOMPARE(got, read);
    queue.push(VCI_ERR_INFO{42, {0, 0, 0}, 0}); // the count starts afresh after the mark
    QVERIFY(queue.pop(out) && out.ErrCode == 42);
}

QTEST_GUILESS_MAIN(tst_CanBusBridge)
#include "tst_canbusbridge.moc"
