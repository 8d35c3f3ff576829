#ifndef KVRECORDER_H
#define KVRECORDER_H

#include "kavri_global.h"

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVector>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class KvDeviceSession;
class KvFrameSubscription;
class KvFrameWriter;
struct KvFormat;

// What KvRecorder::status() tells, at any time, from any thread.
struct KvRecorderStatus
{
    bool recording = false; // between a successful start() and stop() or a failure
    bool paused = false;
    qint64 frames = 0;   // frames written, in all files
    qint64 bytes = 0;    // bytes of all files, written or buffered
    QString file;        // the file opened last (the one being written)
    int files = 0;       // files made, rotation included
    quint64 dropped = 0; // frames lost because the recorder's bound was full
    QString error;       // why the recording stopped by itself; empty if it did not
    qint64 cpuNs = 0;    // processor time of the recorder's thread so far (0 where not known)
};

// Records the frames of one or more channels of a device session into a file of any writable
// format of KvFormatRegistry, on a thread of its own:
//
//     KvRecorder recorder(session);
//     recorder.setChannels({0, 1});
//     if (!recorder.start("trace.asc"))             // the format from the suffix
//         qWarning() << recorder.errorString();
//     ...
//     session.stop();                               // hands the last frames over
//     recorder.stop();                              // writes them, closes the file
//
// Frames come from one KvFrameSubscription per channel, taken in batches every 20 ms: the
// receive path never waits for the recorder and no lock is taken per frame. Each frame is
// written with its channel, its direction, and its time on the recording's timeline: the
// adapter's stamp for a received frame, the host's time of day for one this library sent, both
// on one clock (see RecordClock in kvrecordclock_p.h). Times in a file count from the file's
// start; the formats with a header (ASC's date line, BLF's) hold that start as a date, candump
// lines hold absolute times.
//
// Memory is bounded: each subscription holds at most bound() frames. Frames beyond it are
// dropped, counted in status().dropped and, in ASC, noted where they were lost by a comment line
// ("// ch1: 12 frames dropped"). candump, CSV and BLF have no such line: there the status alone
// tells.
//
// Rotation: with setMaxFileSize() or setMaxFileTime() the recording goes into numbered files,
// "trace-0001.asc", "trace-0002.asc", ..., each closed and complete before the next is opened,
// each with its own start. With setFilePerChannel(true) each channel has its file,
// "trace-ch0.asc" (and "trace-ch0-0001.asc" when rotating).
//
// Failures: a file that cannot be opened (a missing folder, a folder, no permission) fails
// start(); a write that fails later (a full disk) ends the recording. Both set errorString() and
// status().error and emit errorSignal(reason). What was written stays a readable recording
// (the writer flushes at least once a second); the session and its channels run on.
//
// Signals: errorSignal() at a failure (from the recorder's thread when it fails while
// recording; a receiver in another thread gets it queued); finished() once the recording has
// ended, by stop() or by a failure.
//
// Threads: the setters, start(), stop() and setPaused() belong to the thread that owns the
// recorder; status() and errorString() may be called from any thread. The recorder's thread owns
// the writers, the subscriptions' consumer side and the clock; `statusLock` guards `current`
// (and `error`), which that thread publishes after every batch; `stopping` and `pausing` are
// atomics the owner sets and the worker reads.
//
// Decided here:
//   - the format is setFormat()'s, else the registry's for the path's suffix; a read-only or
//     unknown one fails start() ("no writable format for x.bin: ...");
//   - stop() writes everything the subscriptions hold when it is called, then closes; frames the
//     session delivers later are not recorded (stop the session first to keep them all);
//   - times in a file never go back: a frame stamped before the one written before it (the
//     adapter's stamps and the host's agree to about a millisecond) is written at that one's
//     time;
//   - frames that arrive while paused are taken and thrown away, not counted as dropped;
//   - rotation by size happens between batches, once the file holds the size: a file may exceed
//     it by one batch; rotation by time happens at the first frame past the file's span (a quiet
//     bus makes no empty files);
//   - a second start() while recording fails ("already recording"); stop() when not recording
//     does nothing; the destructor stops;
//   - the default bound is 65536 frames per channel, seven seconds of a full 1 Mbit/s bus.
class KAVRI_EXPORT KvRecorder : public QObject
{
    Q_OBJECT
public:
    explicit KvRecorder(KvDeviceSession &session, QObject *parent = nullptr);
    ~KvRecorder() override;

    // Setup, before start(). Channels 0 to 3; by default the session's channels.
    void setChannels(const QVector<int> &channels);
    void setFormat(const QString &name);
    void setFilePerChannel(bool on);
    // 0 or less: no rotation of that kind.
    void setMaxFileSize(qint64 bytes);
    void setMaxFileTime(qint64 msecs);
    void setBound(int frames);
    int bound() const { return limit; }
    // Fault hook: every file takes this many bytes and then fails like a full disk.
    void setSpaceLimit(qint64 bytes) { spaceLimit = bytes; }

    bool start(const QString &path);
    void stop();
    void setPaused(bool paused);
    bool isRecording() const;

    KvRecorderStatus status() const;
    QString errorString() const;
    // Every file the recording made, in order; complete once stop() returned.
    QStringList files() const;

signals:
    void errorSignal(const QString &reason);
    void finished();

private:
    Q_DISABLE_COPY(KvRecorder)
    struct Sink;

    void run();
    bool openSink(Sink &sink, qint64 originNs);
    bool closeSink(Sink &sink);
    QString pathOf(const Sink &sink) const;
    bool fail(const QString &reason);
    // From the recorder's thread with its processor time; -1 from elsewhere.
    void publish(bool recording, qint64 cpuNs = -1);

    KvDeviceSession &session;
    QVector<int> chosen;
    QString format;
    bool perChannel = false;
    qint64 maxBytes = 0;
    qint64 maxMs = 0;
    int limit = 65536;
    qint64 spaceLimit = -1;

    // Set by start() before the thread runs, then the thread's own until it ends.
    QString basePath;
    const KvFormat *fmt = nullptr;
    qint64 startEpochNs = 0;
    qint64 startMsOfDay = 0;
    std::vector<std::unique_ptr<KvFrameSubscription>> subscriptions;
    std::vector<std::unique_ptr<Sink>> sinks;

    std::thread worker;
    std::atomic<bool> stopping{false};
    std::atomic<bool> pausing{false};
    std::mutex wakeLock; // with `wake`: the thread's wait between batches, cut short by stop()
    std::condition_variable wake;

    mutable std::mutex statusLock;
    KvRecorderStatus current; // guarded by statusLock
    QStringList made;         // guarded by statusLock
    QString error;            // guarded by statusLock
};

#endif // KVRECORDER_H
