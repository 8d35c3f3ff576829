#include "kvpipe.h"

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
        QMutexLocker locker(&lock);
        queue.enqueue(data);
        queued.store(queue.size(), std::memory_order_relaxed);
    }
    pushed.wakeAll();
}

CanData KvPipe::pop()
{
    CanData data;
    tryPop(data);
    return data;
}

bool KvPipe::tryPop(CanData &data)
{
    QMutexLocker locker(&lock);
    if (queue.isEmpty())
        return false;
    data = queue.dequeue();
    queued.store(queue.size(), std::memory_order_relaxed);
    return true;
}

bool KvPipe::waitForData(int msecs)
{
    QMutexLocker locker(&lock);
    if (queue.isEmpty())
        pushed.wait(&lock, msecs < 0 ? 0ul : static_cast<unsigned long>(msecs));
    return !queue.isEmpty();
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
    QMutexLocker locker(&lock);
    queue.clear();
    queued.store(0, std::memory_order_relaxed);
}
