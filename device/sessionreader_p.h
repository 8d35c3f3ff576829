// Internal: not part of the installed API.
#ifndef SESSIONREADER_P_H
#define SESSIONREADER_P_H

#include "kvcanobj.h"
#include "vci.h"

#include <QtCore/QVector>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class KvFrameSubscription;

namespace kavri {
namespace detail {

// The device session's reader: one thread that, while the session runs, takes every channel's
// real-time save queue out in batches and copies each batch to the channel's subscriptions, and
// empties the used channels' error logs into a count and the latest record per channel.
//
// A channel's save flag is set while the reader runs and the channel has a subscription, and
// only then, so the queue never grows without someone to empty it.
//
// Shared with the subscriptions (they hold it by shared pointer), so that either side may go
// first. Lock order: `lock`, then a subscription's own lock (inside deliver()), then the buffer's
// locks. `lock` is held for one channel's pass so that a subscription that has left is never
// delivered to again.
class SessionReader
{
public:
    struct ErrorLog
    {
        quint64 count = 0;
        VCI_ERR_INFO last{};
    };

    ~SessionReader();

    void subscribe(KvFrameSubscription *subscription);
    void unsubscribe(KvFrameSubscription *subscription);

    // Starts the thread for the session's `channels`. Called by the session's owner thread.
    void start(const QVector<int> &channels);
    // Stops the thread, then hands on what the queues still hold, so that a consumer sees every
    // frame stored before the threads that store them stopped. Clears the save flags it set.
    void stop();

    ErrorLog errors(int channel);
    bool isRunning();

private:
    void run();
    bool drainOnce();
    void flag(int channel, bool on); // caller holds lock

    static constexpr int Channels = 4;
    static constexpr int BatchSize = 4096;

    std::mutex lock;
    std::vector<KvFrameSubscription *> subscribers[Channels]; // guarded by lock
    QVector<int> used;                                        // guarded by lock
    bool active = false;                                      // guarded by lock
    bool flagged[Channels] = {};                              // guarded by lock
    ErrorLog errorLogs[Channels];                             // guarded by lock
    QVector<KvCanObj> batch; // guarded by lock (one drainer at a time)

    std::thread worker;  // started and joined by the session's owner thread
    std::mutex wakeLock; // guards quit
    std::condition_variable wake;
    bool quit = false;
};

} // namespace detail
} // namespace kavri

#endif // SESSIONREADER_P_H
