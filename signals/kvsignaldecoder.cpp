#include "kvsignaldecoder.h"

#include "kvbuffer.h"

#include <algorithm>
#include <chrono>

KvSignalDecoder::KvSignalDecoder(KvBuffer &buffer, const KvDbcDatabase &database)
    : buffer(buffer), database(database), states(database.signalCount()),
      rings(size_t(database.signalCount()))
{
    batch.reserve(BatchSize);
}

KvSignalDecoder::~KvSignalDecoder()
{
    stop();
}

double KvSignalDecoder::timeOf(quint32 stamp)
{
    if (stamp == 0)
        return lastTime;
    if (stamp < lastStamp && lastStamp - stamp > 0x80000000u)
        ++wraps;
    lastStamp = stamp;
    lastTime = (double(wraps) * 4294967296.0 + double(stamp)) / 10000.0;
    return lastTime;
}

int KvSignalDecoder::poll()
{
    const std::lock_guard<std::mutex> pollLocker(pollLock);
    int taken = 0;
    while (taken < MaxFramesPerPoll) {
        batch.resize(0);
        const int n = buffer.takeDBCFrames(batch, std::min(BatchSize, MaxFramesPerPoll - taken));
        if (n <= 0)
            break;
        taken += n;
        quint64 known = 0;
        const std::lock_guard<std::mutex> stateLocker(stateLock);
        for (const VCI_CAN_OBJ &frame : qAsConst(batch)) {
            const int m = database.decode(frame, values);
            const double time = timeOf(frame.TimeStamp);
            if (m < 0)
                continue;
            ++known;
            const int first = database.messages().at(m).firstSignal;
            for (int s = 0; s < values.size(); ++s) {
                const KvDbcValue &v = values.at(s);
                if (!v.present)
                    continue;
                KvSignalState &state = states[first + s];
                state.physical = v.physical;
                state.raw = v.raw;
                state.integer = v.integer;
                state.time = time;
                ++state.updates;
                if (ringSize <= 0)
                    continue;
                Ring &ring = rings[size_t(first + s)];
                if (ring.samples.empty())
                    ring.samples.resize(size_t(ringSize));
                ring.samples[size_t(ring.head)] = {time, v.physical};
                ring.head = (ring.head + 1) % ringSize;
                ring.count = std::min(ring.count + 1, ringSize);
            }
        }
        decoded.fetch_add(known, std::memory_order_relaxed);
        unknown.fetch_add(quint64(n) - known, std::memory_order_relaxed);
    }
    return taken;
}

bool KvSignalDecoder::start(int intervalMs)
{
    if (worker.joinable())
        return false;
    {
        const std::lock_guard<std::mutex> locker(wakeLock);
        stopping = false;
    }
    worker = std::thread(&KvSignalDecoder::run, this, std::max(intervalMs, 1));
    return true;
}

void KvSignalDecoder::stop()
{
    if (!worker.joinable())
        return;
    {
        const std::lock_guard<std::mutex> locker(wakeLock);
        stopping = true;
    }
    wake.notify_all();
    worker.join();
}

bool KvSignalDecoder::isRunning() const
{
    return worker.joinable();
}

void KvSignalDecoder::run(int intervalMs)
{
    std::unique_lock<std::mutex> locker(wakeLock);
    while (!stopping) {
        locker.unlock();
        poll();
        locker.lock();
        wake.wait_for(locker, std::chrono::milliseconds(intervalMs), [this] { return stopping; });
    }
    locker.unlock();
    poll(); // what arrived before the stop
}

void KvSignalDecoder::setHistorySize(int samples)
{
    const std::lock_guard<std::mutex> locker(stateLock);
    ringSize = std::max(samples, 0);
    for (Ring &ring : rings)
        ring = Ring();
}

int KvSignalDecoder::historySize() const
{
    const std::lock_guard<std::mutex> locker(stateLock);
    return ringSize;
}

void KvSignalDecoder::reset()
{
    const std::lock_guard<std::mutex> locker(stateLock);
    std::fill(states.begin(), states.end(), KvSignalState());
    for (Ring &ring : rings)
        ring = Ring();
    decoded.store(0, std::memory_order_relaxed);
    unknown.store(0, std::memory_order_relaxed);
}

KvSignalState KvSignalDecoder::latest(int signal) const
{
    const std::lock_guard<std::mutex> locker(stateLock);
    return signal >= 0 && signal < states.size() ? states.at(signal) : KvSignalState();
}

int KvSignalDecoder::history(int signal, QVector<KvSignalSample> &out) const
{
    out.resize(0);
    const std::lock_guard<std::mutex> locker(stateLock);
    if (signal < 0 || size_t(signal) >= rings.size())
        return 0;
    const Ring &ring = rings[size_t(signal)];
    out.reserve(ring.count);
    const int size = int(ring.samples.size());
    for (int i = 0; i < ring.count; ++i)
        out.append(ring.samples[size_t((ring.head - ring.count + i + size) % size)]);
    return ring.count;
}
