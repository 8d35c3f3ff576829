#include "kvframesubscription.h"

#include "kvdevicesession.h"
#include "sessionreader_p.h"

#include <algorithm>
#include <chrono>

KvFrameSubscription::KvFrameSubscription(KvDeviceSession &session, int channel, int bound)
    : ch(channel), limit(std::max(1, bound)), reader(session.frameReader)
{
    reader->subscribe(this);
}

KvFrameSubscription::~KvFrameSubscription()
{
    reader->unsubscribe(this);
}

void KvFrameSubscription::deliver(const KvCanObj *records, int n)
{
    int kept = 0;
    {
        const std::lock_guard<std::mutex> locker(lock);
        kept = std::min(n, limit - int(queue.size()));
        if (kept > 0)
            queue.insert(queue.end(), records, records + kept);
    }
    if (kept < n)
        drops.fetch_add(quint64(n - std::max(kept, 0)), std::memory_order_relaxed);
    if (kept > 0)
        arrived.notify_all();
}

int KvFrameSubscription::take(QVector<KvCanObj> &out, int max)
{
    const std::lock_guard<std::mutex> locker(lock);
    const int n = std::min(max, int(queue.size()));
    if (n <= 0)
        return 0;
    out.reserve(out.size() + n);
    for (int i = 0; i < n; ++i)
        out.append(queue[size_t(i)]);
    queue.erase(queue.begin(), queue.begin() + n);
    return n;
}

int KvFrameSubscription::pending() const
{
    const std::lock_guard<std::mutex> locker(lock);
    return int(queue.size());
}

bool KvFrameSubscription::waitForFrames(int msecs)
{
    std::unique_lock<std::mutex> locker(lock);
    return arrived.wait_for(locker, std::chrono::milliseconds(std::max(0, msecs)),
                            [this] { return !queue.empty(); });
}
