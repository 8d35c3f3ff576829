// Firmware download of a large image: the download thread cuts the image into bursts of three
// frames and pushes them into channel 0's pipe; the transmit thread sends them to the adapter.
// Beside it, the same burst shape pushed straight into the pipe: the transmit path's own rate,
// which the download should reach.
#include "benchutil.h"
#include "candata.h"
#include "canwritethread.h"
#include "kvbuffer.h"
#include "kvpipe.h"
#include "kvsendfirmwarethread.h"

#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr quint32 Channel = 0;

// Takes the adapter's log of sent frames as it fills, as a node on the bus would consume them,
// so that what stays resident is the engine's own memory.
class SentDrain
{
public:
    SentDrain() : worker([this] { run(); }) {}
    ~SentDrain()
    {
        done = true;
        worker.join();
    }

private:
    void run()
    {
        std::vector<VCI_CAN_OBJ> frames(16384);
        while (!done) {
            if (VSIM_TakeSent(bench::DeviceType, bench::DeviceIndex, Channel, frames.data(),
                              quint32(frames.size())) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::atomic<bool> done{false};
    std::thread worker;
};

bool writeImage(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 131) >> 3);
    for (qint64 written = 0; written < bytes; written += block.size())
        file.write(block.constData(), qMin<qint64>(block.size(), bytes - written));
    return file.error() == QFileDevice::NoError;
}

template <typename Condition> bool waitUntil(Condition done, double timeoutSeconds)
{
    const double end = bench::wallSeconds() + timeoutSeconds;
    while (!done()) {
        if (bench::wallSeconds() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

long long sent()
{
    return (long long)VSIM_SentTotal(bench::DeviceType, bench::DeviceIndex, Channel);
}

// The argument is the image size in MiB. Peak memory is the highest resident size during the
// download above the resident size before it.
void BM_FirmwareDownload(benchmark::State &state)
{
    const qint64 bytes = state.range(0) << 20;
    QTemporaryDir folder;
    const QString image = folder.filePath(QStringLiteral("image.bin"));
    if (!folder.isValid() || !writeImage(image, bytes) || !bench::openFourChannels()) {
        state.SkipWithError("no image or no adapter");
        return;
    }
    // start, image frames, end, three digest frames, finish
    const long long frames = 1 + (bytes + 7) / 8 + 1 + 3 + 1;
    for (auto _ : state) {
        KvBuffer::instance(Channel).reset();
        KvPipe::instance(Channel).clear();
        SentDrain drain;
        CanWriteThread writer(Channel);
        KvSendFirmwareThread download(Channel);
        download.setFileName(image);
        const long long sent0 = sent();
        const long rss0 = bench::statusKiB("VmRSS");
        const bool peakReset = bench::resetPeakMemory();
        const double cpu0 = bench::processCpuSeconds(), main0 = bench::threadCpuSeconds();
        const double wall0 = bench::wallSeconds();
        writer.start();
        download.start();
        const bool complete = waitUntil([&] { return sent() - sent0 >= frames; }, 600);
        const double wall = bench::wallSeconds() - wall0;
        const double cpu =
            (bench::processCpuSeconds() - cpu0) - (bench::threadCpuSeconds() - main0);
        const long peak = bench::statusKiB("VmHWM");
        download.wait();
        writer.stop();
        writer.waitForFinish();
        if (!complete || sent() - sent0 != frames) {
            state.SkipWithError("the download did not reach the adapter whole");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["frames_per_second"] = double(frames) / wall;
        state.counters["cpu_percent"] = cpu / wall * 100.0;
        if (peakReset && peak > 0 && rss0 > 0)
            state.counters["peak_extra_MiB"] = double(peak - rss0) / 1024.0;
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_FirmwareDownload)
    ->Arg(bench::smoke() ? 1 : 8)
    ->Arg(bench::smoke() ? 4 : 64)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The download thread alone: the same image, its bursts taken from the pipe by a bare loop
// instead of the transmit thread. Its rate is the most the download can hand to the transmit
// path, whatever the hand-over.
void BM_FirmwareDownloadAlone(benchmark::State &state)
{
    const qint64 bytes = qint64(bench::smoke() ? 1 : 8) << 20;
    QTemporaryDir folder;
    const QString image = folder.filePath(QStringLiteral("image.bin"));
    if (!folder.isValid() || !writeImage(image, bytes)) {
        state.SkipWithError("no image");
        return;
    }
    const long long frames = 1 + (bytes + 7) / 8 + 1 + 3 + 1;
    for (auto _ : state) {
        KvPipe &pipe = KvPipe::instance(Channel);
        pipe.clear();
        std::atomic<long long> taken{0};
        std::atomic<bool> done{false};
        std::thread consumer([&] {
            CanData burst;
            while (!done) {
                if (pipe.tryPop(burst))
                    taken += burst.size();
                else
                    pipe.pollForData(1000);
            }
        });
        KvSendFirmwareThread download(Channel);
        download.setFileName(image);
        const double wall0 = bench::wallSeconds();
        download.start();
        const bool complete = waitUntil([&] { return taken >= frames; }, 600);
        const double wall = bench::wallSeconds() - wall0;
        done = true;
        consumer.join();
        download.wait();
        if (!complete || taken != frames) {
            state.SkipWithError("the download did not reach the pipe whole");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["frames_per_second"] = double(frames) / wall;
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_FirmwareDownloadAlone)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The transmit path alone with the download's burst shape: three 8-byte frames per queue, the
// third closing its batch, waiting in the pipe before the thread starts.
void BM_TransmitThreeFrameBursts(benchmark::State &state)
{
    if (!bench::openFourChannels()) {
        state.SkipWithError("the simulated adapter did not open");
        return;
    }
    const int bursts = bench::smoke() ? 10000 : 300000;
    std::vector<CanData> queue(static_cast<size_t>(bursts));
    for (int i = 0; i < bursts; ++i) {
        for (int f = 0; f < 3; ++f) {
            CanObj frame;
            frame.ID = 0x111;
            frame.DataLen = 8;
            frame.Data[0] = quint8(i);
            frame.BatchEndFlag = f == 2;
            queue[size_t(i)].push(frame);
        }
    }
    for (auto _ : state) {
        KvBuffer::instance(Channel).reset();
        KvPipe &pipe = KvPipe::instance(Channel);
        pipe.clear();
        for (const CanData &burst : queue)
            pipe.push(burst);
        SentDrain drain;
        const long long sent0 = sent();
        CanWriteThread writer(Channel);
        const double wall0 = bench::wallSeconds();
        writer.start();
        const bool complete = waitUntil([&] { return sent() - sent0 >= 3LL * bursts; }, 600);
        const double wall = bench::wallSeconds() - wall0;
        writer.stop();
        writer.waitForFinish();
        if (!complete) {
            state.SkipWithError("frames were lost on the way to the adapter");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["frames_per_second"] = 3.0 * bursts / wall;
    }
    state.SetBytesProcessed(state.iterations() * 24LL * bursts);
}
BENCHMARK(BM_TransmitThreeFrameBursts)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

KAVRI_BENCHMARK_MAIN();
