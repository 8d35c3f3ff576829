#include "kvpipe.h"

#include <QtCore/QThread>
#include <QtTest/QtTest>

class tst_KvPipe : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void queuesComeOutInOrder();
    void channelsAreSeparate();
    void pushStoresASnapshot();
    void emptyPipeIsHarmless();
    void pushWakesAWaitingConsumer();
    void concurrentProducersLoseNothing();
};

static CanData burst(quint32 firstId, int n)
{
    CanData data;
    for (int i = 0; i < n; ++i) {
        CanObj f;
        f.ID = firstId + quint32(i);
        data.push(f);
    }
    return data;
}

void tst_KvPipe::cleanup()
{
    for (int ch = 0; ch < 4; ++ch)
        KvPipe::instance(ch).clear();
}

void tst_KvPipe::queuesComeOutInOrder()
{
    KvPipe &pipe = KvPipe::instance(0);
    pipe.push(burst(0x10, 2));
    pipe.push(burst(0x20, 3));
    QCOMPARE(pipe.count(), 2);
    CanData first = pipe.pop();
    QCOMPARE(first.size(), 2);
    QCOMPARE(first.pop().ID, 0x10u);
    QCOMPARE(first.pop().ID, 0x11u);
    CanData second = pipe.pop();
    QCOMPARE(second.size(), 3);
    QCOMPARE(second.at(2).ID, 0x22u);
    QVERIFY(pipe.isEmpty());
}

void tst_KvPipe::channelsAreSeparate()
{
    KvPipe::instance(1).push(burst(1, 1));
    QVERIFY(KvPipe::instance(0).isEmpty());
    QCOMPARE(KvPipe::instance(1).count(), 1);
    QVERIFY(&KvPipe::instance(3) != &KvPipe::instance(2));
    QCOMPARE(&KvPipe::instance(3), &KvPipe::instance(3));
    // A channel outside 0..3 never reaches one of the four pipes.
    KvPipe::instance(7).push(burst(9, 1));
    for (int ch = 0; ch < 4; ++ch)
        QVERIFY(&KvPipe::instance(7) != &KvPipe::instance(ch));
    KvPipe::instance(7).clear();
}

void tst_KvPipe::pushStoresASnapshot()
{
    KvPipe &pipe = KvPipe::instance(0);
    CanData data = burst(0x100, 2);
    pipe.push(data);
    data.push(burst(0x200, 1).at(0));
    data.clear();
    const CanData out = pipe.pop();
    QCOMPARE(out.size(), 2);
    QCOMPARE(out.at(1).ID, 0x101u);
}

void tst_KvPipe::emptyPipeIsHarmless()
{
    KvPipe &pipe = KvPipe::instance(3);
    QVERIFY(pipe.pop().isEmpty());
    CanData untouched = burst(5, 1);
    QVERIFY(!pipe.tryPop(untouched));
    QCOMPARE(untouched.size(), 1);
    QCOMPARE(pipe.count(), 0);
    QVERIFY(!pipe.waitForData(20));
    QVERIFY(!pipe.waitForData(-1)); // a negative wait does not block
}

void tst_KvPipe::pushWakesAWaitingConsumer()
{
    KvPipe &pipe = KvPipe::instance(0);
    QScopedPointer<QThread> producer(QThread::create([&pipe] { pipe.push(burst(1, 1)); }));
    QElapsedTimer timer;
    timer.start();
    producer->start();
    // A generous timeout: a wake-up that never came would show as a long wait, not a failure.
    QVERIFY(pipe.waitForData(30000));
    QVERIFY(timer.elapsed() < 30000);
    QVERIFY(producer->wait(5000));
    QCOMPARE(pipe.count(), 1);
}

void tst_KvPipe::concurrentProducersLoseNothing()
{
    KvPipe &pipe = KvPipe::instance(1);
    const int perProducer = 2000;
    QVector<QThread *> producers;
    for (int p = 0; p < 3; ++p)
        producers << QThread::create([&pipe, p] {
            for (int i = 0; i < perProducer; ++i)
                pipe.push(burst(quint32(p), 1));
        });
    int taken = 0;
    for (QThread *t : producers)
        t->start();
    CanData data;
    while (taken < 3 * perProducer) {
        if (pipe.tryPop(data))
            ++taken;
        else
            pipe.waitForData(10);
    }
    for (QThread *t : producers) {
        QVERIFY(t->wait(5000));
        delete t;
    }
    QVERIFY(pipe.isEmpty());
}

QTEST_GUILESS_MAIN(tst_KvPipe)
#include "tst_kvpipe.moc"
