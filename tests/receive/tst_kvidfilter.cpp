#include "kvidfiltermannger.h"

#include <QtTest/QtTest>

namespace {

KvIdFilter range(quint32 start, quint32 end, const QString &note = QString())
{
    KvIdFilter f;
    f.startId = start;
    f.endId = end;
    f.note = note;
    return f;
}

QStringList notes(const QQueue<KvIdFilter> &list)
{
    QStringList texts;
    for (const KvIdFilter &f : list)
        texts << f.note;
    return texts;
}

} // namespace

class tst_KvIdFilter : public QObject
{
    Q_OBJECT
private slots:
    void decision_data();
    void decision();
    void defaultRangeMatchesNothing();
    void editsInAndOutsideTheList();
    void copiedManagerIsIndependent();
    void strayChannelGetsSpareManager();
};

void tst_KvIdFilter::decision_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("end");
    QTest::addColumn<quint32>("id");
    QTest::addColumn<bool>("passes");

    QTest::newRow("mode 0 ignores the lists") << 0 << 0x100u << 0x1FFu << 0x150u << true;
    QTest::newRow("mode 1 drops lower bound") << 1 << 0x100u << 0x1FFu << 0x100u << false;
    QTest::newRow("mode 1 drops upper bound") << 1 << 0x100u << 0x1FFu << 0x1FFu << false;
    QTest::newRow("mode 1 passes below") << 1 << 0x100u << 0x1FFu << 0xFFu << true;
    QTest::newRow("mode 1 passes above") << 1 << 0x100u << 0x1FFu << 0x200u << true;
    QTest::newRow("mode 2 passes lower bound") << 2 << 0x100u << 0x1FFu << 0x100u << true;
    QTest::newRow("mode 2 passes upper bound") << 2 << 0x100u << 0x1FFu << 0x1FFu << true;
    QTest::newRow("mode 2 drops below") << 2 << 0x100u << 0x1FFu << 0xFFu << false;
    QTest::newRow("mode 2 drops above") << 2 << 0x100u << 0x1FFu << 0x200u << false;
    QTest::newRow("reversed range, mode 1") << 1 << 0x200u << 0x100u << 0x180u << true;
    QTest::newRow("reversed range, mode 2") << 2 << 0x200u << 0x100u << 0x180u << false;
    QTest::newRow("full range holds top id") << 1 << 0u << 0xFFFFFFFFu << 0xFFFFFFFFu << false;
    QTest::newRow("unsigned bounds") << 2 << 0x80000000u << 0xFFFFFFFEu << 0x90000000u << true;
    QTest::newRow("unsigned id") << 2 << 0x10u << 0x20u << 0x80000010u << false;
    QTest::newRow("mode 3 as mode 0") << 3 << 0x100u << 0x1FFu << 0x150u << true;
    QTest::newRow("mode -1 as mode 0") << -1 << 0x100u << 0x1FFu << 0x150u << true;
}

void tst_KvIdFilter::decision()
{
    QFETCH(int, mode);
    QFETCH(quint32, start);
    QFETCH(quint32, end);
    QFETCH(quint32, id);
    QFETCH(bool, passes);

    KvIdFilterMannger manager;
    manager.addNotReceive(range(start, end));
    manager.addOnlyReceive(range(start, end));
    manager.setFilterMode(mode);
    QCOMPARE(manager.isValid(id), passes);
}

void tst_KvIdFilter::defaultRangeMatchesNothing()
{
    KvIdFilterMannger manager;
    manager.setFilterMode(2);
    QVERIFY(!manager.isValid(0x123)); // an empty only-receive list drops everything
    manager.addOnlyReceive(KvIdFilter());
    manager.addNotReceive(KvIdFilter());
    for (quint32 id : {0u, 0x7FFu, 0xFFFFFFFFu}) {
        manager.setFilterMode(2);
        QVERIFY(!manager.isValid(id));
        manager.setFilterMode(1);
        QVERIFY(manager.isValid(id));
    }
}

void tst_KvIdFilter::editsInAndOutsideTheList()
{
    KvIdFilterMannger manager;
    manager.setFilterMode(1);
    manager.addNotReceive(range(0x10, 0x1F, "a"));
    manager.addNotReceive(range(0x20, 0x2F, "b"));
    for (int outside : {-1, 2}) {
        manager.removeAtNotReceive(outside);
        manager.replaceNotReceive(outside, range(0, 0xFFFF, "x"));
        QCOMPARE(manager.getNotReceive(outside).note, QString()); // a default range
    }
    QCOMPARE(notes(manager.getNotReceiveQueue()), QStringList({"a", "b"}));

    manager.replaceNotReceive(1, range(0x40, 0x4F, "B"));
    QVERIFY(manager.isValid(0x25));
    QVERIFY(!manager.isValid(0x45));
    manager.removeAtNotReceive(0);
    QCOMPARE(manager.NotReceiveCount(), 1);
    QCOMPARE(manager.getNotReceive(0).note, QString("B"));
    QVERIFY(manager.isValid(0x15));
    manager.clearNotReceive();
    QCOMPARE(manager.NotReceiveCount(), 0);
    QVERIFY(manager.isValid(0x45));
}

void tst_KvIdFilter::copiedManagerIsIndependent()
{
    KvIdFilterMannger original;
    original.setFilterMode(2);
    original.addOnlyReceive(range(0x100, 0x1FF, "only"));
    original.addNotReceive(range(0x300, 0x3FF, "not"));

    KvIdFilterMannger copy(original);
    KvIdFilterMannger assigned;
    assigned = original;
    QCOMPARE(assigned.getFilterMode(), 2);
    QCOMPARE(notes(assigned.getNotReceiveQueue()), QStringList({"not"}));
    QCOMPARE(notes(copy.getOnlyReceiveQueue()), QStringList({"only"}));

    copy.setFilterMode(1);
    copy.replaceOnlyReceive(0, range(0x500, 0x5FF, "changed"));
    copy.clearNotReceive();
    QCOMPARE(original.getFilterMode(), 2);
    QCOMPARE(notes(original.getOnlyReceiveQueue()), QStringList({"only"}));
    QCOMPARE(original.NotReceiveCount(), 1);
}

void tst_KvIdFilter::strayChannelGetsSpareManager()
{
    QSet<KvIdFilterMannger *> managers;
    for (int c = 0; c < 4; ++c)
        managers.insert(&KvIdFilterMannger::instance(c));
    QCOMPARE(managers.size(), 4);
    QVERIFY(!managers.contains(&KvIdFilterMannger::instance(7)));
    QCOMPARE(&KvIdFilterMannger::instance(-1), &KvIdFilterMannger::instance(7));
}

QTEST_GUILESS_MAIN(tst_KvIdFilter)
#include "tst_kvidfilter.moc"
