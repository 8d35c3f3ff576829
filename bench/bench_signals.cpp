// The DBC decoder: frames of messages with 8 signals each (Intel and Motorola, signed and
// unsigned, scaled), found by identifier and decoded into a reused vector; canmatrix decoding the
// same frames with the same database; loading a DBC file of 1 MB; and the signal decoder draining
// a channel's DBC queue.
#include "benchutil.h"
#include "kvbuffer.h"
#include "kvdbcdatabase.h"
#include "kvsignaldecoder.h"

#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>

#include <vector>

namespace {

constexpr int Messages = 64;
constexpr int Frames = 8192;

// Message i: 8 signals of 8 bits, Intel and Motorola alternating, every other one signed, with
// a factor and an offset; half the messages extended.
//   BO_ 256 Msg0: 8 Node
//    SG_ S0 : 0|8@1+ (0.5,-10) [0|0] "u" Node
//    SG_ S1 : 15|8@0- (0.25,3) [0|0] "u" Node ...
QByteArray eightSignalDatabase()
{
    QByteArray text = "VERSION \"\"\nBS_:\nBU_: Node\n";
    for (int m = 0; m < Messages; ++m) {
        const quint32 number =
            m % 2 ? 0x80000000u | (0x18FF0000u + quint32(m)) : 0x100u + quint32(m);
        text += "BO_ " + QByteArray::number(number) + " Msg" + QByteArray::number(m) + ": 8 Node\n";
        for (int s = 0; s < 8; ++s) {
            const bool motorola = s % 2 == 1;
            const int start = motorola ? s * 8 + 7 : s * 8;
            text += " SG_ S" + QByteArray::number(s) + " : " + QByteArray::number(start) + "|8@" +
                    (motorola ? "0" : "1") + (s % 4 < 2 ? "+" : "-") + " (0." +
                    QByteArray::number(s + 1) + "," + QByteArray::number(s - 3) +
                    ") [0|0] \"u\" Node\n";
        }
    }
    return text;
}

std::vector<VCI_CAN_OBJ> framesOf(const KvDbcDatabase &db)
{
    std::vector<VCI_CAN_OBJ> frames(Frames);
    QRandomGenerator random(5);
    for (size_t i = 0; i < frames.size(); ++i) {
        const KvDbcMessage &m = db.messages().at(int(random.bounded(Messages)));
        VCI_CAN_OBJ &f = frames[i];
        f.ID = m.id;
        f.ExternFlag = m.extended;
        f.DataLen = 8;
        f.TimeStamp = quint32(i + 1);
        for (quint8 &b : f.Data)
            b = quint8(random.generate());
    }
    return frames;
}

struct Fixture
{
    KvDbcDatabase db;
    std::vector<VCI_CAN_OBJ> frames;
    QTemporaryDir dir;
    bool ok = false;
    static Fixture &instance()
    {
        static Fixture f;
        return f;
    }
    QString dbcFile() const { return dir.filePath(QStringLiteral("eight.dbc")); }
    QString framesFile() const { return dir.filePath(QStringLiteral("frames.txt")); }

private:
    Fixture()
    {
        const QByteArray text = eightSignalDatabase();
        if (!db.loadData(text) || db.signalCount() != Messages * 8)
            return;
        frames = framesOf(db);
        QFile dbc(dbcFile()), list(framesFile());
        if (!dbc.open(QIODevice::WriteOnly) || !list.open(QIODevice::WriteOnly))
            return;
        dbc.write(text);
        for (const VCI_CAN_OBJ &f : frames)
            list.write(QByteArray::number(f.ID, 16) + (f.ExternFlag ? " 1 " : " 0 ") +
                       QByteArray(reinterpret_cast<const char *>(f.Data), 8).toHex() + '\n');
        ok = true;
    }
};

void BM_DecodeEightSignals(benchmark::State &state)
{
    Fixture &fx = Fixture::instance();
    if (!fx.ok) {
        state.SkipWithError("the database could not be built");
        return;
    }
    QVector<KvDbcValue> values;
    values.reserve(8);
    size_t i = 0;
    for (auto _ : state) {
        const int m = fx.db.decode(fx.frames[i], values);
        benchmark::DoNotOptimize(m);
        benchmark::DoNotOptimize(values.constData()[7].physical);
        i = (i + 1) % fx.frames.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeEightSignals);

// canmatrix on the same database and frames, in a child process of Debian's Python; the time is
// its decoding loop as the script measures it.
void BM_CanmatrixDecode(benchmark::State &state)
{
    Fixture &fx = Fixture::instance();
    if (!fx.ok) {
        state.SkipWithError("the database could not be built");
        return;
    }
    long long frames = 0;
    for (auto _ : state) {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(KAVRI_CANMATRIX_SCRIPT), fx.dbcFile(), fx.framesFile()});
        if (!python.waitForFinished(-1) || python.exitCode() != 0) {
            state.SkipWithError("canmatrix did not run (is python3-canmatrix installed?)");
            return;
        }
        const QList<QByteArray> result = python.readAllStandardOutput().trimmed().split(' ');
        if (result.size() != 3 || result[0].toLongLong() != Frames ||
            result[2].toLongLong() != Frames * 8) {
            state.SkipWithError("canmatrix did not decode every frame");
            return;
        }
        state.SetIterationTime(result[1].toDouble());
        frames += result[0].toLongLong();
    }
    state.SetItemsProcessed(frames);
}
BENCHMARK(BM_CanmatrixDecode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// A DBC file of about 1 MB as real ones look: messages with signals, comments, value tables and
// attributes.
QByteArray megabyteDatabase()
{
    QByteArray text =
        "VERSION \"1\"\n\nNS_ :\n\tCM_\n\tBA_DEF_\n\tVAL_\n\nBS_:\n\nBU_: Engine Body\n\n";
    QByteArray tail =
        "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 65535;\nBA_DEF_DEF_ \"GenMsgCycleTime\" 100;\n";
    for (int m = 0; text.size() + tail.size() < 1024 * 1024; ++m) {
        const QByteArray id = QByteArray::number(0x80000000u + quint32(m));
        text += "BO_ " + id + " Message_" + QByteArray::number(m) + ": 8 Engine\n";
        for (int s = 0; s < 8; ++s) {
            const QByteArray name = "Signal_" + QByteArray::number(m) + "_" + QByteArray::number(s);
            text += " SG_ " + name + " : " + QByteArray::number(s * 8) +
                    "|8@1+ (0.125,-40) [-40|-8.125] \"degC\" Body\n";
            if (s == 0) {
                tail += "CM_ SG_ " + id + " " + name + " \"Temperature of zone " +
                        QByteArray::number(m) + "\";\n";
                tail += "VAL_ " + id + " " + name + " 0 \"Off\" 1 \"On\" 255 \"Invalid\" ;\n";
            }
        }
        tail += "BA_ \"GenMsgCycleTime\" BO_ " + id + " 50;\n";
        text += '\n';
    }
    return text + tail;
}

void BM_LoadDbcMegabyte(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("large.dbc"));
    const QByteArray text = megabyteDatabase();
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        state.SkipWithError("the file could not be written");
        return;
    }
    file.close();
    int signalCount = 0;
    for (auto _ : state) {
        KvDbcDatabase db;
        if (!db.load(name)) {
            state.SkipWithError("the file did not load");
            return;
        }
        signalCount = db.signalCount();
    }
    state.SetBytesProcessed(state.iterations() * text.size());
    state.counters["file_bytes"] = double(text.size());
    state.counters["signals"] = signalCount;
}
BENCHMARK(BM_LoadDbcMegabyte)->Unit(benchmark::kMillisecond);

// The signal decoder draining a channel's DBC queue, as the application's refresh cycle does:
// batches of 32 frames (one adapter read) queued, then one poll.
void BM_SignalDecoderPoll(benchmark::State &state)
{
    Fixture &fx = Fixture::instance();
    if (!fx.ok) {
        state.SkipWithError("the database could not be built");
        return;
    }
    KvBuffer buffer;
    KvSignalDecoder decoder(buffer, fx.db);
    decoder.setHistorySize(1000);
    constexpr int PerPoll = 32 * 16;
    size_t next = 0;
    for (auto _ : state) {
        for (int b = 0; b < PerPoll; b += 32) {
            buffer.addDBCFrame(&fx.frames[next], 32);
            next = (next + 32) % fx.frames.size();
        }
        benchmark::DoNotOptimize(decoder.poll());
    }
    state.SetItemsProcessed(state.iterations() * PerPoll);
}
BENCHMARK(BM_SignalDecoderPoll);

} // namespace

KAVRI_BENCHMARK_MAIN();
