#ifndef KVCHANNELSET_H
#define KVCHANNELSET_H

#include "kavri_global.h"

#include <atomic>

// Per-channel settings and traffic statistics, one record per channel inside the global
// settings. The application reads and writes the fields directly.
//
// The fields that worker threads touch while the application reads them are atomics with plain
// (relaxed) loads and stores, so writing `set.rtSave = true` or reading `set.receiveCount` from
// any thread is safe; `sendCount` is added to by several senders of a channel at once
// (`sendCount += n` is one atomic addition). Copying reads each field once; it is meant for
// snapshots, not for a record that threads are updating at that moment.
class KAVRI_EXPORT KvChannelSet
{
public:
    KvChannelSet() = default;
    KvChannelSet(const KvChannelSet &other);
    KvChannelSet &operator=(const KvChannelSet &other);

    int option1 = 2; // the application's own choices; the library never reads them
    int option2 = 1;
    int taskMode = 0; // task run mode: 0 sequential, 1 cyclic, 2 parallel
    bool optionFlag = false;
    // While true, every frame stored in this channel's receive buffer is also queued for saving.
    std::atomic<bool> rtSave{false};
    // Seconds the latest sending run has taken so far; -1.0 before any was measured.
    std::atomic<double> usedTime{-1.0};
    // Frames received on the channel; only the channel's receive thread adds to it.
    std::atomic<int> receiveCount{0};
    // Frames handed over for transmission on the channel, by every sender of the channel.
    std::atomic<int> sendCount{0};
};

#endif // KVCHANNELSET_H
