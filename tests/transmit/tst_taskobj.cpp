#include "kvtaskframe_p.h"
#include "taskobj.h"

#include <QtTest/QtTest>

namespace {

taskObj taskWithBursts(int bursts)
{
    taskObj task;
    for (int b = 0; b < bursts; ++b) {
        CanObj frame;
        frame.ID = quint32(b);
        CanData burst;
        burst.push(frame);
        task.dataList.append(burst);
    }
    task.frames = 1;
    task.interval = 2;
    task.times = 3;
    task.idIncrease = 4;
    task.dataIncrease = 5;
    return task;
}

} // namespace

// Carries tasks through a queued connection, which needs the type registered by name.
class TaskSender : public QObject
{
    Q_OBJECT
signals:
    void taskSignal(taskObj task);
};

class tst_taskObj : public QObject
{
    Q_OBJECT
private slots:
    void copiesShareUntilChanged();
    void atOutsideListGivesEmptyBurst();
    void travelsInVariantAndQueuedSignal();
    void sendSequence_data();
    void sendSequence();
};

void tst_taskObj::copiesShareUntilChanged()
{
    QObject parent;
    taskObj source(&parent);
    source = taskWithBursts(2);
    QCOMPARE(source.parent(), &parent);
    taskObj copy(source);
    QCOMPARE(copy.parent(), nullptr);
    QCOMPARE(QList<int>({copy.getFrames(), copy.getInterval(), copy.getTimes(), copy.idIncrease,
                         copy.dataIncrease}),
             QList<int>({1, 2, 3, 4, 5}));
    QCOMPARE(copy.at(1).at(0).ID, 1u);

    copy.dataList.removeFirst();
    copy.dataList[0].push(CanObj());
    taskObj assigned;
    assigned = source;
    assigned.dataList.clear();
    QCOMPARE(source.size(), 2);
    QCOMPARE(source.at(1).size(), 1);
    QCOMPARE(assigned.getTimes(), 3);
}

void tst_taskObj::atOutsideListGivesEmptyBurst()
{
    const taskObj task = taskWithBursts(1);
    QCOMPARE(task.at(0).size(), 1);
    QVERIFY(task.at(1).isEmpty());
    QVERIFY(task.at(-1).isEmpty());
}

void tst_taskObj::travelsInVariantAndQueuedSignal()
{
    const QVariant variant = QVariant::fromValue(taskWithBursts(2));
    QCOMPARE(variant.typeName(), "taskObj");
    QCOMPARE(variant.value<taskObj>().size(), 2);
    QVERIFY(QMetaType::type("taskQueue") != QMetaType::UnknownType);

    TaskSender sender;
    QThread thread;
    QObject receiver;
    receiver.moveToThread(&thread);
    QAtomicInt received(-1);
    connect(&sender, &TaskSender::taskSignal, &receiver,
            [&received](taskObj task) { received.storeRelease(task.size()); });
    thread.start();
    emit sender.taskSignal(taskWithBursts(3));
    QTRY_COMPARE_WITH_TIMEOUT(received.loadAcquire(), 3, 5000);
    thread.quit();
    QVERIFY(thread.wait(5000));
}

void tst_taskObj::sendSequence_data()
{
    QTest::addColumn<int>("idFormat");
    QTest::addColumn<quint8>("extended");
    QTest::addColumn<quint32>("storedId");
    QTest::addColumn<int>("idIncrease");
    QTest::addColumn<int>("dataIncrease");
    QTest::addColumn<QList<quint32>>("wireIds");
    QTest::addColumn<QByteArray>("lastData"); // data of the last frame sent, from 00 .. 06 ff

    const QByteArray unchanged = QByteArray::fromHex("00010203040506ff");
    QTest::newRow("plain standard wraps past 0x7FF")
        << 0 << quint8(0) << 0x7FEu << 1 << 0 << QList<quint32>{0x7FE, 0x7FF, 0, 1} << unchanged;
    QTest::newRow("plain extended wraps past 0x1FFFFFFF")
        << 0 << quint8(1) << 0x1FFFFFFFu << 1 << 0 << QList<quint32>{0x1FFFFFFF, 0, 1} << unchanged;
    QTest::newRow("plain extended passes 0x7FF")
        << 2 << quint8(1) << 0x7FFu << 1 << 0 << QList<quint32>{0x7FF, 0x800} << unchanged;
    QTest::newRow("increase other than 1 keeps the id")
        << 0 << quint8(0) << 0x123u << 2 << 0 << QList<quint32>{0x123, 0x123} << unchanged;
    QTest::newRow("register standard from 0x20")
        << 1 << quint8(0) << 0x20u << 1 << 0 << QList<quint32>{1, 2, 3} << unchanged;
    QTest::newRow("register extended from 0x8")
        << 1 << quint8(1) << 0x8u << 1 << 0 << QList<quint32>{1, 2, 3} << unchanged;
    QTest::newRow("register standard does not wrap")
        << 1 << quint8(0) << (0x7FFu << 5) << 1 << 0 << QList<quint32>{0x7FF, 0x800} << unchanged;
    QTest::newRow("data byte 1") << 0 << quint8(0) << 5u << 0 << 1 << QList<quint32>{5, 5, 5}
                                 << QByteArray::fromHex("02010203040506ff");
    QTest::newRow("data byte 8 wraps without carry")
        << 0 << quint8(0) << 5u << 0 << 8 << QList<quint32>{5, 5}
        << QByteArray::fromHex("0001020304050600");
    QTest::newRow("data increase 9 names no byte")
        << 0 << quint8(0) << 5u << 0 << 9 << QList<quint32>{5, 5} << unchanged;
}

void tst_taskObj::sendSequence()
{
    QFETCH(int, idFormat);
    QFETCH(quint8, extended);
    QFETCH(quint32, storedId);
    QFETCH(int, idIncrease);
    QFETCH(int, dataIncrease);
    QFETCH(QList<quint32>, wireIds);
    QFETCH(QByteArray, lastData);

    CanObj stored;
    stored.ID = storedId;
    stored.ExternFlag = extended;
    memcpy(stored.Data, QByteArray::fromHex("00010203040506ff").constData(), 8);
    KvTaskFrame working(stored, idFormat, idIncrease, dataIncrease);
    QList<quint32> sent;
    QByteArray data;
    for (int i = 0; i < wireIds.size(); ++i) {
        sent << working.frame().ID;
        data = QByteArray(reinterpret_cast<const char *>(working.frame().Data), 8);
        working.advance();
    }
    QCOMPARE(sent, wireIds);
    QCOMPARE(data.toHex(), lastData.toHex());
}

QTEST_GUILESS_MAIN(tst_taskObj)
#include "tst_taskobj.moc"
