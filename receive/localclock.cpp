#include "localclock_p.h"

#include <ctime>

namespace kavri {
namespace detail {

namespace {

struct SecondCache
{
    time_t second = -1;
    struct tm local = {};
};

thread_local SecondCache cache;

} // namespace

TimeOfDay localTimeOfDay()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != cache.second) {
        localtime_r(&now.tv_sec, &cache.local);
        cache.second = now.tv_sec;
    }
    return TimeOfDay{cache.local.tm_hour, cache.local.tm_min, cache.local.tm_sec,
                     static_cast<int>(now.tv_nsec / 1000000)};
}

} // namespace detail
} // namespace kavri
