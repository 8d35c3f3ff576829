#ifndef CANREADTHREAD_H
#define CANREADTHREAD_H

#include "canthread.h"
#include "kavri_global.h"

// Polls one adapter channel and hands everything it gets to the channel's receive buffer: error
// records to the error log, frames to the frame list and, while their switches are on, to the
// DBC and GB/T 27930 side queues. It also adds the received frames to the channel's
// `receiveCount` in the global settings.
//
// A busy channel is drained back to back, 32 frames per read; an idle one is polled every 50 ms.
// A read result above 32 lies outside the adapter's contract and is treated as an empty read.
// A channel outside 0..3 has no settings record, so its frames are not counted there.
class KAVRI_EXPORT CanReadThread : public CanThread
{
    Q_OBJECT
public:
    CanReadThread();
    explicit CanReadThread(unsigned long channel);
    ~CanReadThread() override;

    void run() override;
};

#endif // CANREADTHREAD_H
