#ifndef SIMBOARD_P_H
#define SIMBOARD_P_H

// Internal to the simulated adapter. The adapter stands in for a maker's library and links
// nothing of the engine, so it keeps its own copy of the board facts the engine's device manager
// also knows.

#include <cstdint>

namespace simboard {

// Types 4, 5 and 24 have two channels, 14 has four, every other type one.
inline uint32_t channelCount(uint32_t type)
{
    switch (type) {
    case 4:
    case 5:
    case 24:
        return 2;
    case 14:
        return 4;
    default:
        return 1;
    }
}

// 16 MHz / ((tseg1 + tseg2 + 3) * 2 * (prescaler + 1)), e.g. (0x00, 0x1C) -> 500000. The divisor
// is never below 6.
inline uint32_t bitRate(uint8_t timing0, uint8_t timing1)
{
    const uint32_t prescaler = timing0 & 0x3F;
    const uint32_t tseg1 = timing1 & 0x0F;
    const uint32_t tseg2 = (timing1 >> 4) & 0x07;
    return 16000000u / ((tseg1 + tseg2 + 3) * 2 * (prescaler + 1));
}

} // namespace simboard

#endif // SIMBOARD_P_H
