#include "kvpipe.h"

#include <algorithm>
#include <chrono>
#include <thread>

KvPipe &KvPipe::instance(int channel)
{
    static KvPipe pipes[4];
    static KvPipe stray;
    if (channel < 0 || channel > 3)
        return stray;
    return pipes[channel];
}

KvPipe::KvPipe() = default;

KvPipe::~KvPipe() = default;

void KvPipe::push(const CanData &data)
{
    {
        std::lock_guard<std::mutex> locker(lock);
        queue.enqueue(data);
        queued.store(queue.size(), std::memory_order_relaxed);
    }
    pushed.notify_all();
}

CanData KvPipe::pop()
{
    CanData data;
    tryPop(data);
    return data;
}

bool KvPipe::tryPop(CanData &data)
{
    bool roomMade = false;
    {
        std::lock_guard<std::mutex> locker(lock);
        if (queue.isEmpty())
            return false;
        data = queue.dequeue();
        queued.store(queue.size(), std::memory_order_relaxed);
        roomMade = !roomMarks.empty() &&
                   queue.size() <= *std::max_element(roomMarks.cbegin(), roomMarks.cend());
    }
    if (roomMade)
        taken.notify_all();
    return true;
}

bool KvPipe::waitForData(int msecs)
{
    std::unique_lock<std::mutex> locker(lock);
    if (msecs > 0)
        pushed.wait_for(locker, std::chrono::milliseconds(msecs),
                        [this] { return !queue.isEmpty() || wakeRequested; });
    wakeRequested = false;
    return !queue.isEmpty();
}

void KvPipe::wakeConsumer()
{
    {
        std::lock_guard<std::mutex> locker(lock);
        wakeRequested = true;
    }
    pushed.notify_all();
}

bool KvPipe::waitForRoom(int maxQueued, int msecs)
{
    std::unique_lock<std::mutex> locker(lock);
    if (msecs > 0 && queue.size() > maxQueued) {
        roomMarks.push_back(maxQueued);
        taken.wait_for(locker, std::chrono::milliseconds(msecs),
                       [this, maxQueued] { return queue.size() <= maxQueued; });
        roomMarks.erase(std::find(roomMarks.begin(), roomMarks.end(), maxQueued));
    }
    return queue.size() <= maxQueued;
}

namespace {

// Tests `ready` until it holds or `usecs` have passed, yielding the processor between tests.
template <typename Ready> bool pollUntil(Ready ready, int usecs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::microseconds(usecs);
    for (;;) {
        if (ready())
            return true;
        if (Clock::now() >= until)
            return false;
        std::this_thread::yield();
    }
}

} // namespace

bool KvPipe::pollForRoom(int maxQueued, int usecs) const
{
    return pollUntil([this, maxQueued] { return count() <= maxQueued; }, usecs);
}

bool KvPipe::pollForData(int usecs) const
{
    return pollUntil([this] { return count() > 0; }, usecs);
}

int KvPipe::count() const
{
    return queued.load(std::memory_order_relaxed);
}

bool KvPipe::isEmpty() const
{
    return count() == 0;
}

void KvPipe::clear()
{
    {
        std::lock_guard<std::mutex> locker(lock);
        queue.clear();
        queued.store(0, std::memory_order_relaxed);
    }
    taken.notify_all();
}

void KvPipe::consumerEnded()
{
    {
        std::lock_guard<std::mutex> locker(lock);
        consumerEnds.fetch_add(1);
    }
    taken.notify_all();
}

quint64 KvPipe::consumerEndCount() const
{
    return consumerEnds.load();
}
