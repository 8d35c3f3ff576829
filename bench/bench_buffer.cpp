// The receive buffer's hot paths: addFrame() as the receive thread calls it (batches of 32, the
// size of one adapter read), and the text conversions the application's display asks for.
#include "benchutil.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvidfilter.h"
#include "kvidfiltermannger.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int Batch = 32; // frames per adapter read
constexpr int FilterRanges = 16;
constexpr int Channel = 0;

// `identifiers` distinct identifiers, standard and extended mixed, cycling in a stride so that
// consecutive frames hit different watch records; the data changes from frame to frame.
std::vector<VCI_CAN_OBJ> trafficOf(int identifiers, int frames)
{
    std::vector<VCI_CAN_OBJ> traffic(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        VCI_CAN_OBJ &f = traffic[static_cast<size_t>(i)];
        const quint32 n = quint32((i * 7919) % identifiers);
        f.ExternFlag = n % 4 == 0;
        if (f.ExternFlag)
            f.ID = 0x18000000u + n;
        else
            f.ID = n < 0x800 ? n : 0x10000000u + n; // beyond 11 bits an extended-range number
        f.TimeStamp = quint32(i + 1);
        f.DataLen = 8;
        for (int b = 0; b < 8; ++b)
            f.Data[b] = quint8(i >> b);
    }
    return traffic;
}

// Filter mode 1 with sixteen not-receive ranges that none of the traffic falls in: every frame
// is tested against all sixteen, the most a passing frame can cost.
void setSixteenRanges()
{
    KvIdFilterMannger &filter = KvIdFilterMannger::instance(Channel);
    filter.clearNotReceive();
    for (int r = 0; r < FilterRanges; ++r) {
        KvIdFilter range;
        range.startId = 0x1F000000u + quint32(r) * 0x1000;
        range.endId = range.startId + 0x7FF;
        filter.addNotReceive(range);
    }
    filter.setFilterMode(1);
}

void switchEverythingOff()
{
    KvIdFilterMannger::instance(Channel).clearNotReceive();
    KvIdFilterMannger::instance(Channel).setFilterMode(0);
    KvGlobalSet::instance().watch = false;
    KvGlobalSet::instance().channelSets[Channel].rtSave = false;
    KvBuffer &buffer = KvBuffer::instance(Channel);
    buffer.setChannel(Channel);
    buffer.reset();
}

// The application's side of the save queue: takes every waiting record out as texts, as a
// recorder writing them to a file would, until told to stop.
class SaveDrain
{
public:
    explicit SaveDrain(KvBuffer &buffer) : buffer(buffer), worker([this] { run(); }) {}
    ~SaveDrain()
    {
        done = true;
        worker.join();
    }
    long long drained() const { return taken.load(); }

private:
    void run()
    {
        int number = 0;
        while (!done) {
            const int waiting = buffer.countRt();
            if (waiting == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            for (int i = 0; i < waiting; ++i)
                benchmark::DoNotOptimize(buffer.getRtSaveFrame(number++));
            taken += waiting;
        }
    }

    KvBuffer &buffer;
    std::atomic<bool> done{false};
    std::atomic<long long> taken{0};
    std::thread worker;
};

// Filter mode 1 with sixteen ranges, watch switch on, save flag on and drained by a second
// thread; the argument is the number of distinct identifiers.
void BM_AddFrameLoaded(benchmark::State &state)
{
    switchEverythingOff();
    setSixteenRanges();
    KvGlobalSet::instance().watch = true;
    KvGlobalSet::instance().channelSets[Channel].rtSave = true;
    KvBuffer &buffer = KvBuffer::instance(Channel);
    const int identifiers = int(state.range(0));
    std::vector<VCI_CAN_OBJ> traffic = trafficOf(identifiers, 64 * 1024);
    // Every identifier already has its watch record: the steady state of a running bus.
    buffer.addFrame(traffic.data(), int(traffic.size()), false);

    long long added = 0;
    {
        SaveDrain drain(buffer);
        size_t at = 0;
        const double cpuStart = bench::threadCpuSeconds();
        for (auto _ : state) {
            benchmark::DoNotOptimize(buffer.addFrame(&traffic[at], Batch, false));
            at = (at + Batch) % traffic.size();
        }
        state.counters["cpu_ns_per_frame"] =
            (bench::threadCpuSeconds() - cpuStart) * 1e9 / double(state.iterations() * Batch);
        added = state.iterations() * Batch;
        state.counters["save_backlog"] = buffer.countRt();
    }
    state.SetItemsProcessed(added);
    state.counters["watch_records"] = buffer.countW();
    if (buffer.countW() != identifiers)
        state.SkipWithError("the watch list does not hold one record per identifier");
    switchEverythingOff();
}
BENCHMARK(BM_AddFrameLoaded)->Arg(1)->Arg(100)->Arg(5000);

// No filter, watch switch off, save flag off.
void BM_AddFrameBare(benchmark::State &state)
{
    switchEverythingOff();
    KvBuffer &buffer = KvBuffer::instance(Channel);
    std::vector<VCI_CAN_OBJ> traffic = trafficOf(100, 64 * 1024);
    size_t at = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buffer.addFrame(&traffic[at], Batch, false));
        at = (at + Batch) % traffic.size();
    }
    state.SetItemsProcessed(state.iterations() * Batch);
    switchEverythingOff();
}
BENCHMARK(BM_AddFrameBare);

// The display reading the frame list by position: one CanObjStr per call.
void BM_GetFrame(benchmark::State &state)
{
    switchEverythingOff();
    KvBuffer &buffer = KvBuffer::instance(Channel);
    std::vector<VCI_CAN_OBJ> traffic = trafficOf(100, buffer.getMaxCount());
    buffer.addFrame(traffic.data(), int(traffic.size()), false);
    const int count = buffer.count();
    int index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buffer.getFrame(index));
        if (++index == count)
            index = 0;
    }
    state.SetItemsProcessed(state.iterations());
    switchEverythingOff();
}
BENCHMARK(BM_GetFrame);

// The watch view reading its records by position.
void BM_GetWatchFrame(benchmark::State &state)
{
    switchEverythingOff();
    KvGlobalSet::instance().watch = true;
    KvBuffer &buffer = KvBuffer::instance(Channel);
    std::vector<VCI_CAN_OBJ> traffic = trafficOf(5000, 20000);
    buffer.addFrame(traffic.data(), int(traffic.size()), false);
    const int count = buffer.countW();
    int index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buffer.getWatchFrame(index));
        if (++index == count)
            index = 0;
    }
    state.SetItemsProcessed(state.iterations());
    switchEverythingOff();
}
BENCHMARK(BM_GetWatchFrame);

} // namespace

KAVRI_BENCHMARK_MAIN();
