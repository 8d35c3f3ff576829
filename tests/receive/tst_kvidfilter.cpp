#include "kvidfilter.h"
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

} // namespace

class tst_KvIdFilter : public QObject
{
    Q_OBJECT
private slots:
    void decision_data();
    void decision();
    void defaultRangeMatchesNothing();
    void filterCopyHasNoParent();
    void editsOutsideTheListChangeNothing_data();
    void editsOutsideTheListChangeNothing();
    void replaceAndRemoveInPlace();
    void getOutsideTheListIsDefaultRange();
    void copiedManagerIsIndependent();
    void channelsAreSeparateAndStrayChannelIsSpare();
};

// One range in force, identifiers tested against it.
void tst_KvIdFilter::decision_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("end");
    QTest::addColumn<quint32>("id");
    QTest::addColumn<bool>("passes");

    QTest::newRow("mode 0 ignores a matching range") << 0 << 0x100u << 0x1FFu << 0x150u << true;
    QTest::newRow("mode 1 drops the lower bound") << 1 << 0x100u << 0x1FFu << 0x100u << false;
    QTest::newRow("mode 1 drops the upper bound") << 1 << 0x100u << 0x1FFu << 0x1FFu << false;
    QTest::newRow("mode 1 passes just below") << 1 << 0x100u << 0x1FFu << 0xFFu << true;
    QTest::newRow("mode 1 passes just above") << 1 << 0x100u << 0x1FFu << 0x200u << true;
    QTest::newRow("mode 2 passes the lower bound") << 2 << 0x100u << 0x1FFu << 0x100u << true;
    QTest::newRow("mode 2 passes the upper bound") << 2 << 0x100u << 0x1FFu << 0x1FFu << true;
    QTest::newRow("mode 2 drops just below") << 2 << 0x100u << 0x1FFu << 0xFFu << false;
    QTest::newRow("mode 2 drops just above") << 2 << 0x100u << 0x1FFu << 0x200u << false;
    QTest::newRow("reversed range matches nothing in mode 1")
        << 1 << 0x200u << 0x100u << 0x180u << true;
    QTest::newRow("reversed range matches nothing in mode 2")
        << 2 << 0x200u << 0x100u << 0x180u << false;
    QTest::newRow("full unsigned range matches the top id")
        << 1 << 0u << 0xFFFFFFFFu << 0xFFFFFFFFu << false;
    QTest::newRow("full unsigned range matches 0") << 1 << 0u << 0xFFFFFFFFu << 0u << false;
    QTest::newRow("bounds above 2^31 compare unsigned")
        << 2 << 0x80000000u << 0xFFFFFFFEu << 0x90000000u << true;
    QTest::newRow("id above 2^31 is not below a small start")
        << 2 << 0x10u << 0x20u << 0x80000010u << false;
    QTest::newRow("mode 3 behaves as mode 0") << 3 << 0x100u << 0x1FFu << 0x150u << true;
    QTest::newRow("mode -1 behaves as mode 0") << -1 << 0x100u << 0x1FFu << 0x150u << true;
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
    QCOMPARE(manager.getFilterMode(), mode);
    QCOMPARE(manager.isValid(id), passes);
}

void tst_KvIdFilter::defaultRangeMatchesNothing()
{
    KvIdFilterMannger manager;
    manager.setFilterMode(2);
    QVERIFY(!manager.isValid(0x123)); // empty only-receive list drops everything
    manager.addOnlyReceive(KvIdFilter());
    for (quint32 id : {0u, 1u, 0x7FFu, 0xFFFFFFFFu})
        QVERIFY(!manager.isValid(id));

    manager.setFilterMode(1); // empty-range not-receive filters drop nothing
    manager.addNotReceive(KvIdFilter());
    for (quint32 id : {0u, 1u, 0x7FFu, 0xFFFFFFFFu})
        QVERIFY(manager.isValid(id));
}

void tst_KvIdFilter::filterCopyHasNoParent()
{
    QObject owner;
    KvIdFilter source;
    source.setParent(&owner);
    source.startId = 5;
    source.endId = 9;
    source.note = "engine";
    const KvIdFilter copy(source);
    KvIdFilter assigned;
    assigned = source;
    QCOMPARE(copy.parent(), static_cast<QObject *>(nullptr));
    QCOMPARE(copy.startId, 5u);
    QCOMPARE(copy.endId, 9u);
    QCOMPARE(assigned.note, QString("engine"));
    source.setParent(nullptr);
}

void tst_KvIdFilter::editsOutsideTheListChangeNothing_data()
{
    QTest::addColumn<int>("position");
    QTest::newRow("-1") << -1;
    QTest::newRow("count") << 2;
}

void tst_KvIdFilter::editsOutsideTheListChangeNothing()
{
    QFETCH(int, position);
    KvIdFilterMannger manager;
    manager.addNotReceive(range(1, 2, "a"));
    manager.addNotReceive(range(3, 4, "b"));
    manager.addOnlyReceive(range(5, 6, "c"));
    manager.addOnlyReceive(range(7, 8, "d"));

    manager.removeAtNotReceive(position);
    manager.removeAtOnlyReceive(position);
    manager.replaceNotReceive(position, range(100, 200, "x"));
    manager.replaceOnlyReceive(position, range(100, 200, "x"));

    QCOMPARE(manager.NotReceiveCount(), 2);
    QCOMPARE(manager.OnlyReceiveCount(), 2);
    QStringList notes;
    for (const KvIdFilter &f : manager.getNotReceiveQueue())
        notes << f.note;
    for (const KvIdFilter &f : manager.getOnlyReceiveQueue())
        notes << f.note;
    QCOMPARE(notes, QStringList({"a", "b", "c", "d"}));
}

void tst_KvIdFilter::replaceAndRemoveInPlace()
{
    KvIdFilterMannger manager;
    manager.setFilterMode(1);
    manager.addNotReceive(range(0x10, 0x1F, "a"));
    manager.addNotReceive(range(0x20, 0x2F, "b"));
    manager.addNotReceive(range(0x30, 0x3F, "c"));
    QVERIFY(!manager.isValid(0x25));

    manager.replaceNotReceive(1, range(0x40, 0x4F, "B"));
    QVERIFY(manager.isValid(0x25));
    QVERIFY(!manager.isValid(0x45));
    QCOMPARE(manager.getNotReceive(1).note, QString("B"));

    manager.removeAtNotReceive(0);
    QCOMPARE(manager.NotReceiveCount(), 2);
    QCOMPARE(manager.getNotReceive(0).note, QString("B"));
    QVERIFY(manager.isValid(0x15));

    manager.clearNotReceive();
    QCOMPARE(manager.NotReceiveCount(), 0);
    QVERIFY(manager.isValid(0x35));

    manager.addOnlyReceive(range(1, 1));
    manager.clearOnlyReceive();
    QCOMPARE(manager.OnlyReceiveCount(), 0);
    QVERIFY(manager.getOnlyReceiveQueue().isEmpty());
}

void tst_KvIdFilter::getOutsideTheListIsDefaultRange()
{
    KvIdFilterMannger manager;
    manager.addOnlyReceive(range(1, 2, "a"));
    for (int position : {-1, 1}) {
        const KvIdFilter got = manager.getOnlyReceive(position);
        QVERIFY(got.startId > got.endId);
        QVERIFY(got.note.isEmpty());
        QVERIFY(manager.getNotReceive(position).note.isEmpty());
    }
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
    for (KvIdFilterMannger *m : {&copy, &assigned}) {
        QCOMPARE(m->getFilterMode(), 2);
        QCOMPARE(m->OnlyReceiveCount(), 1);
        QCOMPARE(m->NotReceiveCount(), 1);
        QCOMPARE(m->getOnlyReceive(0).note, QString("only"));
    }

    copy.setFilterMode(1);
    copy.replaceOnlyReceive(0, range(0x500, 0x5FF, "changed"));
    copy.addNotReceive(range(0, 1));
    QCOMPARE(original.getFilterMode(), 2);
    QCOMPARE(original.getOnlyReceive(0).note, QString("only"));
    QCOMPARE(original.NotReceiveCount(), 1);
    QVERIFY(original.isValid(0x150));
}

void tst_KvIdFilter::channelsAreSeparateAndStrayChannelIsSpare()
{
    QCOMPARE(&KvIdFilterMannger::instance(2), &KvIdFilterMannger::instance(2));
    QSet<KvIdFilterMannger *> managers;
    for (int c = 0; c < 4; ++c)
        managers.insert(&KvIdFilterMannger::instance(c));
    QCOMPARE(managers.size(), 4);

    KvIdFilterMannger &stray = KvIdFilterMannger::instance(7);
    QVERIFY(!managers.contains(&stray));
    QCOMPARE(&KvIdFilterMannger::instance(-1), &stray);
    QCOMPARE(KvIdFilterMannger::instance(0).getFilterMode(), 0);
}

QTEST_GUILESS_MAIN(tst_KvIdFilter)
#include "tst_kvidfilter.moc"
