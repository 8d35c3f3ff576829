#include "sessionreader_p.h"

#include "kvbuffer.h"
#include "kvframesubscription.h"
#include "kvglobalset.h"

#include <algorithm>
#include <chrono>

namespace kavri {
namespace detail {

namespace {

// An idle reader looks again this often; a stop wakes it at once.
constexpr auto IdlePoll = std::chrono::milliseconds(5);

} // namespace

SessionReader::~SessionReader()
{
    stop();
}

void SessionReader::flag(int channel, bool on)
{
    if (flagged[channel] == on)
        return;
    flagged[channel] = on;
    KvGlobalSet::instance().channelSets[channel].rtSave = on;
}

void SessionReader::subscribe(KvFrameSubscription *subscription)
{
    const int c = subscription->channel();
    if (!KvGlobalSet::isChannel(c))
        return;
    const std::lock_guard<std::mutex> locker(lock);
    subscribers[c].push_back(subscription);
    if (active)
        flag(c, true);
}

void SessionReader::unsubscribe(KvFrameSubscription *subscription)
{
    const int c = subscription->channel();
    if (!KvGlobalSet::isChannel(c))
        return;
    const std::lock_guard<std::mutex> locker(lock);
    std::vector<KvFrameSubscription *> &list = subscribers[c];
    list.erase(std::remove(list.begin(), list.end(), subscription), list.end());
    if (list.empty())
        flag(c, false);
}

void SessionReader::start(const QVector<int> &channels)
{
    stop();
    {
        const std::lock_guard<std::mutex> locker(lock);
        used = channels;
        active = true;
        for (int c = 0; c < Channels; ++c) {
            errorLogs[c] = ErrorLog();
            if (!subscribers[c].empty())
                flag(c, true);
        }
    }
    {
        const std::lock_guard<std::mutex> locker(wakeLock);
        quit = false;
    }
    worker = std::thread([this] { run(); });
}

void SessionReader::stop()
{
    if (!worker.joinable())
        return;
    {
        const std::lock_guard<std::mutex> locker(wakeLock);
        quit = true;
    }
    wake.notify_all();
    worker.join();
    while (drainOnce()) {
    }
    const std::lock_guard<std::mutex> locker(lock);
    active = false;
    for (int c = 0; c < Channels; ++c)
        flag(c, false);
}

bool SessionReader::isRunning()
{
    const std::lock_guard<std::mutex> locker(lock);
    return active;
}

SessionReader::ErrorLog SessionReader::errors(int channel)
{
    const std::lock_guard<std::mutex> locker(lock);
    return KvGlobalSet::isChannel(channel) ? errorLogs[channel] : ErrorLog();
}

void SessionReader::run()
{
    for (;;) {
        const bool busy = drainOnce();
        std::unique_lock<std::mutex> locker(wakeLock);
        if (quit)
            return;
        if (!busy)
            wake.wait_for(locker, IdlePoll, [this] { return quit; });
    }
}

bool SessionReader::drainOnce()
{
    bool busy = false;
    const std::lock_guard<std::mutex> locker(lock);
    for (int c : qAsConst(used)) {
        if (!KvGlobalSet::isChannel(c))
            continue;
        KvBuffer &buffer = KvBuffer::instance(c);
        VCI_ERR_INFO info;
        while (buffer.getErrorData(info)) {
            ++errorLogs[c].count;
            errorLogs[c].last = info;
        }
    }
    for (int c = 0; c < Channels; ++c) {
        if (subscribers[c].empty())
            continue;
        batch.clear();
        if (KvBuffer::instance(c).takeRtSaveFrames(batch, BatchSize) == 0)
            continue;
        busy = true;
        for (KvFrameSubscription *s : subscribers[c])
            s->deliver(batch.constData(), batch.size());
    }
    return busy;
}

} // namespace detail
} // namespace kavri
