#ifndef KVGBTMONITOR_H
#define KVGBTMONITOR_H

#include "kavri_global.h"
#include "vci.h"

#include <QtCore/QVector>

class KvBuffer;
class KvGbtSession;

// Feeds a channel's GB/T 27930 queue into a session on the host's refresh cycle. The receive
// thread fills the queue while the buffer's GBT27930Run() is on; poll() takes out what is there
// and hands it to the session, whose handlers then run in the caller's thread.
//
// The adapter's stamps (0.1 ms, 32 bits) become the session's microseconds, counted from the
// first frame polled and carried across the wrap of the stamps (every 119 hours), so
// timeouts keep working on a long session; a stamp that steps back moves no time. Time moves with
// the frames only: a bus that goes silent altogether reports no timeout until frames come again.
//
// Decided here:
// - one poll() takes at most MaxPerPoll frames, so a host that polls late does not stall its
//   display; the rest waits for the next poll;
// - the monitor is the queue's only reader, as the queue's contract demands.
// Threads: poll() runs in one thread at a time, the host's; the buffer locks its own queue.
class KAVRI_EXPORT KvGbtMonitor
{
public:
    static constexpr int MaxPerPoll = 65536;

    KvGbtMonitor(KvBuffer &buffer, KvGbtSession &session);
    ~KvGbtMonitor();

    // Drains the queue into the session; the number of frames fed.
    int poll();

private:
    Q_DISABLE_COPY(KvGbtMonitor)

    KvBuffer &buffer;
    KvGbtSession &session;
    QVector<VCI_CAN_OBJ> batch;
    bool started = false;
    quint32 lastStamp = 0;
    qint64 micros = 0;
};

#endif // KVGBTMONITOR_H
