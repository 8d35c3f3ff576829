#include "canobjstr.h"
#include "kvcanobj.h"
#include "kvcanobjstrqueue.h"
#include "kvcanobjwatch.h"
#include "kvcanobjwatchstr.h"

#include <QtTest/QtTest>

namespace {

// The thirteen columns in field order.
QStringList columns(const CanObjStr &s)
{
    return {s.index,     s.id,          s.spare1,  s.timeStamp, s.systemTime, s.spare2,   s.spare3,
            s.frameType, s.frameFormat, s.dataLen, s.data,      s.spare4,     s.direction};
}

CanObjStr filled(const QString &tag)
{
    CanObjStr s;
    s.index = tag + "index";
    s.id = tag + "id";
    s.spare1 = tag + "spare1";
    s.timeStamp = tag + "timeStamp";
    s.systemTime = tag + "systemTime";
    s.spare2 = tag + "spare2";
    s.spare3 = tag + "spare3";
    s.frameType = tag + "frameType";
    s.frameFormat = tag + "frameFormat";
    s.dataLen = tag + "dataLen";
    s.data = tag + "data";
    s.spare4 = tag + "spare4";
    s.direction = tag + "direction";
    return s;
}

} // namespace

class tst_DisplayRecords : public QObject
{
    Q_OBJECT
private slots:
    void emptyTextRecordCopiesEmpty();
    void assignmentCopiesEveryColumnKeepsParent();
    void copyHasNoParent();
    void watchRecordsStartWithEightClearBits();
    void watchTextCopiesBitsAndTexts();
    void queueEmptyAfterConstructionAndClear();
    void queueCopyKeepsOrderAndIsIndependent();
    void queueAtOutsideRangeIsEmpty_data();
    void queueAtOutsideRangeIsEmpty();
    void queueTravelsAsMetaType();
};

void tst_DisplayRecords::emptyTextRecordCopiesEmpty()
{
    const CanObjStr fresh;
    const CanObjStr copy(fresh);
    CanObjStr assigned = filled("x");
    assigned = fresh;
    const QStringList empty = QVector<QString>(13).toList();
    QCOMPARE(columns(fresh), empty);
    QCOMPARE(columns(copy), empty);
    QCOMPARE(columns(assigned), empty);
}

void tst_DisplayRecords::assignmentCopiesEveryColumnKeepsParent()
{
    QObject owner;
    CanObjStr target(&owner);
    const CanObjStr source = filled("a");
    CanObjStr &result = (target = source);
    QCOMPARE(&result, &target);
    QCOMPARE(columns(target), columns(source));
    QCOMPARE(target.parent(), &owner);
}

void tst_DisplayRecords::copyHasNoParent()
{
    QObject owner;
    CanObjStr source(&owner);
    source.spare4 = "kept";
    const CanObjStr copy(source);
    QCOMPARE(copy.parent(), static_cast<QObject *>(nullptr));
    QCOMPARE(copy.spare4, QString("kept"));
}

void tst_DisplayRecords::watchRecordsStartWithEightClearBits()
{
    const KvCanObjWatch watch;
    const KvCanObjWatchStr text;
    QCOMPARE(watch.changed, QBitArray(8));
    QCOMPARE(text.changed, QBitArray(8));
    QCOMPARE(columns(text.text), QVector<QString>(13).toList());
}

void tst_DisplayRecords::watchTextCopiesBitsAndTexts()
{
    KvCanObjWatchStr source;
    source.changed.setBit(5);
    source.text = filled("w");
    KvCanObjWatchStr assigned;
    assigned = source;
    const KvCanObjWatchStr copy(source);
    source.changed.setBit(1);
    QCOMPARE(columns(assigned.text), columns(filled("w")));
    QCOMPARE(columns(copy.text), columns(filled("w")));
    QVERIFY(copy.changed.testBit(5));
    QVERIFY(!copy.changed.testBit(1));

    KvCanObjWatch watch;
    watch.frame.frame.ID = 0x7FF;
    watch.changed.setBit(0);
    const KvCanObjWatch watchCopy(watch);
    QCOMPARE(watchCopy.frame.frame.ID, 0x7FFu);
    QVERIFY(watchCopy.changed.testBit(0));
}

void tst_DisplayRecords::queueEmptyAfterConstructionAndClear()
{
    KvCanObjStrQueue queue;
    QVERIFY(queue.isEmpty());
    queue.queue.enqueue(filled("1"));
    QCOMPARE(queue.size(), 1);
    QVERIFY(!queue.isEmpty());
    queue.clear();
    QVERIFY(queue.isEmpty());
}

void tst_DisplayRecords::queueCopyKeepsOrderAndIsIndependent()
{
    KvCanObjStrQueue queue;
    queue.queue.enqueue(filled("1"));
    queue.queue.enqueue(filled("2"));
    KvCanObjStrQueue copy(queue);
    KvCanObjStrQueue assigned;
    assigned = queue;
    copy.queue.enqueue(filled("3"));
    QCOMPARE(copy.size(), 3);
    QCOMPARE(queue.size(), 2);
    QCOMPARE(assigned.size(), 2);
    QCOMPARE(copy.at(0).id, QString("1id"));
    QCOMPARE(copy.at(1).id, QString("2id"));
    QCOMPARE(assigned.at(1).direction, QString("2direction"));
}

void tst_DisplayRecords::queueAtOutsideRangeIsEmpty_data()
{
    QTest::addColumn<int>("position");
    QTest::newRow("before the first") << -1;
    QTest::newRow("just past the last") << 2;
    QTest::newRow("far past the last") << 1000;
}

void tst_DisplayRecords::queueAtOutsideRangeIsEmpty()
{
    QFETCH(int, position);
    KvCanObjStrQueue queue;
    queue.queue.enqueue(filled("1"));
    queue.queue.enqueue(filled("2"));
    QCOMPARE(columns(queue.at(position)), QVector<QString>(13).toList());
}

void tst_DisplayRecords::queueTravelsAsMetaType()
{
    qRegisterMetaType<CanObjStrQueue>();
    CanObjStrQueue queue;
    queue.enqueue(filled("m"));
    const QVariant carried = QVariant::fromValue(queue);
    QCOMPARE(carried.value<CanObjStrQueue>().size(), 1);
    QCOMPARE(carried.value<CanObjStrQueue>().head().data, QString("mdata"));
}

QTEST_GUILESS_MAIN(tst_DisplayRecords)
#include "tst_displayrecords.moc"
