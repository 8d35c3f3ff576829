#ifndef KVSENDFILETHREAD_H
#define KVSENDFILETHREAD_H

#include "kavri_global.h"
#include "kvthread.h"
#include "taskobj.h"

#include <QtCore/QString>

#include <atomic>

class CanObj;

// Replays a recorded frame file onto one channel, one frame at a time, straight to the adapter.
// The file type picks the reader and the pacing:
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
// Signals: progressValueChanged(0) and begainSend() once the file is open and prepared; one
// progressValueChanged per frame; errorSignal() when the adapter refuses a frame (the replay then
// ends); tailSignal() at every end after begainSend(). A file that cannot be opened or prepared
// ends the thread without any signal.
//
// Decided here:
// - an unknown file type sends nothing and emits errorSignal() alone;
// - a task without a frame starts from an all-zero frame (standard data frame, ID 0);
// - a CSV time stamp that steps back gives no pause; for types 3 and 4 the stamps are compared
//   modulo 2^32, so a step back (or a gap of more than 59 hours) gives no pause while a gap
//   across the wrap of the stamps is kept;
// - pauses are taken in slices: a stop during a long pause cuts it short; the frame it preceded is
//   still sent, then the replay ends.
class KAVRI_EXPORT KvSendFileThread : public KvThread
{
    Q_OBJECT
public:
    explicit KvSendFileThread(unsigned long channel);
    KvSendFileThread(QObject *parent, unsigned long channel);
    ~KvSendFileThread() override;

    void setParameter(taskObj task);
    void setFileType(int type);
    void setFileName(QString name);

    void run() override;

signals:
    void changeStatus();
    void progressValueChanged(int nValue);
    void errorSignal();
    void tailSignal();
    void begainSend();

protected:
    void onInitUsedTime();
    // One frame: recorded as sent, then handed to the adapter; the adapter's result.
    int writeObj(const CanObj &frame);

private:
    void pause(qint64 msecs);

    std::atomic<qint64> usedTimer{0}; // start of the replay on a monotonic clock, in ms
    unsigned long channel;
    int fileType = 0;
    QString fileName;
    taskObj task;
};

#endif // KVSENDFILETHREAD_H
