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
// The result is the same as a fresh local-time reading: daylight-saving transitions fall on
// second boundaries, where the conversion is redone, and a change of the host's zone setting
// applies from the next second.
TimeOfDay localTimeOfDay();

} // namespace detail
} // namespace kavri

#endif // LOCALCLOCK_P_H
