#ifndef TASKTHREAD_H
#define TASKTHREAD_H

#include "kavri_global.h"
#include "kvthread.h"
#include "taskobj.h"
#include "vci.h"

#include <QtCore/QList>

#include <atomic>

class KvSingleTaskThread;

// Puts send tasks on one channel's bus. The page chosen with setPage decides what run does:
//   0  the basic send: the first task's frame, `times` bursts of `frames` copies, `interval` ms
//      between bursts;
//   1  the task list, in the channel's task mode (KvChannelSet::taskMode): 0 sequential, 1 cyclic
//      (until stopped), 2 parallel (one KvSingleTaskThread per task, kept until stopSingleTask);
//   2  nothing (the file page);
//   any other page: errorSignal.
// run clears the channel's transmit pipe, emits startSignal, runs the page and always ends with
// tailSignal. Each burst goes to the adapter in one call, recorded in the receive buffer as sent
// first; a burst the adapter does not take in full gives errorSignal and ends the run.
//
// stop() takes effect before the next burst, in every mode, and ends a pause at once: a stopped
// thread finishes within one burst's adapter call, whatever the interval, and sends nothing more
// (a task's remaining bursts included).
//
// Decided here where the tasks give nothing sensible to do:
// - the basic send with no task, or a task without a frame (empty dataList or first burst),
//   reports errorSignal and sends nothing; in the task list such a task is skipped;
// - `frames` above 100 sends bursts of 100 (the size of one adapter call); `frames` or `times`
//   below 1 sends nothing for that task;
// - a `dataIncrease` outside 0..8 names no data byte and changes nothing;
// - the cyclic mode ends at once when no task of the queue can send anything, instead of
//   spinning until stopped;
// - the destructor stops and releases the threads still held from the parallel mode.
class KAVRI_EXPORT taskThread : public KvThread
{
    Q_OBJECT
public:
    explicit taskThread(unsigned long channel);
    taskThread(QObject *parent, unsigned long channel);
    ~taskThread() override;

    void setPage(int page);
    int getPage() const;
    // Clears the running flag and resets the page to -1; returns at once.
    void stop();
    // Stops every thread started by the parallel mode (waiting up to a second for each) and
    // schedules it for deletion; the list is empty afterwards.
    void stopSingleTask();
    // Number of threads held from the parallel mode.
    int singleTaskCount();

    void run() override;

signals:
    void changeStatus();
    void startSignal();
    void errorSignal();
    void tailSignal();

public slots:
    // Takes over the whole content of the queue; the caller's queue is left empty.
    void setTaskQueue(taskQueue &tObjQ);
    void onInitUsedTime();
    void clearAll();
    void clearPipe();

protected:
    // `count` copies of the frame in one adapter call; 1 when all were accepted, else 0.
    int writeObj(CanObj &frame, int count);
    // One frame; the adapter's own result.
    int writeObj(CanObj &frame);

private:
    enum { FrameBufferSize = 100 };

    void BaseOperation();
    void TaskOperation();
    void FileOperation();
    // `times` bursts of one task, fewer once stopped; false when a burst was refused
    // (errorSignal already sent).
    bool runTask(const taskObj &task);
    // The pause after a burst or task: `intervalMs` shortened by `shortenUs` (the time the loop
    // itself takes), ended early by stop(); false when stopped.
    bool pause(int intervalMs, int shortenUs);
    void statistics(int frames);

    std::atomic<qint64> usedTimer{0}; // start of the run on a monotonic clock, in ms
    taskQueue taskList;               // set under the mutex; read by run without it
    std::atomic<int> page{-1};
    const unsigned long channel;
    QList<KvSingleTaskThread *> singleThreads; // guarded by the mutex
    VCI_CAN_OBJ frameBuffer[FrameBufferSize];
};

#endif // TASKTHREAD_H
