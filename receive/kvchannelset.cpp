#include "kvchannelset.h"

KvChannelSet::KvChannelSet(const KvChannelSet &other)
{
    *this = other;
}

KvChannelSet &KvChannelSet::operator=(const KvChannelSet &other)
{
    option1 = other.option1;
    option2 = other.option2;
    taskMode = other.taskMode;
    optionFlag = other.optionFlag;
    rtSave.store(other.rtSave.load(std::memory_order_relaxed), std::memory_order_relaxed);
    usedTime.store(other.usedTime.load(std::memory_order_relaxed), std::memory_order_relaxed);
    receiveCount.store(other.receiveCount.load(std::memory_order_relaxed),
                       std::memory_order_relaxed);
    sendCount.store(other.sendCount.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
}
