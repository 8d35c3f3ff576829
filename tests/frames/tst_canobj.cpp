#include "candata.h"
#include "canobj.h"

#include <QtTest/QtTest>

#include <cstring>

namespace {

CanObj frame(quint32 id, quint8 len = 1)
{
    CanObj f;
    f.ID = id;
    f.DataLen = len;
    for (int i = 0; i < 8; ++i)
        f.Data[i] = quint8(id + i);
    return f;
}

template <typename T> QByteArray bytes(const T *p, int n)
{
    return QByteArray(reinterpret_cast<const char *>(p), n);
}

// Every field and mark, so a copy that forgets one shows which.
QVariantList fields(const CanObj &f)
{
    return {f.ID,         f.TimeStamp, f.TimeFlag,       f.SendType,           f.RemoteFlag,
            f.ExternFlag, f.DataLen,   bytes(f.Data, 8), bytes(f.Reserved, 3), f.UserData,
            f.UserFlag,   f.TailFlag,  f.BatchEndFlag};
}

} // namespace

class tst_CanObj : public QObject
{
    Q_OBJECT
private slots:
    void copyCarriesFieldsAndMarksButNoParent();
    void transmitRecordDropsMarks();
    void queue();
};

void tst_CanObj::copyCarriesFieldsAndMarksButNoParent()
{
    QObject owner, otherOwner;
    CanObj source(&owner);
    source = frame(0x1ABCDEF0, 8);
    // Each field a value of its own, none of them the default.
    source.TimeStamp = 99;
    source.TimeFlag = 2;
    source.SendType = 3;
    source.RemoteFlag = 4;
    source.ExternFlag = 5;
    source.Reserved[2] = 7;
    source.UserData = 8;
    source.UserFlag = 9;
    source.TailFlag = 10;
    source.BatchEndFlag = 11;
    QCOMPARE(source.parent(), &owner); // assignment keeps the target's parent

    const CanObj copy(source);
    QCOMPARE(copy.parent(), nullptr);
    QCOMPARE(fields(copy), fields(source));
    CanObj target(&otherOwner);
    target = source;
    QCOMPARE(target.parent(), &otherOwner);
    QCOMPARE(fields(target), fields(source));
}

void tst_CanObj::transmitRecordDropsMarks()
{
    CanObj f = frame(0x123, 3);
    f.TimeStamp = 55;
    f.TimeFlag = 1;
    f.Reserved[0] = 9;
    f.SendType = 2;
    f.RemoteFlag = 1;
    f.ExternFlag = 1;
    VCI_CAN_OBJ expected{};
    expected.ID = 0x123;
    expected.SendType = 2;
    expected.RemoteFlag = 1;
    expected.ExternFlag = 1;
    expected.DataLen = 3;
    std::memcpy(expected.Data, f.Data, 8);
    const VCI_CAN_OBJ r = f.toTransmit();
    QCOMPARE(bytes(&r, sizeof r), bytes(&expected, sizeof expected));
}

void tst_CanObj::queue()
{
    CanData source;
    QCOMPARE(fields(source.pop()), fields(CanObj())); // empty: a default frame, no crash
    QVERIFY(source.isEmpty());
    for (quint32 id = 1; id <= 3; ++id)
        source.push(frame(id));
    QCOMPARE(source.size(), 3);
    QCOMPARE(source.at(0).ID, 1u);

    // Copies are independent values.
    CanData copy(source);
    copy.push(frame(4));
    CanData assigned;
    assigned = source;
    assigned.clear();
    for (quint32 id = 1; id <= 3; ++id)
        QCOMPARE(source.pop().ID, id);
    QVERIFY(source.isEmpty());
    QCOMPARE(copy.size(), 4);
    QCOMPARE(copy.at(0).ID, 1u);
}

QTEST_GUILESS_MAIN(tst_CanObj)
#include "tst_canobj.moc"
