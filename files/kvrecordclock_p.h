// Internal to the engine library: not installed, not part of the API.
#ifndef KVRECORDCLOCK_P_H
#define KVRECORDCLOCK_P_H

#include "kvcanobj.h"

#include <QtCore/QtGlobal>

namespace kavri {
namespace detail {

// Puts the buffered records of one adapter on one timeline: nanoseconds since the start of a
// recording. A record carries two clocks:
//   - the adapter's stamp, 10,000 units per second, 32 bits (it wraps after about 119 hours);
//     0 on a frame this library transmitted;
//   - the host's local time of day in milliseconds, stamped when the frame was buffered.
// Transmitted frames have only the host's time. Received frames keep the adapter's finer and
// steadier spacing, placed on the host's timeline by the first received frame:
//
//     start at 10:00:00.000          (host time of day)
//     received, stamp 50000, host 10:00:01.250   -> 1,250,000,000 ns (anchors stamp 50000)
//     received, stamp 50123                      -> 1,251,230,000 ns
//     sent,     stamp 0,     host 10:00:02.007   -> 2,007,000,000 ns
//
// Decided here:
//   - host times count days: a time of day more than 12 hours below the previous one is the
//     next day; a smaller step back (a clock change) is held at the latest host time;
//   - an adapter stamp more than 2^31 units below the previous one has wrapped;
//   - no time is below 0: frames buffered in the millisecond of the start are at 0.
class RecordClock
{
public:
    // msOfDay: the host's local time of day at the start, in milliseconds.
    explicit RecordClock(qint64 startMsOfDay = 0) : startMs(startMsOfDay), lastMsOfDay(startMsOfDay)
    {
    }

    static qint64 msOfDay(const KvCanObj &r)
    {
        return ((qint64(r.hour) * 60 + r.minute) * 60 + r.second) * 1000 + r.msec;
    }

    qint64 timeNs(const KvCanObj &r)
    {
        const qint64 host = hostNs(msOfDay(r));
        if (r.send || r.frame.TimeStamp == 0)
            return host;
        const quint32 stamp = r.frame.TimeStamp;
        if (!anchored) {
            anchored = true;
            lastStamp = stamp;
            anchorNs = host - qint64(stamp) * UnitNs;
        } else if (stamp < lastStamp && lastStamp - stamp > 0x80000000u) {
            wraps += 1;
            lastStamp = stamp;
        } else if (stamp > lastStamp && stamp - lastStamp < 0x80000000u) {
            lastStamp = stamp;
        }
        const qint64 units = (wraps << 32) + qint64(stamp);
        return qMax<qint64>(0, anchorNs + units * UnitNs);
    }

private:
    static constexpr qint64 UnitNs = 100000; // one adapter unit, 0.1 ms
    static constexpr qint64 DayMs = 24 * 3600 * 1000;

    qint64 hostNs(qint64 ms)
    {
        if (ms < lastMsOfDay - DayMs / 2)
            dayBase += DayMs;
        lastMsOfDay = ms;
        latestNs = qMax(latestNs, (dayBase + ms - startMs) * 1000000);
        return latestNs;
    }

    qint64 startMs;
    qint64 lastMsOfDay;
    qint64 dayBase = 0;
    qint64 latestNs = 0;
    bool anchored = false;
    quint32 lastStamp = 0;
    qint64 wraps = 0;
    qint64 anchorNs = 0;
};

} // namespace detail
} // namespace kavri

#endif // KVRECORDCLOCK_P_H
