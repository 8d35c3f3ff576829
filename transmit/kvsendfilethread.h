#ifndef KVSENDFILETHREAD_H
#define KVSENDFILETHREAD_H

#include "kavri_global.h"
#include "kvthread.h"
#include "taskobj.h"

#include <QtCore/QString>

#include <atomic>

class CanObj;

// Replays a recorded frame file onto one channel, one frame at a time, straight to the adapter.
// setFormat() replays any format of KvFormatRegistry by name, with its own pacing: the recorded
// gaps between the frames' time stamps, at the format's resolution. The file must be what the
// format says (its content is checked before anything is sent); error frames are not sent, CAN
// FD frames are counted as skipped. Without a format, the file type picks the reader and the
// pacing:
//   0 binary: one frame per 8 bytes, under the task frame's ID and flags, `interval` ms apart;
//   1 CSV: the recorded gaps between the frames' time stamps;
//   2 ASC: as fast as the adapter takes them;
//   3 ASC as other tools write it (KvFileAscLog), 4 candump log (KvFileCandump): the recorded
//     gaps between the frames' time stamps, which these readers fill in 0.1 ms units. Each
//     frame is due its gap after the previous frame's due time, to the microsecond, so pauses
//     do not drift over a long recording; a replay that falls behind catches up by at most
//     10 ms instead of bursting.
// The task supplies the starting frame (first frame of its first burst); each record overwrites
// the fields its format carries. Every frame is recorded in the receive buffer as sent, then
// transmitted; progress is reported in percent of the file.
//
// Pacing runs from the highest stamp seen, so one stamp that steps back (a glitch) costs no pause
// and the frames after it are not paced from the bad stamp; a gap longer than the maximum gap
// (setMaxGap, 10 s by default) is cut to it. Pauses are taken in slices of at most 50 ms: stop()
// ends a replay within that.
//
// A line or record that cannot be read is skipped and counted, never the end of the replay: the
// end is the end of the data (or an end line). Progress is the file position in percent, in
// 64-bit arithmetic.
//
// Signals: progressValueChanged(0) and begainSend() once the file is open and prepared; one
// progressValueChanged per frame; skippedSignal(total) for each line skipped; errorSignal() when
// the adapter refuses a frame (the replay then ends); tailSignal() at every end after
// begainSend(). A file that cannot be opened, prepared or is not of its format ends the thread
// without any signal; endReason() and errorString() then say why.
//
// Results, read once the thread has finished (atomics, so a window may also poll them while it
// runs): sentFrames(), skippedLines(), endReason(), errorString() (the last written by the worker
// before it ends, read by others only after wait()).
//
// Decided here:
// - an unknown file type sends nothing and emits errorSignal() alone;
// - a task without a frame starts from an all-zero frame (standard data frame, ID 0);
// - a CSV time stamp that steps back gives no pause; for types 3 and 4 the stamps are compared
//   modulo 2^32, so a step back (or a gap of more than 59 hours) gives no pause while a gap
//   across the wrap of the stamps is kept;
// - pauses are taken in slices: a stop during a long pause cuts it short; the frame it preceded is
//   still sent, then the replay ends;
// - a reader that says "no frame" without moving on (a read error, a file that shrank) ends the
//   replay as truncated rather than looping;
// - blank lines are skipped and counted like any other line a text reader cannot use.
class KAVRI_EXPORT KvSendFileThread : public KvThread
{
    Q_OBJECT
public:
    // Why run() ended.
    enum EndReason {
        NotRun,          // not started, or still running
        EndOfData,       // the recording ended
        Stopped,         // stop() was called
        TransmitRefused, // the adapter refused a frame
        ReadError,       // the file could not be read on: truncated or broken (errorString())
        Refused          // the file could not be opened, or is not of its format (errorString())
    };

    explicit KvSendFileThread(unsigned long channel);
    KvSendFileThread(QObject *parent, unsigned long channel);
    ~KvSendFileThread() override;

    void setParameter(taskObj task);
    void setFileType(int type);
    void setFileName(QString name);
    // A format of KvFormatRegistry ("candump", "blf", ...); empty: the file type decides.
    void setFormat(const QString &name);
    // The longest pause between two frames, in ms; 0 or less replays without pauses.
    void setMaxGap(qint64 msecs);
    // With a format: only the frames of this recording channel (KvFrame::channel, the engine's
    // numbering); -1, the default, replays every channel onto this thread's channel.
    void setChannelFilter(int recordingChannel);
    // With a format: the recorded gaps divided by `factor` (2: twice as fast), above 0; 1 by
    // default. The maximum gap applies to the divided gaps.
    void setSpeed(double factor);

    qint64 sentFrames() const { return sent; }
    qint64 skippedLines() const { return skipped; }
    // With a format: error frames of the replayed channels passed over (the adapter cannot send
    // them), and frames sent by the channel they were recorded on (0 to 3; 4 counts the others).
    qint64 errorFrames() const { return errors; }
    qint64 sentFromChannel(int recordingChannel) const
    {
        return recordingChannel >= 0 && recordingChannel <= 4 ? perChannel[recordingChannel].load()
                                                              : 0;
    }
    EndReason endReason() const { return reason; }
    QString errorString() const { return error; }

    void run() override;

signals:
    void changeStatus();
    void progressValueChanged(int nValue);
    void errorSignal();
    void tailSignal();
    void begainSend();
    void skippedSignal(qint64 count);

protected:
    void onInitUsedTime();
    // One frame: recorded as sent, then handed to the adapter; the adapter's result.
    int writeObj(const CanObj &frame);

private:
    void pause(qint64 msecs);
    void runFileType();
    void runFormat();
    // Sends one frame and reports it; false when the adapter refused it.
    bool sendAndReport(const CanObj &frame, qint64 position, qint64 size);
    void skipLine();

    std::atomic<qint64> usedTimer{0}; // start of the replay on a monotonic clock, in ms
    unsigned long channel;
    int fileType = 0;
    QString fileName;
    QString format;
    qint64 maxGapMs = 10000;
    int channelFilter = -1;
    double speed = 1.0;
    std::atomic<qint64> errors{0};
    std::atomic<qint64> perChannel[5] = {};
    taskObj task;
    std::atomic<qint64> sent{0};
    std::atomic<qint64> skipped{0};
    std::atomic<EndReason> reason{NotRun};
    QString error; // written by the worker, read after it finished
};

#endif // KVSENDFILETHREAD_H
