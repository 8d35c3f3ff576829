// Charging traffic: J1939 reassembly and GB/T 27930 decoding of the simulated session, played
// again and again to a million frames, on one core. Rates are frames per second of the
// benchmark thread's processor time.
#include "kvgbtdecoder.h"
#include "kvgbtsession.h"
#include "kvgbtsimulation.h"
#include "kvj1939transport.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

namespace {
bool smoke()
{
    const char *value = std::getenv("KAVRI_BENCH_SMOKE");
    return value && std::strcmp(value, "0") != 0;
}

// The session's frames, repeated with their times moved on, to about a million.
const std::vector<KvGbtSimFrame> &traffic()
{
    static const std::vector<KvGbtSimFrame> frames = [] {
        const std::vector<KvGbtSimFrame> one = KvGbtSimulation::generate();
        const size_t wanted = smoke() ? 20000 : 1000000;
        std::vector<KvGbtSimFrame> all;
        all.reserve(wanted + one.size());
        qint64 offset = 0;
        while (all.size() < wanted) {
            for (KvGbtSimFrame f : one) {
                f.time += offset;
                all.push_back(f);
            }
            offset = all.back().time + 1000000;
        }
        return all;
    }();
    return frames;
}

// Transport and decoder alone: what a decoding tool pays per frame.
void BM_ReassembleDecode(benchmark::State &state)
{
    const std::vector<KvGbtSimFrame> &frames = traffic();
    KvJ1939Transport tp;
    KvGbtMessage message;
    double sum = 0;
    tp.setMessageHandler([&](const KvJ1939Message &m) {
        if (KvGbtDecoder::decode(m, 0, message) && !message.fields.empty())
            sum += message.fields.front().value;
    });
    for (auto _ : state) {
        for (const KvGbtSimFrame &f : frames)
            tp.feed(f.time, f.id, f.data, f.size);
        tp.reset();
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(qint64(state.iterations()) * qint64(frames.size()));
}
BENCHMARK(BM_ReassembleDecode)->Unit(benchmark::kMillisecond);

// The whole session tracker: reassembly, decoding, phases, timeouts and the picture.
void BM_SessionTracker(benchmark::State &state)
{
    const std::vector<KvGbtSimFrame> &frames = traffic();
    KvGbtSession session;
    qint64 messages = 0;
    session.setMessageHandler([&messages](const KvGbtMessage &) { ++messages; });
    for (auto _ : state) {
        for (const KvGbtSimFrame &f : frames)
            session.feedFrame(f.time, f.id, f.data, f.size);
        session.reset();
    }
    benchmark::DoNotOptimize(messages);
    state.SetItemsProcessed(qint64(state.iterations()) * qint64(frames.size()));
}
BENCHMARK(BM_SessionTracker)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
