#ifndef SAVEQUEUE_P_H
#define SAVEQUEUE_P_H

// Internal to the engine library: not installed, not part of the API.

#include "kvcanobj.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace kavri {
namespace detail {

// A first-in, first-out queue of received and sent records with many writers and one reader at a
// time, built so that a reader draining it on one core does not slow the receive path on another.
//
// The writers append whole reads to the writers' half under their own lock; the reader takes from
// its half under another lock and, only when that runs dry, swaps in everything the writers have
// queued (reader's lock, then writers' lock). Records are kept in chunks that the reader hands
// back for the writers to fill again, so a running bus allocates no memory here and the reader
// never frees memory that a writer allocated (which would contend for the allocator's arena).
class SaveQueue
{
public:
    void append(const KvCanObj *records, int n);
    bool take(KvCanObj &record);
    // Takes up to `max` oldest records into `out`, in order; returns how many.
    int take(KvCanObj *out, int max);
    void clear();
    int count() const { return total.load(std::memory_order_relaxed); }

private:
    using Chunk = std::vector<KvCanObj>;

    Chunk freshChunk(); // caller holds writerLock

    std::mutex writerLock;
    std::deque<Chunk> written; // guarded by writerLock; the newest chunk is the one being filled
    std::vector<Chunk> spare;  // guarded by writerLock; empty chunks ready to be filled again

    std::mutex readerLock;      // taken before writerLock when both are needed
    std::deque<Chunk> reading;  // guarded by readerLock; older than anything in written
    std::size_t next = 0;       // guarded by readerLock; position in reading.front()
    std::vector<Chunk> emptied; // guarded by readerLock; handed to spare at the next swap

    // Both halves. Added to under writerLock, taken from under readerLock, zeroed under both.
    std::atomic<int> total{0};
};

} // namespace detail
} // namespace kavri

#endif // SAVEQUEUE_P_H
