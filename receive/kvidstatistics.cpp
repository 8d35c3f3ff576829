#include "kvidstatistics.h"

#include <cmath>

namespace {

constexpr double SecondsPerDay = 24 * 3600.0;
constexpr double StampRange = 4294967296.0; // 2^32 stamps

double hostSeconds(const KvCanObj &r)
{
    return r.hour * 3600.0 + r.minute * 60.0 + r.second + r.msec / 1000.0;
}

quint64 keyOf(quint32 id, bool extended)
{
    return (quint64(extended) << 32) | id;
}

} // namespace

KvIdStatistics::KvIdStatistics(double rateWindow) : window(rateWindow > 0.0 ? rateWindow : 1.0) {}

void KvIdStatistics::clear()
{
    *this = KvIdStatistics(window);
}

int KvIdStatistics::indexOf(quint32 id, bool extended) const
{
    return positions.value(keyOf(id, extended), -1);
}

double KvIdStatistics::timeOf(const KvCanObj &record)
{
    double host = hostSeconds(record) + hostDays;
    if (!started) {
        started = true;
        hostBase = host;
    } else if (host < lastHost - SecondsPerDay / 2) {
        hostDays += SecondsPerDay;
        host += SecondsPerDay;
    }
    lastHost = host;
    const double hostTime = host - hostBase;

    const quint32 stamp = record.frame.TimeStamp;
    if (stamp == 0) // transmitted by this library: the host's time is all there is
        return hostTime;
    bool anchor = !stamped;
    if (stamped && stamp < lastStamp) {
        if (lastStamp - stamp > 0x80000000u)
            stampWraps += StampRange / StampsPerSecond;
        else
            anchor = true; // the adapter started counting again
    }
    stamped = true;
    lastStamp = stamp;
    const double stampTime = stampWraps + double(stamp) / StampsPerSecond;
    if (anchor)
        stampOffset = stampTime - hostTime;
    return stampTime - stampOffset;
}

void KvIdStatistics::closeWindows(double time)
{
    if (time < windowStart + window)
        return;
    const double passed = std::floor((time - windowStart) / window);
    for (int i = 0; i < list.size(); ++i) {
        // More than one window passed: the last full one had no frame at all.
        list[i].rate = passed > 1.0 ? 0.0 : double(windowCounts.at(i)) / window;
        windowCounts[i] = 0;
    }
    windowStart += passed * window;
    windowClosed = true;
}

KvFrameTime KvIdStatistics::add(const KvCanObj &record)
{
    KvFrameTime at;
    at.time = timeOf(record);
    if (total == 0 || at.time > newest)
        newest = at.time;
    ++total;
    closeWindows(at.time);

    const VCI_CAN_OBJ &f = record.frame;
    const bool extended = f.ExternFlag == 1;
    const quint64 key = keyOf(f.ID, extended);
    int i = positions.value(key, -1);
    if (i < 0) {
        i = list.size();
        positions.insert(key, i);
        KvIdStatisticsRow fresh;
        fresh.id = f.ID;
        fresh.extended = extended;
        fresh.firstTime = at.time;
        list.append(fresh);
        windowCounts.append(0);
    } else {
        KvIdStatisticsRow &row = list[i];
        at.delta = at.time - row.lastTime;
        row.lastCycle = at.delta;
        row.minCycle = row.minCycle < 0.0 ? at.delta : std::min(row.minCycle, at.delta);
        row.maxCycle = std::max(row.maxCycle, at.delta);
    }

    KvIdStatisticsRow &row = list[i];
    const quint8 length = std::min<quint8>(f.DataLen, 8);
    quint8 changed = 0;
    if (row.count > 0 && f.RemoteFlag == 0) {
        for (int b = 0; b < length; ++b) {
            if (b >= row.dataLen || row.data[b] != f.Data[b])
                changed |= quint8(1u << b);
        }
    }
    row.changed = changed;
    row.remote = f.RemoteFlag == 1;
    row.send = record.send;
    row.lastTime = at.time;
    row.dataLen = length;
    std::copy(f.Data, f.Data + 8, row.data);
    ++row.count;
    ++windowCounts[i];
    if (!windowClosed && at.time - windowStart >= window / 10)
        row.rate = double(windowCounts.at(i)) / (at.time - windowStart);
    return at;
}

void KvIdStatistics::add(const KvCanObj *records, int count)
{
    if (!records)
        return;
    for (int i = 0; i < count; ++i)
        add(records[i]);
}

void KvIdStatistics::add(const QVector<KvCanObj> &records)
{
    add(records.constData(), records.size());
}
