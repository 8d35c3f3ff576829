#include "kvsendfirmwarethread.h"

#include "kvfilebin.h"
#include "kvpipe.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <cstring>

namespace {

// More than this many bursts waiting in the pipe, and the download waits for the transmit thread.
constexpr int MaxQueuedBursts = 10;
// A transmit thread running flat out takes a burst every few microseconds: a poll this long sees
// room almost always, and keeps the pipe from running dry while the download would be asleep.
constexpr int RoomPollUs = 50;
// When the poll sees no room the transmit thread is slower than the image (a real bus): the
// download then sleeps until this few bursts remain, so that each wake-up refills a run of bursts
// and the transmit thread is not asked to wake it on every pop.
constexpr int RefillAtBursts = MaxQueuedBursts / 2;
// The sleep ends early when the transmit thread makes room; this bounds how long a stop can go
// unnoticed while the pipe stays full.
constexpr int RoomWaitMs = 1;

CanData command(quint32 id, bool remote, bool tail = false)
{
    CanObj frame;
    frame.ID = id;
    frame.RemoteFlag = remote;
    frame.TailFlag = tail;
    CanData burst;
    burst.push(frame);
    return burst;
}

} // namespace

KvSendFirmwareThread::KvSendFirmwareThread(unsigned long channel)
    : KvSendFirmwareThread(nullptr, channel)
{
}

KvSendFirmwareThread::KvSendFirmwareThread(QObject *parent, unsigned long channel)
    : KvThread(parent), channel(channel)
{
}

// The worker runs this class's run(): it must have ended before this part of the object goes.
KvSendFirmwareThread::~KvSendFirmwareThread()
{
    stopAndWait();
}

void KvSendFirmwareThread::setFileType(int type)
{
    fileType = type;
}

void KvSendFirmwareThread::setFileName(QString name)
{
    fileName = name;
}

void KvSendFirmwareThread::push(const CanData &burst)
{
    KvPipe::instance(static_cast<int>(channel)).push(burst);
}

void KvSendFirmwareThread::initTaskObj(taskObj &task)
{
    task.frames = 3;
    task.interval = 0;
    task.times = 1;
    task.dataList << command(0x110, true) << command(0x111, false) << command(0x112, true)
                  << command(0x113, false) << command(0x114, true, true);
}

void KvSendFirmwareThread::sendShaValue(CanData &burst, QByteArray &digest)
{
    if (burst.isEmpty())
        return;
    CanObj frame = burst.at(0);
    CanData out;
    for (int offset = 0; offset < digest.size(); offset += 8) {
        const int n = qMin(8, digest.size() - offset);
        std::memcpy(frame.Data, digest.constData() + offset, size_t(n));
        frame.DataLen = quint8(n);
        out.push(frame);
    }
    push(out);
}

void KvSendFirmwareThread::run()
{
    running = true;
    // A device or a FIFO never ends like an image does (and opening a FIFO blocks until a writer
    // comes): only a regular file is read.
    KvFileBin reader;
    if (!QFileInfo(fileName).isFile() || !reader.open(fileName)) {
        emit errorSignal();
        return;
    }

    taskObj task;
    initTaskObj(task);
    // Taken before the first push: the transmit thread may refuse the very first burst.
    KvPipe &pipe = KvPipe::instance(static_cast<int>(channel));
    const quint64 consumerEnds = pipe.consumerEndCount();
    const auto consumerGone = [&pipe, consumerEnds] {
        return pipe.consumerEndCount() != consumerEnds;
    };
    emit progressValueChanged(0);
    push(task.at(0));

    bool stopped = !running;
    bool abandoned = false;
    CanData burst;
    while (!stopped) {
        burst = task.at(1);
        if (reader.atEnd())
            break;
        if (reader.getFrames(burst, task.frames)) {
            const qint64 size = reader.size();
            if (size > 0)
                emit progressValueChanged(static_cast<int>(reader.pos() * 100 / size));
        }
        // A file that shrank under us reads nothing; an empty burst is not worth a push.
        if (burst.isEmpty())
            break;
        push(burst);
        while (pipe.count() > MaxQueuedBursts) {
            if (!running) {
                stopped = true;
                break;
            }
            if (consumerGone()) {
                abandoned = true;
                break;
            }
            // Not a poll with short sleeps: a sleep oversleeps by the timer slack and the
            // scheduler's latency, and the pipe, only ten bursts deep, runs dry meanwhile.
            if (pipe.pollForRoom(MaxQueuedBursts, RoomPollUs))
                break;
            while (running && !consumerGone() && !pipe.waitForRoom(RefillAtBursts, RoomWaitMs)) {
            }
        }
        if (abandoned) {
            emit errorSignal();
            return;
        }
        if (stopped)
            break;
        if (task.interval > 0)
            pauseWhileRunning(std::chrono::milliseconds(task.interval));
        stopped = !running;
    }

    push(task.at(2));
    QFile image(fileName);
    if (image.open(QIODevice::ReadOnly)) {
        QCryptographicHash sha(QCryptographicHash::Sha1);
        while (!image.atEnd()) {
            const QByteArray block = image.read(64);
            if (block.isEmpty())
                break; // a read error: do not spin on it
            sha.addData(block);
        }
        QByteArray digest = sha.result();
        CanData digestBurst = task.at(3);
        sendShaValue(digestBurst, digest);
    }
    push(task.at(4));
    reader.close();
}
