#ifndef KVGLOBALSET_H
#define KVGLOBALSET_H

#include "kavri_global.h"
#include "kvchannelset.h"

#include <atomic>

// Process-wide settings and statistics shared by the application and the worker threads: the
// identifier format read from the user's settings store, the global watch switch and one record
// per channel. No lock: `watch` is an atomic flag read for every stored frame, and the channel
// records guard their own shared fields (see KvChannelSet).
//
// The settings store is the user's Qt settings of organisation "DrevoSoft", application "INIT";
// its key "IDFORMAT" is read once, when the object is built, and never written.
class KAVRI_EXPORT KvGlobalSet
{
public:
    static KvGlobalSet &instance();
    // Whether `channel` names one of the four channel records.
    static bool isChannel(int channel) { return channel >= 0 && channel < ChannelCount; }

    KvGlobalSet();
    KvGlobalSet(const KvGlobalSet &other);
    KvGlobalSet &operator=(const KvGlobalSet &other);

    bool isWatch() const { return watch.load(std::memory_order_relaxed); }
    // Turns the watch switch over: off becomes on and on becomes off.
    void onWatch();

    static constexpr int ChannelCount = 4;

    // "IDFORMAT": 1 selects the left-aligned (register) identifier layout for task frames; 0 when
    // the key is absent or not a number.
    int idFormat = 0;
    // While true, every channel's receive buffer keeps its watch list up to date.
    std::atomic<bool> watch{false};
    KvChannelSet channelSets[ChannelCount];
};

#endif // KVGLOBALSET_H
