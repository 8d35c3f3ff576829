#ifndef LOCALCLOCK_P_H
#define LOCALCLOCK_P_H

// Internal to the engine library: not installed, not part of the API.

namespace kavri {
namespace detail {

struct TimeOfDay
{
    int hour;
    int minute;
    int second;
    int msec;
};

// The host's local time of day, to the millisecond, as cheaply as the receive path needs it:
// the wall clock is read through the vDSO, and the broken-down local time is kept per thread for
// the current second, so the time-zone conversion runs once a second rather than once a frame.
// The result is the same as a fresh localtime_r() reading: daylight-saving transitions fall on
// second boundaries, where the conversion is redone. The zone rules are the process's current
// ones; a changed TZ takes effect once tzset() has run (Qt's own local-time readings run it),
// from the next second on. tzset() itself is not called here: it reads the environment, which
// is not safe while another thread may be changing it.
TimeOfDay localTimeOfDay();

} // namespace detail
} // namespace kavri

#endif // LOCALCLOCK_P_H
