// Shared by the benchmark programs; not part of the library.
#ifndef BENCHUTIL_H
#define BENCHUTIL_H

#include "devcan.h"
#include "kvdevicesession.h"
#include "vci_sim.h"

#include <benchmark/benchmark.h>

#include <QtCore/QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace bench {

constexpr quint32 DeviceType = 14; // four channels
constexpr quint32 DeviceIndex = 0;
constexpr int Channels = 4;

// KAVRI_BENCH_SMOKE=1: small inputs and short intervals, so CI can prove that every benchmark
// builds and runs without spending minutes on it. The figures of a smoke run mean nothing.
inline bool smoke()
{
    const char *value = std::getenv("KAVRI_BENCH_SMOKE");
    return value && std::strcmp(value, "0") != 0;
}

inline double clockSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Processor time of every thread of the process, and of the calling thread alone.
inline double processCpuSeconds()
{
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

inline double threadCpuSeconds()
{
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

inline double wallSeconds()
{
    return clockSeconds(CLOCK_MONOTONIC);
}

// A fresh simulated four-channel adapter, every channel started at 1 Mbit/s, without bus timing:
// the simulator then costs as little as it can, and what is measured is the engine. Brought up by
// the engine's device session without its worker threads, since each benchmark starts the
// threads it measures; the previous call's session is stopped first.
inline bool openFourChannels()
{
    DevCan::instance(); // built first, so that it outlives the session below
    static std::unique_ptr<KvDeviceSession> session;
    session.reset();
    VSIM_Reset();
    session.reset(new KvDeviceSession);
    session->setChannelThreads(false);
    session->setDevice(DeviceType, DeviceIndex);
    for (int c = 0; c < Channels; ++c)
        session->addChannel(c, 1000000);
    return session->start();
}

// One value of /proc/self/status in KiB ("VmHWM", "VmRSS"); -1 when it cannot be read.
inline long statusKiB(const char *key)
{
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long value = -1;
    const size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
            value = std::strtol(line + keyLength + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

// Starts a new peak: afterwards VmHWM reports the highest resident size from now on.
inline bool resetPeakMemory()
{
    FILE *clear = std::fopen("/proc/self/clear_refs", "w");
    if (!clear)
        return false;
    const bool ok = std::fputs("5", clear) >= 0;
    return std::fclose(clear) == 0 && ok;
}

} // namespace bench

// The benchmark programs' main: a core application object (the worker threads process events),
// then Google Benchmark's usual command line.
#define KAVRI_BENCHMARK_MAIN()                                                                     \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        QCoreApplication app(argc, argv);                                                          \
        benchmark::Initialize(&argc, argv);                                                        \
        if (benchmark::ReportUnrecognizedArguments(argc, argv))                                    \
            return 1;                                                                              \
        benchmark::RunSpecifiedBenchmarks();                                                       \
        benchmark::Shutdown();                                                                     \
        return 0;                                                                                  \
    }

#endif // BENCHUTIL_H
