#include "kvbuffer.h"
#include "kvdbcdatabase.h"
#include "kvsignaldecoder.h"

#include <QtTest/QtTest>

#include <atomic>
#include <thread>

class tst_KvSignalDecoder : public QObject
{
    Q_OBJECT
private slots:
    void takeDBCFrames_data();
    void takeDBCFrames();
    void pollKeepsLatestAndHistory();
    void multiplexedAndShortFramesKeepOldValues();
    void stampWrapKeepsTimeGrowing();
    void ownThreadDrainsWhileReceiving();
};

namespace {

const char Database[] = R"(BU_: X
BO_ 256 Engine: 8 X
 SG_ Speed : 0|16@1+ (0.5,0) [0|0] "rpm" X
 SG_ Mux M : 16|8@1+ (1,0) [0|0] "" X
 SG_ A m1 : 24|8@1+ (1,0) [0|0] "" X
 SG_ Tail : 56|8@1+ (1,0) [0|0] "" X
)";

VCI_CAN_OBJ frame(quint32 id, quint32 stamp, std::initializer_list<quint8> data, bool ext = false)
{
    VCI_CAN_OBJ f{};
    f.ID = id;
    f.TimeStamp = stamp;
    f.ExternFlag = ext;
    f.DataLen = quint8(data.size());
    int i = 0;
    for (quint8 b : data)
        f.Data[i++] = b;
    return f;
}

} // namespace

void tst_KvSignalDecoder::takeDBCFrames_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("taken");
    QTest::newRow("empty queue") << 0 << 10 << 0;
    QTest::newRow("fewer than asked") << 3 << 10 << 3;
    QTest::newRow("more than asked") << 5 << 2 << 2;
    QTest::newRow("max 0") << 5 << 0 << 0;
    QTest::newRow("negative max") << 5 << -1 << 0;
}

void tst_KvSignalDecoder::takeDBCFrames()
{
    QFETCH(int, queued);
    QFETCH(int, max);
    QFETCH(int, taken);
    KvBuffer buffer;
    QVector<VCI_CAN_OBJ> in;
    for (int i = 0; i < queued; ++i)
        in << frame(quint32(i), quint32(i + 1), {quint8(i)});
    buffer.addDBCFrame(in.data(), in.size());
    QVector<VCI_CAN_OBJ> out;
    out.append(frame(99, 0, {})); // appended to, not replaced
    QCOMPARE(buffer.takeDBCFrames(out, max), taken);
    QCOMPARE(out.size(), taken + 1);
    for (int i = 0; i < taken; ++i)
        QCOMPARE(out.at(i + 1).ID, quint32(i));
    // The rest stays, oldest first.
    VCI_CAN_OBJ head{};
    QCOMPARE(buffer.DBCFrame(head), taken < queued);
    if (taken < queued)
        QCOMPARE(head.ID, quint32(taken));
}

void tst_KvSignalDecoder::pollKeepsLatestAndHistory()
{
    KvDbcDatabase db;
    QVERIFY(db.loadData(Database));
    KvBuffer buffer;
    KvSignalDecoder decoder(buffer, db);
    decoder.setHistorySize(3);
    QVector<VCI_CAN_OBJ> frames;
    for (int i = 1; i <= 5; ++i)
        frames << frame(256, quint32(i * 10000), {quint8(i * 2), 0, 0, 0, 0, 0, 0, 0});
    frames << frame(0x123, 60000, {1}) << frame(256, 0, {}, true);
    buffer.addDBCFrame(frames.data(), frames.size());

    QCOMPARE(decoder.poll(), 7);
    QCOMPARE(decoder.poll(), 0);
    QCOMPARE(decoder.decodedFrames(), quint64(5));
    QCOMPARE(decoder.unknownFrames(), quint64(2)); // unknown ID, and 0x100 as extended
    const KvSignalState speed = decoder.latest(0);
    QCOMPARE(speed.physical, 5.0);
    QCOMPARE(speed.time, 5.0);
    QCOMPARE(speed.updates, quint64(5));
    QVector<KvSignalSample> history;
    QCOMPARE(decoder.history(0, history), 3);
    QCOMPARE(history.at(0).time, 3.0);
    QCOMPARE(history.at(2).value, 5.0);
    QCOMPARE(decoder.latest(99).updates, quint64(0));
    QCOMPARE(decoder.history(-1, history), 0);

    decoder.setHistorySize(0);
    buffer.addDBCFrame(frames.data(), 1);
    decoder.poll();
    QCOMPARE(decoder.history(0, history), 0);
    QCOMPARE(decoder.latest(0).physical, 1.0);
    decoder.reset();
    QCOMPARE(decoder.latest(0).updates, quint64(0));
    QCOMPARE(decoder.decodedFrames(), quint64(0));
}

void tst_KvSignalDecoder::multiplexedAndShortFramesKeepOldValues()
{
    KvDbcDatabase db;
    QVERIFY(db.loadData(Database));
    KvBuffer buffer;
    KvSignalDecoder decoder(buffer, db);
    VCI_CAN_OBJ frames[] = {frame(256, 10, {0, 0, 1, 7, 0, 0, 0, 9}),
                            frame(256, 20, {0, 0, 2, 8, 0, 0, 0}), frame(256, 30, {4, 0})};
    buffer.addDBCFrame(frames, 3);
    decoder.poll();
    QCOMPARE(decoder.latest(2).physical, 7.0); // A, selected by 1 only
    QCOMPARE(decoder.latest(2).updates, quint64(1));
    QCOMPARE(decoder.latest(3).physical, 9.0); // Tail, absent from the 7-byte frame
    QCOMPARE(decoder.latest(1).physical, 2.0); // Mux, absent from the 2-byte frame
    QCOMPARE(decoder.latest(0).physical, 2.0); // Speed, in all three
    QCOMPARE(decoder.latest(0).updates, quint64(3));
}

void tst_KvSignalDecoder::stampWrapKeepsTimeGrowing()
{
    KvDbcDatabase db;
    QVERIFY(db.loadData(Database));
    KvBuffer buffer;
    KvSignalDecoder decoder(buffer, db);
    VCI_CAN_OBJ frames[] = {frame(256, 0xFFFFD8F0u, {1, 0}), frame(256, 10000, {2, 0})};
    buffer.addDBCFrame(frames, 2);
    decoder.poll();
    QCOMPARE(decoder.latest(0).time, (4294967296.0 + 10000) / 10000);
}

// The decoder's thread drains while another thread feeds the queue, as the receive thread does.
void tst_KvSignalDecoder::ownThreadDrainsWhileReceiving()
{
    KvDbcDatabase db;
    QVERIFY(db.loadData(Database));
    KvBuffer buffer;
    KvSignalDecoder decoder(buffer, db);
    decoder.setHistorySize(100);
    QVERIFY(decoder.start(1));
    QVERIFY(!decoder.start(1));
    constexpr int Frames = 20000;
    std::atomic<bool> fed{false};
    std::thread receiver([&buffer, &fed] {
        for (int i = 1; i <= Frames; i += 4) {
            VCI_CAN_OBJ batch[4];
            for (int j = 0; j < 4; ++j)
                batch[j] =
                    frame(256, quint32(i + j), {quint8((i + j) & 0xFF), quint8((i + j) >> 8)});
            buffer.addDBCFrame(batch, 4);
        }
        fed = true;
    });
    // The application's reads meanwhile.
    QVector<KvSignalSample> history;
    while (!fed) {
        decoder.latest(0);
        decoder.history(0, history);
    }
    receiver.join();
    QTRY_COMPARE_WITH_TIMEOUT(decoder.decodedFrames(), quint64(Frames), 10000);
    decoder.stop();
    QVERIFY(!decoder.isRunning());
    QCOMPARE(decoder.latest(0).physical, Frames * 0.5);
    QCOMPARE(decoder.history(0, history), 100);
    QCOMPARE(history.last().time, Frames / 10000.0);
}

QTEST_GUILESS_MAIN(tst_KvSignalDecoder)
#include "tst_kvsignaldecoder.moc"
