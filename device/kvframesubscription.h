#ifndef KVFRAMESUBSCRIPTION_H
#define KVFRAMESUBSCRIPTION_H

#include "kavri_global.h"
#include "kvcanobj.h"

#include <QtCore/QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

class KvDeviceSession;
namespace kavri {
namespace detail {
class SessionReader;
}
} // namespace kavri

// One consumer's share of a channel's stored frames. A channel's real-time save queue gives each
// record to one reader only; the session is that reader and copies every record it takes to each
// subscription of the channel. The consumer pulls them out at its own pace:
//
//     KvFrameSubscription trace(session, 0, 10000);
//     ...
//     QVector<KvCanObj> frames;
//     while (trace.waitForFrames(100))
//         trace.take(frames);            // every frame of channel 0, in order
//
// Each subscription holds at most bound() records. Records that arrive while it is full are
// dropped for this subscription alone and counted in dropped(): a slow consumer loses frames of
// its own, and never holds up the other consumers or the receive path.
//
// While a channel has subscriptions and the session runs, the session keeps the channel's save
// flag set and is the queue's only reader; getRtSaveFrame() then has nothing to give.
//
// The subscription may outlive its session (it then gets nothing more) and may be destroyed at
// any time; once its destructor has returned, the session's reader never touches it again.
//
// Threads: the session's reader thread delivers, the consumer takes; `lock` guards `queue` and is
// held only around the container operation. The consumer's calls come from one thread at a time.
class KAVRI_EXPORT KvFrameSubscription
{
public:
    // Subscribes to `channel` (0 to 3) of `session`; `bound` records at most, 1 or more.
    KvFrameSubscription(KvDeviceSession &session, int channel, int bound = 65536);
    ~KvFrameSubscription();

    int channel() const { return ch; }
    int bound() const { return limit; }

    // Appends up to `max` waiting records to `out`, oldest first; returns how many.
    int take(QVector<KvCanObj> &out, int max = 1 << 30);
    // Records waiting.
    int pending() const;
    // Records dropped because this subscription was full, since it was made.
    quint64 dropped() const { return drops.load(std::memory_order_relaxed); }
    // Waits up to `msecs` until a record waits; true when one does.
    bool waitForFrames(int msecs);

private:
    Q_DISABLE_COPY(KvFrameSubscription)
    friend class kavri::detail::SessionReader;

    // Called by the session's reader thread: appends what fits, counts the rest as dropped.
    void deliver(const KvCanObj *records, int n);

    const int ch;
    const int limit;
    const std::shared_ptr<kavri::detail::SessionReader> reader;
    mutable std::mutex lock;
    std::condition_variable arrived; // signalled after records were delivered
    std::deque<KvCanObj> queue;      // guarded by lock
    std::atomic<quint64> drops{0};
};

#endif // KVFRAMESUBSCRIPTION_H
