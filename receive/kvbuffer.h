#ifndef KVBUFFER_H
#define KVBUFFER_H

#include "canobjstr.h"
#include "kavri_global.h"
#include "kvcanobj.h"
#include "kvcanobjwatch.h"
#include "kvcanobjwatchstr.h"
#include "vci.h"

#include <QtCore/QHash>
#include <QtCore/QVector>
#include <mutex>

#include <atomic>
#include <deque>
#include <memory>

// The store of one channel's bus traffic, from which the application's display reads.
//
// Every frame the library receives or transmits on the channel is offered to addFrame(), which
// counts it and its bus bits, drops transmitted frames while they are hidden, passes received
// frames through the channel's ID filter, stamps the host's local time of day and appends the
// frame to a bounded list (the oldest record goes once the list holds more than getMaxCount()).
// The application reads the list by position and gets each record as display texts.
//
// Beside the list the buffer keeps
//   - the watch list: the latest frame per identifier, in the order identifiers were first seen,
//     with a mark of the data bytes that ever changed (fed while the global watch switch is on);
//   - the real-time save queue: every stored frame until the application takes it out (fed while
//     the channel's save flag is set);
//   - the DBC and GB/T 27930 queues, raw received frames for the application's decoders (fed by
//     the receive thread while their switches are on), and the log of adapter error records.
//
// Threads: the receive thread, the transmit thread and any sending thread of the channel call
// addFrame() at the same time while the application reads and changes settings. Each list and
// queue has a lock of its own, held only around its container operation, and no two are ever
// held at once. The totals are atomics; the counts are kept beside their lists so they can be
// read without a lock; the switches are single atomic words, and a change applies from the next
// frame. The locks are standard mutexes, whose waits race checkers can follow.
//
// There are four buffers, one per channel, built together on first use. instance() with a
// channel outside 0..3 returns a fifth buffer of its own, so a caller's mistake can neither crash
// nor mix into a real channel's traffic.
namespace kavri {
namespace detail {
class SaveQueue;
}
} // namespace kavri

class KAVRI_EXPORT KvBuffer
{
public:
    static KvBuffer &instance(int channel);

    KvBuffer();
    ~KvBuffer();

    // The channel whose ID filter and settings record addFrame() consults.
    void setChannel(int channel);

    // Stores a new maximum and clears nothing: a list that is already longer shrinks by no more
    // than it grows, one oldest record per newly stored frame. Returns true.
    bool init(int maxCount);
    // A new maximum empties the frame list, the watch list and the save queue and zeroes the
    // totals; the current maximum changes nothing.
    void setMaxCount(int n);
    int getMaxCount() const;
    // Kept for the application's display timer; the buffer never reads it.
    void setRefreshCycle(int cycle);
    int getRefreshCycle() const;
    // Kept for the application; the buffer never reads it.
    void setLooking(bool looking);
    bool getLooking() const;
    // While set, transmitted frames are counted but not stored.
    void setHideSendFrame(bool hide);
    bool getHideSendFrame() const;

    // Offers `count` consecutive adapter records; `send` is true for frames this library
    // transmitted. Every record counts in frames() and size(), stored or not. Returns the number
    // stored; 0 for a count below 1 or a null array.
    int addFrame(VCI_CAN_OBJ *frames, int count, bool send);
    // The record at `index` (0 = oldest) as texts, its index column set to `index`; a record of
    // thirteen empty texts outside the list.
    CanObjStr getFrame(int index);
    // The display texts of one record; `index` and the spare columns stay empty.
    //   received standard data frame 0x123, stamp 0x1F40, 01 A2 FF, at 09:05:03.007 ->
    //   "00000123 ", "0x1F40", "09:05:03:007", "Data", "Standard", "3", "01 A2 FF", "Rx"
    //   transmitted frame -> time stamp "NULL", direction "Tx"
    static CanObjStr analyseData(const KvCanObj &record);
    // True for a record with TimeStamp 0 (frames built for transmission carry none); false for
    // a null pointer.
    static bool isSendFrame(VCI_CAN_OBJ *frame);
    // Bits on the bus without stuffing and inter-frame space: standard 44, extended 64, plus
    // 8 per data byte for a data frame. `frame` must not be null.
    static int getFramesBytes(VCI_CAN_OBJ *frame);
    // Adds `n` to the bit total.
    void addSize(int n);
    // Bits offered since the last reset (a 32-bit total that wraps).
    int size() const;
    // Records in the frame list.
    int count() const;
    // Frames offered since the last reset, stored or not (a 32-bit total that wraps).
    int frames() const;
    // Empties the frame list, the watch list and the save queue and zeroes the totals. The
    // maximum, the switches and the side queues stay.
    void reset();
    // Empties the frame list only.
    void clear();

    // Watch list. Identifiers are bare 32-bit numbers: a standard and an extended frame with the
    // same number share one record.
    //
    // Merges a stored frame: a new identifier is appended (the first record goes when the list
    // then holds more than the maximum); a known one gets bit i set for each data byte i, of all
    // eight, that differs from the stored frame, and its frame replaced.
    void addWatchFrame(KvCanObj &record);
    // The record at `index` as texts with its changed bits; outside the list, index text "-1",
    // other texts empty and no bit set.
    KvCanObjWatchStr getWatchFrame(int index);
    int countW() const;
    void clearW();

    // Real-time save queue, first in, first out, without a bound.
    void addRtSaveFrame(KvCanObj &record);
    // Takes the oldest record out and returns its texts with the index column set to `number`,
    // which only labels the result. On an empty queue: a record of thirteen empty texts.
    CanObjStr getRtSaveFrame(int number);
    // Takes up to `max` oldest records out, as records rather than texts, and appends them to
    // `out` in order. Returns how many were taken (0 on an empty queue or for `max` below 1).
    int takeRtSaveFrames(QVector<KvCanObj> &out, int max);
    int countRt() const;

    // DBC queue: received frames for the application's DBC decoding. A queued frame carries ID,
    // TimeStamp, RemoteFlag, ExternFlag, DataLen and the data; the other bytes read 0.
    void setDBCRun(bool on);
    bool DBCRun() const;
    // Queues the records in order and returns `count` (nothing is queued for a count below 1).
    int addDBCFrame(VCI_CAN_OBJ *frames, int count);
    // Copies the oldest frame without removing it; false, `out` untouched, when empty.
    bool DBCFrame(VCI_CAN_OBJ &out);
    void ClearDBC();

    // GB/T 27930 queue: received extended frames for the application's charger-protocol
    // decoding; carried fields as in the DBC queue.
    void setGBT27930Run(bool on);
    bool GBT27930Run() const;
    // Queues the extended records in order, skips standard ones, and returns `count`.
    int addGBT27930Frame(VCI_CAN_OBJ *frames, int count);
    // Takes the oldest frame out; false, `out` untouched, when empty.
    bool GBT27930Frame(VCI_CAN_OBJ &out);
    // Drops the oldest frame; false when empty.
    bool DeleteGBT27930Frame();
    void ClearGBT27930();

    // Error log: adapter error records, whole, oldest first.
    void addErrorData(VCI_ERR_INFO &info);
    // Takes the oldest record out; false, `out` untouched, when empty.
    bool getErrorData(VCI_ERR_INFO &out);

protected:
    // Position of the watch record of `id`, or -1.
    int findWatchFrame(unsigned int id);

private:
    Q_DISABLE_COPY(KvBuffer)

    // Records stored by one addFrame() call enter the lists this many at a time.
    static constexpr int StoreChunk = 64;

    bool storesFrame(const VCI_CAN_OBJ &frame, bool send, int channel);
    void appendFrames(const KvCanObj *records, int n);
    void mergeWatchFrames(const KvCanObj *records, int n);
    void mergeWatchFrame(const KvCanObj &record); // caller holds watchLock
    void emptyLists();
    static VCI_CAN_OBJ carriedFields(const VCI_CAN_OBJ &frame);

    std::deque<VCI_CAN_OBJ> dbcQueue; // guarded by dbcLock
    std::mutex dbcLock;
    std::deque<VCI_CAN_OBJ> gbtQueue; // guarded by gbtLock
    std::mutex gbtLock;
    // Written under frameLock; an atomic so the watch list can read it under its own lock.
    std::atomic<int> maxCount{30000};
    std::atomic<int> refreshCycle{500};
    std::atomic<int> channel{0};
    std::atomic<int> bitTotal{0};
    std::deque<KvCanObj> frameList; // guarded by frameLock; oldest first
    // The real-time save queue; it keeps its own locks (a writers' one and a reader's one) so
    // that the application draining it does not hold up the receive path.
    const std::unique_ptr<kavri::detail::SaveQueue> rtSaveList;

    // Guarded by watchLock. The list keeps first-seen order; beside it an index by identifier
    // holds each record's sequence number, so finding a record costs the same with five or five
    // thousand identifiers. Position = sequence - watchFrontSeq, so dropping the first record
    // just advances watchFrontSeq instead of renumbering the rest.
    std::deque<KvCanObjWatch> watchList;
    QHash<quint32, qint64> watchIndex;
    qint64 watchFrontSeq = 0;

    std::deque<VCI_ERR_INFO> errorQueue; // guarded by errorLock
    std::mutex errorLock;
    std::atomic<bool> dbcRun{false};
    std::atomic<bool> gbtRun{false};
    std::mutex frameLock;
    std::mutex watchLock;
    std::atomic<int> frameTotal{0};
    std::atomic<bool> hideSendFrame{false};
    std::atomic<bool> looking{false};

    // List sizes, written under the list's lock and read without it.
    std::atomic<int> frameCount{0};
    std::atomic<int> watchCount{0};
};

#endif // KVBUFFER_H
