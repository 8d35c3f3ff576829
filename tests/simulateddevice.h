#ifndef SIMULATEDDEVICE_H
#define SIMULATEDDEVICE_H

#include "devcan.h"
#include "vci_sim.h"

// A fresh simulated world with a two-channel adapter (type 4, index 0) open and its first
// `channels` channels started at 500 kbit/s, through the engine's own device manager. False when
// any step fails.
inline bool startSimulatedDevice(unsigned long channels)
{
    VSIM_Reset();
    DevCan &dev = DevCan::instance();
    if (dev.openDevice(4, 0, 0) != 1)
        return false;
    VCI_INIT_CONFIG config{};
    config.AccMask = 0xFFFFFFFF;
    config.Timing1 = 0x1C;
    for (unsigned long ch = 0; ch < channels; ++ch) {
        if (dev.initCAN(ch, &config) != 1 || dev.StartCAN(ch) != 1)
            return false;
    }
    return true;
}

#endif // SIMULATEDDEVICE_H
