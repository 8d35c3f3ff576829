#include "canreadthread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvidfiltermannger.h"
#include "simulateddevice.h"
#include "vci_sim.h"

#include <QtTest/QtTest>

#include <cstring>

namespace {

constexpr quint32 Type = 4; // the two-channel device startSimulatedDevice() opens
constexpr quint32 Index = 0;

// Frame `seq` of a test run: its number sits in the data, so order and loss are visible.
VCI_CAN_OBJ numbered(quint32 seq, quint8 ext = 0)
{
    VCI_CAN_OBJ f{};
    f.ID = 0x100 + seq % 0x80;
    f.ExternFlag = ext;
    f.DataLen = 4;
    std::memcpy(f.Data, &seq, 4);
    return f;
}

quint32 inject(quint32 channel, int count, quint32 firstSeq = 0, bool everyOtherExtended = false)
{
    QVector<VCI_CAN_OBJ> frames;
    for (int i = 0; i < count; ++i) {
        const quint32 seq = firstSeq + quint32(i);
        frames.append(numbered(seq, everyOtherExtended && seq % 2 ? 1 : 0));
    }
    return VSIM_Inject(Type, Index, channel, frames.constData(), quint32(count));
}

int msOfDay(const CanObjStr &text)
{
    return QTime::fromString(text.systemTime, "hh:mm:ss:zzz").msecsSinceStartOfDay();
}

// Waits, without sleeping, until `done` holds or `ms` milliseconds have passed.
template <typename Done> bool spinUntil(Done done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QThread::yieldCurrentThread();
    }
    return true;
}

} // namespace

class tst_CanReadThread : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void hundredFramesDrainedBackToBack();
    void sideQueueSwitches_data();
    void sideQueueSwitches();
    void errorLogGrowsOnePerPollUpToItsBound_data();
    void errorLogGrowsOnePerPollUpToItsBound();
    void readAboveCapacityCountsAsEmpty();
};

void tst_CanReadThread::init()
{
    QVERIFY(startSimulatedDevice(2));

    KvGlobalSet &settings = KvGlobalSet::instance();
    settings.watch = false;
    for (int c = 0; c < 4; ++c) {
        settings.channelSets[c].receiveCount = 0;
        settings.channelSets[c].rtSave = false;
        KvIdFilterMannger::instance(c).setFilterMode(0);
        KvIdFilterMannger::instance(c).clearNotReceive();
        KvBuffer &buffer = KvBuffer::instance(c);
        buffer.reset();
        buffer.setDBCRun(false);
        buffer.setGBT27930Run(false);
        buffer.ClearDBC();
        buffer.ClearGBT27930();
        VCI_ERR_INFO drained;
        while (buffer.getErrorData(drained))
            ;
    }
}

void tst_CanReadThread::cleanup()
{
    DevCan::instance().closeDevice();
    KvBuffer::instance(0).setMaxErrorCount(10000);
}

void tst_CanReadThread::hundredFramesDrainedBackToBack()
{
    QCOMPARE(inject(0, 100), 100u);
    CanReadThread thread(0);
    thread.start();

    // The first empty poll comes after every waiting frame has been read.
    QVERIFY(spinUntil([] { return VSIM_CallCount("VCI_Receive") >= 5; }));
    QElapsedTimer sinceEmptyPoll;
    sinceEmptyPoll.start();
    KvBuffer &buffer = KvBuffer::instance(0);
    QCOMPARE(buffer.count(), 100);
    QCOMPARE(buffer.frames(), 100);
    QCOMPARE(VSIM_CallCount("VCI_Receive"), 5u); // 32 + 32 + 32 + 4, then the empty one

    // Then it sleeps one poll interval before asking again.
    QVERIFY(spinUntil([] { return VSIM_CallCount("VCI_Receive") >= 6; }));
    QVERIFY2(sinceEmptyPoll.elapsed() >= 25, qPrintable(QString::number(sinceEmptyPoll.elapsed())));

    thread.stop();
    thread.waitForFinish();

    // Four reads back to back: no 50 ms pause between the first and the last stored frame.
    const int spread = msOfDay(buffer.getFrame(99)) - msOfDay(buffer.getFrame(0));
    QVERIFY2(spread >= 0 && spread < 40, qPrintable(QString::number(spread)));
    for (int i = 0; i < 100; ++i) {
        const CanObjStr text = buffer.getFrame(i);
        QCOMPARE(text.data, QString::asprintf("%02X 00 00 00", i)); // in order, none twice
        QCOMPARE(text.direction, QString("Rx"));
        QVERIFY(text.timeStamp != "0x0"); // the adapter's clock stamped it
    }
    QCOMPARE(KvGlobalSet::instance().channelSets[0].receiveCount.load(), 100);
    QCOMPARE(VSIM_CallCount("VCI_ReadErrInfo"), VSIM_CallCount("VCI_Receive"));
}

void tst_CanReadThread::sideQueueSwitches_data()
{
    QTest::addColumn<bool>("dbc");
    QTest::addColumn<bool>("gbt");
    QTest::newRow("both off") << false << false;
    QTest::newRow("DBC on") << true << false;
    QTest::newRow("GB/T 27930 on") << false << true;
    QTest::newRow("both on") << true << true;
}

void tst_CanReadThread::sideQueueSwitches()
{
    QFETCH(bool, dbc);
    QFETCH(bool, gbt);
    KvBuffer &buffer = KvBuffer::instance(1);
    buffer.setDBCRun(dbc);
    buffer.setGBT27930Run(gbt);

    QCOMPARE(inject(1, 40, 0, true), 40u); // odd numbers are extended frames
    CanReadThread thread(1);
    thread.start();
    QTRY_COMPARE_WITH_TIMEOUT(buffer.frames(), 40, 5000);
    thread.stop();
    thread.waitForFinish();

    QCOMPARE(buffer.count(), 40);
    QCOMPARE(KvGlobalSet::instance().channelSets[1].receiveCount.load(), 40);

    VCI_CAN_OBJ out{};
    QCOMPARE(buffer.DBCFrame(out), dbc);
    if (dbc)
        QCOMPARE(std::memcmp(out.Data, numbered(0).Data, 4), 0);

    QList<quint32> extended;
    while (buffer.GBT27930Frame(out)) {
        quint32 seq = 0;
        std::memcpy(&seq, out.Data, 4);
        extended.append(seq);
    }
    QList<quint32> expected;
    for (quint32 seq = 1; gbt && seq < 40; seq += 2)
        expected.append(seq);
    QCOMPARE(extended, expected);
}

void tst_CanReadThread::errorLogGrowsOnePerPollUpToItsBound_data()
{
    QTest::addColumn<int>("bound");
    QTest::newRow("default bound, above the polls") << 10000;
    QTest::newRow("bound of 3: the latest stay, the rest are counted") << 3;
}

void tst_CanReadThread::errorLogGrowsOnePerPollUpToItsBound()
{
    QFETCH(int, bound);
    KvBuffer &buffer = KvBuffer::instance(0);
    buffer.setMaxErrorCount(bound);
    const quint64 droppedBefore = buffer.droppedErrorCount();
    VCI_ERR_INFO error{};
    error.ErrCode = 0x0400;
    error.Passive_ErrData[0] = 0x11;
    error.ArLost_ErrData = 0x22;
    VSIM_InjectError(Type, Index, 0, &error, -1);

    CanReadThread thread(0);
    thread.start();
    QVERIFY(spinUntil([] { return VSIM_CallCount("VCI_ReadErrInfo") >= 4; }));
    inject(0, 70); // busy cycles report the error as well
    QTRY_COMPARE_WITH_TIMEOUT(buffer.frames(), 70, 5000);
    QVERIFY(spinUntil([] { return VSIM_CallCount("VCI_Receive") >= 10; }));
    thread.stop();
    thread.waitForFinish();

    const quint32 polls = VSIM_CallCount("VCI_ReadErrInfo");
    QCOMPARE(polls, VSIM_CallCount("VCI_Receive"));
    quint32 logged = 0;
    VCI_ERR_INFO out{};
    while (buffer.getErrorData(out)) {
        ++logged;
        QCOMPARE(out.ErrCode, 0x0400u);
        QCOMPARE(out.Passive_ErrData[0], quint8(0x11));
        QCOMPARE(out.ArLost_ErrData, quint8(0x22));
    }
    QCOMPARE(logged, qMin(polls, quint32(bound)));
    QCOMPARE(buffer.droppedErrorCount() - droppedBefore, quint64(polls - logged));
    QVERIFY(!KvBuffer::instance(1).getErrorData(out)); // the other channel reported nothing
}

// A read reporting more frames than there was room for is treated as an empty one; the thread
// then idles.
void tst_CanReadThread::readAboveCapacityCountsAsEmpty()
{
    inject(0, 10);
    VSIM_ForceResult(Type, Index, "VCI_Receive", 40, -1);
    CanReadThread thread(0);
    QElapsedTimer clock;
    clock.start();
    thread.start();
    QVERIFY(spinUntil([] { return VSIM_CallCount("VCI_Receive") >= 4; }));
    // Each such read was followed by the idle pause, never by a store.
    QVERIFY(clock.elapsed() >= 3 * 45);
    thread.stop();
    thread.waitForFinish();
    QCOMPARE(KvBuffer::instance(0).frames(), 0);
    QCOMPARE(KvGlobalSet::instance().channelSets[0].receiveCount.load(), 0);
}

QTEST_GUILESS_MAIN(tst_CanReadThread)
#include "tst_canreadthread.moc"
