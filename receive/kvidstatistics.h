#ifndef KVIDSTATISTICS_H
#define KVIDSTATISTICS_H

#include "kavri_global.h"
#include "kvcanobj.h"

#include <QtCore/QHash>
#include <QtCore/QVector>

// What one identifier did on a channel, as a plain value row of KvIdStatistics. Times are
// seconds on the statistics' clock (see KvIdStatistics); a cycle is the time between two frames
// of the identifier, negative until its second frame.
struct KvIdStatisticsRow
{
    quint32 id = 0;
    bool extended = false;
    bool remote = false; // of the latest frame
    bool send = false;   // the latest frame was transmitted by this library
    quint64 count = 0;
    double rate = 0.0; // frames per second in the last full rate window
    double firstTime = 0.0;
    double lastTime = 0.0;
    double lastCycle = -1.0;
    double minCycle = -1.0;
    double maxCycle = -1.0;
    quint8 dataLen = 0;
    quint8 data[8] = {};
    // Bit i: data byte i of the latest frame differs from the frame before, or is new because
    // that frame was shorter. Never set on an identifier's first frame or on a remote frame.
    quint8 changed = 0;
};
Q_DECLARE_TYPEINFO(KvIdStatisticsRow, Q_PRIMITIVE_TYPE);

// Where one frame sits on the statistics' clock: its time and the time since the previous frame
// of its identifier (negative for the identifier's first frame).
struct KvFrameTime
{
    double time = 0.0;
    double delta = -1.0;
};
Q_DECLARE_TYPEINFO(KvFrameTime, Q_PRIMITIVE_TYPE);

// Per-identifier statistics of one channel's traffic: count, rate, cycle times (last, min, max)
// and the latest data with the bytes that changed, one row per identifier in the order the
// identifiers were first seen. A standard and an extended frame with the same number are two
// identifiers. A pure value class fed with batches of buffered frames; it locks nothing and
// belongs to one thread.
//
// The clock. Received frames carry the adapter's stamp (StampsPerSecond units per second, exact
// between frames); transmitted frames carry stamp 0 and only the host's time of day (1 ms).
// Both are put on one timeline that starts at 0 with the first frame added:
//   - a transmitted frame's time is its host time minus the first frame's host time;
//   - the first stamped frame anchors the stamps: its time is its host time on that timeline,
//     and every later stamped frame lies its stamp difference after it.
//     host 10:00:00.000 Tx -> 0.0; host 10:00:00.500 stamp 20000 -> 0.5; stamp 30000 -> 1.5
//
// Decided here:
//   - the host time of day passing midnight backwards by more than twelve hours is a new day;
//   - a stamp below the previous one by more than half the 32-bit range is a wrap of the
//     adapter's counter and runs on; by less, the adapter was restarted and the stamps are
//     anchored afresh on the host time of that frame;
//   - rates are counted in windows of the clock (rateWindow() seconds, aligned on 0): when a
//     frame falls past the current window, every identifier's rate becomes its count in that
//     window divided by the window's length, and windows passed without frames give rate 0.
//     The clock is the frames' own, so a silent bus leaves the rates where they were. Until
//     the first window closes, a frame's own row shows its count over the time since the clock
//     started (from a tenth of a window on), so a fresh page is not all zeros;
//   - min and max cycles include every cycle since the identifier's first frame, also those of
//     frames whose clocks differ (a Tx frame after an Rx one of the same identifier).
class KAVRI_EXPORT KvIdStatistics
{
public:
    static constexpr int StampsPerSecond = 10000;

    explicit KvIdStatistics(double rateWindow = 1.0);

    // Adds one frame and returns where it sits on the clock.
    KvFrameTime add(const KvCanObj &record);
    // Adds `count` frames in order; nothing for a null array or a count below 1.
    void add(const KvCanObj *records, int count);
    void add(const QVector<KvCanObj> &records);

    // One row per identifier, first seen first.
    const QVector<KvIdStatisticsRow> &rows() const { return list; }
    // The row of an identifier, or -1.
    int indexOf(quint32 id, bool extended) const;
    // Frames added since construction or clear().
    quint64 frames() const { return total; }
    // The newest time on the clock.
    double now() const { return newest; }
    double rateWindow() const { return window; }

    // Forgets everything; the next frame starts the clock again.
    void clear();

private:
    double timeOf(const KvCanObj &record);
    void closeWindows(double time);

    QVector<KvIdStatisticsRow> list;
    QVector<quint64> windowCounts; // beside list: frames of each row in the current window
    QHash<quint64, int> positions; // (extended << 32 | id) -> row
    double window;
    quint64 total = 0;
    double newest = 0.0;
    double windowStart = 0.0;
    bool windowClosed = false;
    // The clock's anchors.
    bool started = false;
    double hostBase = 0.0;    // host seconds of the first frame
    double hostDays = 0.0;    // seconds added for each midnight passed
    double lastHost = 0.0;    // host seconds of the previous frame, days included
    bool stamped = false;     // a stamped frame anchored the stamps
    quint32 lastStamp = 0;    // raw stamp of the previous stamped frame
    double stampOffset = 0.0; // time = stamp seconds (wraps included) - stampOffset
    double stampWraps = 0.0;  // seconds added for each wrap of the 32-bit stamp
};

#endif // KVIDSTATISTICS_H
