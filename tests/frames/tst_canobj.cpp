#include "candata.h"
#include "canobj.h"

#include <QtTest/QtTest>

class tst_CanObj : public QObject
{
    Q_OBJECT
private slots:
    void defaultIsAllZero();
    void copyCarriesFieldsAndMarksButNoParent();
    void transmitRecordDropsMarks();
    void queueIsFifo();
    void queueCopiesAreIndependent();
    void popOnEmptyQueueGivesDefaultFrame();
};

static CanObj frame(quint32 id, quint8 len)
{
    CanObj f;
    f.ID = id;
    f.DataLen = len;
    for (int i = 0; i < 8; ++i)
        f.Data[i] = quint8(id + i);
    return f;
}

void tst_CanObj::defaultIsAllZero()
{
    const CanObj f;
    QCOMPARE(f.ID, 0u);
    QCOMPARE(f.TimeStamp, 0u);
    QCOMPARE(f.DataLen, quint8(0));
    for (quint8 b : f.Data)
        QCOMPARE(b, quint8(0));
    QCOMPARE(f.UserData, 0u);
    QCOMPARE(f.UserFlag + f.TailFlag + f.BatchEndFlag, 0);
}

void tst_CanObj::copyCarriesFieldsAndMarksButNoParent()
{
    QObject owner;
    CanObj source(&owner);
    source.ID = 0x1ABCDEF0;
    source.TimeStamp = 99;
    source.ExternFlag = 1;
    source.Reserved[2] = 7;
    source.Data[7] = 0xEE;
    source.UserData = 7;
    source.TailFlag = 1;
    source.BatchEndFlag = 1;

    const CanObj copy(source);
    QCOMPARE(copy.parent(), nullptr);
    QCOMPARE(copy.ID, source.ID);
    QCOMPARE(copy.TimeStamp, 99u);
    QCOMPARE(copy.Reserved[2], quint8(7));
    QCOMPARE(copy.Data[7], quint8(0xEE));
    QCOMPARE(copy.UserData, 7u);
    QCOMPARE(copy.TailFlag, quint8(1));
    QCOMPARE(copy.BatchEndFlag, quint8(1));

    QObject otherOwner;
    CanObj target(&otherOwner);
    target = source;
    QCOMPARE(target.parent(), &otherOwner);
    QCOMPARE(target.UserData, 7u);
    QCOMPARE(target.ExternFlag, quint8(1));
}

void tst_CanObj::transmitRecordDropsMarks()
{
    CanObj f = frame(0x123, 3);
    f.TimeStamp = 55;
    f.TimeFlag = 1;
    f.Reserved[0] = 9;
    f.SendType = 2;
    f.RemoteFlag = 1;
    const VCI_CAN_OBJ r = f.toTransmit();
    QCOMPARE(r.ID, 0x123u);
    QCOMPARE(r.TimeStamp, 0u);
    QCOMPARE(r.TimeFlag, quint8(0));
    QCOMPARE(r.Reserved[0], quint8(0));
    QCOMPARE(r.SendType, quint8(2));
    QCOMPARE(r.RemoteFlag, quint8(1));
    QCOMPARE(r.DataLen, quint8(3));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(r.Data), 8),
             QByteArray(reinterpret_cast<const char *>(f.Data), 8));
}

void tst_CanObj::queueIsFifo()
{
    CanData q;
    for (quint32 id = 1; id <= 3; ++id)
        q.push(frame(id, 1));
    QCOMPARE(q.size(), 3);
    QCOMPARE(q.at(0).ID, 1u);
    for (quint32 id = 1; id <= 3; ++id)
        QCOMPARE(q.pop().ID, id);
    QVERIFY(q.isEmpty());
}

void tst_CanObj::queueCopiesAreIndependent()
{
    CanData source;
    source.push(frame(1, 1));
    source.push(frame(2, 1));

    CanData copy(source);
    copy.push(frame(3, 1));
    QCOMPARE(source.size(), 2);
    QCOMPARE(copy.pop().ID, 1u);
    QCOMPARE(source.at(0).ID, 1u);

    CanData assigned;
    assigned = source;
    assigned.clear();
    QCOMPARE(source.size(), 2);
}

void tst_CanObj::popOnEmptyQueueGivesDefaultFrame()
{
    CanData q;
    const CanObj f = q.pop();
    QCOMPARE(f.ID, 0u);
    QCOMPARE(f.DataLen, quint8(0));
    QVERIFY(q.isEmpty());
}

QTEST_GUILESS_MAIN(tst_CanObj)
#include "tst_canobj.moc"
