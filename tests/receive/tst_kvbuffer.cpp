#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvidfiltermannger.h"

#include <QtTest/QtTest>

#include <atomic>
#include <climits>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

VCI_CAN_OBJ frame(quint32 id, QByteArray data = QByteArray(), quint8 ext = 0, quint8 remote = 0,
                  quint32 stamp = 1)
{
    VCI_CAN_OBJ f{};
    f.ID = id;
    f.TimeStamp = stamp;
    f.ExternFlag = ext;
    f.RemoteFlag = remote;
    f.DataLen = quint8(qMin(data.size(), 8));
    std::memcpy(f.Data, data.constData(), f.DataLen);
    return f;
}

int add(KvBuffer &buffer, VCI_CAN_OBJ f, bool send = false)
{
    return buffer.addFrame(&f, 1, send);
}

QStringList columns(const CanObjStr &s)
{
    return {s.index,     s.id,          s.spare1,  s.timeStamp, s.systemTime, s.spare2,   s.spare3,
            s.frameType, s.frameFormat, s.dataLen, s.data,      s.spare4,     s.direction};
}

const QStringList Empty = QVector<QString>(13).toList();

// Identifiers of the frame list, oldest first, as "B" for 0xB.
QString ids(KvBuffer &buffer)
{
    QString list;
    for (int i = 0; i < buffer.count(); ++i)
        list += QString::number(buffer.getFrame(i).id.toUInt(nullptr, 16), 16).toUpper();
    return list;
}

QBitArray bits(std::initializer_list<int> set)
{
    QBitArray b(8);
    for (int i : set)
        b.setBit(i);
    return b;
}

QString stampText(int stamp)
{
    return QStringLiteral("0x") + QString::number(stamp, 16).toUpper();
}

// One adapter read of 32 frames stamped first + 1 onwards, over 50 identifiers.
constexpr int ReadSize = 32;
std::vector<VCI_CAN_OBJ> read(int first)
{
    std::vector<VCI_CAN_OBJ> frames(ReadSize);
    for (int i = 0; i < ReadSize; ++i)
        frames[size_t(i)] = frame(quint32(0x100 + (first + i) % 50), QByteArray(8, '\0'), 0, 0,
                                  quint32(first + i + 1));
    return frames;
}

// Reaches the protected lookup.
class ProbeBuffer : public KvBuffer
{
public:
    using KvBuffer::findWatchFrame;
};

} // namespace

class tst_KvBuffer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void freshBuffer();
    void storesAndCounts_data();
    void storesAndCounts();
    void hideAndFilterCountButDoNotStore_data();
    void hideAndFilterCountButDoNotStore();
    void trimming();
    void emptyingKeepsWhatItShould();
    void texts_data();
    void texts();
    void textsMatchThePrintfFormats();
    void stampIsHostLocalTime_data();
    void stampIsHostLocalTime();
    void watchChangedBits();
    void watchMatchesPlainListModel();
    void saveQueue();
    void resetEmptiesWhatTheReaderHasNotTaken();
    void aReadEntersTheListsWhole();
    void filteredFramesLeaveNoGap();
    void sideQueuesAndErrorLog();
    void errorLogBound_data();
    void errorLogBound();
};

void tst_KvBuffer::init()
{
    KvGlobalSet &settings = KvGlobalSet::instance();
    settings.watch = false;
    for (int c = 0; c < 4; ++c) {
        settings.channelSets[c].rtSave = false;
        KvIdFilterMannger::instance(c).setFilterMode(0);
        KvIdFilterMannger::instance(c).clearNotReceive();
    }
}

// An empty list answers any position with an empty record; stray channels share a spare buffer.
void tst_KvBuffer::freshBuffer()
{
    KvBuffer buffer;
    QCOMPARE(columns(buffer.getFrame(0)), Empty);
    QCOMPARE(columns(buffer.getFrame(-1)), Empty);

    QSet<KvBuffer *> channels;
    for (int c = 0; c < 4; ++c)
        channels.insert(&KvBuffer::instance(c));
    QCOMPARE(channels.size(), 4);
    QVERIFY(!channels.contains(&KvBuffer::instance(4)));
    QCOMPARE(&KvBuffer::instance(-5), &KvBuffer::instance(4));
}

void tst_KvBuffer::storesAndCounts_data()
{
    QTest::addColumn<int>("dataLen");
    QTest::addColumn<int>("ext");
    QTest::addColumn<int>("remote");
    QTest::addColumn<int>("bits");
    QTest::newRow("standard data, 8 bytes") << 8 << 0 << 0 << 108;
    QTest::newRow("standard data, no byte") << 0 << 0 << 0 << 44;
    QTest::newRow("standard remote") << 8 << 0 << 1 << 44;
    QTest::newRow("extended data, 3 bytes") << 3 << 1 << 0 << 88;
    QTest::newRow("extended remote") << 8 << 1 << 1 << 64;
    QTest::newRow("any nonzero remote flag") << 4 << 1 << 2 << 64;
    QTest::newRow("only extern flag 1 is extended") << 1 << 2 << 0 << 52;
}

void tst_KvBuffer::storesAndCounts()
{
    QFETCH(int, dataLen);
    QFETCH(int, ext);
    QFETCH(int, remote);
    QFETCH(int, bits);
    VCI_CAN_OBJ f[2] = {frame(0x10, QByteArray(dataLen, 'Z'), quint8(ext), quint8(remote)),
                        frame(0x11)};
    KvBuffer buffer;
    QCOMPARE(buffer.addFrame(f, 1, false), 1);
    QCOMPARE(QVariantList({buffer.frames(), buffer.size(), buffer.count()}),
             QVariantList({1, bits, 1}));
    QCOMPARE(buffer.addFrame(f, 0, false), 0); // nothing offered, nothing counted
    QCOMPARE(buffer.addFrame(nullptr, 2, false), 0);
    QCOMPARE(buffer.addFrame(f, 2, false), 2);
    QCOMPARE(buffer.frames(), 3);
    f[0].TimeStamp = 0;
    QVERIFY(KvBuffer::isSendFrame(&f[0]));
    QVERIFY(!KvBuffer::isSendFrame(&f[1]) && !KvBuffer::isSendFrame(nullptr));
}

void tst_KvBuffer::hideAndFilterCountButDoNotStore_data()
{
    QTest::addColumn<bool>("hide");
    QTest::addColumn<int>("mode");
    QTest::addColumn<quint32>("id");
    QTest::addColumn<int>("storedReceived");
    QTest::addColumn<int>("storedSent");
    QTest::newRow("hidden sent frames") << true << 0 << 0x150u << 5 << 0;
    QTest::newRow("mode 1, in the not-receive range") << false << 1 << 0x150u << 0 << 5;
    QTest::newRow("mode 1, outside") << false << 1 << 0x250u << 5 << 5;
    QTest::newRow("mode 2, in the only-receive range") << false << 2 << 0x1FFu << 5 << 5;
    QTest::newRow("mode 2, outside") << false << 2 << 0x200u << 0 << 5;
}

// Five received and five sent frames (2 data bytes: 60 bits each): every one counts.
void tst_KvBuffer::hideAndFilterCountButDoNotStore()
{
    QFETCH(bool, hide);
    QFETCH(int, mode);
    QFETCH(quint32, id);
    QFETCH(int, storedReceived);
    QFETCH(int, storedSent);

    KvIdFilter range;
    range.startId = 0x100;
    range.endId = 0x1FF;
    KvIdFilterMannger &filter = KvIdFilterMannger::instance(3);
    filter.addNotReceive(range);
    filter.clearOnlyReceive();
    filter.addOnlyReceive(range);
    filter.setFilterMode(mode);
    KvGlobalSet::instance().watch = true;
    KvGlobalSet::instance().channelSets[3].rtSave = true;

    KvBuffer buffer;
    buffer.setChannel(3);
    buffer.setHideSendFrame(hide);
    VCI_CAN_OBJ five[5];
    std::fill(five, five + 5, frame(id, "\x01\x02"));
    QCOMPARE(buffer.addFrame(five, 5, false), storedReceived);
    std::fill(five, five + 5, frame(id, "\x01\x02", 0, 0, 0));
    QCOMPARE(buffer.addFrame(five, 5, true), storedSent);

    QCOMPARE(buffer.frames(), 10);
    QCOMPARE(buffer.size(), 600);
    QCOMPARE(buffer.count(), storedReceived + storedSent);
    QCOMPARE(buffer.countRt(), storedReceived + storedSent); // dropped frames reach no list
    QCOMPARE(buffer.countW(), storedReceived + storedSent > 0 ? 1 : 0);
    buffer.setChannel(0); // channel 0's filter is off
    QCOMPARE(add(buffer, five[0], false), 1);
}

void tst_KvBuffer::trimming()
{
    KvBuffer buffer;
    buffer.setMaxCount(3);
    for (quint32 id : {0xA, 0xB, 0xC, 0xD})
        add(buffer, frame(id));
    QCOMPARE(ids(buffer), QString("BCD"));
    QCOMPARE(buffer.getFrame(0).index, QString("0"));
    QCOMPARE(buffer.getFrame(0).id, QString("0000000B "));
    QCOMPARE(columns(buffer.getFrame(buffer.count())), Empty);

    // A lower maximum through init() clears nothing: each new frame displaces one record.
    buffer.setMaxCount(5);
    for (quint32 id = 1; id <= 5; ++id)
        add(buffer, frame(id));
    QVERIFY(buffer.init(3));
    QCOMPARE(buffer.getMaxCount(), 3);
    add(buffer, frame(6));
    add(buffer, frame(7));
    QCOMPARE(ids(buffer), QString("34567"));
    QCOMPARE(buffer.frames(), 7);
}

void tst_KvBuffer::emptyingKeepsWhatItShould()
{
    KvGlobalSet::instance().watch = true;
    KvGlobalSet::instance().channelSets[1].rtSave = true;
    KvBuffer buffer;
    buffer.setChannel(1);
    VCI_ERR_INFO error{};
    auto fill = [&] {
        add(buffer, frame(1, "\x01", 1));
        add(buffer, frame(2, "\x02", 1));
        VCI_CAN_OBJ f = frame(3, "", 1);
        buffer.addDBCFrame(&f, 1);
        buffer.addGBT27930Frame(&f, 1);
        buffer.addErrorData(error);
    };
    auto state = [&] {
        VCI_CAN_OBJ out;
        return QVariantList({buffer.count(), buffer.countW(), buffer.countRt(), buffer.frames(),
                             buffer.size(), buffer.DBCFrame(out)});
    };
    fill();
    buffer.clear(); // the frame list only
    QCOMPARE(state(), QVariantList({0, 2, 2, 2, 144, true}));
    buffer.setMaxCount(30000); // the current maximum: nothing happens
    QCOMPARE(state(), QVariantList({0, 2, 2, 2, 144, true}));
    fill();
    buffer.setMaxCount(100); // a new maximum: lists and totals, not the side queues
    QCOMPARE(state(), QVariantList({0, 0, 0, 0, 0, true}));
    fill();
    buffer.setHideSendFrame(true);
    buffer.reset();
    QCOMPARE(state(), QVariantList({0, 0, 0, 0, 0, true}));
    QCOMPARE(buffer.getMaxCount(), 100);
    QVERIFY(buffer.getHideSendFrame());
    VCI_CAN_OBJ out;
    QVERIFY(buffer.GBT27930Frame(out) && buffer.getErrorData(error));

    buffer.addSize(INT_MAX); // the totals wrap around
    add(buffer, frame(1));
    QCOMPARE(buffer.size(), INT_MIN + 43);
}

void tst_KvBuffer::texts_data()
{
    QTest::addColumn<bool>("send");
    QTest::addColumn<quint32>("id");
    QTest::addColumn<quint32>("stamp");
    QTest::addColumn<int>("ext");
    QTest::addColumn<int>("remote");
    QTest::addColumn<int>("dataLen");
    QTest::addColumn<QString>("texts"); // the thirteen columns joined by '|'

    QTest::newRow("received standard data frame")
        << false << 0x123u << 0x1F40u << 0 << 0 << 3
        << "|00000123 ||0x1F40|09:05:03:007|||Data|Standard|3|01 A2 FF||Rx";
    QTest::newRow("transmitted extended remote frame")
        << true << 0x1FFFFFFFu << 0u << 1 << 1 << 0
        << "|1FFFFFFF ||NULL|09:05:03:007|||Remote|Extend|0|||Tx";
    QTest::newRow("largest stamp")
        << false << 0x7u << 0xFFFFFFFFu << 0 << 0 << 1
        << "|00000007 ||0xFFFFFFFF|09:05:03:007|||Data|Standard|1|01||Rx";
    QTest::newRow("length beyond eight shows eight bytes")
        << false << 0x0u << 0xAu << 2 << 2 << 12
        << "|00000000 ||0xA|09:05:03:007|||Data|Standard|12|01 A2 FF 00 10 20 30 40||Rx";
}

void tst_KvBuffer::texts()
{
    QFETCH(bool, send);
    QFETCH(quint32, id);
    QFETCH(quint32, stamp);
    QFETCH(int, ext);
    QFETCH(int, remote);
    QFETCH(int, dataLen);
    QFETCH(QString, texts);

    KvCanObj record;
    record.send = send;
    record.hour = 9;
    record.minute = 5;
    record.second = 3;
    record.msec = 7;
    record.frame = frame(id, QByteArray("\x01\xA2\xFF\x00\x10\x20\x30\x40", 8), quint8(ext),
                         quint8(remote), stamp);
    record.frame.DataLen = quint8(dataLen);
    QCOMPARE(columns(KvBuffer::analyseData(record)).join('|'), texts);
}

// The display texts are built without a printf-style formatter; every field must still read
// exactly as its printf format gives it, across the whole range of the record's values.
void tst_KvBuffer::textsMatchThePrintfFormats()
{
    auto record = [](quint32 id, quint32 stamp, int hour, int minute, int second, int msec) {
        KvCanObj r;
        r.frame.ID = id;
        r.frame.TimeStamp = stamp;
        r.hour = hour;
        r.minute = minute;
        r.second = second;
        r.msec = msec;
        return r;
    };
    // The extremes no random draw below reaches, then the random records.
    QVector<KvCanObj> records = {record(0xFFFFFFFF, 0xFFFFFFFF, INT_MIN, INT_MAX, 0, 0),
                                 record(0, 0, INT_MAX, INT_MIN, INT_MIN, INT_MAX)};
    std::mt19937 random(20261205);
    std::uniform_int_distribution<quint32> word;
    std::uniform_int_distribution<int> small(-5, 1200);
    for (int i = 0; i < 20000; ++i) {
        records << record(word(random) >> (i % 32), word(random) >> (i % 32), small(random) % 130,
                          small(random) % 70, small(random) % 70, small(random));
        records.last().send = i % 5 == 0;
    }
    for (const KvCanObj &r : records) {
        const CanObjStr text = KvBuffer::analyseData(r);
        QCOMPARE(
            QStringList({text.id, text.timeStamp, text.systemTime}),
            QStringList(
                {QString::asprintf("%08X ", r.frame.ID),
                 r.send ? QStringLiteral("NULL") : QString::asprintf("0x%X", r.frame.TimeStamp),
                 QString::asprintf("%02d:%02d:%02d:%03d", r.hour, r.minute, r.second, r.msec)}));
    }
    QCOMPARE(KvBuffer::analyseData(records[0]).systemTime,
             QString::asprintf("%d:%d:00:000", INT_MIN, INT_MAX));
}

void tst_KvBuffer::stampIsHostLocalTime_data()
{
    QTest::addColumn<QByteArray>("zone"); // POSIX zone for this row
    QTest::newRow("UTC") << QByteArray("UTC0");
    QTest::newRow("UTC+05:45") << QByteArray("KVT-5:45");
    QTest::newRow("UTC-09:30") << QByteArray("KVM9:30");
}

// Stamps from this thread (a cached second) and from a new thread (a fresh reading) fall between
// two readings of the local clock, in whatever zone the host is set to.
void tst_KvBuffer::stampIsHostLocalTime()
{
    QFETCH(QByteArray, zone);
    const QByteArray oldZone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", zone);
    tzset();
    // A zone change applies from the next second of the wall clock.
    const qint64 changed = QDateTime::currentSecsSinceEpoch();
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentSecsSinceEpoch() > changed, 3000);

    KvBuffer buffer;
    for (int pass = 0; pass < 3; ++pass) {
        const int before = QTime::currentTime().msecsSinceStartOfDay();
        add(buffer, frame(1));
        std::thread other([&buffer] { add(buffer, frame(2)); });
        other.join();
        const int after = QTime::currentTime().msecsSinceStartOfDay();
        for (int i = buffer.count() - 2; i < buffer.count() && after >= before; ++i) {
            const QTime stamp = QTime::fromString(buffer.getFrame(i).systemTime, "hh:mm:ss:zzz");
            QVERIFY(before <= stamp.msecsSinceStartOfDay());
            QVERIFY(stamp.msecsSinceStartOfDay() <= after);
        }
        QTest::qWait(300); // the next pass reads later, often in another second
    }
    hadZone ? qputenv("TZ", oldZone) : qunsetenv("TZ");
    tzset();
}

void tst_KvBuffer::watchChangedBits()
{
    KvBuffer buffer;
    KvGlobalSet &settings = KvGlobalSet::instance();
    add(buffer, frame(0x123, "\x10\x11\x12\x13")); // switch off: nothing watched
    QCOMPARE(buffer.countW(), 0);
    settings.onWatch();
    add(buffer, frame(0x123, "\x10\x11\x12\x13"));
    QCOMPARE(buffer.getWatchFrame(0).changed, QBitArray(8));
    add(buffer, frame(0x123, "\x10\x11\x99\x13"));
    QCOMPARE(buffer.getWatchFrame(0).changed, bits({2}));
    add(buffer, frame(0x123, "\x10\x11\x99\x13"));
    QCOMPARE(buffer.getWatchFrame(0).changed, bits({2}));

    VCI_CAN_OBJ shorter = frame(0x123, "\x10\x11\x12", 1, 0, 0);
    shorter.Data[6] = 0x66; // bytes 3 and 6 lie beyond DataLen and are still compared
    add(buffer, shorter, true);
    const KvCanObjWatchStr latest = buffer.getWatchFrame(0);
    QCOMPARE(latest.changed, bits({2, 3, 6})); // changing back keeps bit 2
    QCOMPARE(buffer.countW(), 1);              // standard and extended share the identifier
    QCOMPARE(columns(latest.text).join('|').section('|', 7), "Data|Extend|3|10 11 12||Tx");
    QCOMPARE(latest.text.index, QString("0"));

    settings.onWatch();
    add(buffer, frame(0x123));
    add(buffer, frame(0x124));
    QCOMPARE(buffer.countW(), 1);
    QCOMPARE(buffer.getWatchFrame(0).text.data, QString("10 11 12"));
    QStringList none = Empty;
    none[0] = "-1";
    for (int outside : {-1, 1}) {
        QCOMPARE(columns(buffer.getWatchFrame(outside).text), none);
        QCOMPARE(buffer.getWatchFrame(outside).changed, QBitArray(8));
    }
}

// Random traffic against the plain list the watch list must behave as: first-seen order, a
// linear search by identifier, the first record dropped beyond the maximum.
void tst_KvBuffer::watchMatchesPlainListModel()
{
    struct Watched
    {
        quint32 id;
        QBitArray changed;
        QByteArray data;
    };
    KvGlobalSet::instance().watch = true;
    std::mt19937 random(27930);
    for (int maxCount : {2, 5, 40, 97}) {
        ProbeBuffer buffer;
        buffer.setMaxCount(maxCount);
        QList<Watched> model;
        for (int step = 0; step < 4000; ++step) {
            if (step == 1000) {
                buffer.clearW();
                model.clear();
            }
            const quint32 id = random() % quint32(maxCount * 2);
            QByteArray data(8, '\0');
            data[int(random() % 8)] = char(random() % 3);
            add(buffer, frame(id, data));
            auto it =
                std::find_if(model.begin(), model.end(), [id](auto &w) { return w.id == id; });
            if (it == model.end()) {
                model.append({id, QBitArray(8), data});
                if (model.size() > maxCount)
                    model.removeFirst();
            } else {
                for (int b = 0; b < 8; ++b)
                    it->changed.setBit(b, it->changed.testBit(b) || it->data[b] != data[b]);
                it->data = data;
            }
        }
        QCOMPARE(buffer.countW(), model.size());
        for (int i = 0; i < model.size(); ++i) {
            QCOMPARE(buffer.getWatchFrame(i).text.id.toUInt(nullptr, 16), model[i].id);
            QCOMPARE(buffer.getWatchFrame(i).changed, model[i].changed);
            QCOMPARE(buffer.findWatchFrame(model[i].id), i);
        }
    }
}

void tst_KvBuffer::saveQueue()
{
    KvChannelSet &flags = KvGlobalSet::instance().channelSets[2];
    KvBuffer buffer;
    buffer.setChannel(2);
    add(buffer, frame(0xF)); // flag off: not queued
    flags.rtSave = true;
    for (quint32 id = 1; id <= 5; ++id)
        add(buffer, frame(id));
    flags.rtSave = false; // stops the growth, keeps what is queued
    add(buffer, frame(0xF));
    QCOMPARE(buffer.countRt(), 5);
    const CanObjStr oldest = buffer.getRtSaveFrame(7);
    QCOMPARE(oldest.index, QString("7"));
    QCOMPARE(oldest.id, QString("00000001 "));
    QCOMPARE(buffer.countRt(), 4);
    for (int n = 0; n < 4; ++n)
        QCOMPARE(buffer.getRtSaveFrame(n).id, QString("0000000%1 ").arg(n + 2));
    QCOMPARE(columns(buffer.getRtSaveFrame(3)), Empty);
    QCOMPARE(buffer.count(), 7); // draining leaves the display list

    KvGlobalSet::instance().channelSets[0].rtSave = true;
    buffer.setChannel(9); // a stray channel has no save flag
    add(buffer, frame(5));
    QCOMPARE(buffer.countRt(), 0);
}

void tst_KvBuffer::resetEmptiesWhatTheReaderHasNotTaken()
{
    KvBuffer buffer;
    buffer.setChannel(2);
    KvGlobalSet::instance().channelSets[2].rtSave = true;
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

// The frames of one addFrame() call (one adapter read) enter the frame list and the save queue
// together, under one taking of each list's lock: a reader never sees part of a read. Taking the
// locks once per read instead of once per frame is what keeps the receive path cheap while the
// application reads and drains at the same time.
void tst_KvBuffer::aReadEntersTheListsWhole()
{
    constexpr int Reads = 3000;
    KvBuffer buffer;
    buffer.setChannel(2);
    buffer.setMaxCount(ReadSize * Reads);
    KvGlobalSet::instance().channelSets[2].rtSave = true;
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
        QCOMPARE(buffer.getFrame(i).timeStamp, stampText(i + 1));
}

// A call longer than the store chunk with every other frame filtered out: the stored frames
// keep their order and the totals count every frame offered.
void tst_KvBuffer::filteredFramesLeaveNoGap()
{
    KvBuffer buffer;
    buffer.setChannel(2);
    KvIdFilter odd;
    odd.startId = 0x501;
    odd.endId = 0x501;
    KvIdFilterMannger::instance(2).addNotReceive(odd);
    KvIdFilterMannger::instance(2).setFilterMode(1);
    std::vector<VCI_CAN_OBJ> frames(301);
    for (int i = 0; i < 301; ++i)
        frames[size_t(i)] = frame(i % 2 ? 0x501 : 0x500, {}, 0, 0, quint32(i + 1));
    QCOMPARE(buffer.addFrame(frames.data(), 301, false), 151);
    QCOMPARE(buffer.frames(), 301);
    QCOMPARE(buffer.count(), 151);
    for (int i = 0; i < 151; ++i)
        QCOMPARE(buffer.getFrame(i).timeStamp, stampText(2 * i + 1));
}

void tst_KvBuffer::sideQueuesAndErrorLog()
{
    KvBuffer buffer;
    VCI_CAN_OBJ out = frame(0xEE);
    QVERIFY(!buffer.DBCFrame(out) && !buffer.GBT27930Frame(out) && !buffer.DeleteGBT27930Frame());
    QCOMPARE(out.ID, 0xEEu); // untouched

    VCI_CAN_OBJ batch[] = {frame(1, "", 0), frame(2, "\x01\x02", 1), frame(3, "", 0),
                           frame(4, "", 1), frame(5, "", 1)};
    batch[1].TimeFlag = batch[1].SendType = batch[1].Reserved[2] = 9; // not carried
    QCOMPARE(buffer.addDBCFrame(batch, 0), 0);
    QVERIFY(!buffer.DBCFrame(out));
    QCOMPARE(buffer.addDBCFrame(batch, 3), 3);
    QVERIFY(buffer.DBCFrame(out) && buffer.DBCFrame(out)); // reading does not remove
    QCOMPARE(out.ID, 1u);
    buffer.ClearDBC();
    QVERIFY(!buffer.DBCFrame(out));

    QCOMPARE(buffer.addGBT27930Frame(batch, 5), 5); // the extended ones only
    VCI_CAN_OBJ expected = batch[1];
    expected.TimeFlag = expected.SendType = expected.Reserved[2] = 0;
    QVERIFY(buffer.GBT27930Frame(out));
    QCOMPARE(QByteArray((char *)&out, 24), QByteArray((char *)&expected, 24));
    QVERIFY(buffer.DeleteGBT27930Frame());
    QVERIFY(buffer.GBT27930Frame(out));
    QCOMPARE(out.ID, 5u);
    QVERIFY(!buffer.GBT27930Frame(out));
    buffer.addGBT27930Frame(batch, 5);
    buffer.ClearGBT27930();
    QVERIFY(!buffer.DeleteGBT27930Frame());

    for (quint8 code : {1, 2, 4}) {
        VCI_ERR_INFO info{code, {code, 0, 0}, code};
        buffer.addErrorData(info);
    }
    VCI_ERR_INFO info{};
    for (quint8 code : {1, 2, 4}) {
        QVERIFY(buffer.getErrorData(info));
        QCOMPARE(QVariantList({info.ErrCode, info.Passive_ErrData[0], info.ArLost_ErrData}),
                 QVariantList({code, code, code}));
    }
    QVERIFY(!buffer.getErrorData(info));
    QCOMPARE(buffer.count(), 0); // the side queues are apart from the display list
}

void tst_KvBuffer::errorLogBound_data()
{
    QTest::addColumn<int>("bound");
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("lowerTo");     // 0: the bound stays
    QTest::addColumn<QList<int>>("kept"); // error codes, oldest first
    QTest::newRow("within the bound") << 3 << 3 << 0 << QList<int>{1, 2, 3};
    QTest::newRow("beyond it the oldest go") << 3 << 5 << 0 << QList<int>{3, 4, 5};
    QTest::newRow("lowering trims at once") << 10 << 4 << 2 << QList<int>{3, 4};
    QTest::newRow("a bound below 1 keeps one") << 10 << 4 << -5 << QList<int>{4};
}

void tst_KvBuffer::errorLogBound()
{
    QFETCH(int, bound);
    QFETCH(int, added);
    QFETCH(int, lowerTo);
    QFETCH(QList<int>, kept);
    KvBuffer buffer;
    QCOMPARE(buffer.maxErrorCount(), 10000);
    buffer.setMaxErrorCount(bound);
    for (int code = 1; code <= added; ++code) {
        VCI_ERR_INFO info{quint32(code), {0, 0, 0}, 0};
        buffer.addErrorData(info);
    }
    if (lowerTo)
        buffer.setMaxErrorCount(lowerTo);
    QList<int> codes;
    VCI_ERR_INFO out{};
    while (buffer.getErrorData(out))
        codes << int(out.ErrCode);
    QCOMPARE(codes, kept);
    QCOMPARE(buffer.droppedErrorCount(), quint64(added - kept.size()));
}

QTEST_GUILESS_MAIN(tst_KvBuffer)
#include "tst_kvbuffer.moc"
