#include "canreadthread.h"
#include "canwritethread.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvpipe.h"
#include "kvsendfirmwarethread.h"
#include "kvsingletaskthread.h"
#include "simulateddevice.h"
#include "taskthread.h"
#include "vci_sim.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <climits>
#include <functional>
#include <memory>

// Every kind of worker ends soon after stop(), whatever interval or work it is in the middle of.
// Sanitizer builds run several times slower; their bound is wider, the failure it catches (a
// pause of the task's whole interval, minutes long) is not.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr qint64 StopBoundMs = 1000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr qint64 StopBoundMs = 1000;
#else
constexpr qint64 StopBoundMs = 200;
#endif
#else
constexpr qint64 StopBoundMs = 200;
#endif

using MakeThread = std::function<KvThread *(const QString &scratch)>;
Q_DECLARE_METATYPE(MakeThread)

namespace {

taskObj task(int frames, int times, int interval)
{
    taskObj t;
    t.frames = frames;
    t.times = times;
    t.interval = interval;
    CanObj f;
    f.ID = 0x123;
    f.DataLen = 8;
    CanData burst;
    burst.push(f);
    t.dataList.append(burst);
    return t;
}

KvThread *taskThreadOn(int page, int mode, const taskObj &t)
{
    KvGlobalSet::instance().channelSets[0].taskMode = mode;
    auto *thread = new taskThread(0);
    taskQueue q;
    q << t;
    thread->setTaskQueue(q);
    thread->setPage(page);
    return thread;
}

} // namespace

class tst_ThreadStop : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void stopEndsTheThreadPromptly_data();
    void stopEndsTheThreadPromptly();
};

void tst_ThreadStop::init()
{
    QVERIFY(startSimulatedDevice(1));
    KvPipe::instance(0).clear();
    KvBuffer::instance(0).reset();
}

void tst_ThreadStop::cleanup()
{
    VSIM_SetBusTiming(0);
    KvGlobalSet::instance().channelSets[0].taskMode = 0;
    KvPipe::instance(0).clear();
}

void tst_ThreadStop::stopEndsTheThreadPromptly_data()
{
    QTest::addColumn<MakeThread>("make");
    QTest::addColumn<bool>("sends");    // stopped once it has sent something
    QTest::addColumn<bool>("timedBus"); // each burst takes its time on the wire
    const int longest = INT_MAX;
    QTest::newRow("basic send, longest interval")
        << MakeThread([=](const QString &) { return taskThreadOn(0, 0, task(1, 1000, longest)); })
        << true << false;
    QTest::newRow("sequential task list, longest interval")
        << MakeThread([=](const QString &) { return taskThreadOn(1, 0, task(1, 2, longest)); })
        << true << false;
    QTest::newRow("cyclic task list, longest interval")
        << MakeThread([=](const QString &) { return taskThreadOn(1, 1, task(1, 2, longest)); })
        << true << false;
    // A million bursts of a hundred frames at the bus's pace: hours, unless the stop cuts them.
    QTest::newRow("cyclic task list, in a task's bursts")
        << MakeThread([](const QString &) { return taskThreadOn(1, 1, task(100, 1000000, 0)); })
        << true << true;
    QTest::newRow("single task, longest interval") << MakeThread([=](const QString &) {
        return new KvSingleTaskThread(0, task(1, 1, longest));
    }) << false << false;
    QTest::newRow("single task, in its frames") << MakeThread([](const QString &) {
        return new KvSingleTaskThread(0, task(100, 100000, 0));
    }) << true << true;
    // No transmit thread takes the bursts: the download waits for room in the pipe.
    QTest::newRow("firmware download waiting for room") << MakeThread([](const QString &scratch) {
        QFile image(scratch + QStringLiteral("/image.bin"));
        if (!image.open(QIODevice::WriteOnly) || !image.resize(1 << 20))
            return static_cast<KvThread *>(nullptr);
        auto *t = new KvSendFirmwareThread(0);
        t->setFileName(image.fileName());
        return static_cast<KvThread *>(t);
    }) << false << false;
    QTest::newRow("transmit thread, idle")
        << MakeThread([](const QString &) { return new CanWriteThread(0); }) << false << false;
    QTest::newRow("receive thread, idle")
        << MakeThread([](const QString &) { return new CanReadThread(0); }) << false << false;
}

void tst_ThreadStop::stopEndsTheThreadPromptly()
{
    QFETCH(MakeThread, make);
    QFETCH(bool, sends);
    QFETCH(bool, timedBus);
    QTemporaryDir scratch;
    VSIM_SetBusTiming(timedBus ? 1 : 0);
    const std::unique_ptr<KvThread> thread(make(scratch.path()));
    QVERIFY(thread);
    thread->start();
    QTRY_VERIFY(thread->isRunning());
    if (sends)
        QTRY_VERIFY(VSIM_SentTotal(4, 0, 0) > 0);

    QElapsedTimer timer;
    timer.start();
    thread->stop();
    // A stop that came before run() raised its flag is repeated, as waitForFinish() does.
    while (!thread->wait(10) && timer.elapsed() < 10 * StopBoundMs)
        thread->stop();
    const qint64 took = timer.elapsed();
    QVERIFY2(thread->isFinished(), "still running");
    QVERIFY2(took <= StopBoundMs, qPrintable(QStringLiteral("%1 ms").arg(took)));
}

QTEST_GUILESS_MAIN(tst_ThreadStop)
#include "tst_threadstop.moc"
