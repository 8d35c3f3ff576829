#ifndef CANTHREAD_H
#define CANTHREAD_H

#include "kavri_global.h"
#include "kvthread.h"

// A worker that serves one adapter channel (0..3). On its own it is the idle loop of such a
// thread: it sleeps in 50 ms steps until stopped.
class KAVRI_EXPORT CanThread : public KvThread
{
    Q_OBJECT
public:
    CanThread();
    explicit CanThread(unsigned long channel);
    ~CanThread() override;

    void run() override;

    unsigned long getChannel() const { return channel; }

protected:
    // Fixed at construction.
    quint32 channel = 0;
};

#endif // CANTHREAD_H
