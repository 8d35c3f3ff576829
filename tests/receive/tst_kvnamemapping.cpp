#include "kvnamemapping.h"

#include <QtTest/QtTest>

class tst_KvNameMapping : public QObject
{
    Q_OBJECT
private slots:
    void findReplaceAndClear();
    void listIsInUnsignedOrder();
};

void tst_KvNameMapping::findReplaceAndClear()
{
    KvNameMapping &table = KvNameMapping::getSingleton();
    QVERIFY(table.find(0x123).isEmpty());
    QCOMPARE(table.size(), 0); // looking up adds nothing
    table.add(0x123, "A");
    table.add(0x123, "B");
    QCOMPARE(table.size(), 1);
    QCOMPARE(table.find(0x123), QString("B"));
    table.getNameList().insert(0x10, QString()); // changed in place; empty names count
    QCOMPARE(table.size(), 2);
    table.clear();
    QCOMPARE(table.size(), 0);
}

void tst_KvNameMapping::listIsInUnsignedOrder()
{
    KvNameMapping table;
    for (unsigned int id : {0x300u, 0x80000000u, 0x100u, 0x7FFFFFFFu, 0x200u})
        table.add(id, QString::number(id, 16));
    QList<unsigned int> listed;
    for (const auto &entry : table.getList()) {
        QCOMPARE(entry.second, QString::number(entry.first, 16));
        listed << entry.first;
    }
    QCOMPARE(listed, QList<unsigned int>({0x100u, 0x200u, 0x300u, 0x7FFFFFFFu, 0x80000000u}));
}

QTEST_GUILESS_MAIN(tst_KvNameMapping)
#include "tst_kvnamemapping.moc"
