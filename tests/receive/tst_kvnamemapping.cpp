#include "kvnamemapping.h"

#include <QtTest/QtTest>

using Entries = QList<QPair<unsigned int, QString>>;

class tst_KvNameMapping : public QObject
{
    Q_OBJECT
private slots:
    void findOnEmptyTableAddsNothing();
    void laterNameReplacesEarlier();
    void listIsInUnsignedOrder_data();
    void listIsInUnsignedOrder();
    void emptyNameIsStored();
    void nameListChangesInPlace();
    void singletonIsOneTable();
};

void tst_KvNameMapping::findOnEmptyTableAddsNothing()
{
    KvNameMapping table;
    QVERIFY(table.find(0x123).isEmpty());
    QCOMPARE(table.size(), 0);
}

void tst_KvNameMapping::laterNameReplacesEarlier()
{
    KvNameMapping table;
    table.add(0x123, "A");
    table.add(0x123, "B");
    QCOMPARE(table.size(), 1);
    QCOMPARE(table.find(0x123), QString("B"));
    table.clear();
    QCOMPARE(table.size(), 0);
    QVERIFY(table.find(0x123).isEmpty());
}

void tst_KvNameMapping::listIsInUnsignedOrder_data()
{
    QTest::addColumn<QList<unsigned int>>("added");
    QTest::addColumn<QList<unsigned int>>("listed");
    QTest::newRow("added out of order")
        << QList<unsigned int>{0x300, 0x100, 0x200} << QList<unsigned int>{0x100, 0x200, 0x300};
    QTest::newRow("top bit set sorts last")
        << QList<unsigned int>{0x80000000u, 0x7FFFFFFFu, 0xFFFFFFFFu}
        << QList<unsigned int>{0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
}

void tst_KvNameMapping::listIsInUnsignedOrder()
{
    QFETCH(QList<unsigned int>, added);
    QFETCH(QList<unsigned int>, listed);
    KvNameMapping table;
    for (unsigned int id : added)
        table.add(id, QString::number(id, 16));
    Entries expected;
    for (unsigned int id : listed)
        expected.append(qMakePair(id, QString::number(id, 16)));
    QCOMPARE(table.getList(), expected);
}

void tst_KvNameMapping::emptyNameIsStored()
{
    KvNameMapping table;
    table.add(0x10, QString());
    QCOMPARE(table.size(), 1);
    QCOMPARE(table.getList().first().first, 0x10u);
}

void tst_KvNameMapping::nameListChangesInPlace()
{
    KvNameMapping table;
    table.getNameList().insert(0x10, "engine");
    QCOMPARE(table.find(0x10), QString("engine"));
    table.getNameList().remove(0x10);
    QCOMPARE(table.size(), 0);
}

void tst_KvNameMapping::singletonIsOneTable()
{
    KvNameMapping &table = KvNameMapping::getSingleton();
    QCOMPARE(&KvNameMapping::getSingleton(), &table);
    table.add(0x10, "brake");
    QCOMPARE(KvNameMapping::getSingleton().find(0x10), QString("brake"));
    table.clear();
}

QTEST_GUILESS_MAIN(tst_KvNameMapping)
#include "tst_kvnamemapping.moc"
