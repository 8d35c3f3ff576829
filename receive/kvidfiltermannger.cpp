#include "kvidfiltermannger.h"

#include <mutex>

namespace {
constexpr int ChannelCount = 4;
} // namespace

KvIdFilterMannger &KvIdFilterMannger::instance(int channel)
{
    // The four channels' managers, and a spare one for channels outside 0..3.
    static KvIdFilterMannger managers[ChannelCount + 1];
    return managers[(channel >= 0 && channel < ChannelCount) ? channel : ChannelCount];
}

KvIdFilterMannger::KvIdFilterMannger() : QObject(nullptr) {}

KvIdFilterMannger::KvIdFilterMannger(const KvIdFilterMannger &other) : QObject(nullptr)
{
    *this = other;
}

KvIdFilterMannger &KvIdFilterMannger::operator=(const KvIdFilterMannger &other)
{
    if (this == &other)
        return *this;
    // Snapshot the source under its own lock, then install under ours: never both at once.
    QQueue<KvIdFilter> notList, onlyList;
    {
        const std::lock_guard<std::mutex> locker(other.filterLock);
        notList = other.notReceiveList;
        onlyList = other.onlyReceiveList;
    }
    {
        const std::lock_guard<std::mutex> locker(filterLock);
        notReceiveList = notList;
        onlyReceiveList = onlyList;
        notCount = notReceiveList.size();
        onlyCount = onlyReceiveList.size();
    }
    setFilterMode(other.getFilterMode());
    return *this;
}

KvIdFilterMannger::~KvIdFilterMannger() = default;

void KvIdFilterMannger::addNotReceive(KvIdFilter f)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    notReceiveList.enqueue(f);
    notCount = notReceiveList.size();
}

void KvIdFilterMannger::addOnlyReceive(KvIdFilter f)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    onlyReceiveList.enqueue(f);
    onlyCount = onlyReceiveList.size();
}

void KvIdFilterMannger::replaceNotReceive(int i, KvIdFilter f)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    if (i >= 0 && i < notReceiveList.size())
        notReceiveList[i] = f;
}

void KvIdFilterMannger::replaceOnlyReceive(int i, KvIdFilter f)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    if (i >= 0 && i < onlyReceiveList.size())
        onlyReceiveList[i] = f;
}

void KvIdFilterMannger::removeAtNotReceive(int i)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    if (i >= 0 && i < notReceiveList.size()) {
        notReceiveList.removeAt(i);
        notCount = notReceiveList.size();
    }
}

void KvIdFilterMannger::removeAtOnlyReceive(int i)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    if (i >= 0 && i < onlyReceiveList.size()) {
        onlyReceiveList.removeAt(i);
        onlyCount = onlyReceiveList.size();
    }
}

KvIdFilter KvIdFilterMannger::getNotReceive(int i)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    if (i < 0 || i >= notReceiveList.size())
        return KvIdFilter();
    return notReceiveList.at(i);
}

KvIdFilter KvIdFilterMannger::getOnlyReceive(int i)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    if (i < 0 || i >= onlyReceiveList.size())
        return KvIdFilter();
    return onlyReceiveList.at(i);
}

void KvIdFilterMannger::clearNotReceive()
{
    const std::lock_guard<std::mutex> locker(filterLock);
    notReceiveList.clear();
    notCount = 0;
}

void KvIdFilterMannger::clearOnlyReceive()
{
    const std::lock_guard<std::mutex> locker(filterLock);
    onlyReceiveList.clear();
    onlyCount = 0;
}

QQueue<KvIdFilter> KvIdFilterMannger::getNotReceiveQueue()
{
    const std::lock_guard<std::mutex> locker(filterLock);
    return notReceiveList;
}

QQueue<KvIdFilter> KvIdFilterMannger::getOnlyReceiveQueue()
{
    const std::lock_guard<std::mutex> locker(filterLock);
    return onlyReceiveList;
}

bool KvIdFilterMannger::isValid(unsigned int id)
{
    switch (getFilterMode()) {
    case 1:
        return !isNotReceive(id);
    case 2:
        return isOnlyReceive(id);
    default:
        return true;
    }
}

bool KvIdFilterMannger::isNotReceive(unsigned int id)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    return anyMatches(notReceiveList, id);
}

bool KvIdFilterMannger::isOnlyReceive(unsigned int id)
{
    const std::lock_guard<std::mutex> locker(filterLock);
    return anyMatches(onlyReceiveList, id);
}

bool KvIdFilterMannger::anyMatches(const QQueue<KvIdFilter> &list, unsigned int id)
{
    for (const KvIdFilter &f : list) {
        if (f.matches(id))
            return true;
    }
    return false;
}
