#ifndef KVSIGNALDECODER_H
#define KVSIGNALDECODER_H

#include "kavri_global.h"
#include "kvdbcdatabase.h"
#include "vci.h"

#include <QtCore/QVector>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class KvBuffer;

// One point of a signal's history: the frame's time and the physical value.
struct KvSignalSample
{
    double time = 0; // seconds of adapter time (see KvSignalDecoder)
    double value = 0;
};
Q_DECLARE_TYPEINFO(KvSignalSample, Q_PRIMITIVE_TYPE);

// The latest value of one signal.
struct KvSignalState
{
    double physical = 0;
    double raw = 0;
    qint64 integer = 0;  // value-table key (KvDbcDatabase::label)
    double time = 0;     // seconds of adapter time
    quint64 updates = 0; // frames that carried the signal; 0: not seen yet
};
Q_DECLARE_TYPEINFO(KvSignalState, Q_PRIMITIVE_TYPE);

// Decodes one channel's DBC side queue against a database and keeps, per signal, the latest
// value with its time and a bounded history for plots.
//
// The receive thread copies received frames to the buffer's DBC queue while the buffer's
// DBCRun() switch is on (the application sets it). poll() takes every queued frame out, in
// batches, and decodes it; the application calls it on its refresh cycle, or start() runs it on a
// thread of its own every `interval` ms until stop(). Frames of identifiers the database does not
// know, and remote frames, are counted in unknownFrames() and dropped.
//
// Signals are numbered as in the database: message m's signal s is
// database.messages()[m].firstSignal + s. A signal's history is a ring of historySize() samples,
// oldest dropped first; it is allocated the first time the signal is seen, so a running decoder
// allocates nothing per frame.
//
// Time: adapter time stamps count 0.1 ms in 32 bits and wrap after about 119 hours; the decoder
// counts the wraps (a stamp more than half the range below the previous one), so the times it
// reports keep growing. A frame without a stamp (0) gets the latest time seen.
//
// Threads: poll() may be called from any thread, one call at a time (pollLock serialises them);
// the readers (latest, history, counters) may be called from any thread at the same time as
// poll(). Ownership:
//   - pollLock: the batch, the decode vector and the time unwrapping state, used by poll() only;
//   - stateLock: states and histories, held per batch by poll() and per call by the readers;
//   - the counters are atomics; the worker thread is started and stopped by the owner's thread.
// The buffer and the database must outlive the decoder; the database must not change while the
// decoder exists (build a new decoder for a new database).
//
// Decided here:
// - poll() takes at most MaxFramesPerPoll frames, so a host on a refresh cycle stays responsive
//   when the bus delivers faster than it decodes; the rest waits for the next poll;
// - setHistorySize() empties every history (a plot restarts); 0 keeps no history;
// - a signal that a frame does not carry (short frame, not selected by its multiplexer) keeps its
//   previous value and time.
class KAVRI_EXPORT KvSignalDecoder
{
public:
    static constexpr int BatchSize = 256;
    static constexpr int MaxFramesPerPoll = 65536;

    KvSignalDecoder(KvBuffer &buffer, const KvDbcDatabase &database);
    ~KvSignalDecoder(); // stops the thread
    Q_DISABLE_COPY(KvSignalDecoder)

    // Drains the DBC queue (up to MaxFramesPerPoll frames) and decodes it; the frames taken.
    int poll();
    // Runs poll() on a thread of its own every `intervalMs` (at least 1) until stop(). False when
    // it runs already.
    bool start(int intervalMs = 20);
    void stop();
    bool isRunning() const;

    void setHistorySize(int samples);
    int historySize() const;
    // Forgets every value and history and zeroes the counters; the queue is left as it is.
    void reset();

    // The latest value of signal `signal` (database numbering); a zero state outside the range
    // or before the signal was seen.
    KvSignalState latest(int signal) const;
    // Copies the signal's history into `out`, oldest first; returns the number of samples.
    int history(int signal, QVector<KvSignalSample> &out) const;

    // Frames decoded, and frames of unknown identifiers (with remote frames), since the start or
    // reset().
    quint64 decodedFrames() const { return decoded.load(std::memory_order_relaxed); }
    quint64 unknownFrames() const { return unknown.load(std::memory_order_relaxed); }

private:
    struct Ring
    {
        std::vector<KvSignalSample> samples; // capacity historySize once allocated
        int head = 0;                        // next slot to write
        int count = 0;
    };

    void run(int intervalMs);
    double timeOf(quint32 stamp); // caller holds pollLock

    KvBuffer &buffer;
    const KvDbcDatabase &database;

    std::mutex pollLock;
    QVector<VCI_CAN_OBJ> batch; // guarded by pollLock
    QVector<KvDbcValue> values; // guarded by pollLock
    quint32 lastStamp = 0;      // guarded by pollLock
    quint64 wraps = 0;          // guarded by pollLock
    double lastTime = 0;        // guarded by pollLock

    mutable std::mutex stateLock;
    QVector<KvSignalState> states; // guarded by stateLock
    std::vector<Ring> rings;       // guarded by stateLock
    int ringSize = 1000;           // guarded by stateLock

    std::atomic<quint64> decoded{0};
    std::atomic<quint64> unknown{0};

    // The worker thread; started and stopped by the owner's thread only.
    std::thread worker;
    std::mutex wakeLock;
    std::condition_variable wake;
    bool stopping = false; // guarded by wakeLock
};

#endif // KVSIGNALDECODER_H
