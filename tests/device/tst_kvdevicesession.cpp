#include "canreadthread.h"
#include "canwritethread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "kvframesubscription.h"
#include "kvglobalset.h"
#include "kvpipe.h"
#include "kvthread.h"
#include "vci_sim.h"

#include <QtTest/QtTest>

#include <atomic>
#include <numeric>

namespace {

// Frames numbered by identifier, so that order and completeness can be checked.
quint32 inject(quint32 type, quint32 channel, int count)
{
    QVector<VCI_CAN_OBJ> frames(count);
    for (int i = 0; i < count; ++i) {
        frames[i].ID = quint32(i);
        frames[i].DataLen = 8;
    }
    return VSIM_Inject(type, 0, channel, frames.constData(), quint32(count));
}

// A sender a host would run on the session's channels: sends until stopped, then notes whether
// the transmit thread of its channel was still there to hear it.
class Sender : public KvThread
{
public:
    explicit Sender(KvDeviceSession &s) : session(s) {}
    ~Sender() override { stopAndWait(); }
    void run() override
    {
        running = true;
        VCI_CAN_OBJ frame{};
        frame.DataLen = 1;
        while (running) {
            DevCan::instance().Transmit(0, &frame, 1);
            QThread::usleep(200);
        }
        writerAliveAtEnd = session.writer(0) && session.writer(0)->isRunning();
    }
    KvDeviceSession &session;
    std::atomic<bool> writerAliveAtEnd{false};
};

QVector<quint32> ids(const QVector<KvCanObj> &records)
{
    QVector<quint32> list;
    for (const KvCanObj &r : records)
        list << r.frame.ID;
    return list;
}

} // namespace

class tst_KvDeviceSession : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void startIsAllOrNothing_data();
    void startIsAllOrNothing();
    void stopWhileBusy();
    void destructionStops();
    void fanOut_data();
    void fanOut();
    void statusReportsTrafficAndRefusal();
    void bitRateTable_data();
    void bitRateTable();
};

void tst_KvDeviceSession::init()
{
    VSIM_Reset();
    for (int ch = 0; ch < 4; ++ch) {
        KvBuffer::instance(ch).reset();
        KvGlobalSet::instance().channelSets[ch].receiveCount = 0;
        KvGlobalSet::instance().channelSets[ch].sendCount = 0;
    }
}

void tst_KvDeviceSession::startIsAllOrNothing_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QVector<int>>("channels");
    QTest::addColumn<QString>("forced");
    QTest::addColumn<QString>("message");
    QTest::addColumn<quint32>("resets");
    QTest::addColumn<quint32>("closes");
    const QVector<int> three{0, 1, 2};
    QTest::newRow("open fails") << 14u << three << "VCI_OpenDevice"
                                << "cannot open device type 14 index 0" << 0u << 0u;
    QTest::newRow("first channel refused InitCAN")
        << 14u << three << "VCI_InitCAN"
        << "cannot start channel 0: the adapter refused InitCAN" << 0u << 1u;
    QTest::newRow("first channel refused StartCAN")
        << 14u << three << "VCI_StartCAN"
        << "cannot start channel 0: the adapter refused StartCAN" << 0u << 1u;
    QTest::newRow("second of three beyond the device: first reset, device closed")
        << 4u << QVector<int>{0, 3, 1} << ""
        << "cannot start channel 3: device type 4 has 2 channel(s)" << 1u << 1u;
}

void tst_KvDeviceSession::startIsAllOrNothing()
{
    QFETCH(quint32, type);
    QFETCH(QVector<int>, channels);
    QFETCH(QString, forced);
    QFETCH(QString, message);
    QFETCH(quint32, resets);
    QFETCH(quint32, closes);

    KvDeviceSession session;
    QVERIFY(session.setDevice(type, 0));
    for (int ch : channels)
        QVERIFY(session.addChannel(ch, 500000));
    if (!forced.isEmpty())
        VSIM_ForceResult(type, 0, forced.toLatin1().constData(), 0, 1);
    QSignalSpy states(&session, &KvDeviceSession::stateChanged);
    QVERIFY(!session.start());
    QCOMPARE(session.errorString(), message);
    QCOMPARE(session.state(), KvDeviceSession::Closed);
    QCOMPARE(VSIM_CallCount("VCI_ResetCAN"), resets);
    QCOMPARE(VSIM_CallCount("VCI_CloseDevice"), closes);
    QVERIFY(DevCan::instance().isClose());
    QVERIFY(!session.reader(0) && !session.writer(0));
    QCOMPARE(states.count(), int(closes) * 2); // Opened, then Closed again
    // Nothing is left behind: the same session starts once the fault is gone.
    session.clearChannels();
    session.addChannel(0, 500000);
    QVERIFY2(session.start(), qPrintable(session.errorString()));
    session.stop();
}

void tst_KvDeviceSession::stopWhileBusy()
{
    KvDeviceSession session;
    session.setDevice(4, 0);
    session.addChannel(0, 1000000);
    session.addChannel(1, 1000000);
    QVERIFY2(session.start(), qPrintable(session.errorString()));
    QVERIFY2(session.wire(0, 1), qPrintable(session.errorString()));
    Sender sender(session);
    session.addSender(&sender);
    sender.start();
    CanData burst;
    for (int i = 0; i < 20000; ++i)
        burst.push(CanObj());
    KvPipe::instance(0).push(burst);
    inject(4, 0, 20000);
    QTRY_VERIFY(KvGlobalSet::instance().channelSets[1].receiveCount > 100);

    // Every receive and transmit thread of the session has finished when stop() returns, within
    // 200 ms. (Timed from outside: a handler on the threads' finished() would run in them after
    // their last ordered access, and be freed here with the thread.)
    const QVector<QPointer<CanThread>> threads{session.reader(0), session.reader(1),
                                               session.writer(0), session.writer(1)};
    QSignalSpy aboutToStop(&session, &KvDeviceSession::aboutToStop);
    QElapsedTimer clock;
    clock.start();
    session.stop();
    const qint64 took = clock.elapsed();
    for (const QPointer<CanThread> &t : threads)
        QVERIFY(!t || t->isFinished());
    QVERIFY2(took <= 200, qPrintable(QString::number(took)));
    QCOMPARE(aboutToStop.count(), 1);
    QVERIFY(sender.isFinished());
    QVERIFY(sender.writerAliveAtEnd); // senders stop before the transmit threads
    QCOMPARE(VSIM_CallCount("VCI_ResetCAN"), 2u);
    QCOMPARE(VSIM_CallCount("VCI_CloseDevice"), 1u);
    QCOMPARE(session.state(), KvDeviceSession::Closed);
    QVERIFY(!session.writer(0));
    KvPipe::instance(0).clear();

    // A second stop does nothing.
    QSignalSpy states(&session, &KvDeviceSession::stateChanged);
    session.stop();
    QCOMPARE(states.count(), 0);
    QCOMPARE(aboutToStop.count(), 1);
    QCOMPARE(VSIM_CallCount("VCI_CloseDevice"), 1u);
}

void tst_KvDeviceSession::destructionStops()
{
    std::unique_ptr<KvFrameSubscription> late;
    {
        KvDeviceSession session;
        session.setDevice(14, 0);
        session.addChannel(2, 250000);
        QVERIFY(session.start());
        late.reset(new KvFrameSubscription(session, 2, 100));
        QVERIFY(KvGlobalSet::instance().channelSets[2].rtSave);
        inject(14, 2, 5);
        QTRY_COMPARE(late->pending(), 5);
    }
    QCOMPARE(VSIM_CallCount("VCI_ResetCAN"), 1u);
    QCOMPARE(VSIM_CallCount("VCI_CloseDevice"), 1u);
    QVERIFY(DevCan::instance().isClose());
    QVERIFY(!KvGlobalSet::instance().channelSets[2].rtSave);
    // A subscription outliving its session keeps what it got and gets nothing more.
    QCOMPARE(late->pending(), 5);
    late.reset();
}

void tst_KvDeviceSession::fanOut_data()
{
    QTest::addColumn<int>("bound");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("kept");
    QTest::newRow("roomy subscriber gets every frame") << 5000 << 3000 << 3000;
    QTest::newRow("exact fit") << 3000 << 3000 << 3000;
    QTest::newRow("slow subscriber with a small bound counts drops") << 10 << 3000 << 10;
}

void tst_KvDeviceSession::fanOut()
{
    QFETCH(int, bound);
    QFETCH(int, frames);
    QFETCH(int, kept);

    KvDeviceSession session;
    session.setDevice(4, 0);
    session.addChannel(0, 500000);
    KvFrameSubscription fast(session, 0, 100000);
    KvFrameSubscription slow(session, 0, bound);
    QVERIFY(!KvGlobalSet::instance().channelSets[0].rtSave); // not before the session runs
    QVERIFY(session.start());
    QVERIFY(KvGlobalSet::instance().channelSets[0].rtSave);
    QCOMPARE(inject(4, 0, frames), quint32(frames));

    QVector<KvCanObj> got;
    while (got.size() < frames && fast.waitForFrames(5000))
        fast.take(got);
    QCOMPARE(got.size(), frames);
    QVector<quint32> expected(frames);
    std::iota(expected.begin(), expected.end(), 0u);
    QCOMPARE(ids(got), expected);

    session.stop();
    QVector<KvCanObj> slowGot;
    QCOMPARE(slow.take(slowGot), kept);
    QCOMPARE(ids(slowGot), expected.mid(0, kept));
    QCOMPARE(slow.dropped(), quint64(frames - kept));
    QCOMPARE(fast.dropped(), quint64(0));
    QCOMPARE(KvBuffer::instance(0).countRt(), 0);
}

void tst_KvDeviceSession::statusReportsTrafficAndRefusal()
{
    KvDeviceSession session;
    session.setDevice(4, 0);
    session.addChannel(1, 250000);
    QVERIFY(session.start());
    inject(4, 1, 40);
    QTRY_COMPARE(session.status(1).received, 40);
    KvChannelStatus s = session.status(1);
    QVERIFY(s.started);
    QCOMPARE(s.bitRate, 250000u);
    QCOMPARE(s.frames, 40u);
    QCOMPARE(s.bits, 40u * 108);
    QVERIFY(s.lastError.isEmpty());

    VCI_ERR_INFO info{};
    info.ErrCode = 0x0100;
    VSIM_InjectError(4, 0, 1, &info, 1);
    QTRY_COMPARE(session.status(1).adapterErrors, quint64(1));
    QCOMPARE(session.status(1).lastError, QStringLiteral("adapter error 0x0100"));

    VSIM_ForceResult(4, 0, "VCI_Transmit", 0, 1);
    QSignalSpy refused(session.writer(1), &CanWriteThread::errorSignal);
    CanData one;
    one.push(CanObj());
    KvPipe::instance(1).push(one);
    QVERIFY(session.writer(1)->wait(5000)); // a refused transmit ends the thread
    QCOMPARE(session.status(1).lastError, QStringLiteral("the adapter refused a transmit"));
    session.stop();
    QVERIFY(!session.status(1).started);
}

void tst_KvDeviceSession::bitRateTable_data()
{
    QTest::addColumn<quint32>("rate");
    QTest::addColumn<bool>("known");
    QTest::newRow("1M") << 1000000u << true;
    QTest::newRow("500k") << 500000u << true;
    QTest::newRow("5k") << 5000u << true;
    QTest::newRow("333k is not offered") << 333000u << false;
}

// Every offered rate's timing bytes give back that rate by the device manager's rule.
void tst_KvDeviceSession::bitRateTable()
{
    QFETCH(quint32, rate);
    QFETCH(bool, known);
    quint8 t0 = 0, t1 = 0;
    QCOMPARE(KvDeviceSession::timingForBitRate(rate, t0, t1), known);
    QCOMPARE(KvDeviceSession::bitRates().contains(rate), known);
    if (known)
        QCOMPARE(DevCan::bitRate(t0, t1), rate);
}

QTEST_MAIN(tst_KvDeviceSession)
#include "tst_kvdevicesession.moc"
