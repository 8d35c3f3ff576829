// Internal: not part of the installed API.
#ifndef CHANNELSTATS_P_H
#define CHANNELSTATS_P_H

#include "kvglobalset.h"

// The send statistics of a channel, shared by every sender of that channel.
namespace ChannelStats {

inline KvChannelSet &of(unsigned long channel)
{
    return KvGlobalSet::instance().channelSets[channel & 3];
}

// Several senders of one channel may count at once; no increase may be lost.
inline void addSent(unsigned long channel, int frames)
{
    of(channel).sendCount.fetch_add(frames, std::memory_order_relaxed);
}

inline void setUsedTime(unsigned long channel, double seconds)
{
    of(channel).usedTime = seconds;
}

} // namespace ChannelStats

#endif // CHANNELSTATS_P_H
