// The recorder at the bus limit: four channels of the simulated adapter receiving 36,000 frames
// a second in all, recorded into one ASC or BLF file for 60 s (about a second in smoke mode).
//
// Lost frames are counted against the simulator: every frame it accepted for the receive side
// must be in the recorder's count and in the file read back. The recorder's own processor time
// is its thread's clock (CLOCK_THREAD_CPUTIME_ID, read inside the thread and reported in its
// status). Resident memory is sampled every second once the run is warm. python-can's
// can.Logger writes the same number of frames to the same format, as fast as it can, for
// comparison.
#include "benchutil.h"
#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvrecorder.h"

#include <QtCore/QDir>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int BusLimitPerChannel = 9000; // classical frames per second at 1 Mbit/s
const char *const Formats[] = {"asc", "blf"};

double runSeconds()
{
    return bench::smoke() ? 1.0 : 60.0;
}

VCI_CAN_OBJ frameNumber(quint32 n)
{
    VCI_CAN_OBJ f{};
    f.ID = 0x100 + n % 64;
    f.DataLen = 8;
    std::memcpy(f.Data, &n, sizeof n);
    return f;
}

qint64 framesInFile(const QString &path)
{
    QString error;
    std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, {}, &error);
    qint64 n = 0;
    KvFrame f;
    while (reader && reader->read(f) == KvFrameReader::Frame)
        ++n;
    return n;
}

void BM_RecordBusLimit(benchmark::State &state)
{
    const QString format = QString::fromLatin1(Formats[state.range(0)]);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.") + format);
    std::vector<VCI_CAN_OBJ> frames(256);
    for (quint32 i = 0; i < frames.size(); ++i)
        frames[i] = frameNumber(i);
    for (auto _ : state) {
        VSIM_Reset();
        KvDeviceSession session;
        session.setDevice(bench::DeviceType, bench::DeviceIndex);
        for (int c = 0; c < bench::Channels; ++c)
            session.addChannel(c, 1000000);
        if (!session.start()) {
            state.SkipWithError("the simulated adapter did not start");
            return;
        }
        KvRecorder recorder(session);
        if (!recorder.start(path)) {
            state.SkipWithError(qPrintable(recorder.errorString()));
            return;
        }
        const double seconds = runSeconds();
        long long accepted = 0;
        std::vector<long> rss;
        const double wall0 = bench::wallSeconds();
        const auto start = std::chrono::steady_clock::now();
        long long fed = 0;
        double nextSample = std::min(5.0, seconds / 2);
        for (auto tick = start;; tick += std::chrono::milliseconds(1)) {
            std::this_thread::sleep_until(tick);
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (elapsed >= seconds)
                break;
            const long long due = (long long)(elapsed * BusLimitPerChannel) + 1;
            if (due > fed) {
                const quint32 n = quint32(std::min<long long>(due - fed, (long long)frames.size()));
                for (int c = 0; c < bench::Channels; ++c)
                    accepted += VSIM_Inject(bench::DeviceType, bench::DeviceIndex, quint32(c),
                                            frames.data(), n);
                fed = due;
            }
            if (elapsed >= nextSample) {
                rss.push_back(bench::statusKiB("VmRSS"));
                nextSample += 1.0;
            }
        }
        // The last frames reach the file within a batch or two.
        const double end = bench::wallSeconds() + 10;
        while (recorder.status().frames < accepted && bench::wallSeconds() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const double wall = bench::wallSeconds() - wall0;
        session.stop();
        recorder.stop();
        const KvRecorderStatus status = recorder.status();
        const qint64 inFile = framesInFile(path);
        if (status.frames != accepted || inFile != accepted || status.dropped != 0) {
            state.SkipWithError("frames were lost on the way to the file");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["frames"] = double(accepted);
        state.counters["frames_lost"] = double(accepted - inFile);
        state.counters["recorder_cpu_percent"] = double(status.cpuNs) * 1e-9 / wall * 100.0;
        state.counters["file_mib"] = double(status.bytes) / (1024.0 * 1024.0);
        if (!rss.empty()) {
            const auto [lo, hi] = std::minmax_element(rss.begin(), rss.end());
            state.counters["rss_first_kib"] = double(rss.front());
            state.counters["rss_last_kib"] = double(rss.back());
            state.counters["rss_spread_kib"] = double(*hi - *lo);
        }
        state.SetItemsProcessed(accepted);
    }
}
BENCHMARK(BM_RecordBusLimit)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("asc0_blf1")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// python-can's can.Logger writing as many frames as the recorder did in its run, as fast as it
// can: the processor time it needs per second of a full bus tells whether it could keep up.
void BM_PythonCanLogger(benchmark::State &state)
{
    const QString format = QString::fromLatin1(Formats[state.range(0)]);
    QTemporaryDir dir;
    const qint64 frames = qint64(runSeconds() * BusLimitPerChannel * bench::Channels);
    for (auto _ : state) {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(KAVRI_PYCAN_LOGGER), dir.filePath(QStringLiteral("py.") + format),
                 QString::number(frames)});
        if (!p.waitForFinished(600000) || p.exitCode() != 0) {
            state.SkipWithError("python-can is not installed for /usr/bin/python3");
            return;
        }
        const QList<QByteArray> w = p.readAllStandardOutput().trimmed().split(' ');
        const double wall = w.value(1).toDouble(), cpu = w.value(2).toDouble();
        if (w.size() < 3 || wall <= 0) {
            state.SkipWithError("python-can's logger gave no figures");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["frames"] = double(frames);
        // Processor time for one second of a full bus: below 100 % it keeps up, on one core.
        state.counters["cpu_percent_at_bus_limit"] =
            cpu / (double(frames) / (BusLimitPerChannel * bench::Channels)) * 100.0;
        state.SetItemsProcessed(frames);
    }
}
BENCHMARK(BM_PythonCanLogger)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("asc0_blf1")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

KAVRI_BENCHMARK_MAIN();
