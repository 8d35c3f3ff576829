#include "kvtaskmanager.h"

#include <QtTest/QtTest>

namespace {

taskObj taskWithTimes(int times)
{
    taskObj task;
    CanData burst;
    burst.push(CanObj());
    task.dataList.append(burst);
    task.times = times;
    return task;
}

} // namespace

class tst_KvTaskManager : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void oneStorePerChannel();
    void addGetAndClear();
    void concurrentAddsAreAllCounted();
};

void tst_KvTaskManager::init()
{
    for (int channel = -1; channel <= 4; ++channel)
        KvTaskManager::instance(channel).clear();
}

void tst_KvTaskManager::oneStorePerChannel()
{
    QSet<KvTaskManager *> stores;
    for (int channel = 0; channel < 4; ++channel) {
        QCOMPARE(&KvTaskManager::instance(channel), &KvTaskManager::instance(channel));
        stores.insert(&KvTaskManager::instance(channel));
    }
    QCOMPARE(stores.size(), 4);

    // Channels outside 0..3 share one spare store that no real channel sees.
    for (int channel : {-1, 4, 1000000})
        QCOMPARE(KvTaskManager::instance(channel).addTask(taskWithTimes(1)), 0);
    QCOMPARE(KvTaskManager::instance(-5).count(), 3);
    for (int channel = 0; channel < 4; ++channel)
        QCOMPARE(KvTaskManager::instance(channel).count(), 0);
}

void tst_KvTaskManager::addGetAndClear()
{
    KvTaskManager &store = KvTaskManager::instance(1);
    QCOMPARE(store.addTask(taskWithTimes(7)), 0);
    QCOMPARE(store.addTask(taskObj()), 0);
    QCOMPARE(store.count(), 2);

    taskObj first = store.getTask(0);
    QCOMPARE(first.getTimes(), 7);
    first.dataList.clear();
    QCOMPARE(store.getTask(0).size(), 1);
    QCOMPARE(store.getTask(1).size(), 0);
    for (int index : {2, 50, -1}) { // outside the list: a default task
        QCOMPARE(store.getTask(index).size(), 0);
        QCOMPARE(store.getTask(index).getTimes(), 0);
    }

    store.clear();
    QCOMPARE(store.count(), 0);
    QCOMPARE(store.getTask(0).getTimes(), 0);
}

void tst_KvTaskManager::concurrentAddsAreAllCounted()
{
    constexpr int Threads = 4;
    constexpr int TasksPerThread = 500;
    KvTaskManager &store = KvTaskManager::instance(3);
    QList<QThread *> threads;
    for (int t = 0; t < Threads; ++t) {
        threads << QThread::create([&store, t] {
            for (int i = 0; i < TasksPerThread; ++i)
                store.addTask(taskWithTimes(t * TasksPerThread + i));
        });
        threads.last()->start();
    }
    for (QThread *thread : threads)
        QVERIFY(thread->wait(5000));
    qDeleteAll(threads);

    QCOMPARE(store.count(), Threads * TasksPerThread);
    QSet<int> seen;
    for (int i = 0; i < store.count(); ++i)
        seen.insert(store.getTask(i).getTimes());
    QCOMPARE(seen.size(), Threads * TasksPerThread);
}

QTEST_GUILESS_MAIN(tst_KvTaskManager)
#include "tst_kvtaskmanager.moc"
