#include "kvsendfilethread.h"

#include "ascfile.h"
#include "channelstats_p.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvfileasclog.h"
#include "kvfilebin.h"
#include "kvfilecandump.h"
#include "kvfilecsv.h"
#include "usedtimer_p.h"

#include <QtCore/QElapsedTimer>

#include <memory>

namespace {

constexpr int PauseSliceMs = 50;

std::unique_ptr<KvFile> readerFor(int fileType)
{
    switch (fileType) {
    case 0:
        return std::make_unique<KvFileBin>();
    case 1:
        return std::make_unique<KvFileCsv>();
    case 2:
        return std::make_unique<ASCFile>();
    case 3:
        return std::make_unique<KvFileAscLog>();
    case 4:
        return std::make_unique<KvFileCandump>();
    default:
        return nullptr;
    }
}

// Paces the frames of recordings stamped in 0.1 ms units: each frame is due the recorded gap
// after the one before it. Waiting for a due time on one clock, rather than sleeping each gap,
// keeps the small oversleeps of every pause from adding up over a long recording.
class StampPacer
{
public:
    explicit StampPacer(const std::atomic<bool> &running) : running(running) {}

    // Returns when the frame stamped `stamp` is due, or at once when the run is stopped.
    void wait(quint32 stamp)
    {
        if (!clock.isValid()) {
            clock.start();
        } else {
            // Modulo 2^32, so a gap across the wrap of the stamps is still a gap; a step back
            // (or a gap beyond half the range, some 59 hours) gives no pause.
            const quint32 step = stamp - previous;
            if (step < 0x80000000u)
                dueUs += qint64(step) * 100;
        }
        previous = stamp;
        // A replay that fell behind (a slow adapter) catches up by at most MaxLagUs, so that a
        // stall does not come out as a burst.
        dueUs = qMax(dueUs, nowUs() - MaxLagUs);
        while (running) {
            const qint64 remaining = dueUs - nowUs();
            if (remaining <= 0)
                break;
            QThread::usleep(static_cast<unsigned long>(qMin<qint64>(remaining, PauseSliceUs)));
        }
    }

private:
    static constexpr qint64 MaxLagUs = 10000;
    static constexpr qint64 PauseSliceUs = PauseSliceMs * 1000;

    qint64 nowUs() const { return clock.nsecsElapsed() / 1000; }

    const std::atomic<bool> &running;
    QElapsedTimer clock;
    qint64 dueUs = 0;
    quint32 previous = 0;
};

} // namespace

KvSendFileThread::KvSendFileThread(unsigned long channel) : KvSendFileThread(nullptr, channel) {}

KvSendFileThread::KvSendFileThread(QObject *parent, unsigned long channel)
    : KvThread(parent), channel(channel)
{
}

// The worker runs this class's run(): it must have ended before this part of the object goes.
KvSendFileThread::~KvSendFileThread()
{
    stopAndWait();
}

void KvSendFileThread::setParameter(taskObj t)
{
    task = t;
}

void KvSendFileThread::setFileType(int type)
{
    fileType = type;
}

void KvSendFileThread::setFileName(QString name)
{
    fileName = name;
}

void KvSendFileThread::onInitUsedTime()
{
    UsedTimer::restart(usedTimer);
    ChannelStats::setUsedTime(channel, 0.0);
}

int KvSendFileThread::writeObj(const CanObj &frame)
{
    VCI_CAN_OBJ record = frame.toTransmit();
    KvBuffer::instance(static_cast<int>(channel)).addFrame(&record, 1, true);
    return static_cast<int>(DevCan::instance().Transmit(channel, &record, 1));
}

void KvSendFileThread::pause(qint64 msecs)
{
    while (msecs > 0 && running) {
        const qint64 slice = qMin<qint64>(msecs, PauseSliceMs);
        msleep(static_cast<unsigned long>(slice));
        msecs -= slice;
    }
}

void KvSendFileThread::run()
{
    running = true;
    std::unique_ptr<KvFile> reader = readerFor(fileType);
    if (!reader) {
        emit errorSignal();
        return;
    }
    if (!reader->open(fileName)) {
        reader->close();
        return;
    }
    const qint64 size = reader->size();
    if (!reader->prepare()) {
        reader->close();
        return;
    }
    emit progressValueChanged(0);
    emit begainSend();
    onInitUsedTime();

    CanObj frame;
    if (!task.dataList.isEmpty() && !task.dataList.first().isEmpty())
        frame = task.dataList.first().at(0);
    quint32 previousStamp = 0;
    int count = 0;
    StampPacer pacer(running);

    while (running) {
        if (reader->atEnd() || !reader->getFrame(frame))
            break;
        if (fileType == 0) {
            if (task.interval > 0)
                pause(task.interval);
        } else if (fileType == 1) {
            // The CSV reader stamps frames in milliseconds; a step back gives no pause.
            if (count > 0 && frame.TimeStamp > previousStamp)
                pause(qint64(frame.TimeStamp - previousStamp));
            previousStamp = frame.TimeStamp;
        } else if (fileType == 3 || fileType == 4) {
            pacer.wait(frame.TimeStamp);
        }
        ++count;
        if (writeObj(frame) == 0) {
            emit errorSignal();
            break;
        }
        if (size > 0)
            emit progressValueChanged(
                static_cast<int>(static_cast<qint32>(reader->pos()) * 100.0 / double(size)));
        ChannelStats::addSent(channel, 1);
        ChannelStats::setUsedTime(channel, UsedTimer::seconds(usedTimer));
    }
    reader->close();
    emit tailSignal();
}
