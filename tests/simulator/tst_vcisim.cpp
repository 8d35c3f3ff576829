#include "vci_sim.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t QueueLimit = 1048576;

// Device types by channel count: 4 has two channels, 14 four, 3 one.
constexpr uint32_t TwoCh = 4;
constexpr uint32_t FourCh = 14;

VCI_CAN_OBJ frame(uint32_t id, uint8_t len = 8, bool extended = false, bool remote = false)
{
    VCI_CAN_OBJ f{};
    f.ID = id;
    f.ExternFlag = extended;
    f.RemoteFlag = remote;
    f.DataLen = len;
    for (int i = 0; i < 8; ++i)
        f.Data[i] = uint8_t(id + i);
    return f;
}

std::vector<VCI_CAN_OBJ> frames(uint32_t n, uint32_t firstId = 0)
{
    std::vector<VCI_CAN_OBJ> v;
    for (uint32_t i = 0; i < n; ++i)
        v.push_back(frame(firstId + i));
    return v;
}

// Opens the device and initialises and starts one channel; 0x00/0x1C is 500 kbit/s.
bool openStart(uint32_t type, uint32_t index, uint32_t ch, uint8_t timing0 = 0x00,
               uint8_t timing1 = 0x1C)
{
    VCI_INIT_CONFIG config{};
    config.Timing0 = timing0;
    config.Timing1 = timing1;
    return VCI_OpenDevice(type, index, 0) == 1 && VCI_InitCAN(type, index, ch, &config) == 1 &&
           VCI_StartCAN(type, index, ch) == 1;
}

uint32_t transmit(uint32_t type, uint32_t index, uint32_t ch, std::vector<VCI_CAN_OBJ> v)
{
    return VCI_Transmit(type, index, ch, v.data(), uint32_t(v.size()));
}

std::vector<VCI_CAN_OBJ> receive(uint32_t type, uint32_t index, uint32_t ch, uint32_t capacity)
{
    std::vector<VCI_CAN_OBJ> v(capacity);
    v.resize(VCI_Receive(type, index, ch, v.data(), capacity, 100));
    return v;
}

bool sameFrame(const VCI_CAN_OBJ &a, const VCI_CAN_OBJ &b)
{
    return a.ID == b.ID && a.DataLen == b.DataLen && a.ExternFlag == b.ExternFlag &&
           a.RemoteFlag == b.RemoteFlag && memcmp(a.Data, b.Data, 8) == 0;
}

} // namespace

class TstVciSim : public QObject
{
    Q_OBJECT

private slots:
    void init() { VSIM_Reset(); }

    void channelCount_data();
    void channelCount();
    void outOfRangeChannelAnswersZero();
    void openInitStartRules();
    void resetAndCloseChannel();
    void transmitReachesWiredChannel();
    void receiveIsCapacityLimited();
    void forcedResult_data();
    void forcedResult();
    void forcedResultHasNoOtherEffect();
    void errorRecordsRepeat();
    void receiveQueueOverflow();
    void sentLogKeepsNewest();
    void transmitCallsAreLogged();
    void callCountsOverAllDevices();
    void resetForgetsEverything();
    void busTimingPaces_data();
    void busTimingPaces();
    void concurrentTransmitAndReceive();
};

void TstVciSim::channelCount_data()
{
    QTest::addColumn<uint32_t>("type");
    QTest::addColumn<uint32_t>("channels");
    QTest::newRow("type 4 has two") << 4u << 2u;
    QTest::newRow("type 5 has two") << 5u << 2u;
    QTest::newRow("type 24 has two") << 24u << 2u;
    QTest::newRow("type 14 has four") << 14u << 4u;
    QTest::newRow("type 3 has one") << 3u << 1u;
    QTest::newRow("type 0 has one") << 0u << 1u;
}

void TstVciSim::channelCount()
{
    QFETCH(uint32_t, type);
    QFETCH(uint32_t, channels);
    VCI_BOARD_INFO info{};
    QCOMPARE(VCI_ReadBoardInfo(type, 7, &info), 1u);
    QCOMPARE(uint32_t(info.can_Num), channels);
    for (uint32_t ch = 0; ch < 5; ++ch)
        QCOMPARE(openStart(type, 7, ch), ch < channels);
}

void TstVciSim::outOfRangeChannelAnswersZero()
{
    QVERIFY(openStart(3, 0, 0));
    VCI_CAN_OBJ f = frame(1);
    VCI_INIT_CONFIG config{};
    VCI_ERR_INFO err{1, {}, 0};
    VCI_CAN_STATUS status{};
    uint32_t ref = 5;
    VSIM_InjectError(3, 0, 1, &err, -1);
    const QVector<uint32_t> results = {VSIM_Inject(3, 0, 1, &f, 1),
                                       VCI_InitCAN(3, 0, 1, &config),
                                       VCI_StartCAN(3, 0, 1),
                                       VCI_ResetCAN(3, 0, 1),
                                       VCI_ReadErrInfo(3, 0, 1, &err),
                                       VCI_ReadCANStatus(3, 0, 1, &status),
                                       VCI_GetReference(3, 0, 1, 0, &ref),
                                       VCI_SetReference(3, 0, 1, 0, &ref),
                                       VCI_GetReceiveNum(3, 0, 1),
                                       VCI_ClearBuffer(3, 0, 1),
                                       VCI_Transmit(3, 0, 1, &f, 1),
                                       VCI_Receive(3, 0, 1, &f, 1, 0)};
    QCOMPARE(results, QVector<uint32_t>(results.size(), 0));
}

void TstVciSim::openInitStartRules()
{
    VCI_INIT_CONFIG config{};
    VCI_CAN_OBJ f = frame(1);
    QCOMPARE(VCI_InitCAN(TwoCh, 0, 0, &config), 0u); // device not open
    QCOMPARE(VCI_StartCAN(TwoCh, 0, 0), 0u);         // channel not initialised
    QCOMPARE(VCI_OpenDevice(TwoCh, 0, 0), 1u);
    QCOMPARE(VCI_OpenDevice(TwoCh, 0, 0), 1u); // opening an open device
    QCOMPARE(VCI_StartCAN(TwoCh, 0, 0), 0u);
    QCOMPARE(VCI_InitCAN(TwoCh, 0, 0, &config), 1u);
    QCOMPARE(VSIM_Inject(TwoCh, 0, 0, &f, 1), 1u);
    QCOMPARE(VCI_Transmit(TwoCh, 0, 0, &f, 1), 0u); // initialised, not started
    QCOMPARE(VCI_Receive(TwoCh, 0, 0, &f, 1, 0), 0u);
    QCOMPARE(VCI_StartCAN(TwoCh, 0, 0), 1u);
    QCOMPARE(VCI_Transmit(TwoCh, 0, 0, &f, 1), 1u);
    QCOMPARE(VCI_Receive(TwoCh, 0, 0, &f, 1, 0), 1u);
    QCOMPARE(VCI_StartCAN(TwoCh, 0, 1), 0u); // the other channel was never initialised
}

void TstVciSim::resetAndCloseChannel()
{
    QVERIFY(openStart(TwoCh, 0, 0));
    auto v = frames(3);
    QCOMPARE(VSIM_Inject(TwoCh, 0, 0, v.data(), 3), 3u);
    QCOMPARE(VCI_ResetCAN(TwoCh, 0, 0), 1u);
    QCOMPARE(VSIM_Pending(TwoCh, 0, 0), 0u);
    QCOMPARE(transmit(TwoCh, 0, 0, v), 0u);
    QCOMPARE(VCI_StartCAN(TwoCh, 0, 0), 1u); // still initialised
    QCOMPARE(transmit(TwoCh, 0, 0, v), 3u);

    QCOMPARE(VSIM_Inject(TwoCh, 0, 0, v.data(), 3), 3u);
    QCOMPARE(VCI_CloseDevice(TwoCh, 0), 1u);
    QCOMPARE(VSIM_Pending(TwoCh, 0, 0), 3u); // queued frames stay
    QCOMPARE(VCI_GetReceiveNum(TwoCh, 0, 0), 3u);
    QCOMPARE(transmit(TwoCh, 0, 0, v), 0u);
    VCI_INIT_CONFIG config{};
    QCOMPARE(VCI_InitCAN(TwoCh, 0, 0, &config), 0u);
    QVERIFY(openStart(TwoCh, 0, 0));
    QCOMPARE(receive(TwoCh, 0, 0, 10).size(), size_t(3));
}

void TstVciSim::transmitReachesWiredChannel()
{
    QVERIFY(openStart(TwoCh, 0, 0));
    QVERIFY(openStart(TwoCh, 1, 1));
    VSIM_Connect(TwoCh, 0, 0, TwoCh, 1, 1);
    VSIM_Connect(TwoCh, 1, 1, TwoCh, 0, 0); // wiring twice is wiring once
    const auto sent = frames(5, 0x100);
    QCOMPARE(transmit(TwoCh, 0, 0, sent), 5u);

    const auto got = receive(TwoCh, 1, 1, 32);
    QCOMPARE(got.size(), size_t(5));
    for (size_t i = 0; i < got.size(); ++i) {
        QVERIFY(sameFrame(got[i], sent[i]));
        QVERIFY(got[i].TimeStamp >= 1);
        QVERIFY(i == 0 || got[i].TimeStamp >= got[i - 1].TimeStamp);
    }
    QCOMPARE(VSIM_Pending(TwoCh, 0, 0), 0u); // the sender does not hear itself

    std::vector<VCI_CAN_OBJ> log(10);
    QCOMPARE(VSIM_TakeSent(TwoCh, 0, 0, log.data(), 10), 5u);
    for (size_t i = 0; i < 5; ++i)
        QVERIFY(sameFrame(log[i], sent[i]));
    QCOMPARE(VSIM_TakeSent(TwoCh, 0, 0, log.data(), 10), 0u);
    QCOMPARE(VSIM_SentTotal(TwoCh, 0, 0), uint64_t(5));

    // The wire works both ways.
    QCOMPARE(transmit(TwoCh, 1, 1, frames(2)), 2u);
    QCOMPARE(receive(TwoCh, 0, 0, 32).size(), size_t(2));

    // A channel wired to itself hears its own frames.
    VSIM_Connect(TwoCh, 0, 0, TwoCh, 0, 0);
    QCOMPARE(transmit(TwoCh, 0, 0, frames(4)), 4u);
    QCOMPARE(VSIM_Pending(TwoCh, 0, 0), 4u);
}

void TstVciSim::receiveIsCapacityLimited()
{
    QVERIFY(openStart(3, 0, 0));
    auto v = frames(10);
    v[1].TimeStamp = 1234; // a stamp of its own is kept; only zero stamps get the clock's
    QCOMPARE(VSIM_Inject(3, 0, 0, v.data(), 10), 10u);
    auto got = receive(3, 0, 0, 4);
    QCOMPARE(got.size(), size_t(4));
    QCOMPARE(got[0].ID, 0u);
    QVERIFY(got[0].TimeStamp >= 1); // just opened: the clock reads 0, the stamp never does
    QCOMPARE(got[1].TimeStamp, 1234u);
    QCOMPARE(got[3].ID, 3u);
    QCOMPARE(VCI_GetReceiveNum(3, 0, 0), 6u);
    QCOMPARE(receive(3, 0, 0, 4)[0].ID, 4u);
    QCOMPARE(VCI_ClearBuffer(3, 0, 0), 1u);
    QCOMPARE(VCI_GetReceiveNum(3, 0, 0), 0u);
    QCOMPARE(receive(3, 0, 0, 4).size(), size_t(0));
}

void TstVciSim::forcedResult_data()
{
    QTest::addColumn<uint32_t>("forced");
    QTest::addColumn<int>("times");
    QTest::addColumn<uint32_t>("count");
    QTest::addColumn<uint32_t>("accepted");
    QTest::newRow("partial transmit") << 2u << 1 << 5u << 2u;
    QTest::newRow("result above count") << 9u << 1 << 5u << 5u;
    QTest::newRow("failed transmit") << 0u << 1 << 5u << 0u;
    QTest::newRow("forced twice") << 3u << 2 << 5u << 3u;
    QTest::newRow("forced until reset") << 1u << -1 << 5u << 1u;
}

void TstVciSim::forcedResult()
{
    QFETCH(uint32_t, forced);
    QFETCH(int, times);
    QFETCH(uint32_t, count);
    QFETCH(uint32_t, accepted);
    QVERIFY(openStart(TwoCh, 0, 0));
    VSIM_Connect(TwoCh, 0, 0, TwoCh, 0, 1);
    VSIM_ForceResult(TwoCh, 0, "VCI_Transmit", forced, times);
    const int forcedCalls = times < 0 ? 5 : times;
    for (int call = 0; call < forcedCalls; ++call) {
        QCOMPARE(transmit(TwoCh, 0, 0, frames(count, 10 * call)), forced);
        QCOMPARE(VSIM_Pending(TwoCh, 0, 1), accepted); // the accepted ones were delivered
        std::vector<VCI_CAN_OBJ> log(count);
        QCOMPARE(VSIM_TakeSent(TwoCh, 0, 0, log.data(), count), accepted);
        if (accepted > 0)
            QCOMPARE(log[0].ID, uint32_t(10 * call)); // the first ones, in order
        QCOMPARE(VCI_ClearBuffer(TwoCh, 0, 1), 1u);
    }
    if (times > 0)
        QCOMPARE(transmit(TwoCh, 0, 0, frames(count)), count); // forcing has run out
    QCOMPARE(VSIM_CallCount("VCI_Transmit"), uint32_t(forcedCalls + (times > 0)));
}

void TstVciSim::forcedResultHasNoOtherEffect()
{
    VSIM_ForceResult(3, 0, "VCI_OpenDevice", 0, 1);
    VSIM_ForceResult(3, 0, "VCI_Receive", 7, 1);
    VSIM_ForceResult(3, 0, "No_Such_Call", 7, 1);
    VSIM_ForceResult(3, 1, "VCI_StartCAN", 0, -1); // another device
    QCOMPARE(VCI_OpenDevice(3, 0, 0), 0u);
    VCI_INIT_CONFIG config{};
    QCOMPARE(VCI_InitCAN(3, 0, 0, &config), 0u); // the forced open did not open
    QVERIFY(openStart(3, 0, 0));
    VCI_CAN_OBJ f = frame(1);
    QCOMPARE(VSIM_Inject(3, 0, 0, &f, 1), 1u);
    QCOMPARE(VCI_Receive(3, 0, 0, &f, 1, 0), 7u);
    QCOMPARE(VSIM_Pending(3, 0, 0), 1u); // nothing was taken
    QCOMPARE(VCI_Receive(3, 0, 0, &f, 1, 0), 1u);
    QVERIFY(!openStart(3, 1, 0));
}

void TstVciSim::errorRecordsRepeat()
{
    VCI_ERR_INFO a{0x10, {1, 2, 3}, 4}, b{0x20, {}, 0}, got{};
    QVERIFY(openStart(3, 0, 0));
    QCOMPARE(VCI_ReadErrInfo(3, 0, 0, &got), 0u);
    VSIM_InjectError(3, 0, 0, &a, 2);
    VSIM_InjectError(3, 0, 0, &b, -1);
    VSIM_InjectError(3, 0, 0, &a, 0); // nothing
    // Two reads of the first record, then the second for ever.
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(VCI_ReadErrInfo(3, 0, 0, &got), 1u);
        QCOMPARE(memcmp(&got, i < 2 ? &a : &b, sizeof got), 0);
    }
    QCOMPARE(VCI_ReadErrInfo(3, 0, 1, &got), 0u); // only channel 0 of a one-channel device
    VSIM_Reset();
    QCOMPARE(VCI_ReadErrInfo(3, 0, 0, &got), 0u);
}

void TstVciSim::receiveQueueOverflow()
{
    QVERIFY(openStart(3, 0, 0));
    std::vector<VCI_CAN_OBJ> v(QueueLimit + 5, frame(1));
    QCOMPARE(VSIM_Inject(3, 0, 0, v.data(), uint32_t(v.size())), QueueLimit);
    QCOMPARE(VSIM_Inject(3, 0, 0, v.data(), 1), 0u); // still full: no second record
    QCOMPARE(VCI_GetReceiveNum(3, 0, 0), QueueLimit);

    VCI_ERR_INFO got{};
    QCOMPARE(VCI_ReadErrInfo(3, 0, 0, &got), 1u);
    QCOMPARE(got.ErrCode, 1u);
    QCOMPARE(VCI_ReadErrInfo(3, 0, 0, &got), 0u);

    // Once read, the next overflow raises a new record; frames received make room again.
    QCOMPARE(VSIM_Inject(3, 0, 0, v.data(), 1), 0u);
    QCOMPARE(VCI_ReadErrInfo(3, 0, 0, &got), 1u);
    QCOMPARE(receive(3, 0, 0, 3).size(), size_t(3));
    QCOMPARE(VSIM_Inject(3, 0, 0, v.data(), 5), 3u);
}

void TstVciSim::sentLogKeepsNewest()
{
    QVERIFY(openStart(3, 0, 0));
    QCOMPARE(transmit(3, 0, 0, frames(QueueLimit + 10)), QueueLimit + 10);
    QCOMPARE(VSIM_SentTotal(3, 0, 0), uint64_t(QueueLimit + 10));
    std::vector<VCI_CAN_OBJ> log(QueueLimit + 10);
    QCOMPARE(VSIM_TakeSent(3, 0, 0, log.data(), uint32_t(log.size())), QueueLimit);
    QCOMPARE(log[0].ID, 10u);
    QCOMPARE(VSIM_SentTotal(3, 0, 0), uint64_t(QueueLimit + 10)); // taking does not uncount
}

void TstVciSim::transmitCallsAreLogged()
{
    QVERIFY(openStart(TwoCh, 0, 0));
    QCOMPARE(transmit(TwoCh, 0, 0, frames(3)), 3u);
    QCOMPARE(transmit(TwoCh, 0, 0, frames(100)), 100u);
    QCOMPARE(transmit(TwoCh, 0, 0, frames(1)), 1u);
    QCOMPARE(transmit(TwoCh, 0, 1, frames(7)), 0u); // not started, but called
    // Taken oldest first, at most as many as asked for, each only once.
    auto take = [](uint32_t ch, uint32_t room) {
        std::vector<uint32_t> counts(room);
        counts.resize(VSIM_TakeTransmitCalls(TwoCh, 0, ch, counts.data(), room));
        return counts;
    };
    QCOMPARE(take(0, 2), std::vector<uint32_t>({3, 100}));
    QCOMPARE(take(0, 4), std::vector<uint32_t>({1}));
    QCOMPARE(take(0, 4), std::vector<uint32_t>());
    QCOMPARE(take(1, 4), std::vector<uint32_t>({7}));
    QCOMPARE(VSIM_SentTotal(TwoCh, 0, 1), uint64_t(0));
}

void TstVciSim::callCountsOverAllDevices()
{
    VSIM_ForceResult(3, 1, "VCI_OpenDevice", 0, 1);
    VCI_OpenDevice(3, 0, 0);
    VCI_OpenDevice(3, 1, 0); // forced
    VCI_OpenDevice(FourCh, 2, 0);
    VCI_GetReceiveNum(3, 0, 9); // bad channel
    QCOMPARE(QVector<uint32_t>({VSIM_CallCount("VCI_OpenDevice"),
                                VSIM_CallCount("VCI_GetReceiveNum"), VSIM_CallCount("VCI_Receive"),
                                VSIM_CallCount("VSIM_Inject"), VSIM_CallCount(nullptr)}),
             QVector<uint32_t>({3, 1, 0, 0, 0}));
}

void TstVciSim::resetForgetsEverything()
{
    QVERIFY(openStart(TwoCh, 0, 0));
    QVERIFY(openStart(TwoCh, 0, 1));
    VSIM_Connect(TwoCh, 0, 0, TwoCh, 0, 1);
    VSIM_ForceResult(TwoCh, 0, "VCI_Receive", 9, -1);
    VSIM_SetBusTiming(1);
    QCOMPARE(transmit(TwoCh, 0, 0, frames(2)), 2u);
    QCOMPARE(VSIM_Pending(TwoCh, 0, 1), 2u);

    VSIM_Reset();
    QCOMPARE(VSIM_Pending(TwoCh, 0, 1), 0u);
    QCOMPARE(VSIM_SentTotal(TwoCh, 0, 0), uint64_t(0));
    uint32_t counts[1];
    QCOMPARE(VSIM_TakeTransmitCalls(TwoCh, 0, 0, counts, 1), 0u);
    QCOMPARE(VSIM_CallCount("VCI_Transmit"), 0u);
    QCOMPARE(transmit(TwoCh, 0, 0, frames(1)), 0u); // no longer started
    VCI_INIT_CONFIG config{};
    QCOMPARE(VCI_InitCAN(TwoCh, 0, 0, &config), 0u); // no longer open

    QVERIFY(openStart(TwoCh, 0, 0));
    QVERIFY(openStart(TwoCh, 0, 1));
    QCOMPARE(transmit(TwoCh, 0, 0, frames(2)), 2u);
    QCOMPARE(VSIM_Pending(TwoCh, 0, 1), 0u); // unwired
    VSIM_Connect(TwoCh, 0, 0, TwoCh, 0, 1);
    QCOMPARE(transmit(TwoCh, 0, 0, frames(2)), 2u);
    const auto got = receive(TwoCh, 0, 1, 2);
    QCOMPARE(got.size(), size_t(2));
    QCOMPARE(got[1].TimeStamp, got[0].TimeStamp); // bus timing is off again: no wire time between
    VSIM_Reset();
    QVERIFY(openStart(TwoCh, 0, 1));
    VCI_CAN_OBJ f = frame(1);
    QCOMPARE(VSIM_Inject(TwoCh, 0, 1, &f, 1), 1u);
    QCOMPARE(VCI_Receive(TwoCh, 0, 1, &f, 1, 0), 1u); // not forced
}

void TstVciSim::busTimingPaces_data()
{
    QTest::addColumn<uint8_t>("timing0");
    QTest::addColumn<uint8_t>("timing1");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("calls"); // the frames split over this many transmit calls
    QTest::addColumn<double>("expectedMs");
    // count * bits / rate
    QTest::newRow("standard 8 bytes at 500k")
        << uint8_t(0x00) << uint8_t(0x1C) << false << false << 100 << 1 << 100 * 108 / 500.0;
    QTest::newRow("standard 8 bytes at 250k")
        << uint8_t(0x01) << uint8_t(0x1C) << false << false << 50 << 1 << 50 * 108 / 250.0;
    QTest::newRow("extended 8 bytes at 1M")
        << uint8_t(0x00) << uint8_t(0x14) << true << false << 200 << 1 << 200 * 128 / 1000.0;
    QTest::newRow("extended remote at 125k")
        << uint8_t(0x03) << uint8_t(0x1C) << true << true << 40 << 1 << 40 * 64 / 125.0;
    QTest::newRow("back-to-back calls at 500k")
        << uint8_t(0x00) << uint8_t(0x1C) << false << false << 100 << 10 << 100 * 108 / 500.0;
}

void TstVciSim::busTimingPaces()
{
    QFETCH(uint8_t, timing0);
    QFETCH(uint8_t, timing1);
    QFETCH(bool, extended);
    QFETCH(bool, remote);
    QFETCH(int, count);
    QFETCH(int, calls);
    QFETCH(double, expectedMs);
    VSIM_SetBusTiming(1);
    QVERIFY(openStart(TwoCh, 0, 0, timing0, timing1));
    QVERIFY(openStart(TwoCh, 0, 1));
    VSIM_Connect(TwoCh, 0, 0, TwoCh, 0, 1);
    std::vector<VCI_CAN_OBJ> v(count, frame(0x123, 8, extended, remote));

    QElapsedTimer timer;
    timer.start();
    const int perCall = count / calls;
    for (int c = 0; c < calls; ++c)
        QCOMPARE(transmit(TwoCh, 0, 0, {v.begin() + c * perCall, v.begin() + (c + 1) * perCall}),
                 uint32_t(perCall));
    QVERIFY2(timer.nsecsElapsed() >= qint64(expectedMs * 0.95e6),
             qPrintable(QString::number(timer.nsecsElapsed() / 1e6)));

    // Each copy is stamped when it left the wire: the stamps spread over the whole send.
    const auto got = receive(TwoCh, 0, 1, uint32_t(count));
    QCOMPARE(got.size(), size_t(count));
    const double spreadMs = (got.back().TimeStamp - got.front().TimeStamp) / 10.0;
    QVERIFY2(spreadMs >= expectedMs * (count - 1) / count - 0.2,
             qPrintable(QString::number(spreadMs)));
}

// Two senders on each of four channels, one receiver polling the four wired channels; every
// frame arrives once, each sender's frames in its own order.
void TstVciSim::concurrentTransmitAndReceive()
{
    constexpr uint32_t Channels = 4, SendersPerChannel = 2, PerSender = 20000, Batch = 50;
    for (uint32_t ch = 0; ch < Channels; ++ch) {
        QVERIFY(openStart(FourCh, 0, ch));
        QVERIFY(openStart(FourCh, 1, ch));
        VSIM_Connect(FourCh, 0, ch, FourCh, 1, ch);
    }
    std::vector<std::thread> senders;
    for (uint32_t s = 0; s < Channels * SendersPerChannel; ++s)
        senders.emplace_back([s] {
            const uint32_t ch = s % Channels;
            for (uint32_t seq = 0; seq < PerSender; seq += Batch) {
                std::vector<VCI_CAN_OBJ> v;
                for (uint32_t i = 0; i < Batch; ++i)
                    v.push_back(frame(s << 24 | (seq + i)));
                transmit(FourCh, 0, ch, v);
            }
        });

    const uint32_t total = Channels * SendersPerChannel * PerSender;
    std::vector<uint32_t> nextSeq(Channels * SendersPerChannel, 0);
    uint32_t received = 0;
    bool inOrder = true;
    QElapsedTimer timer;
    timer.start();
    while (received < total && timer.elapsed() < 60000) {
        for (uint32_t ch = 0; ch < Channels; ++ch) {
            VCI_ERR_INFO err;
            VCI_ReadErrInfo(FourCh, 1, ch, &err);
            for (const VCI_CAN_OBJ &f : receive(FourCh, 1, ch, 32)) {
                const uint32_t sender = f.ID >> 24;
                inOrder = inOrder && sender % Channels == ch && f.TimeStamp >= 1 &&
                          (f.ID & 0xFFFFFF) == nextSeq[sender]++;
                ++received;
            }
        }
    }
    for (std::thread &t : senders)
        t.join();
    QCOMPARE(received, total);
    QVERIFY(inOrder);
    uint64_t sent = 0;
    for (uint32_t ch = 0; ch < Channels; ++ch) {
        sent += VSIM_SentTotal(FourCh, 0, ch);
        QCOMPARE(VSIM_Pending(FourCh, 1, ch), 0u);
    }
    QCOMPARE(sent, uint64_t(total));
    QCOMPARE(VSIM_CallCount("VCI_Transmit"), total / Batch);
}

QTEST_GUILESS_MAIN(TstVciSim)
#include "tst_vcisim.moc"
