#include "taskthread.h"

#include "channelstats_p.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvpipe.h"
#include "kvsingletaskthread.h"
#include "kvtaskframe_p.h"
#include "usedtimer_p.h"

#include <algorithm>
#include <chrono>

namespace {

// The frame a task sends: the first frame of its first burst, or null when it has none.
const CanObj *firstFrame(const taskObj &task)
{
    if (task.dataList.isEmpty() || task.dataList.first().isEmpty())
        return nullptr;
    return &task.dataList.first().at(0);
}

bool canSend(const taskObj &task)
{
    return firstFrame(task) && task.times >= 1 && task.frames >= 1;
}

// A fresh working copy of the task's frame: the increases start again from the stored frame.
KvTaskFrame workingFrame(const taskObj &task)
{
    return KvTaskFrame(*firstFrame(task), KvGlobalSet::instance().idFormat, task.idIncrease,
                       task.dataIncrease);
}

int burstSize(const taskObj &task)
{
    return qMin(task.frames, 100);
}

} // namespace

taskThread::taskThread(unsigned long channel) : taskThread(nullptr, channel) {}

taskThread::taskThread(QObject *parent, unsigned long channel)
    : KvThread(parent), channel(channel), frameBuffer{}
{
}

// The worker runs this class's run(): it must have ended before this part of the object goes.
// The threads of the parallel mode are stopped and released too, rather than left running.
taskThread::~taskThread()
{
    stopAndWait();
    stopSingleTask();
}

void taskThread::setPage(int p)
{
    page = p;
}

int taskThread::getPage() const
{
    return page;
}

void taskThread::stop()
{
    KvThread::stop();
    page = -1;
}

void taskThread::setTaskQueue(taskQueue &tObjQ)
{
    std::lock_guard<std::mutex> locker(mutex);
    taskList.clear();
    taskList.swap(tObjQ);
}

void taskThread::clearAll()
{
    std::lock_guard<std::mutex> locker(mutex);
    taskList.clear();
}

void taskThread::clearPipe()
{
    KvPipe::instance(static_cast<int>(channel)).clear();
}

void taskThread::onInitUsedTime()
{
    UsedTimer::restart(usedTimer);
    ChannelStats::setUsedTime(channel, 0.0);
}

int taskThread::singleTaskCount()
{
    std::lock_guard<std::mutex> locker(mutex);
    return singleThreads.size();
}

void taskThread::stopSingleTask()
{
    QList<KvSingleTaskThread *> threads;
    {
        std::lock_guard<std::mutex> locker(mutex);
        threads.swap(singleThreads);
    }
    for (KvSingleTaskThread *t : threads) {
        t->stop();
        t->wait(1000);
        // A thread still busy after the second is released once it has finished: deleting a
        // running thread would take the process down.
        if (t->isFinished())
            t->deleteLater();
        else
            connect(t, &QThread::finished, t, &QObject::deleteLater);
    }
}

int taskThread::writeObj(CanObj &frame, int count)
{
    const int n = qBound(1, count, int(FrameBufferSize));
    const VCI_CAN_OBJ record = frame.toTransmit();
    for (int i = 0; i < n; ++i)
        frameBuffer[i] = record;
    KvBuffer::instance(static_cast<int>(channel)).addFrame(frameBuffer, n, true);
    const unsigned long accepted =
        DevCan::instance().Transmit(channel, frameBuffer, static_cast<unsigned long>(n));
    return accepted == static_cast<unsigned long>(n) ? 1 : 0;
}

int taskThread::writeObj(CanObj &frame)
{
    frameBuffer[0] = frame.toTransmit();
    KvBuffer::instance(static_cast<int>(channel)).addFrame(frameBuffer, 1, true);
    return static_cast<int>(DevCan::instance().Transmit(channel, frameBuffer, 1));
}

void taskThread::statistics(int frames)
{
    ChannelStats::addSent(channel, frames);
    ChannelStats::setUsedTime(channel, UsedTimer::seconds(usedTimer));
}

void taskThread::run()
{
    running = true;
    clearPipe();
    onInitUsedTime();
    emit startSignal();
    switch (page) {
    case 0:
        BaseOperation();
        break;
    case 1:
        TaskOperation();
        break;
    case 2:
        FileOperation();
        break;
    default:
        emit errorSignal();
        break;
    }
    emit tailSignal();
}

void taskThread::BaseOperation()
{
    if (taskList.isEmpty() || !firstFrame(taskList.first())) {
        emit errorSignal();
        return;
    }
    const taskObj task = taskList.first();
    if (task.frames < 1)
        return;
    KvTaskFrame work = workingFrame(task);
    const int burst = burstSize(task);
    for (int t = 0; t < task.times; ++t) {
        if (!running)
            return;
        CanObj frame = work.frame();
        if (!writeObj(frame, burst)) {
            emit errorSignal();
            return;
        }
        statistics(burst);
        work.advance();
        if (!pause(task.interval, 5))
            return;
    }
}

bool taskThread::pause(int intervalMs, int shortenUs)
{
    if (intervalMs <= 0)
        return running;
    return pauseWhileRunning(std::chrono::microseconds(qint64(intervalMs) * 1000 - shortenUs));
}

bool taskThread::runTask(const taskObj &task)
{
    KvTaskFrame work = workingFrame(task);
    const int burst = burstSize(task);
    for (int t = 0; t < task.times && running; ++t) {
        CanObj frame = work.frame();
        if (!writeObj(frame, burst)) {
            emit errorSignal();
            return false;
        }
        statistics(burst);
        work.advance();
    }
    return true;
}

void taskThread::TaskOperation()
{
    const int mode = ChannelStats::of(channel).taskMode;
    const int tasks = taskList.size();

    if (mode == 2) {
        for (int i = 0; i < tasks; ++i) {
            auto *t = new KvSingleTaskThread(channel, taskList.at(i));
            // Owned from the application's thread, where stopSingleTask releases it.
            t->moveToThread(thread());
            t->start(QThread::InheritPriority);
            std::lock_guard<std::mutex> locker(mutex);
            singleThreads.append(t);
        }
        return;
    }
    if (mode != 0 && mode != 1)
        return;

    const bool cyclic = mode == 1;
    if (cyclic && std::none_of(taskList.cbegin(), taskList.cend(), canSend))
        return;
    do {
        for (int i = 0; i < tasks; ++i) {
            if (!running)
                return;
            const taskObj task = taskList.at(i);
            if (!canSend(task))
                continue;
            if (!runTask(task) || !pause(task.interval, 10))
                return;
        }
    } while (cyclic && running);
}

void taskThread::FileOperation() {}
