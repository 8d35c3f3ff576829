#ifndef CANWRITETHREAD_H
#define CANWRITETHREAD_H

#include "canobjstr.h"
#include "canthread.h"
#include "kavri_global.h"

#include <atomic>

// Drains one channel's transmit pipe to the adapter. It takes one frame queue at a time and sends
// its frames in batches of at most 100 per adapter call, closing a batch early after a frame that
// carries BatchEndFlag. Each batch is recorded in the channel's receive buffer as sent frames
// (unless hidden) just before the adapter call, whatever the adapter answers.
//
// Signals, per batch: sendSignal(count) before the adapter call, usedTimeSignal(seconds) after it.
// tailSignal() once a whole queue is sent whose last frame carried TailFlag. errorSignal() when
// the adapter accepts none of a batch: the rest of that queue is dropped and the thread ends,
// leaving later queues in the pipe. stop() ends the thread before the next frame is taken,
// without a signal. An empty queue is taken and dropped without any signal. Every end of a run is
// told to the pipe (KvPipe::consumerEnded), so that a producer waiting for room gives up.
//
// An idle thread sleeps on the pipe (a push wakes it at once) instead of spinning, and still
// processes its pending events and notices stop() within a few tens of milliseconds.
class KAVRI_EXPORT CanWriteThread : public CanThread
{
    Q_OBJECT
public:
    CanWriteThread();
    explicit CanWriteThread(unsigned long channel);
    ~CanWriteThread() override;

    // Takes effect from the next batch.
    void setHideSendFrame(bool hide);

    void run() override;
    // Wakes an idle pass sleeping on the pipe, so that a stop is noticed at once, then waits.
    void waitForFinish() override;

public slots:
    // The next usedTimeSignal counts from now.
    void onInitUsedTime();

signals:
    void sendEvent(CanObjStrQueue sObjQ);
    void usedTimeSignal(double value);
    void sendSignal(unsigned long num);
    void errorSignal();
    void tailSignal();
    void quickSignal();
    void slowSignal();

private:
    std::atomic<qint64> usedTimer{0}; // start of the run on a monotonic clock, in ms
    bool tailPending = false;         // owned by run()
    std::atomic<bool> hideSendFrame{false};
};

#endif // CANWRITETHREAD_H
