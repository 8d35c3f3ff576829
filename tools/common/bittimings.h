#ifndef BITTIMINGS_H
#define BITTIMINGS_H

// The bit rates the tools offer, with their timing bytes for the adapter's 16 MHz clock, sample
// point near 87.5 %. Shared by kvcan and kavri-view so both accept the same rates.

#include <QtCore/QtGlobal>

namespace bittimings {

struct RateTiming
{
    uint rate;
    quint8 timing0;
    quint8 timing1;
};

inline constexpr RateTiming Rates[] = {
    {1000000, 0x00, 0x14}, {800000, 0x00, 0x16}, {500000, 0x00, 0x1C}, {250000, 0x01, 0x1C},
    {125000, 0x03, 0x1C},  {100000, 0x04, 0x1C}, {50000, 0x09, 0x1C},  {20000, 0x18, 0x1C},
    {10000, 0x31, 0x1C},   {5000, 0xBF, 0xFF},
};

// The timing bytes of `bitRate`; false for a rate not in the table.
inline bool timingFor(uint bitRate, quint8 &timing0, quint8 &timing1)
{
    for (const RateTiming &r : Rates) {
        if (r.rate == bitRate) {
            timing0 = r.timing0;
            timing1 = r.timing1;
            return true;
        }
    }
    return false;
}

} // namespace bittimings

#endif // BITTIMINGS_H
