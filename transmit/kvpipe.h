#ifndef KVPIPE_H
#define KVPIPE_H

#include "candata.h"
#include "kavri_global.h"

#include <QtCore/QQueue>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

// The hand-over point between whoever wants frames sent and a channel's transmit thread.
// Producers push whole frame queues; the one consumer pops them in order. There is one pipe per
// channel. push, pop and clear are atomic with respect to one another; count and isEmpty take no
// lock and give a snapshot.
class KAVRI_EXPORT KvPipe
{
public:
    // The pipe of channel 0..3. Any other channel gets a pipe of its own that no transmit thread
    // serves, so a stray index can never reach past the four pipes.
    static KvPipe &instance(int channel);

    KvPipe();
    ~KvPipe();

    void push(const CanData &data);
    // Removes and returns the head. An empty pipe (for instance one cleared by another thread
    // between the consumer's isEmpty() and this call) gives an empty CanData.
    CanData pop();
    // The head into `data` and true, or false with `data` untouched when the pipe is empty: the
    // emptiness test and the removal under one lock.
    bool tryPop(CanData &data);
    // Blocks until the pipe holds a queue or `msecs` have passed; true when it holds one. Lets an
    // idle consumer sleep instead of polling: push wakes it at once.
    bool waitForData(int msecs);
    // Ends a waitForData() in progress (or the next one) at once, with or without data: lets the
    // consumer's owner have a stop noticed without waiting out the idle wait.
    void wakeConsumer();
    // Blocks until the pipe holds at most `maxQueued` queues or `msecs` have passed; true when it
    // does. Lets a producer that throttles itself on the pipe's length sleep until the consumer
    // has taken enough, instead of polling: the pop that brings the length down to `maxQueued`
    // wakes it at once, and so does a clear. Pops that leave the pipe longer wake no one, so a
    // producer waiting for a low mark costs the consumer no wake-up call per pop.
    bool waitForRoom(int maxQueued, int msecs);
    // Looks at the length for up to `usecs` microseconds, yielding the processor between looks,
    // and returns true as soon as the pipe holds at most `maxQueued` queues. For a producer that
    // expects a busy consumer to make room within microseconds, far sooner than a sleeping
    // thread could be woken; it takes no lock.
    bool pollForRoom(int maxQueued, int usecs) const;
    // The same for a consumer: true as soon as the pipe holds a queue, false after `usecs`.
    bool pollForData(int usecs) const;
    int count() const;
    bool isEmpty() const;
    void clear();
    // The consumer calls consumerEnded() whenever its run ends (stopped, or refused by the
    // adapter): after that nobody makes room until a consumer runs again. A producer throttled on
    // the length takes consumerEndCount() before it starts and gives up once the count moves,
    // instead of waiting for room for ever. Waiting producers are woken.
    void consumerEnded();
    quint64 consumerEndCount() const;

private:
    Q_DISABLE_COPY(KvPipe)

    // Standard primitives rather than Qt's: the thread checker sees through them, so the pipe's
    // hand-over can be proven race-free.
    QQueue<CanData> queue; // guarded by lock
    std::mutex lock;
    std::condition_variable pushed; // notified on every push
    std::condition_variable taken;  // notified when a pop or clear meets a waiting producer's mark
    std::vector<int> roomMarks;     // guarded by lock; the `maxQueued` of each waitForRoom() call
    bool wakeRequested = false;     // guarded by lock; set by wakeConsumer()
    std::atomic<int> queued{0};     // mirror of queue.size() for the lock-free snapshots
    std::atomic<quint64> consumerEnds{0};
};

#endif // KVPIPE_H
