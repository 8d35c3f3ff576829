#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvidfiltermannger.h"

#include <QtTest/QtTest>

#include <climits>
#include <cstring>
#include <random>
#include <thread>

namespace {

VCI_CAN_OBJ frame(quint32 id, QByteArray data = QByteArray(), quint8 ext = 0, quint8 remote = 0,
                  quint32 stamp = 1)
{
    VCI_CAN_OBJ f{};
    f.ID = id;
    f.TimeStamp = stamp;
    f.ExternFlag = ext;
    f.RemoteFlag = remote;
    f.DataLen = static_cast<quint8>(qMin(data.size(), 8));
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

QStringList ids(KvBuffer &buffer)
{
    QStringList list;
    for (int i = 0; i < buffer.count(); ++i)
        list << buffer.getFrame(i).id.trimmed();
    return list;
}

QStringList watchIds(KvBuffer &buffer)
{
    QStringList list;
    for (int i = 0; i < buffer.countW(); ++i)
        list << buffer.getWatchFrame(i).text.id.trimmed();
    return list;
}

QString hexId(quint32 id)
{
    return QString::asprintf("%08X", id);
}

// Reaches the protected lookup.
class ProbeBuffer : public KvBuffer
{
public:
    using KvBuffer::findWatchFrame;
};

// Milliseconds since midnight of a stored record, and of QTime.
int msOfDay(const CanObjStr &text)
{
    const QTime t = QTime::fromString(text.systemTime, "hh:mm:ss:zzz");
    return t.isValid() ? t.msecsSinceStartOfDay() : -1;
}

} // namespace

class tst_KvBuffer : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void freshBuffer();
    void storesAndCounts_data();
    void storesAndCounts();
    void countBelowOneChangesNothing();
    void hiddenSentFramesAreCountedNotStored();
    void filterDropsReceivedFramesOnly_data();
    void filterDropsReceivedFramesOnly();
    void oldestRecordGoesBeyondMaximum();
    void initDoesNotShrinkAtOnce();
    void setMaxCountEmptiesOnlyOnChange();
    void clearKeepsTotals();
    void readsOutsideTheListAreEmpty();
    void texts_data();
    void texts();
    void getFrameSetsIndex();
    void isSendFrame();
    void totalsWrapAround();
    void stampIsHostLocalTime_data();
    void stampIsHostLocalTime();

    void watchChangedBits();
    void watchComparesAllEightBytes();
    void watchDropsFirstBeyondMaximum();
    void watchSwitchOffLeavesListAlone();
    void watchReadsOutsideList();
    void watchSharesStandardAndExtended();
    void watchMatchesPlainListModel();
    void watchCostDoesNotGrowWithIdentifiers();

    void saveQueueLabelsByNumber();
    void saveQueueEmptyReadAndSwitchOff();
    void droppedFramesReachNeitherList();

    void dbcQueuePeeks();
    void gbtQueueTakesExtendedOnly();
    void gbtDelete();
    void sideQueuesCarrySomeFields();
    void errorLogInOrder();
    void resetLeavesSideQueues();

    void instancePerChannelAndSpare();
};

void tst_KvBuffer::init()
{
    KvGlobalSet &settings = KvGlobalSet::instance();
    settings.watch = false;
    for (int c = 0; c < 4; ++c) {
        settings.channelSets[c].rtSave = false;
        KvIdFilterMannger &filter = KvIdFilterMannger::instance(c);
        filter.setFilterMode(0);
        filter.clearNotReceive();
        filter.clearOnlyReceive();
    }
}

void tst_KvBuffer::freshBuffer()
{
    KvBuffer buffer;
    QCOMPARE(buffer.getMaxCount(), 30000);
    QCOMPARE(buffer.getRefreshCycle(), 500);
    QVERIFY(!buffer.getLooking());
    QVERIFY(!buffer.getHideSendFrame());
    QVERIFY(!buffer.DBCRun());
    QVERIFY(!buffer.GBT27930Run());
    QCOMPARE(buffer.count(), 0);
    QCOMPARE(buffer.frames(), 0);
    QCOMPARE(buffer.size(), 0);
    QCOMPARE(buffer.countW(), 0);
    QCOMPARE(buffer.countRt(), 0);

    buffer.setRefreshCycle(100);
    buffer.setLooking(true);
    QCOMPARE(buffer.getRefreshCycle(), 100);
    QVERIFY(buffer.getLooking());
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
    QTest::newRow("any nonzero remote flag is remote") << 4 << 1 << 2 << 64;
    QTest::newRow("only extern flag 1 is extended") << 1 << 2 << 0 << 52;
}

void tst_KvBuffer::storesAndCounts()
{
    QFETCH(int, dataLen);
    QFETCH(int, ext);
    QFETCH(int, remote);
    QFETCH(int, bits);

    VCI_CAN_OBJ f = frame(0x10, QByteArray(dataLen, '\x5A'), quint8(ext), quint8(remote));
    QCOMPARE(KvBuffer::getFramesBytes(&f), bits);

    KvBuffer buffer;
    QCOMPARE(buffer.addFrame(&f, 1, false), 1);
    QCOMPARE(buffer.frames(), 1);
    QCOMPARE(buffer.size(), bits);
    QCOMPARE(buffer.count(), 1);
}

void tst_KvBuffer::countBelowOneChangesNothing()
{
    KvBuffer buffer;
    VCI_CAN_OBJ f = frame(1);
    QCOMPARE(buffer.addFrame(&f, 0, false), 0);
    QCOMPARE(buffer.addFrame(&f, -3, false), 0);
    QCOMPARE(buffer.addFrame(nullptr, 4, false), 0);
    QCOMPARE(buffer.frames(), 0);
    QCOMPARE(buffer.size(), 0);
    QCOMPARE(buffer.count(), 0);
}

void tst_KvBuffer::hiddenSentFramesAreCountedNotStored()
{
    KvBuffer buffer;
    buffer.setHideSendFrame(true);
    QVERIFY(buffer.getHideSendFrame());
    VCI_CAN_OBJ sent[5];
    for (int i = 0; i < 5; ++i)
        sent[i] = frame(0x100 + quint32(i), QByteArray(i, '\1'), 0, 0, 0);
    QCOMPARE(buffer.addFrame(sent, 5, true), 0);
    QCOMPARE(buffer.frames(), 5);
    QCOMPARE(buffer.size(), 44 * 5 + 8 * (0 + 1 + 2 + 3 + 4));
    QCOMPARE(buffer.count(), 0);

    QCOMPARE(add(buffer, frame(0x7), false), 1); // received frames are not hidden
    buffer.setHideSendFrame(false);
    QCOMPARE(buffer.addFrame(sent, 2, true), 2);
    QCOMPARE(buffer.count(), 3);
}

void tst_KvBuffer::filterDropsReceivedFramesOnly_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("notList"); // the range goes to the not-receive list, else only-receive
    QTest::addColumn<quint32>("id");
    QTest::addColumn<bool>("receivedStored");

    QTest::newRow("mode 1, id in not-receive range") << 1 << true << 0x150u << false;
    QTest::newRow("mode 1, id outside") << 1 << true << 0x250u << true;
    QTest::newRow("mode 2, id in only-receive range") << 2 << false << 0x1FFu << true;
    QTest::newRow("mode 2, id outside") << 2 << false << 0x200u << false;
    QTest::newRow("mode 2, empty only-receive list") << 2 << true << 0x150u << false;
    QTest::newRow("mode 0, id in not-receive range") << 0 << true << 0x150u << true;
}

void tst_KvBuffer::filterDropsReceivedFramesOnly()
{
    QFETCH(int, mode);
    QFETCH(bool, notList);
    QFETCH(quint32, id);
    QFETCH(bool, receivedStored);

    KvIdFilter range;
    range.startId = 0x100;
    range.endId = 0x1FF;
    KvIdFilterMannger &filter = KvIdFilterMannger::instance(3);
    if (notList)
        filter.addNotReceive(range);
    else
        filter.addOnlyReceive(range);
    filter.setFilterMode(mode);

    KvBuffer buffer;
    buffer.setChannel(3);
    QCOMPARE(add(buffer, frame(id, "\x01\x02"), false), receivedStored ? 1 : 0);
    QCOMPARE(buffer.frames(), 1);
    QCOMPARE(buffer.size(), 60);
    QCOMPARE(buffer.count(), receivedStored ? 1 : 0);

    QCOMPARE(add(buffer, frame(id, "\x01\x02", 0, 0, 0), true), 1); // sent: never filtered
    QCOMPARE(buffer.getFrame(buffer.count() - 1).direction, QString("Tx"));

    buffer.setChannel(0); // another channel's filter: mode 0
    QCOMPARE(add(buffer, frame(id), false), 1);
}

void tst_KvBuffer::oldestRecordGoesBeyondMaximum()
{
    KvBuffer buffer;
    buffer.setMaxCount(3);
    for (quint32 id : {0xA, 0xB, 0xC, 0xD})
        add(buffer, frame(id));
    QCOMPARE(ids(buffer), QStringList({hexId(0xB), hexId(0xC), hexId(0xD)}));
    QCOMPARE(buffer.getFrame(0).index, QString("0"));
    QCOMPARE(buffer.getFrame(0).id, QString("0000000B "));
    QCOMPARE(buffer.frames(), 4);
}

void tst_KvBuffer::initDoesNotShrinkAtOnce()
{
    KvBuffer buffer;
    for (quint32 id = 1; id <= 5; ++id)
        add(buffer, frame(id));
    QVERIFY(buffer.init(3));
    QCOMPARE(buffer.getMaxCount(), 3);
    QCOMPARE(buffer.count(), 5);
    add(buffer, frame(6));
    QCOMPARE(buffer.count(), 5);
    add(buffer, frame(7));
    QCOMPARE(ids(buffer), QStringList({hexId(3), hexId(4), hexId(5), hexId(6), hexId(7)}));
    QCOMPARE(buffer.frames(), 7);
}

void tst_KvBuffer::setMaxCountEmptiesOnlyOnChange()
{
    KvBuffer buffer;
    KvGlobalSet::instance().watch = true;
    KvGlobalSet::instance().channelSets[1].rtSave = true;
    buffer.setChannel(1);
    add(buffer, frame(1, "\x01"));
    add(buffer, frame(2, "\x02"));

    buffer.setMaxCount(30000);
    QCOMPARE(buffer.count(), 2);
    QCOMPARE(buffer.countW(), 2);
    QCOMPARE(buffer.countRt(), 2);
    QCOMPARE(buffer.frames(), 2);
    QCOMPARE(buffer.size(), 104);

    buffer.setMaxCount(100);
    QCOMPARE(buffer.getMaxCount(), 100);
    QCOMPARE(buffer.count(), 0);
    QCOMPARE(buffer.countW(), 0);
    QCOMPARE(buffer.countRt(), 0);
    QCOMPARE(buffer.frames(), 0);
    QCOMPARE(buffer.size(), 0);
    QCOMPARE(buffer.getWatchFrame(0).text.index, QString("-1"));

    add(buffer, frame(3));
    buffer.setHideSendFrame(true);
    buffer.reset(); // like a change of maximum, but the maximum and switches stay
    QCOMPARE(buffer.count(), 0);
    QCOMPARE(buffer.countW(), 0);
    QCOMPARE(buffer.frames(), 0);
    QCOMPARE(buffer.getMaxCount(), 100);
    QVERIFY(buffer.getHideSendFrame());
}

void tst_KvBuffer::clearKeepsTotals()
{
    KvBuffer buffer;
    KvGlobalSet::instance().watch = true;
    add(buffer, frame(1, "\x01"));
    add(buffer, frame(2));
    buffer.clear();
    QCOMPARE(buffer.count(), 0);
    QCOMPARE(buffer.frames(), 2);
    QCOMPARE(buffer.size(), 96);
    QCOMPARE(buffer.countW(), 2);
}

void tst_KvBuffer::readsOutsideTheListAreEmpty()
{
    KvBuffer buffer;
    QCOMPARE(columns(buffer.getFrame(0)), Empty);
    add(buffer, frame(1));
    add(buffer, frame(2));
    QCOMPARE(columns(buffer.getFrame(buffer.count())), Empty);
    QCOMPARE(columns(buffer.getFrame(-1)), Empty);
    QCOMPARE(columns(buffer.getFrame(INT_MAX)), Empty);
}

void tst_KvBuffer::texts_data()
{
    QTest::addColumn<bool>("send");
    QTest::addColumn<quint32>("id");
    QTest::addColumn<quint32>("stamp");
    QTest::addColumn<int>("ext");
    QTest::addColumn<int>("remote");
    QTest::addColumn<int>("dataLen");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("texts"); // the thirteen columns

    const QByteArray bytes("\x01\xA2\xFF\x00\x10\x20\x30\x40", 8);
    QTest::newRow("received standard data frame")
        << false << 0x123u << 0x1F40u << 0 << 0 << 3 << bytes
        << QStringList{"",  "00000123 ", "", "0x1F40", "09:05:03:007", "", "", "Data", "Standard",
                       "3", "01 A2 FF",  "", "Rx"};
    QTest::newRow("transmitted extended remote frame")
        << true << 0x1FFFFFFFu << 0u << 1 << 1 << 0 << bytes
        << QStringList{"",  "1FFFFFFF ", "", "NULL", "09:05:03:007", "", "", "Remote", "Extend",
                       "0", "",          "", "Tx"};
    QTest::newRow("no data byte") << false << 0x7u << 0xFFFFFFFFu << 0 << 0 << 0 << bytes
                                  << QStringList{
                                         "", "00000007 ", "",     "0xFFFFFFFF", "09:05:03:007",
                                         "", "",          "Data", "Standard",   "0",
                                         "", "",          "Rx"};
    QTest::newRow("length beyond eight shows eight bytes")
        << false << 0x0u << 0xAu << 0 << 0 << 12 << bytes
        << QStringList{"",
                       "00000000 ",
                       "",
                       "0xA",
                       "09:05:03:007",
                       "",
                       "",
                       "Data",
                       "Standard",
                       "12",
                       "01 A2 FF 00 10 20 30 40",
                       "",
                       "Rx"};
    QTest::newRow("only flag value 1 names remote and extended")
        << false << 0x55u << 0x1u << 2 << 2 << 1 << bytes
        << QStringList{"",  "00000055 ", "", "0x1", "09:05:03:007", "", "", "Data", "Standard",
                       "1", "01",        "", "Rx"};
}

void tst_KvBuffer::texts()
{
    QFETCH(bool, send);
    QFETCH(quint32, id);
    QFETCH(quint32, stamp);
    QFETCH(int, ext);
    QFETCH(int, remote);
    QFETCH(int, dataLen);
    QFETCH(QByteArray, data);
    QFETCH(QStringList, texts);

    KvCanObj record;
    record.send = send;
    record.hour = 9;
    record.minute = 5;
    record.second = 3;
    record.msec = 7;
    record.frame.ID = id;
    record.frame.TimeStamp = stamp;
    record.frame.ExternFlag = quint8(ext);
    record.frame.RemoteFlag = quint8(remote);
    record.frame.DataLen = quint8(dataLen);
    std::memcpy(record.frame.Data, data.constData(), 8);
    QCOMPARE(columns(KvBuffer::analyseData(record)), texts);
}

void tst_KvBuffer::getFrameSetsIndex()
{
    KvBuffer buffer;
    add(buffer, frame(0x123, "\x01\xA2\xFF", 0, 0, 0x1F40));
    add(buffer, frame(0x321, QByteArray(), 1, 1, 0), true);
    const CanObjStr first = buffer.getFrame(0);
    QCOMPARE(first.index, QString("0"));
    QCOMPARE(first.id, QString("00000123 "));
    QCOMPARE(first.timeStamp, QString("0x1F40"));
    QCOMPARE(first.data, QString("01 A2 FF"));
    QCOMPARE(first.direction, QString("Rx"));
    const CanObjStr second = buffer.getFrame(1);
    QCOMPARE(second.index, QString("1"));
    QCOMPARE(second.timeStamp, QString("NULL"));
    QCOMPARE(second.direction, QString("Tx"));
    QCOMPARE(second.frameType, QString("Remote"));
}

void tst_KvBuffer::isSendFrame()
{
    VCI_CAN_OBJ sent = frame(1, QByteArray(), 0, 0, 0);
    VCI_CAN_OBJ received = frame(1, QByteArray(), 0, 0, 1);
    QVERIFY(KvBuffer::isSendFrame(&sent));
    QVERIFY(!KvBuffer::isSendFrame(&received));
    QVERIFY(!KvBuffer::isSendFrame(nullptr));
}

void tst_KvBuffer::totalsWrapAround()
{
    KvBuffer buffer;
    buffer.addSize(INT_MAX);
    QCOMPARE(buffer.size(), INT_MAX);
    add(buffer, frame(1)); // 44 bits
    QCOMPARE(buffer.size(), INT_MIN + 43);
    buffer.addSize(-10);
    QCOMPARE(buffer.size(), INT_MIN + 33);
    buffer.reset();
    QCOMPARE(buffer.size(), 0);
}

void tst_KvBuffer::stampIsHostLocalTime_data()
{
    QTest::addColumn<QByteArray>("zone"); // POSIX zone for this row
    QTest::newRow("UTC") << QByteArray("UTC0");
    QTest::newRow("UTC+05:45") << QByteArray("KVT-5:45");
    QTest::newRow("UTC-09:30") << QByteArray("KVM9:30");
}

void tst_KvBuffer::stampIsHostLocalTime()
{
    QFETCH(QByteArray, zone);
    const QByteArray oldZone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", zone);
    tzset();
    // A zone change applies from the next second of the wall clock.
    const QDateTime changed = QDateTime::currentDateTimeUtc();
    QTRY_VERIFY_WITH_TIMEOUT(
        QDateTime::currentDateTimeUtc().toSecsSinceEpoch() > changed.toSecsSinceEpoch(), 3000);

    KvBuffer buffer;
    // Each pass stores frames from this thread (a cached second) and from a new thread (a fresh
    // reading); both must fall between two readings of the local clock.
    for (int pass = 0; pass < 3; ++pass) {
        const int before = QTime::currentTime().msecsSinceStartOfDay();
        add(buffer, frame(1));
        std::thread other([&buffer] { add(buffer, frame(2)); });
        other.join();
        const int after = QTime::currentTime().msecsSinceStartOfDay();
        if (after < before)
            continue; // midnight passed between the readings
        for (int i = buffer.count() - 2; i < buffer.count(); ++i) {
            const int stamp = msOfDay(buffer.getFrame(i));
            QVERIFY2(before <= stamp && stamp <= after,
                     qPrintable(QString("%1 <= %2 <= %3").arg(before).arg(stamp).arg(after)));
        }
        QTest::qWait(300); // the next pass reads in another second, or at least later
    }

    if (hadZone)
        qputenv("TZ", oldZone);
    else
        qunsetenv("TZ");
    tzset();
}

// ---- Watch list --------------------------------------------------------------------------------

void tst_KvBuffer::watchChangedBits()
{
    KvGlobalSet::instance().watch = true;
    KvBuffer buffer;
    add(buffer, frame(0x123, QByteArray("\x10\x11\x12\x13", 4)));
    QCOMPARE(buffer.countW(), 1);
    QCOMPARE(buffer.getWatchFrame(0).changed, QBitArray(8));

    add(buffer, frame(0x123, QByteArray("\x10\x11\x99\x13", 4)));
    QBitArray expected(8);
    expected.setBit(2);
    QCOMPARE(buffer.countW(), 1);
    QCOMPARE(buffer.getWatchFrame(0).changed, expected);
    QCOMPARE(buffer.getWatchFrame(0).text.data, QString("10 11 99 13"));

    add(buffer, frame(0x123, QByteArray("\x10\x11\x99\x13", 4)));
    QCOMPARE(buffer.getWatchFrame(0).changed, expected);

    add(buffer, frame(0x123, QByteArray("\x10\x11\x12\x13", 4), 0, 0, 0), true);
    const KvCanObjWatchStr latest = buffer.getWatchFrame(0);
    QCOMPARE(latest.changed, expected);             // changing back keeps the bit, sets no other
    QCOMPARE(latest.text.direction, QString("Tx")); // the record was replaced as a whole
}

void tst_KvBuffer::watchComparesAllEightBytes()
{
    KvGlobalSet::instance().watch = true;
    KvBuffer buffer;
    VCI_CAN_OBJ f = frame(0x40, QByteArray(8, '\0'));
    add(buffer, f);
    f.DataLen = 2;
    f.Data[6] = 0x66; // beyond DataLen, still compared
    add(buffer, f);
    QBitArray expected(8);
    expected.setBit(6);
    QCOMPARE(buffer.getWatchFrame(0).changed, expected);
    QCOMPARE(buffer.getWatchFrame(0).text.dataLen, QString("2"));
}

void tst_KvBuffer::watchDropsFirstBeyondMaximum()
{
    KvGlobalSet::instance().watch = true;
    ProbeBuffer buffer;
    buffer.setMaxCount(2);
    add(buffer, frame(0xA, "\x01"));
    add(buffer, frame(0xB, "\x01"));
    add(buffer, frame(0xC, "\x01"));
    QCOMPARE(watchIds(buffer), QStringList({hexId(0xB), hexId(0xC)}));
    QCOMPARE(buffer.findWatchFrame(0xA), -1);
    QCOMPARE(buffer.findWatchFrame(0xB), 0);
    QCOMPARE(buffer.findWatchFrame(0xC), 1);

    add(buffer, frame(0xB, "\x02")); // found at its new position after the drop
    QCOMPARE(buffer.countW(), 2);
    QVERIFY(buffer.getWatchFrame(0).changed.testBit(0));
    QCOMPARE(buffer.getWatchFrame(0).text.data, QString("02"));

    add(buffer, frame(0xD));
    QCOMPARE(watchIds(buffer), QStringList({hexId(0xC), hexId(0xD)}));
    QCOMPARE(buffer.findWatchFrame(0xD), 1);
}

void tst_KvBuffer::watchSwitchOffLeavesListAlone()
{
    KvBuffer buffer;
    KvGlobalSet &settings = KvGlobalSet::instance();
    add(buffer, frame(1, "\x01"));
    QCOMPARE(buffer.countW(), 0);
    settings.onWatch();
    add(buffer, frame(1, "\x01"));
    settings.onWatch();
    add(buffer, frame(1, "\x02"));
    add(buffer, frame(2));
    QCOMPARE(buffer.countW(), 1);
    QCOMPARE(buffer.getWatchFrame(0).changed, QBitArray(8));
    QCOMPARE(buffer.getWatchFrame(0).text.data, QString("01"));
}

void tst_KvBuffer::watchReadsOutsideList()
{
    KvGlobalSet::instance().watch = true;
    KvBuffer buffer;
    for (int position : {0, -1}) {
        const KvCanObjWatchStr none = buffer.getWatchFrame(position);
        QCOMPARE(none.text.index, QString("-1"));
        QCOMPARE(columns(none.text).mid(1), Empty.mid(1));
        QCOMPARE(none.changed, QBitArray(8));
    }
    add(buffer, frame(0x5));
    QCOMPARE(buffer.getWatchFrame(0).text.index, QString("0"));
    QCOMPARE(buffer.getWatchFrame(buffer.countW()).text.index, QString("-1"));
    buffer.clearW();
    QCOMPARE(buffer.countW(), 0);
    QCOMPARE(buffer.count(), 1);
    add(buffer, frame(0x6));
    QCOMPARE(watchIds(buffer), QStringList({hexId(0x6)}));
}

void tst_KvBuffer::watchSharesStandardAndExtended()
{
    KvGlobalSet::instance().watch = true;
    KvBuffer buffer;
    add(buffer, frame(0x10, "\x01", 0));
    add(buffer, frame(0x10, "\x02", 1));
    QCOMPARE(buffer.countW(), 1);
    QCOMPARE(buffer.getWatchFrame(0).text.frameFormat, QString("Extend"));
}

// Random traffic against the plain list the watch list must behave as: first-seen order, a
// linear search by identifier, the first record dropped beyond the maximum.
void tst_KvBuffer::watchMatchesPlainListModel()
{
    struct Model
    {
        quint32 id;
        QBitArray changed;
        QByteArray data;
    };
    KvGlobalSet::instance().watch = true;
    std::mt19937 random(27930);
    for (int round = 0; round < 4; ++round) {
        const int maxCount = 5 + 20 * round;
        ProbeBuffer buffer;
        buffer.setMaxCount(maxCount);
        QList<Model> model;
        for (int step = 0; step < 4000; ++step) {
            if (step == 2500) {
                buffer.clearW();
                model.clear();
            }
            const quint32 id = random() % quint32(maxCount * 2);
            QByteArray data(8, '\0');
            data[int(random() % 8)] = char(random() % 3);
            add(buffer, frame(id, data));

            int at = -1;
            for (int i = 0; i < model.size(); ++i) {
                if (model[i].id == id)
                    at = i;
            }
            if (at < 0) {
                model.append({id, QBitArray(8), data});
                if (model.size() > maxCount)
                    model.removeFirst();
            } else {
                for (int b = 0; b < 8; ++b) {
                    if (model[at].data[b] != data[b])
                        model[at].changed.setBit(b);
                }
                model[at].data = data;
            }
            QCOMPARE(buffer.findWatchFrame(id), at < 0 ? model.size() - 1 : at);
        }
        QCOMPARE(buffer.countW(), model.size());
        for (int i = 0; i < model.size(); ++i) {
            const KvCanObjWatchStr got = buffer.getWatchFrame(i);
            QCOMPARE(got.text.id.trimmed(), hexId(model[i].id));
            QCOMPARE(got.changed, model[i].changed);
            QCOMPARE(buffer.findWatchFrame(model[i].id), i);
        }
    }
}

void tst_KvBuffer::watchCostDoesNotGrowWithIdentifiers()
{
    KvGlobalSet::instance().watch = true;
    constexpr int Frames = 200000;
    auto cost = [](quint32 identifiers) {
        qint64 best = std::numeric_limits<qint64>::max();
        for (int run = 0; run < 3; ++run) {
            KvBuffer buffer;
            buffer.setMaxCount(10000);
            VCI_CAN_OBJ batch[32];
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < Frames; i += 32) {
                for (int k = 0; k < 32; ++k)
                    batch[k] = frame(quint32(i + k) % identifiers, "\x01\x02\x03");
                buffer.addFrame(batch, 32, false);
            }
            best = qMin(best, clock.nsecsElapsed());
        }
        return best;
    };
    const qint64 few = cost(5);
    const qint64 many = cost(5000);
    // A linear search would make 5,000 identifiers cost hundreds of times more; the band only
    // allows for cache effects and a busy machine.
    QVERIFY2(many < 4 * few, qPrintable(QString("5 ids: %1 ns/frame, 5000 ids: %2 ns/frame")
                                            .arg(few / Frames)
                                            .arg(many / Frames)));
}

// ---- Save queue --------------------------------------------------------------------------------

void tst_KvBuffer::saveQueueLabelsByNumber()
{
    KvGlobalSet::instance().channelSets[2].rtSave = true;
    KvBuffer buffer;
    buffer.setChannel(2);
    for (quint32 id = 1; id <= 5; ++id)
        add(buffer, frame(id));
    QCOMPARE(buffer.countRt(), 5);

    const CanObjStr oldest = buffer.getRtSaveFrame(7);
    QCOMPARE(oldest.index, QString("7"));
    QCOMPARE(oldest.id, QString("00000001 "));
    QCOMPARE(buffer.countRt(), 4);
    QCOMPARE(buffer.getRtSaveFrame(0).id, QString("00000002 "));
    QCOMPARE(buffer.count(), 5); // draining the queue leaves the display list
}

void tst_KvBuffer::saveQueueEmptyReadAndSwitchOff()
{
    KvGlobalSet &settings = KvGlobalSet::instance();
    KvBuffer buffer;
    buffer.setChannel(1);
    QCOMPARE(columns(buffer.getRtSaveFrame(3)), Empty);
    add(buffer, frame(1));
    QCOMPARE(buffer.countRt(), 0); // flag off
    settings.channelSets[1].rtSave = true;
    add(buffer, frame(2));
    add(buffer, frame(3, QByteArray(), 0, 0, 0), true);
    settings.channelSets[1].rtSave = false;
    add(buffer, frame(4));
    QCOMPARE(buffer.countRt(), 2);
    QCOMPARE(buffer.getRtSaveFrame(1).id, QString("00000002 "));
    QCOMPARE(buffer.getRtSaveFrame(2).direction, QString("Tx"));
    QCOMPARE(columns(buffer.getRtSaveFrame(3)), Empty);

    settings.channelSets[0].rtSave = true; // a stray channel has no save flag
    buffer.setChannel(9);
    add(buffer, frame(5));
    QCOMPARE(buffer.countRt(), 0);
    QCOMPARE(buffer.count(), 5);
}

void tst_KvBuffer::droppedFramesReachNeitherList()
{
    KvGlobalSet &settings = KvGlobalSet::instance();
    settings.watch = true;
    settings.channelSets[0].rtSave = true;
    KvIdFilterMannger::instance(0).setFilterMode(2); // empty only-receive list: drop received
    KvBuffer buffer;
    buffer.setHideSendFrame(true);
    add(buffer, frame(1));
    add(buffer, frame(2, QByteArray(), 0, 0, 0), true);
    QCOMPARE(buffer.frames(), 2);
    QCOMPARE(buffer.countW(), 0);
    QCOMPARE(buffer.countRt(), 0);
}

// ---- Side queues and error log -------------------------------------------------------------

void tst_KvBuffer::dbcQueuePeeks()
{
    KvBuffer buffer;
    VCI_CAN_OBJ out = frame(0xEE);
    QVERIFY(!buffer.DBCFrame(out));
    QCOMPARE(out.ID, 0xEEu); // untouched

    VCI_CAN_OBJ three[] = {frame(1), frame(2), frame(3)};
    QCOMPARE(buffer.addDBCFrame(three, 0), 0);
    QVERIFY(!buffer.DBCFrame(out));
    QCOMPARE(buffer.addDBCFrame(three, 3), 3);
    QVERIFY(buffer.DBCFrame(out));
    QCOMPARE(out.ID, 1u);
    QVERIFY(buffer.DBCFrame(out));
    QCOMPARE(out.ID, 1u);
    buffer.ClearDBC();
    QVERIFY(!buffer.DBCFrame(out));

    buffer.setDBCRun(true);
    QVERIFY(buffer.DBCRun());
    QCOMPARE(buffer.count(), 0); // the side queue is apart from the display list
}

void tst_KvBuffer::gbtQueueTakesExtendedOnly()
{
    KvBuffer buffer;
    VCI_CAN_OBJ batch[] = {frame(1, "", 0), frame(2, "", 1), frame(3, "", 0), frame(4, "", 1)};
    QCOMPARE(buffer.addGBT27930Frame(batch, 4), 4);
    VCI_CAN_OBJ out{};
    QVERIFY(buffer.GBT27930Frame(out));
    QCOMPARE(out.ID, 2u);
    QVERIFY(buffer.GBT27930Frame(out));
    QCOMPARE(out.ID, 4u);
    QVERIFY(!buffer.GBT27930Frame(out));
    QCOMPARE(out.ID, 4u);

    buffer.addGBT27930Frame(batch, 4);
    buffer.ClearGBT27930();
    QVERIFY(!buffer.GBT27930Frame(out));
    buffer.setGBT27930Run(true);
    QVERIFY(buffer.GBT27930Run());
}

void tst_KvBuffer::gbtDelete()
{
    KvBuffer buffer;
    QVERIFY(!buffer.DeleteGBT27930Frame());
    VCI_CAN_OBJ one = frame(0x18FF50E5, "\x01", 1);
    buffer.addGBT27930Frame(&one, 1);
    QVERIFY(buffer.DeleteGBT27930Frame());
    VCI_CAN_OBJ out{};
    QVERIFY(!buffer.GBT27930Frame(out));
    QVERIFY(!buffer.DeleteGBT27930Frame());
}

void tst_KvBuffer::sideQueuesCarrySomeFields()
{
    KvBuffer buffer;
    VCI_CAN_OBJ in = frame(0x18FF50E5, "\x01\x02\x03\x04\x05\x06\x07\x08", 1, 0, 0x1234);
    in.TimeFlag = 1;
    in.SendType = 2;
    in.Reserved[0] = 9;
    in.Reserved[2] = 9;
    buffer.addDBCFrame(&in, 1);
    buffer.addGBT27930Frame(&in, 1);

    VCI_CAN_OBJ expected = in;
    expected.TimeFlag = 0;
    expected.SendType = 0;
    std::memset(expected.Reserved, 0, sizeof expected.Reserved);
    VCI_CAN_OBJ dbc{}, gbt{};
    QVERIFY(buffer.DBCFrame(dbc));
    QVERIFY(buffer.GBT27930Frame(gbt));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(&dbc), 24),
             QByteArray(reinterpret_cast<char *>(&expected), 24));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(&gbt), 24),
             QByteArray(reinterpret_cast<char *>(&expected), 24));
}

void tst_KvBuffer::errorLogInOrder()
{
    KvBuffer buffer;
    VCI_ERR_INFO out{};
    out.ErrCode = 0x77;
    QVERIFY(!buffer.getErrorData(out));
    QCOMPARE(out.ErrCode, 0x77u);
    for (quint32 code : {1u, 2u, 0x400u}) {
        VCI_ERR_INFO info{};
        info.ErrCode = code;
        info.Passive_ErrData[1] = 0x5A;
        info.ArLost_ErrData = quint8(code);
        buffer.addErrorData(info);
    }
    for (quint32 code : {1u, 2u, 0x400u}) {
        QVERIFY(buffer.getErrorData(out));
        QCOMPARE(out.ErrCode, code);
        QCOMPARE(out.Passive_ErrData[1], quint8(0x5A));
        QCOMPARE(out.ArLost_ErrData, quint8(code));
    }
    QVERIFY(!buffer.getErrorData(out));
}

void tst_KvBuffer::resetLeavesSideQueues()
{
    KvBuffer buffer;
    VCI_CAN_OBJ f = frame(1, "", 1);
    VCI_ERR_INFO info{};
    buffer.addDBCFrame(&f, 1);
    buffer.addGBT27930Frame(&f, 1);
    buffer.addErrorData(info);
    buffer.reset();
    buffer.clear();
    buffer.setMaxCount(5);
    VCI_CAN_OBJ out{};
    QVERIFY(buffer.DBCFrame(out));
    QVERIFY(buffer.GBT27930Frame(out));
    QVERIFY(buffer.getErrorData(info));
}

void tst_KvBuffer::instancePerChannelAndSpare()
{
    QSet<KvBuffer *> buffers;
    for (int c = 0; c < 4; ++c)
        buffers.insert(&KvBuffer::instance(c));
    QCOMPARE(buffers.size(), 4);
    QCOMPARE(&KvBuffer::instance(1), &KvBuffer::instance(1));
    KvBuffer &spare = KvBuffer::instance(4);
    QVERIFY(!buffers.contains(&spare));
    QCOMPARE(&KvBuffer::instance(-5), &spare);
    VCI_CAN_OBJ f = frame(1);
    spare.setChannel(4);
    QCOMPARE(spare.addFrame(&f, 1, false), 1);
    spare.reset();
}

QTEST_GUILESS_MAIN(tst_KvBuffer)
#include "tst_kvbuffer.moc"
