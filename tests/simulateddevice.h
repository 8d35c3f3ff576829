#ifndef SIMULATEDDEVICE_H
#define SIMULATEDDEVICE_H

#include "devcan.h"
#include "kvdevicesession.h"
#include "vci_sim.h"

#include <memory>

// A fresh simulated world with a two-channel adapter (type 4, index 0) open and its first
// `channels` channels started at 500 kbit/s, through the engine's device session, without its
// worker threads: the tests run the threads they examine themselves. The previous call's session
// is stopped first. False when any step fails.
inline bool startSimulatedDevice(int channels)
{
    DevCan::instance(); // built first, so that it outlives the session below
    static std::unique_ptr<KvDeviceSession> session;
    session.reset();
    VSIM_Reset();
    session.reset(new KvDeviceSession);
    session->setChannelThreads(false);
    session->setDevice(4, 0);
    for (int ch = 0; ch < channels; ++ch)
        session->addChannel(ch, 500000);
    return session->start();
}

#endif // SIMULATEDDEVICE_H
