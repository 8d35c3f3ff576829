// The frame-file readers on generated recordings of a million frames, read front to back as the
// replay thread reads them; beside them python-can's ASC reader on the same ASC file.
#include "ascfile.h"
#include "benchutil.h"
#include "candata.h"
#include "canobj.h"
#include "kvfilebin.h"
#include "kvfilecsv.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>

#include <memory>

namespace {

int frameCount()
{
    return bench::smoke() ? 20000 : 1000000;
}

// The recordings, written once per run into a temporary folder.
class Recordings
{
public:
    static Recordings &instance()
    {
        static Recordings recordings;
        return recordings;
    }
    QString asc() const { return folder.filePath(QStringLiteral("recording.asc")); }
    QString csv() const { return folder.filePath(QStringLiteral("recording.csv")); }
    QString bin() const { return folder.filePath(QStringLiteral("recording.bin")); }
    bool ok() const { return written; }

private:
    Recordings() { written = folder.isValid() && writeAsc() && writeCsv() && writeBin(); }

    // Standard and extended data frames with 0 to 8 bytes and some remote frames, one per line,
    // single blanks between the fields, as the reader expects them; python-can reads the same.
    //   "12.345600 1 1A2B3Cx Rx d 3 01 02 03"
    bool writeAsc() const
    {
        QFile file(asc());
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("date Sat Dec 5 20:00:00.000 2026\n"
                   "base hex  timestamps absolute\n"
                   "no internal events logged\n");
        QByteArray line;
        for (int i = 0; i < frameCount(); ++i) {
            const bool extended = i % 3 == 0;
            const bool remote = i % 17 == 0;
            const int length = remote ? 0 : i % 9;
            line = QByteArray::number(i * 0.00011, 'f', 6) + " 1 ";
            line += QByteArray::number(extended ? 0x18FF0000 + i % 4096 : 0x100 + i % 1024, 16)
                        .toUpper();
            line += extended ? "x Rx " : " Rx ";
            line += remote ? "r " : "d ";
            line += QByteArray::number(length);
            for (int b = 0; b < length; ++b)
                line +=
                    ' ' + QByteArray::number((i + b) & 0xFF, 16).rightJustified(2, '0').toUpper();
            line += '\n';
            file.write(line);
        }
        file.write("End TriggerBlock\n");
        return file.error() == QFileDevice::NoError;
    }

    // Header with time mode 1 (time of day "hh:mm:ss:z"), then nine columns a line:
    //   "7,Rx,00:00:01:234,0,18FF0001,Data,Extend,3,01 02 03"
    bool writeCsv() const
    {
        QFile file(csv());
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("Index,Direction,Time-1,Channel,ID,Type,Format,DLC,Data\n");
        QByteArray line;
        for (int i = 0; i < frameCount(); ++i) {
            const bool extended = i % 3 == 0;
            const bool remote = i % 17 == 0;
            const int length = remote ? 0 : i % 9;
            const int msecs = i / 10;
            line = QByteArray::number(i) + ",Rx,";
            line += QString::asprintf("%02d:%02d:%02d:%03d,0,", msecs / 3600000 % 24,
                                      msecs / 60000 % 60, msecs / 1000 % 60, msecs % 1000)
                        .toLatin1();
            line += QString::asprintf("%08X,", extended ? 0x18FF0000 + i % 4096 : 0x100 + i % 1024)
                        .toLatin1();
            line += remote ? "Remote," : "Data,";
            line += extended ? "Extend," : "Standard,";
            line += QByteArray::number(length) + ',';
            for (int b = 0; b < length; ++b) {
                if (b > 0)
                    line += ' ';
                line += QByteArray::number((i + b) & 0xFF, 16).rightJustified(2, '0').toUpper();
            }
            line += '\n';
            file.write(line);
        }
        return file.error() == QFileDevice::NoError;
    }

    // A million 8-byte records.
    bool writeBin() const
    {
        QFile file(bin());
        if (!file.open(QIODevice::WriteOnly))
            return false;
        QByteArray block(8 * 4096, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(i * 31);
        for (int written = 0; written < frameCount(); written += 4096)
            file.write(block.constData(), 8 * qMin(4096, frameCount() - written));
        return file.error() == QFileDevice::NoError;
    }

    QTemporaryDir folder;
    bool written = false;
};

// Reads the whole file with getFrame(), as the replay thread does; returns the frames read.
template <typename Reader> long long readAll(const QString &path)
{
    Reader reader;
    if (!reader.open(path) || !reader.prepare())
        return -1;
    CanObj frame;
    long long frames = 0;
    while (!reader.atEnd() && reader.getFrame(frame)) {
        benchmark::DoNotOptimize(frame.ID);
        ++frames;
    }
    reader.close();
    return frames;
}

template <typename Reader>
void readRecording(benchmark::State &state, const QString &path, bool countBytes)
{
    if (!Recordings::instance().ok()) {
        state.SkipWithError("the recordings could not be written");
        return;
    }
    long long frames = 0;
    for (auto _ : state) {
        const long long read = readAll<Reader>(path);
        if (read != frameCount()) {
            state.SkipWithError("the reader did not give every frame");
            return;
        }
        frames += read;
    }
    state.SetItemsProcessed(frames);
    if (countBytes)
        state.SetBytesProcessed(state.iterations() * QFile(path).size());
}

void BM_ReadAsc(benchmark::State &state)
{
    readRecording<ASCFile>(state, Recordings::instance().asc(), false);
}
BENCHMARK(BM_ReadAsc)->Unit(benchmark::kMillisecond);

void BM_ReadCsv(benchmark::State &state)
{
    readRecording<KvFileCsv>(state, Recordings::instance().csv(), false);
}
BENCHMARK(BM_ReadCsv)->Unit(benchmark::kMillisecond);

void BM_ReadBin(benchmark::State &state)
{
    readRecording<KvFileBin>(state, Recordings::instance().bin(), true);
}
BENCHMARK(BM_ReadBin)->Unit(benchmark::kMillisecond);

// The binary reader as the firmware download uses it: bursts of three frames.
void BM_ReadBinBursts(benchmark::State &state)
{
    if (!Recordings::instance().ok()) {
        state.SkipWithError("the recordings could not be written");
        return;
    }
    const QString path = Recordings::instance().bin();
    CanData templateBurst;
    templateBurst.push(CanObj());
    for (auto _ : state) {
        KvFileBin reader;
        reader.open(path);
        reader.prepare();
        long long frames = 0;
        while (!reader.atEnd()) {
            CanData burst = templateBurst;
            reader.getFrames(burst, 3);
            frames += burst.size();
            benchmark::DoNotOptimize(burst);
        }
        if (frames != frameCount()) {
            state.SkipWithError("the reader did not give every frame");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * frameCount());
    state.SetBytesProcessed(state.iterations() * QFile(path).size());
}
BENCHMARK(BM_ReadBinBursts)->Unit(benchmark::kMillisecond);

// python-can's ASC reader on the same ASC file, in a child process of Debian's Python. The time
// is the reading loop as the script measures it, without the interpreter's start.
void BM_PythonCanReadAsc(benchmark::State &state)
{
    if (!Recordings::instance().ok()) {
        state.SkipWithError("the recordings could not be written");
        return;
    }
    long long frames = 0;
    for (auto _ : state) {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(KAVRI_PYCAN_SCRIPT), Recordings::instance().asc()});
        if (!python.waitForFinished(-1) || python.exitCode() != 0) {
            state.SkipWithError("python-can's ASC reader did not run (is python3-can installed?)");
            return;
        }
        const QList<QByteArray> result = python.readAllStandardOutput().trimmed().split(' ');
        if (result.size() != 2 || result[0].toLongLong() != frameCount()) {
            state.SkipWithError("python-can's ASC reader did not give every frame");
            return;
        }
        state.SetIterationTime(result[1].toDouble());
        frames += result[0].toLongLong();
    }
    state.SetItemsProcessed(frames);
}
BENCHMARK(BM_PythonCanReadAsc)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

KAVRI_BENCHMARK_MAIN();
