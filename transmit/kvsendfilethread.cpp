#include "kvsendfilethread.h"

#include "ascfile.h"
#include "channelstats_p.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvfileasclog.h"
#include "kvfilebin.h"
#include "kvfilecandump.h"
#include "kvfilecsv.h"
#include "kvformatregistry.h"
#include "usedtimer_p.h"

#include <QtCore/QElapsedTimer>

#include <cstring>
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

// Paces frames by their stamps in microseconds: each frame is due its gap after the one before.
// Waiting for a due time on one clock, rather than sleeping each gap, keeps the small oversleeps
// of every pause from adding up over a long recording. Gaps run from the highest stamp seen, so
// a stamp that steps back costs no pause and the next good one is not paced from it; a gap is
// cut to the maximum gap.
class StampPacer
{
public:
    StampPacer(const std::atomic<bool> &running, qint64 maxGapMs)
        : running(running), maxGapUs(qMax<qint64>(0, maxGapMs) * 1000)
    {
    }

    // Returns when the frame stamped `stampUs` is due, or at once when the run is stopped.
    void wait(qint64 stampUs)
    {
        if (!clock.isValid()) {
            clock.start();
            highestUs = stampUs;
        } else if (stampUs > highestUs) {
            dueUs += qMin(stampUs - highestUs, maxGapUs);
            highestUs = stampUs;
        }
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
    const qint64 maxGapUs;
    QElapsedTimer clock;
    qint64 dueUs = 0;
    qint64 highestUs = 0;
};

// 32-bit stamps made 64-bit: each step is taken modulo 2^32 as a signed difference, so a gap
// across the wrap is a gap and a step back is a step back.
class Unwrapped
{
public:
    qint64 operator()(quint32 stamp)
    {
        value = started ? value + qint32(stamp - previous) : qint64(stamp);
        started = true;
        previous = stamp;
        return value;
    }

private:
    bool started = false;
    quint32 previous = 0;
    qint64 value = 0;
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

void KvSendFileThread::setFormat(const QString &name)
{
    format = name;
}

void KvSendFileThread::setMaxGap(qint64 msecs)
{
    maxGapMs = msecs;
}

void KvSendFileThread::setChannelFilter(int recordingChannel)
{
    channelFilter = recordingChannel;
}

void KvSendFileThread::setSpeed(double factor)
{
    if (factor > 0)
        speed = factor;
}

void KvSendFileThread::skipLine()
{
    emit skippedSignal(++skipped);
}

bool KvSendFileThread::sendAndReport(const CanObj &frame, qint64 position, qint64 size)
{
    if (writeObj(frame) == 0) {
        reason = TransmitRefused;
        emit errorSignal();
        return false;
    }
    ++sent;
    if (size > 0)
        emit progressValueChanged(static_cast<int>(double(position) * 100.0 / double(size)));
    ChannelStats::addSent(channel, 1);
    ChannelStats::setUsedTime(channel, UsedTimer::seconds(usedTimer));
    return true;
}

void KvSendFileThread::run()
{
    running = true;
    sent = 0;
    skipped = 0;
    reason = NotRun;
    error.clear();
    if (format.isEmpty())
        runFileType();
    else
        runFormat();
}

void KvSendFileThread::runFileType()
{
    std::unique_ptr<KvFile> reader = readerFor(fileType);
    if (!reader) {
        reason = Refused;
        error = QStringLiteral("unknown file type %1").arg(fileType);
        emit errorSignal();
        return;
    }
    if (!reader->open(fileName)) {
        reader->close();
        reason = Refused;
        error = QStringLiteral("%1: cannot open").arg(fileName);
        return;
    }
    const qint64 size = reader->size();
    if (!reader->prepare()) {
        reader->close();
        reason = Refused;
        error = QStringLiteral("%1: cannot read its header").arg(fileName);
        return;
    }
    emit progressValueChanged(0);
    emit begainSend();
    onInitUsedTime();

    CanObj frame;
    if (!task.dataList.isEmpty() && !task.dataList.first().isEmpty())
        frame = task.dataList.first().at(0);
    StampPacer pacer(running, maxGapMs);
    Unwrapped stamps;
    reason = EndOfData;
    while (running) {
        if (reader->atEnd())
            break;
        const qint64 before = reader->pos();
        if (!reader->getFrame(frame)) {
            // A text reader says false for a line it cannot use and at the end; a reader that
            // did not move on cannot read further.
            if (reader->atEnd())
                break;
            if (reader->pos() <= before) {
                reason = ReadError;
                error = QStringLiteral("%1: cannot read beyond byte %2").arg(fileName).arg(before);
                break;
            }
            skipLine();
            continue;
        }
        if (fileType == 0) {
            if (task.interval > 0)
                pause(task.interval);
        } else if (fileType == 1) {
            // The CSV reader stamps frames in milliseconds.
            pacer.wait(stamps(frame.TimeStamp) * 1000);
        } else if (fileType == 3 || fileType == 4) {
            pacer.wait(stamps(frame.TimeStamp) * 100);
        }
        if (!sendAndReport(frame, reader->pos(), size))
            break;
    }
    if (!running && reason == EndOfData)
        reason = Stopped;
    reader->close();
    emit tailSignal();
}

void KvSendFileThread::runFormat()
{
    QString message;
    std::unique_ptr<KvFrameReader> reader =
        KvFormatRegistry::openReader(fileName, format, &message);
    if (!reader) {
        reason = Refused;
        error = message;
        return;
    }
    const qint64 size = reader->size();
    emit progressValueChanged(0);
    emit begainSend();
    onInitUsedTime();

    CanObj frame;
    if (!task.dataList.isEmpty() && !task.dataList.first().isEmpty())
        frame = task.dataList.first().at(0);
    StampPacer pacer(running, maxGapMs);
    const KvFormat *f = KvFormatRegistry::find(format);
    const bool paced = f && f->resolutionNs > 0;
    const bool identifiers = f && f->identifiers;
    qint64 unsupported = 0;
    reason = EndOfData;
    KvFrame read;
    while (running) {
        const KvFrameReader::Result r = reader->read(read);
        if (r == KvFrameReader::End)
            break;
        if (r == KvFrameReader::Error) {
            reason = ReadError;
            error = reader->errorString();
            break;
        }
        for (; unsupported < reader->unsupported(); ++unsupported)
            skipLine();
        if (r == KvFrameReader::Skipped) {
            skipLine();
            continue;
        }
        if (channelFilter >= 0 && read.channel != channelFilter)
            continue;
        if (read.error) {
            ++errors; // nothing to put on the bus
            continue;
        }
        if (identifiers) {
            frame.ID = read.id;
            frame.ExternFlag = read.extended ? 1 : 0;
            frame.RemoteFlag = read.remote ? 1 : 0;
        }
        frame.DataLen = read.dlc;
        std::memcpy(frame.Data, read.data, sizeof read.data);
        if (paced)
            pacer.wait(qint64(double(read.timeNs) / 1000.0 / speed));
        else if (task.interval > 0)
            pause(task.interval);
        if (!sendAndReport(frame, reader->position(), size))
            break;
        ++perChannel[qMin<int>(read.channel, 4)];
    }
    for (; unsupported < reader->unsupported(); ++unsupported)
        skipLine();
    if (!running && reason == EndOfData)
        reason = Stopped;
    emit tailSignal();
}
