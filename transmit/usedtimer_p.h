// Internal: not part of the installed API.
#ifndef USEDTIMER_P_H
#define USEDTIMER_P_H

#include <QtCore/QElapsedTimer>

#include <atomic>

// The clock of a sending run, kept by each sending thread as the start time in milliseconds on a
// monotonic clock. The thread restarts it and so may the application's thread through a slot
// while the run goes on, hence an atomic. Monotonic, so that neither a change of the wall clock nor
// midnight disturbs the elapsed time.
namespace UsedTimer {

inline qint64 now()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

inline void restart(std::atomic<qint64> &start)
{
    start.store(now(), std::memory_order_relaxed);
}

// Elapsed milliseconds / 1000.0, the unit of every used-time report.
inline double seconds(const std::atomic<qint64> &start)
{
    return (now() - start.load(std::memory_order_relaxed)) / 1000.0;
}

} // namespace UsedTimer

#endif // USEDTIMER_P_H
