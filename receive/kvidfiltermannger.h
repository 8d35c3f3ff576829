#ifndef KVIDFILTERMANNGER_H
#define KVIDFILTERMANNGER_H

#include "kavri_global.h"
#include "kvidfilter.h"

#include <QtCore/QObject>
#include <QtCore/QQueue>
#include <mutex>

#include <atomic>

// The ID filter of one channel: a not-receive list and an only-receive list of identifier
// ranges, and a mode that puts one of them in force.
//   mode 1: a received frame is dropped when its identifier lies in a not-receive range;
//   mode 2: it is dropped when its identifier lies in no only-receive range (so an empty list
//           drops everything);
//   any other mode: nothing is dropped.
// Frames this library transmits are never filtered.
//
// The receive thread asks for every received frame while the application edits the lists:
// `filterLock` guards both lists; the mode and the counts are single words read without it
// (a change applies from the next frame). Every filter taken or returned is a copy. The lock is a
// standard mutex, whose waits race checkers can follow.
//
// There are four managers, one per channel. instance() with a channel outside 0..3 returns a
// fifth manager of its own, so a caller's mistake can neither crash nor change a real channel.
class KAVRI_EXPORT KvIdFilterMannger : public QObject
{
    Q_OBJECT
public:
    static KvIdFilterMannger &instance(int channel);

    KvIdFilterMannger();
    // Copies the mode and both lists; the copy has its own lock.
    KvIdFilterMannger(const KvIdFilterMannger &other);
    KvIdFilterMannger &operator=(const KvIdFilterMannger &other);
    ~KvIdFilterMannger() override;

    void addNotReceive(KvIdFilter f);
    void addOnlyReceive(KvIdFilter f);
    // Positions outside the list change nothing.
    void replaceNotReceive(int i, KvIdFilter f);
    void replaceOnlyReceive(int i, KvIdFilter f);
    void removeAtNotReceive(int i);
    void removeAtOnlyReceive(int i);
    // A copy of the filter at position i; outside the list, a default (empty) range.
    KvIdFilter getNotReceive(int i);
    KvIdFilter getOnlyReceive(int i);
    int NotReceiveCount() const { return notCount.load(std::memory_order_relaxed); }
    int OnlyReceiveCount() const { return onlyCount.load(std::memory_order_relaxed); }
    void clearNotReceive();
    void clearOnlyReceive();
    QQueue<KvIdFilter> getNotReceiveQueue();
    QQueue<KvIdFilter> getOnlyReceiveQueue();

    // Any value is accepted; only 1 and 2 filter.
    void setFilterMode(int mode) { filterMode.store(mode, std::memory_order_relaxed); }
    int getFilterMode() const { return filterMode.load(std::memory_order_relaxed); }

    // Whether a received frame with identifier `id` passes under the current mode.
    bool isValid(unsigned int id);

protected:
    bool isNotReceive(unsigned int id);
    bool isOnlyReceive(unsigned int id);

private:
    static bool anyMatches(const QQueue<KvIdFilter> &list, unsigned int id);

    QQueue<KvIdFilter> notReceiveList;  // guarded by filterLock
    QQueue<KvIdFilter> onlyReceiveList; // guarded by filterLock
    std::atomic<int> filterMode{0};
    mutable std::mutex filterLock;
    // Sizes of the lists, kept beside them (under filterLock) so they can be read without it.
    std::atomic<int> notCount{0};
    std::atomic<int> onlyCount{0};
};

#endif // KVIDFILTERMANNGER_H
