// The engine on a running adapter: four channels with their receive and transmit threads on the
// simulated adapter, at full speed, at the bus limit and idle.
//
// Processor time is read from the kernel's clocks: the process clock for everything, and the
// thread clocks of the benchmark's own threads (the main thread that waits and the feeder that
// plays the bus) so their share can be taken out. What remains is the engine's worker threads,
// including the adapter calls they make.
#include "benchutil.h"
#include "candata.h"
#include "canreadthread.h"
#include "canwritethread.h"
#include "kvbuffer.h"
#include "kvpipe.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int BusLimitPerChannel = 9000; // classical frames per second at 1 Mbit/s
constexpr int TransmitQueueFrames = 100; // frames per CanData, as an application pushes them

VCI_CAN_OBJ frameNumber(quint32 n)
{
    VCI_CAN_OBJ f{};
    f.ID = 0x100 + n % 64;
    f.DataLen = 8;
    std::memcpy(f.Data, &n, sizeof n);
    return f;
}

CanData queueOf(quint32 first, int frames)
{
    CanData data;
    for (int i = 0; i < frames; ++i) {
        CanObj frame;
        frame.ID = 0x200 + (first + quint32(i)) % 64;
        frame.DataLen = 8;
        std::memcpy(frame.Data, &first, sizeof first);
        frame.Data[7] = quint8(i);
        data.push(frame);
    }
    return data;
}

long long receivedTotal()
{
    long long total = 0;
    for (int c = 0; c < bench::Channels; ++c)
        total += KvBuffer::instance(c).frames();
    return total;
}

long long sentTotal()
{
    long long total = 0;
    for (int c = 0; c < bench::Channels; ++c)
        total += (long long)VSIM_SentTotal(bench::DeviceType, bench::DeviceIndex, quint32(c));
    return total;
}

void resetBuffers()
{
    for (int c = 0; c < bench::Channels; ++c) {
        KvBuffer::instance(c).reset();
        KvPipe::instance(c).clear();
    }
}

template <typename Thread> struct Workers
{
    std::array<std::unique_ptr<Thread>, bench::Channels> threads;
    void start()
    {
        for (int c = 0; c < bench::Channels; ++c) {
            threads[size_t(c)] = std::make_unique<Thread>(static_cast<unsigned long>(c));
            threads[size_t(c)]->start();
        }
    }
    void stop()
    {
        for (auto &t : threads)
            t->stop();
        for (auto &t : threads)
            t->waitForFinish();
    }
};

// Waits (sleeping in short steps, so the waiting thread costs next to nothing) until `done`.
template <typename Condition> bool waitUntil(Condition done, double timeoutSeconds)
{
    const double end = bench::wallSeconds() + timeoutSeconds;
    while (!done()) {
        if (bench::wallSeconds() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void reportCpu(benchmark::State &state, double engineCpu, long long frames)
{
    state.counters["cpu_us_per_10k_frames"] = engineCpu * 1e6 * 10000.0 / double(frames);
}

// Frames waiting in the adapter on four channels, taken by four receive threads into the four
// buffers. The time runs from the threads' start until the last frame is counted in its buffer.
void BM_ReceiveFourChannels(benchmark::State &state)
{
    if (!bench::openFourChannels()) {
        state.SkipWithError("the simulated adapter did not open");
        return;
    }
    const quint32 perChannel = bench::smoke() ? 20000 : 250000;
    std::vector<VCI_CAN_OBJ> frames(perChannel);
    for (quint32 i = 0; i < perChannel; ++i)
        frames[i] = frameNumber(i);
    double engineCpu = 0;
    long long total = 0;
    for (auto _ : state) {
        resetBuffers();
        for (int c = 0; c < bench::Channels; ++c)
            VSIM_Inject(bench::DeviceType, bench::DeviceIndex, quint32(c), frames.data(),
                        perChannel);
        const long long expected = (long long)perChannel * bench::Channels;
        Workers<CanReadThread> readers;
        const double cpu0 = bench::processCpuSeconds(), main0 = bench::threadCpuSeconds();
        const double wall0 = bench::wallSeconds();
        readers.start();
        const bool complete = waitUntil([&] { return receivedTotal() >= expected; }, 120);
        const double wall = bench::wallSeconds() - wall0;
        engineCpu += (bench::processCpuSeconds() - cpu0) - (bench::threadCpuSeconds() - main0);
        readers.stop();
        if (!complete || receivedTotal() != expected) {
            state.SkipWithError("frames were lost on the way to the buffers");
            return;
        }
        state.SetIterationTime(wall);
        total += expected;
    }
    state.SetItemsProcessed(total);
    reportCpu(state, engineCpu, total);
}
BENCHMARK(BM_ReceiveFourChannels)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Frame queues of 100 frames waiting in four pipes, sent by four transmit threads to the
// adapter (each batch recorded in its buffer as sent, as by default). The time runs from the
// threads' start until the adapter has accepted the last frame.
void BM_TransmitFourChannels(benchmark::State &state)
{
    if (!bench::openFourChannels()) {
        state.SkipWithError("the simulated adapter did not open");
        return;
    }
    const int queuesPerChannel = bench::smoke() ? 50 : 1000;
    // Distinct queues, as an application builds them: no copy-on-write shortcut for the thread.
    std::vector<CanData> queues;
    for (int q = 0; q < queuesPerChannel * bench::Channels; ++q)
        queues.push_back(queueOf(quint32(q * TransmitQueueFrames), TransmitQueueFrames));
    double engineCpu = 0;
    long long total = 0;
    for (auto _ : state) {
        resetBuffers();
        for (int q = 0; q < int(queues.size()); ++q)
            KvPipe::instance(q % bench::Channels).push(queues[size_t(q)]);
        const long long expected = sentTotal() + (long long)queues.size() * TransmitQueueFrames;
        Workers<CanWriteThread> writers;
        const double cpu0 = bench::processCpuSeconds(), main0 = bench::threadCpuSeconds();
        const double wall0 = bench::wallSeconds();
        writers.start();
        const bool complete = waitUntil([&] { return sentTotal() >= expected; }, 120);
        const double wall = bench::wallSeconds() - wall0;
        engineCpu += (bench::processCpuSeconds() - cpu0) - (bench::threadCpuSeconds() - main0);
        writers.stop();
        if (!complete) {
            state.SkipWithError("frames were lost on the way to the adapter");
            return;
        }
        state.SetIterationTime(wall);
        total += (long long)queues.size() * TransmitQueueFrames;
    }
    state.SetItemsProcessed(total);
    reportCpu(state, engineCpu, total);
}
BENCHMARK(BM_TransmitFourChannels)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

double busLimitSeconds()
{
    return bench::smoke() ? 1.0 : 5.0;
}

// Runs `step(frames)` every `intervalMs` with the frames due by then for each channel at 9,000
// frames a second, for `seconds`. Returns the feeder's own processor time.
template <typename Step> double paceAtBusLimit(double seconds, int intervalMs, Step step)
{
    const double cpu0 = bench::threadCpuSeconds();
    const auto start = Clock::now();
    long long fed = 0;
    for (auto tick = start;; tick += std::chrono::milliseconds(intervalMs)) {
        std::this_thread::sleep_until(tick);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed >= seconds)
            break;
        const long long due = (long long)(elapsed * BusLimitPerChannel) + 1;
        if (due > fed) {
            step(int(due - fed));
            fed = due;
        }
    }
    return bench::threadCpuSeconds() - cpu0;
}

// 36,000 frames a second arriving on four channels, paced by a feeder thread in small batches
// every millisecond, taken in by four receive threads.
void BM_BusLimitReceive(benchmark::State &state)
{
    if (!bench::openFourChannels()) {
        state.SkipWithError("the simulated adapter did not open");
        return;
    }
    std::vector<VCI_CAN_OBJ> frames(64);
    for (quint32 i = 0; i < frames.size(); ++i)
        frames[i] = frameNumber(i);
    for (auto _ : state) {
        resetBuffers();
        Workers<CanReadThread> readers;
        readers.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::atomic<long long> injected{0};
        double feederCpu = 0;
        const double cpu0 = bench::processCpuSeconds(), main0 = bench::threadCpuSeconds();
        const double wall0 = bench::wallSeconds();
        std::thread feeder([&] {
            feederCpu = paceAtBusLimit(busLimitSeconds(), 1, [&](int n) {
                for (int c = 0; c < bench::Channels; ++c)
                    VSIM_Inject(bench::DeviceType, bench::DeviceIndex, quint32(c), frames.data(),
                                quint32(qMin(n, int(frames.size()))));
                injected += (long long)qMin(n, int(frames.size())) * bench::Channels;
            });
        });
        feeder.join();
        // The last batch is taken within one idle poll of the receive threads.
        waitUntil([&] { return receivedTotal() >= injected; }, 5);
        const double wall = bench::wallSeconds() - wall0;
        const double total = bench::processCpuSeconds() - cpu0;
        const double engine = total - feederCpu - (bench::threadCpuSeconds() - main0);
        readers.stop();
        if (receivedTotal() != injected) {
            state.SkipWithError("frames were lost at the bus limit");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["frames_per_second"] = double(injected) / wall;
        state.counters["engine_cpu_percent"] = engine / wall * 100.0;
        state.counters["total_cpu_percent"] = total / wall * 100.0;
        state.counters["feeder_cpu_percent"] = feederCpu / wall * 100.0;
        state.SetItemsProcessed(injected);
    }
}
BENCHMARK(BM_BusLimitReceive)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// 36,000 frames a second pushed by the application into four pipes and sent by four transmit
// threads. The argument is the time between two pushes into one pipe: 1 ms (queues of 9 frames)
// or 10 ms (queues of 90 frames).
void BM_BusLimitTransmit(benchmark::State &state)
{
    if (!bench::openFourChannels()) {
        state.SkipWithError("the simulated adapter did not open");
        return;
    }
    for (auto _ : state) {
        resetBuffers();
        Workers<CanWriteThread> writers;
        writers.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const long long sent0 = sentTotal();
        long long pushed = 0;
        double producerCpu = 0;
        const double cpu0 = bench::processCpuSeconds(), main0 = bench::threadCpuSeconds();
        const double wall0 = bench::wallSeconds();
        std::thread producer([&] {
            quint32 n = 0;
            std::vector<VCI_CAN_OBJ> wire(4096);
            std::vector<quint32> calls(4096);
            producerCpu = paceAtBusLimit(busLimitSeconds(), int(state.range(0)), [&](int due) {
                for (int c = 0; c < bench::Channels; ++c) {
                    KvPipe::instance(c).push(queueOf(n, due));
                    // The bus takes what the adapter sent, as a wire would: the simulator's
                    // logs do not grow, so their growth is not counted as the engine's.
                    VSIM_TakeSent(bench::DeviceType, bench::DeviceIndex, quint32(c), wire.data(),
                                  quint32(wire.size()));
                    VSIM_TakeTransmitCalls(bench::DeviceType, bench::DeviceIndex, quint32(c),
                                           calls.data(), quint32(calls.size()));
                }
                n += quint32(due);
                pushed += (long long)due * bench::Channels;
            });
        });
        producer.join();
        waitUntil([&] { return sentTotal() - sent0 >= pushed; }, 5);
        const double wall = bench::wallSeconds() - wall0;
        const double total = bench::processCpuSeconds() - cpu0;
        const double engine = total - producerCpu - (bench::threadCpuSeconds() - main0);
        writers.stop();
        if (sentTotal() - sent0 != pushed) {
            state.SkipWithError("frames were lost at the bus limit");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["frames_per_second"] = double(pushed) / wall;
        state.counters["engine_cpu_percent"] = engine / wall * 100.0;
        state.counters["total_cpu_percent"] = total / wall * 100.0;
        state.counters["producer_cpu_percent"] = producerCpu / wall * 100.0;
        state.SetItemsProcessed(pushed);
    }
}
BENCHMARK(BM_BusLimitTransmit)
    ->Arg(1)
    ->Arg(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The floor under the figure above: four threads that do nothing but sleep on a condition
// variable and wake when the producer posts to them, at the same pace. Any design that sends
// each push as soon as it comes pays at least this per push.
void BM_WakeFloor(benchmark::State &state)
{
    struct Sleeper
    {
        std::mutex lock;
        std::condition_variable posted;
        long long due = 0;  // guarded by lock
        long long seen = 0; // guarded by lock
        bool quit = false;  // guarded by lock
    };
    for (auto _ : state) {
        std::array<Sleeper, bench::Channels> sleepers;
        std::vector<std::thread> threads;
        for (Sleeper &s : sleepers) {
            threads.emplace_back([&s] {
                std::unique_lock<std::mutex> locker(s.lock);
                while (!s.quit) {
                    s.posted.wait_for(locker, std::chrono::milliseconds(100),
                                      [&s] { return s.quit || s.due > s.seen; });
                    s.seen = s.due;
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const double cpu0 = bench::processCpuSeconds(), main0 = bench::threadCpuSeconds();
        const double wall0 = bench::wallSeconds();
        double producerCpu = 0;
        std::thread producer([&] {
            producerCpu = paceAtBusLimit(busLimitSeconds(), int(state.range(0)), [&](int due) {
                for (Sleeper &s : sleepers) {
                    {
                        const std::lock_guard<std::mutex> locker(s.lock);
                        s.due += due;
                    }
                    s.posted.notify_all();
                }
            });
        });
        producer.join();
        const double wall = bench::wallSeconds() - wall0;
        const double total = bench::processCpuSeconds() - cpu0;
        const double floor = total - producerCpu - (bench::threadCpuSeconds() - main0);
        for (Sleeper &s : sleepers) {
            {
                const std::lock_guard<std::mutex> locker(s.lock);
                s.quit = true;
            }
            s.posted.notify_all();
        }
        for (std::thread &t : threads)
            t.join();
        state.SetIterationTime(wall);
        state.counters["floor_cpu_percent"] = floor / wall * 100.0;
    }
}
BENCHMARK(BM_WakeFloor)
    ->Arg(1)
    ->Arg(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Four started channels, each with its receive and transmit thread, and no traffic.
void BM_IdleFourChannels(benchmark::State &state)
{
    if (!bench::openFourChannels()) {
        state.SkipWithError("the simulated adapter did not open");
        return;
    }
    const double seconds = bench::smoke() ? 1.0 : 10.0;
    for (auto _ : state) {
        resetBuffers();
        Workers<CanReadThread> readers;
        Workers<CanWriteThread> writers;
        readers.start();
        writers.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const double cpu0 = bench::processCpuSeconds(), main0 = bench::threadCpuSeconds();
        const double wall0 = bench::wallSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const double wall = bench::wallSeconds() - wall0;
        const double engine =
            (bench::processCpuSeconds() - cpu0) - (bench::threadCpuSeconds() - main0);
        writers.stop();
        readers.stop();
        state.SetIterationTime(wall);
        state.counters["engine_cpu_percent"] = engine / wall * 100.0;
        state.counters["cpu_ms"] = engine * 1e3;
    }
}
BENCHMARK(BM_IdleFourChannels)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

KAVRI_BENCHMARK_MAIN();
