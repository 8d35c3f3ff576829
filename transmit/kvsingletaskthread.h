#ifndef KVSINGLETASKTHREAD_H
#define KVSINGLETASKTHREAD_H

#include "kavri_global.h"
#include "kvthread.h"
#include "taskobj.h"

#include <atomic>

// Runs one send task on one channel over and over until stopped. Each cycle waits `interval`
// milliseconds, then sends `times` x `frames` frames one by one, one adapter call per frame,
// recording each in the receive buffer as sent. Data and ID increases carry over from frame to
// frame and from cycle to cycle. Only a refused frame is reported (errorSignal), and it ends the
// thread.
//
// Decided here where the task gives nothing sensible to do:
// - a task without a frame (empty dataList or empty first burst): errorSignal, then the thread
// ends;
// - a negative interval counts as 0;
// - a cycle that can send nothing (times or frames below 1) still waits at least 10 ms, so such a
//   task idles until stopped instead of spinning;
// - a stop request ends the wait before a cycle at once, so the thread ends within one frame's
//   adapter call instead of after a long interval; no frame is sent after the request.
class KAVRI_EXPORT KvSingleTaskThread : public KvThread
{
    Q_OBJECT
public:
    KvSingleTaskThread(unsigned long channel, taskObj task);
    KvSingleTaskThread(QObject *parent, unsigned long channel, taskObj task);
    ~KvSingleTaskThread() override;

    void run() override;

signals:
    void errorSignal();

public slots:
    void onInitUsedTime();

protected:
    // One frame: recorded as sent, then handed to the adapter. Returns the adapter's result.
    int writeObj(CanObj &frame);

private:
    std::atomic<qint64> usedTimer{0}; // start of the run on a monotonic clock, in ms
    unsigned long channel;
    taskObj task;
};

#endif // KVSINGLETASKTHREAD_H
