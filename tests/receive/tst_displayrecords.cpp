#include "canobjstr.h"
#include "kvcanobjstrqueue.h"
#include "kvcanobjwatch.h"
#include "kvcanobjwatchstr.h"

#include <QtTest/QtTest>

namespace {

QStringList columns(const CanObjStr &s)
{
    return {s.index,     s.id,          s.spare1,  s.timeStamp, s.systemTime, s.spare2,   s.spare3,
            s.frameType, s.frameFormat, s.dataLen, s.data,      s.spare4,     s.direction};
}

CanObjStr filled(const QString &tag)
{
    CanObjStr s;
    QString *fields[] = {&s.index,  &s.id,     &s.spare1,    &s.timeStamp,   &s.systemTime,
                         &s.spare2, &s.spare3, &s.frameType, &s.frameFormat, &s.dataLen,
                         &s.data,   &s.spare4, &s.direction};
    for (int i = 0; i < 13; ++i)
        *fields[i] = tag + QString::number(i);
    return s;
}

const QStringList Empty = QVector<QString>(13).toList();

} // namespace

class tst_DisplayRecords : public QObject
{
    Q_OBJECT
private slots:
    void recordsCopyAsValues();
    void textQueue();
};

// Copies carry every column (the spare ones too) and the changed bits, never the parent, and
// share nothing with their source afterwards.
void tst_DisplayRecords::recordsCopyAsValues()
{
    QObject owner;
    CanObjStr target(&owner);
    QCOMPARE(columns(target), Empty);
    CanObjStr &result = (target = filled("a"));
    QCOMPARE(&result, &target);
    QCOMPARE(columns(target), columns(filled("a")));
    QCOMPARE(target.parent(), &owner);
    const CanObjStr copy(target);
    QCOMPARE(copy.parent(), static_cast<QObject *>(nullptr));
    QCOMPARE(columns(copy), columns(filled("a")));
    target = CanObjStr();
    QCOMPARE(columns(target), Empty);

    QCOMPARE(KvCanObjWatch().changed, QBitArray(8));
    KvCanObjWatchStr text;
    QCOMPARE(text.changed, QBitArray(8));
    text.changed.setBit(5);
    text.text = filled("w");
    KvCanObjWatchStr watchCopy;
    watchCopy = text;
    text.changed.setBit(1);
    QCOMPARE(columns(watchCopy.text), columns(filled("w")));
    QVERIFY(watchCopy.changed.testBit(5) && !watchCopy.changed.testBit(1));
}

void tst_DisplayRecords::textQueue()
{
    KvCanObjStrQueue queue;
    QVERIFY(queue.isEmpty());
    queue.queue << filled("1") << filled("2");
    KvCanObjStrQueue copy(queue);
    copy.queue << filled("3");
    QCOMPARE(queue.size(), 2);
    QCOMPARE(copy.size(), 3);
    QCOMPARE(copy.at(1).id, QString("21"));
    QCOMPARE(columns(copy.at(-1)), Empty);
    QCOMPARE(columns(copy.at(3)), Empty);
    copy.clear();
    QVERIFY(copy.isEmpty());
    QCOMPARE(queue.size(), 2);
}

QTEST_GUILESS_MAIN(tst_DisplayRecords)
#include "tst_displayrecords.moc"
