#ifndef KVREPLAY_H
#define KVREPLAY_H

#include "kavri_global.h"
#include "kvsendfilethread.h"
#include "taskobj.h"

#include <QtCore/QMap>
#include <QtCore/QObject>
#include <QtCore/QPair>
#include <QtCore/QString>
#include <QtCore/QTimer>
#include <QtCore/QVector>

#include <atomic>
#include <memory>
#include <vector>

class KvDeviceSession;

// A recording replayed on the channels of a running device session, with everything a user sets
// for it: the speed, the number of passes, the longest pause and which recording channel goes to
// which channel of the device.
//
//     KvReplay replay(session);
//     replay.setFileName("drive.blf");
//     replay.setFormat("blf");
//     replay.setChannel(0);                         // every recording channel onto channel 0,
//     replay.setChannelMap(map);                    // or 1=0,2=1: each onto its own channel
//     replay.setSpeed(2.0);
//     replay.setLoops(3);
//     replay.start();                               // ... finished() after the third pass
//
// A pass runs one KvSendFileThread per target channel, each reading the whole file for its
// recording channel (KvSendFileThread::setChannelFilter); each is registered with the session as a
// sender while it runs, so the session's stop() stops it first. A pass ends when all its threads
// have ended; their counts are added up and the next pass starts, until the passes are done or a
// pass ended for any other reason than the end of the data.
//
// Signals: progressChanged(percent), at most every 10 ms while it moves, from the first thread of
// the current pass (the file position); passStarted(pass) as each pass begins (1 for the first);
// finished() once, when the last pass ended, after the counts are final. Progress, passes and the
// end arrive through the event loop of the thread the replay lives in, which must run for the
// replay to move on between passes.
//
// stop() only asks the threads to end and returns at once: each ends within the 50 ms slice of its
// pause, and finished() follows. A thread that had not yet begun its run when the stop came would
// miss it, so the stop is repeated every 20 ms until the pass has ended. When the session is about
// to stop, the replay stops and waits for its threads there, and finished() comes before the
// channels go down. The destructor stops and waits for them; the session must outlive the replay.
//
// Threads: every member is called from the thread that owns the replay; the worker threads are
// the pass's KvSendFileThreads, whose results are read once they have finished.
//
// Decided here:
// - a channel map entry names engine channels on both sides (ASC and BLF channel 1 and candump
//   can0 are channel 0); recording channels not in the map are left out;
// - a map needs the channels of a format reader: with setFileType() it is refused at start();
// - ignoring the time stamps is a maximum gap of 0;
// - a pass that sent no frame ends the loop, since every pass after it would send none either;
// - the end reason of several threads is the gravest: Refused, TransmitRefused, Stopped,
//   ReadError, then EndOfData.
class KAVRI_EXPORT KvReplay : public QObject
{
    Q_OBJECT
public:
    explicit KvReplay(KvDeviceSession &session, QObject *parent = nullptr);
    ~KvReplay() override;

    // "1=0,2=1" -> {(1, 0), (2, 1)}: recording channel -> engine channel, both 0 to 3, each
    // recording channel once; false with `error` naming the bad entry.
    static bool parseChannelMap(const QString &text, QVector<QPair<int, int>> &map, QString &error);

    void setFileName(const QString &name) { file = name; }
    QString fileName() const { return file; }
    // A format of KvFormatRegistry, replayed with its own pacing.
    void setFormat(const QString &name);
    // A file type of KvSendFileThread::setFileType instead of a format (a binary file, or the
    // application's ASC sent as fast as the adapter takes it).
    void setFileType(int type);
    // The channel every recording channel goes to when there is no map; 0 by default.
    void setChannel(int channel) { defaultChannel = channel; }
    // Recording channel -> engine channel; empty: every channel to setChannel().
    void setChannelMap(const QVector<QPair<int, int>> &map) { mapping = map; }
    QVector<QPair<int, int>> channelMap() const { return mapping; }
    // The engine channels the frames go to: the map's targets, or setChannel().
    QVector<int> targetChannels() const;
    // The recorded gaps divided by `factor`, 0.001 to 1000; 1 by default.
    void setSpeed(double factor) { speedFactor = factor; }
    // Passes over the file, 1 or more; 1 by default.
    void setLoops(qint64 passes) { loops = passes; }
    // The longest pause between two frames in ms, 10 s by default; 0 or less sends the frames
    // back to back.
    void setMaxGap(qint64 msecs) { maxGapMs = msecs; }
    // The frame a binary file's payloads are sent under (its first burst's first frame).
    void setParameter(const taskObj &task) { startTask = task; }

    // False, with errorString() set, when a replay runs, the session has not started or the
    // settings cannot work (a map with a file type); else the first pass has begun.
    bool start();
    void stop();
    bool isRunning() const { return running; }
    // Blocks until the current pass's threads have ended, at most `msecs` (-1: no bound), and
    // ends the replay there with their counts, starting no further pass; true when it ended.
    // For a host without an event loop to wait in, after stop().
    bool waitForFinished(int msecs = -1);

    // Totals over every pass so far; final after finished().
    qint64 sentFrames() const { return sent; }
    qint64 skippedLines() const { return skipped; }
    qint64 errorFrames() const { return errors; }
    // Frames sent on an engine channel, and frames sent that were recorded on a channel (0 to 3;
    // 4 counts the others).
    qint64 sentTo(int channel) const { return perTarget.value(channel); }
    QMap<int, qint64> sentPerChannel() const { return perTarget; }
    qint64 sentFromChannel(int recordingChannel) const;
    int passesDone() const { return passes; }
    KvSendFileThread::EndReason endReason() const { return reason; }
    QString errorString() const { return error; }

signals:
    void progressChanged(int percent);
    void passStarted(int pass);
    void finished();

private:
    Q_DISABLE_COPY(KvReplay)
    void publishProgress();
    void startPass();
    void threadEnded();
    void endPass();
    void finish(KvSendFileThread::EndReason why);

    KvDeviceSession &session;
    QString file;
    QString format;
    int fileType = -1;
    int defaultChannel = 0;
    QVector<QPair<int, int>> mapping;
    double speedFactor = 1.0;
    qint64 loops = 1;
    qint64 maxGapMs = 10000;
    taskObj startTask;

    std::vector<std::unique_ptr<KvSendFileThread>> threads; // the current pass's
    QVector<int> threadChannels;                            // the engine channel of each
    bool running = false;
    bool stopping = false;
    // The first thread's latest percent: stored by that thread, published on this object's
    // thread by publishProgress() when it changed.
    std::atomic<int> progress{0};
    int published = -1;
    QTimer progressTimer; // publishes the progress and ends a pass whose threads all ended
    QTimer stopAgain;     // repeats a stop that came before a thread's run() had begun
    int passes = 0;
    qint64 sent = 0;
    qint64 skipped = 0;
    qint64 errors = 0;
    qint64 perRecording[5] = {};
    QMap<int, qint64> perTarget;
    KvSendFileThread::EndReason reason = KvSendFileThread::NotRun;
    QString error;
};

#endif // KVREPLAY_H
