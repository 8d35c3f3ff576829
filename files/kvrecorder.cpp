#include "kvrecorder.h"

#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvframesubscription.h"
#include "kvframewriter.h"
#include "kvrecordclock_p.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFileInfo>

#include <cstring>
#include <ctime>

namespace {

const int BatchMs = 20;   // the thread's pace: at a full bus, about 200 frames a channel a batch
const int FlushMs = 1000; // what is on disk is a complete recording at most this old

// The calling thread's processor time.
qint64 threadCpuNs()
{
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec t{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0)
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
#endif
    return 0;
}

KvFrame frameOf(const KvCanObj &r, qint64 timeNs)
{
    KvFrame f;
    f.timeNs = timeNs;
    f.id = r.frame.ID;
    f.channel = 0;
    f.tx = r.send;
    f.extended = r.frame.ExternFlag != 0;
    f.remote = r.frame.RemoteFlag != 0;
    f.dlc = quint8(qMin<int>(r.frame.DataLen, 8));
    if (!f.remote)
        std::memcpy(f.data, r.frame.Data, f.dlc);
    return f;
}

} // namespace

// One output file at a time: the whole recording's, or one channel's.
struct KvRecorder::Sink
{
    int channel = -1; // -1: every channel
    std::unique_ptr<KvFrameWriter> writer;
    int number = 0;        // of the file in a rotation; 0 without rotation
    qint64 originNs = 0;   // the file's start on the recording's timeline
    qint64 lastNs = 0;     // time of the latest frame written to it
    qint64 framesDone = 0; // in the files already closed
    qint64 bytesDone = 0;
};

KvRecorder::KvRecorder(KvDeviceSession &session, QObject *parent)
    : QObject(parent), session(session)
{
}

KvRecorder::~KvRecorder()
{
    stop();
}

void KvRecorder::setChannels(const QVector<int> &channels)
{
    chosen = channels;
}

void KvRecorder::setFormat(const QString &name)
{
    format = name;
}

void KvRecorder::setFilePerChannel(bool on)
{
    perChannel = on;
}

void KvRecorder::setMaxFileSize(qint64 bytes)
{
    maxBytes = qMax<qint64>(0, bytes);
}

void KvRecorder::setMaxFileTime(qint64 msecs)
{
    maxMs = qMax<qint64>(0, msecs);
}

void KvRecorder::setBound(int frames)
{
    limit = qMax(1, frames);
}

bool KvRecorder::isRecording() const
{
    std::lock_guard<std::mutex> lock(statusLock);
    return current.recording;
}

KvRecorderStatus KvRecorder::status() const
{
    std::lock_guard<std::mutex> lock(statusLock);
    return current;
}

QString KvRecorder::errorString() const
{
    std::lock_guard<std::mutex> lock(statusLock);
    return error;
}

QStringList KvRecorder::files() const
{
    std::lock_guard<std::mutex> lock(statusLock);
    return made;
}

void KvRecorder::setPaused(bool paused)
{
    pausing = paused;
    std::lock_guard<std::mutex> lock(statusLock);
    current.paused = paused;
}

bool KvRecorder::start(const QString &path)
{
    if (worker.joinable()) {
        if (isRecording()) {
            std::lock_guard<std::mutex> lock(statusLock);
            error = QStringLiteral("already recording");
            return false;
        }
        stop(); // the thread of a recording that failed has ended; collect it
    }
    {
        std::lock_guard<std::mutex> lock(statusLock);
        current = KvRecorderStatus();
        current.paused = pausing;
        made.clear();
        error.clear();
    }
    fmt = format.isEmpty() ? KvFormatRegistry::forSuffix(path) : KvFormatRegistry::find(format);
    if (!fmt || !fmt->newWriter)
        return fail(QStringLiteral("no writable format for %1: choose one of %2")
                        .arg(path, KvFormatRegistry::names(true)));
    QVector<int> channels = chosen.isEmpty() ? session.channels() : chosen;
    if (channels.isEmpty())
        return fail(QStringLiteral("no channel to record"));
    for (int ch : channels) {
        if (ch < 0 || ch > 3)
            return fail(QStringLiteral("no channel %1: channels are 0 to 3").arg(ch));
    }

    basePath = path;
    const QDateTime now = QDateTime::currentDateTime();
    startEpochNs = now.toMSecsSinceEpoch() * 1000000;
    startMsOfDay = now.time().msecsSinceStartOfDay();
    sinks.clear();
    if (perChannel) {
        for (int ch : channels) {
            sinks.push_back(std::make_unique<Sink>());
            sinks.back()->channel = ch;
        }
    } else {
        sinks.push_back(std::make_unique<Sink>());
    }
    for (auto &sink : sinks) {
        if (!openSink(*sink, 0)) {
            for (auto &s : sinks)
                s->writer.reset();
            sinks.clear();
            return false;
        }
    }
    subscriptions.clear();
    for (int ch : channels)
        subscriptions.push_back(std::make_unique<KvFrameSubscription>(session, ch, limit));
    stopping = false;
    publish(true);
    worker = std::thread([this] { run(); });
    return true;
}

void KvRecorder::stop()
{
    if (!worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(wakeLock);
        stopping = true;
    }
    wake.notify_all();
    worker.join();
    subscriptions.clear();
    sinks.clear();
}

QString KvRecorder::pathOf(const Sink &sink) const
{
    const QFileInfo info(basePath);
    QString name = info.completeBaseName();
    if (sink.channel >= 0)
        name += QStringLiteral("-ch%1").arg(sink.channel);
    if (sink.number > 0)
        name += QStringLiteral("-%1").arg(sink.number, 4, 10, QLatin1Char('0'));
    if (!info.suffix().isEmpty())
        name += QLatin1Char('.') + info.suffix();
    // The folder as the caller wrote it: "trace.asc" stays without "./".
    return basePath.left(basePath.size() - info.fileName().size()) + name;
}

bool KvRecorder::openSink(Sink &sink, qint64 originNs)
{
    if (sink.writer) {
        if (!closeSink(sink))
            return false;
        sink.framesDone += sink.writer->written();
        sink.bytesDone += sink.writer->bytes();
    }
    if (maxBytes > 0 || maxMs > 0)
        ++sink.number;
    sink.originNs = originNs;
    sink.lastNs = originNs;
    sink.writer = KvFormatRegistry::newWriter(fmt->name);
    sink.writer->setSpaceLimit(spaceLimit);
    const QString path = pathOf(sink);
    if (!sink.writer->open(path, startEpochNs + originNs))
        return fail(sink.writer->errorString());
    std::lock_guard<std::mutex> lock(statusLock);
    made << path;
    current.file = path;
    current.files = made.size();
    return true;
}

bool KvRecorder::closeSink(Sink &sink)
{
    return sink.writer->close() || fail(sink.writer->errorString());
}

bool KvRecorder::fail(const QString &reason)
{
    {
        std::lock_guard<std::mutex> lock(statusLock);
        if (error.isEmpty())
            error = reason;
        current.error = error;
        current.recording = false;
    }
    emit errorSignal(reason);
    return false;
}

void KvRecorder::publish(bool recording, qint64 cpuNs)
{
    qint64 frames = 0, bytes = 0;
    for (const auto &sink : sinks) {
        frames += sink->framesDone + (sink->writer ? sink->writer->written() : 0);
        bytes += sink->bytesDone + (sink->writer ? sink->writer->bytes() : 0);
    }
    quint64 dropped = 0;
    for (const auto &s : subscriptions)
        dropped += s->dropped();
    std::lock_guard<std::mutex> lock(statusLock);
    current.recording = recording && error.isEmpty();
    current.frames = frames;
    current.bytes = bytes;
    current.dropped = qMax(current.dropped, dropped);
    if (cpuNs >= 0)
        current.cpuNs = cpuNs;
}

void KvRecorder::run()
{
    const int n = int(subscriptions.size());
    std::vector<QVector<KvCanObj>> batches(static_cast<size_t>(n));
    std::vector<quint64> notedDrops(static_cast<size_t>(n), 0);
    kavri::detail::RecordClock clock(startMsOfDay);
    QElapsedTimer sinceFlush;
    sinceFlush.start();
    auto sinkFor = [this](int channel) -> Sink & {
        if (sinks.size() == 1)
            return *sinks.front();
        for (auto &s : sinks) {
            if (s->channel == channel)
                return *s;
        }
        return *sinks.front();
    };

    bool ok = true;
    for (;;) {
        const bool last = stopping.load();
        for (int i = 0; i < n; ++i) {
            batches[size_t(i)].clear();
            subscriptions[size_t(i)]->take(batches[size_t(i)]);
        }
        if (!pausing.load()) {
            // Merged by time, each channel in its own order: the head of every channel's batch
            // competes, the earliest is written.
            std::vector<int> next(size_t(n), 0);
            std::vector<qint64> headNs(size_t(n), 0);
            for (int i = 0; i < n; ++i) {
                if (!batches[size_t(i)].isEmpty())
                    headNs[size_t(i)] = clock.timeNs(batches[size_t(i)].front());
            }
            while (ok) {
                int pick = -1;
                for (int i = 0; i < n; ++i) {
                    if (next[size_t(i)] < batches[size_t(i)].size() &&
                        (pick < 0 || headNs[size_t(i)] < headNs[size_t(pick)]))
                        pick = i;
                }
                if (pick < 0)
                    break;
                const size_t p = size_t(pick);
                const KvCanObj &record = batches[p][next[p]];
                Sink &sink = sinkFor(subscriptions[p]->channel());
                // Held at the file's latest time: the merge orders one batch, but a frame of a
                // later batch, or a sent frame with the host's millisecond stamp among received
                // ones with the adapter's, may lie a fraction of a millisecond before it.
                const qint64 t = qMax(headNs[p], sink.lastNs);
                if (maxMs > 0 && t >= sink.originNs + maxMs * 1000000) {
                    const qint64 span = maxMs * 1000000;
                    ok = openSink(sink, t - t % span);
                    if (!ok)
                        break;
                }
                KvFrame f = frameOf(record, qMax<qint64>(0, t - sink.originNs));
                f.channel = quint8(subscriptions[p]->channel());
                sink.lastNs = t;
                if (!sink.writer->write(f)) {
                    ok = fail(sink.writer->errorString());
                    break;
                }
                if (++next[p] < batches[p].size())
                    headNs[p] = clock.timeNs(batches[p][next[p]]);
            }
        }
        for (int i = 0; ok && i < n; ++i) {
            const quint64 d = subscriptions[size_t(i)]->dropped();
            if (d > notedDrops[size_t(i)]) {
                const int ch = subscriptions[size_t(i)]->channel();
                sinkFor(ch).writer->comment(QStringLiteral("ch%1: %2 frames dropped")
                                                .arg(ch + 1)
                                                .arg(d - notedDrops[size_t(i)])
                                                .toLatin1());
                notedDrops[size_t(i)] = d;
            }
        }
        if (ok && maxBytes > 0) {
            for (auto &sink : sinks) {
                if (sink->writer->bytes() >= maxBytes && !(ok = openSink(*sink, sink->lastNs)))
                    break;
            }
        }
        if (ok && (last || sinceFlush.elapsed() >= FlushMs)) {
            sinceFlush.restart();
            for (auto &sink : sinks) {
                if (!sink->writer->flush()) {
                    ok = fail(sink->writer->errorString());
                    break;
                }
            }
        }
        publish(ok, threadCpuNs());
        if (!ok || last)
            break;
        std::unique_lock<std::mutex> lock(wakeLock);
        wake.wait_for(lock, std::chrono::milliseconds(BatchMs), [this] { return stopping.load(); });
    }
    // A failed writer keeps what reached the file; the others end complete.
    for (auto &sink : sinks) {
        if (ok)
            ok = closeSink(*sink);
        else
            sink->writer->close();
    }
    publish(false, threadCpuNs());
    // The channels run on without the recorder's copies.
    if (!ok)
        subscriptions.clear();
    emit finished();
}
