// The format registry's readers and writers at full speed, each beside its peer on the same
// data: python-can's BLF reader and its ASC and candump writers (Debian's Python, in a child
// process, timing only their loop), and can-utils' log2asc for a candump-to-ASC conversion.
#include "benchutil.h"

#include "kvformatregistry.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

qint64 frameCount()
{
    return bench::smoke() ? 10000 : 1000000;
}

// Frame i: standard and extended in turn, 8 bytes, two channels, both directions, 100 us apart.
KvFrame frameAt(qint64 i)
{
    KvFrame f;
    f.timeNs = i * 100000;
    f.extended = i % 2 == 0;
    f.id = f.extended ? 0x18DA0000u + quint32(i % 0xFFFF) : 0x100u + quint32(i % 0x600);
    f.channel = quint8(i % 2);
    f.tx = i % 3 == 0;
    f.dlc = 8;
    for (int k = 0; k < 8; ++k)
        f.data[k] = quint8(i + k);
    return f;
}

// The same frames as a BLF file and a candump log, written once per process.
class Files
{
public:
    static Files &instance()
    {
        static Files files;
        return files;
    }
    QString blf() const { return dir.filePath(QStringLiteral("bench.blf")); }
    QString candump() const { return dir.filePath(QStringLiteral("bench.log")); }
    QString scratch(const char *name) const { return dir.filePath(QLatin1String(name)); }
    bool ok() const { return written; }

private:
    Files()
    {
        written = write(QStringLiteral("blf"), blf(), 1436509052000000000LL) &&
                  write(QStringLiteral("candump"), candump(), 1436509052000000000LL);
    }
    bool write(const QString &format, const QString &path, qint64 start)
    {
        std::unique_ptr<KvFrameWriter> w = KvFormatRegistry::newWriter(format);
        if (!w->open(path, start))
            return false;
        const qint64 n = frameCount();
        for (qint64 i = 0; i < n; ++i)
            w->write(frameAt(i));
        return w->close();
    }
    QTemporaryDir dir;
    bool written = false;
};

qint64 readAll(const QString &path)
{
    QString error;
    std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, {}, &error);
    qint64 n = 0;
    KvFrame f;
    while (reader && reader->read(f) == KvFrameReader::Frame) {
        benchmark::DoNotOptimize(f);
        ++n;
    }
    return n;
}

void BM_BlfRead(benchmark::State &state)
{
    if (!Files::instance().ok()) {
        state.SkipWithError("the recordings could not be written");
        return;
    }
    qint64 frames = 0;
    for (auto _ : state) {
        const qint64 n = readAll(Files::instance().blf());
        if (n != frameCount()) {
            state.SkipWithError("the BLF reader did not give every frame");
            return;
        }
        frames += n;
    }
    state.SetItemsProcessed(frames);
}
// Processor time of the whole process: the reader inflates every other container on a thread of
// its own, which the default (the calling thread's time) would leave out.
BENCHMARK(BM_BlfRead)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// Runs python-can's side; its loop time, or -1. The processor time of its loop goes into the
// counter python_cpu_ms: on a loaded machine the wall-clock figures of both sides wait for a
// core, and only processor times compare what the code costs.
double python(benchmark::State &state, const QStringList &args, qint64 expected)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral(KAVRI_PYCAN_FORMATS)} + args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        state.SkipWithError("python-can did not run (is python3-can installed?)");
        return -1;
    }
    const QList<QByteArray> result = p.readAllStandardOutput().trimmed().split(' ');
    if (result.size() != 3 || result[0].toLongLong() != expected) {
        state.SkipWithError("python-can did not handle every frame");
        return -1;
    }
    state.counters["python_cpu_ms"] = result[2].toDouble() * 1000.0;
    return result[1].toDouble();
}

void BM_PythonCanBlfRead(benchmark::State &state)
{
    if (!Files::instance().ok()) {
        state.SkipWithError("the recordings could not be written");
        return;
    }
    for (auto _ : state) {
        const double seconds =
            python(state, {QStringLiteral("read-blf"), Files::instance().blf()}, frameCount());
        if (seconds < 0)
            return;
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * frameCount());
}
BENCHMARK(BM_PythonCanBlfRead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void writeFrames(benchmark::State &state, const char *format)
{
    const QString path = Files::instance().scratch("written.out");
    // Read once: frameCount() looks at the environment, which costs as much as a frame's line.
    const qint64 n = frameCount();
    for (auto _ : state) {
        // Timed as python-can's writers are (bench/pycan_formats.py): from the first frame to
        // the closed file. Opening, which truncates the previous run's file and may wait for its
        // pages still being written back, is outside the clock on both sides.
        state.PauseTiming();
        std::unique_ptr<KvFrameWriter> w = KvFormatRegistry::newWriter(QLatin1String(format));
        if (!w->open(path, 1436509052000000000LL)) {
            state.SkipWithError("cannot write the scratch file");
            return;
        }
        state.ResumeTiming();
        for (qint64 i = 0; i < n; ++i)
            w->write(frameAt(i));
        if (!w->close()) {
            state.SkipWithError("the writer failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_AscWrite(benchmark::State &state)
{
    writeFrames(state, "asclog");
}
BENCHMARK(BM_AscWrite)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_CandumpWrite(benchmark::State &state)
{
    writeFrames(state, "candump");
}
BENCHMARK(BM_CandumpWrite)->UseRealTime()->Unit(benchmark::kMillisecond);

void pythonWrite(benchmark::State &state, const char *mode)
{
    for (auto _ : state) {
        const double seconds = python(state,
                                      {QLatin1String(mode), Files::instance().scratch("py.out"),
                                       QString::number(frameCount())},
                                      frameCount());
        if (seconds < 0)
            return;
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * frameCount());
}

void BM_PythonCanAscWrite(benchmark::State &state)
{
    pythonWrite(state, "write-asc");
}
BENCHMARK(BM_PythonCanAscWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PythonCanCandumpWrite(benchmark::State &state)
{
    pythonWrite(state, "write-candump");
}
BENCHMARK(BM_PythonCanCandumpWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The whole conversion, file to file, as kvcan convert does it.
void BM_ConvertCandumpToAsc(benchmark::State &state)
{
    if (!Files::instance().ok()) {
        state.SkipWithError("the recordings could not be written");
        return;
    }
    for (auto _ : state) {
        QString error;
        std::unique_ptr<KvFrameReader> r =
            KvFormatRegistry::openReader(Files::instance().candump(), {}, &error);
        std::unique_ptr<KvFrameWriter> w = KvFormatRegistry::newWriter(QStringLiteral("asclog"));
        if (!r || !w->open(Files::instance().scratch("converted.asc"), r->startEpochNs())) {
            state.SkipWithError("cannot convert");
            return;
        }
        KvFrame f;
        while (r->read(f) == KvFrameReader::Frame)
            w->write(f);
        w->close();
    }
    state.SetItemsProcessed(state.iterations() * frameCount());
}
BENCHMARK(BM_ConvertCandumpToAsc)->UseRealTime()->Unit(benchmark::kMillisecond);

// Processor time of the children waited for so far (user and system).
double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// can-utils' log2asc on the same log; the time includes starting the program (milliseconds).
void BM_Log2ascConvert(benchmark::State &state)
{
    const QString log2asc = QStandardPaths::findExecutable(QStringLiteral("log2asc"));
    if (log2asc.isEmpty() || !Files::instance().ok()) {
        state.SkipWithError("log2asc (can-utils) is not installed");
        return;
    }
    for (auto _ : state) {
        const double cpuBefore = childrenCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        QProcess p;
        p.start(log2asc, {"-I", Files::instance().candump(), "-O",
                          Files::instance().scratch("log2asc.asc"), "can0", "can1"});
        if (!p.waitForFinished(-1) || p.exitCode() != 0) {
            state.SkipWithError("log2asc failed");
            return;
        }
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        state.counters["log2asc_cpu_ms"] = (childrenCpuSeconds() - cpuBefore) * 1000.0;
    }
    state.SetItemsProcessed(state.iterations() * frameCount());
}
BENCHMARK(BM_Log2ascConvert)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

KAVRI_BENCHMARK_MAIN();
