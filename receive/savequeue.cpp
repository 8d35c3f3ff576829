#include "savequeue_p.h"

#include <algorithm>

namespace kavri {
namespace detail {

namespace {

// 256 records, about 11 KiB: large enough that a chunk changes hands rarely, small enough that a
// quiet channel holds little.
constexpr std::size_t ChunkSize = 256;
// Empty chunks kept for reuse: enough for a backlog of 16,384 records to drain and refill without
// allocating. A drained larger backlog gives the rest back to the allocator.
constexpr std::size_t MaxSpare = 64;

} // namespace

SaveQueue::Chunk SaveQueue::freshChunk()
{
    if (!spare.empty()) {
        Chunk chunk = std::move(spare.back());
        spare.pop_back();
        return chunk;
    }
    Chunk chunk;
    chunk.reserve(ChunkSize);
    return chunk;
}

void SaveQueue::append(const KvCanObj *records, int n)
{
    if (n <= 0)
        return;
    const std::lock_guard<std::mutex> locker(writerLock);
    for (int done = 0; done < n;) {
        if (written.empty() || written.back().size() == ChunkSize)
            written.push_back(freshChunk());
        Chunk &chunk = written.back();
        const int room = static_cast<int>(ChunkSize - chunk.size());
        const int part = std::min(room, n - done);
        chunk.insert(chunk.end(), records + done, records + done + part);
        done += part;
    }
    total.fetch_add(n, std::memory_order_relaxed);
}

bool SaveQueue::take(KvCanObj &record)
{
    return take(&record, 1) == 1;
}

int SaveQueue::take(KvCanObj *out, int max)
{
    if (max <= 0)
        return 0;
    const std::lock_guard<std::mutex> reader(readerLock);
    if (reading.empty()) {
        const std::lock_guard<std::mutex> writer(writerLock);
        reading.swap(written);
        for (Chunk &chunk : emptied) {
            if (spare.size() == MaxSpare)
                break;
            spare.push_back(std::move(chunk));
        }
        emptied.clear();
    }
    int taken = 0;
    while (taken < max && !reading.empty()) {
        Chunk &front = reading.front();
        const std::size_t part = std::min(front.size() - next, std::size_t(max - taken));
        std::copy(front.begin() + std::ptrdiff_t(next), front.begin() + std::ptrdiff_t(next + part),
                  out + taken);
        taken += int(part);
        next += part;
        if (next == front.size()) {
            if (emptied.size() < MaxSpare) {
                front.clear(); // keeps the capacity for the writers
                emptied.push_back(std::move(front));
            }
            reading.pop_front();
            next = 0;
        }
    }
    total.fetch_sub(taken, std::memory_order_relaxed);
    return taken;
}

void SaveQueue::clear()
{
    const std::lock_guard<std::mutex> reader(readerLock);
    const std::lock_guard<std::mutex> writer(writerLock);
    reading.clear();
    written.clear();
    next = 0;
    total.store(0, std::memory_order_relaxed);
}

} // namespace detail
} // namespace kavri
