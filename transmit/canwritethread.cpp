#include "canwritethread.h"

#include "devcan.h"
#include "kvbuffer.h"
#include "kvpipe.h"
#include "usedtimer_p.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>

#include <chrono>

namespace {

// How long an idle pass sleeps on the pipe: a push ends the sleep at once and waitForFinish()
// wakes it too, so this bounds only how late queued events are served; long enough that four
// idle threads cost next to nothing.
constexpr int IdleWaitMs = 100;
constexpr int MaxBatch = 100;
// How often a busy thread lets its event dispatcher run in full. Events posted to the thread's
// objects are served on every pass; the full dispatch (timers, socket notifiers) polls the
// dispatcher's descriptors, a system call that would otherwise cost as much as sending a short
// queue.
constexpr qint64 DispatchEveryMs = 10;
// A producer that streams short queues (the firmware download) pushes again within microseconds;
// sleeping between its pushes would cost both threads a wake-up call per queue. When the last
// sleep ended that quickly, the thread polls the pipe this long before it sleeps again. Pushes
// further apart (an application's every millisecond) never set it polling.
constexpr int StreamPollUs = 50;
constexpr std::chrono::microseconds StreamGap{200};

} // namespace

CanWriteThread::CanWriteThread() : CanWriteThread(0) {}

CanWriteThread::CanWriteThread(unsigned long channel) : CanThread(channel)
{
    qRegisterMetaType<CanObjStrQueue>("CanObjStrQueue");
}

// The worker runs this class's run(): it must have ended before this part of the object goes.
CanWriteThread::~CanWriteThread()
{
    stopAndWait();
}

void CanWriteThread::waitForFinish()
{
    KvPipe::instance(static_cast<int>(channel)).wakeConsumer();
    CanThread::waitForFinish();
}

void CanWriteThread::setHideSendFrame(bool hide)
{
    hideSendFrame.store(hide);
}

void CanWriteThread::onInitUsedTime()
{
    UsedTimer::restart(usedTimer);
}

void CanWriteThread::run()
{
    running = true;
    tailPending = false;
    onInitUsedTime();

    const int ch = static_cast<int>(channel);
    KvPipe &pipe = KvPipe::instance(ch);
    // However the run ends, a producer waiting for room learns that this consumer is gone.
    struct EndNotice
    {
        KvPipe &pipe;
        ~EndNotice() { pipe.consumerEnded(); }
    } endNotice{pipe};
    VCI_CAN_OBJ batch[MaxBatch];
    QElapsedTimer sinceDispatch;
    sinceDispatch.start();
    CanData data;
    bool streaming = false; // the last sleep was ended by a push that came within StreamGap

    while (running) {
        if (sinceDispatch.hasExpired(DispatchEveryMs)) {
            QCoreApplication::processEvents();
            sinceDispatch.start();
        } else {
            QCoreApplication::sendPostedEvents();
        }
        if (!pipe.tryPop(data)) {
            if (streaming && pipe.pollForData(StreamPollUs))
                continue;
            const auto sleptAt = std::chrono::steady_clock::now();
            streaming = pipe.waitForData(IdleWaitMs) &&
                        std::chrono::steady_clock::now() - sleptAt < StreamGap;
            continue;
        }
        // An empty queue holds no frame to send or to take a tail mark from: no signals.
        if (data.isEmpty())
            continue;
        // The frames are read in place: the queue is ours and goes as a whole afterwards, and
        // taking each frame out would build and destroy a copy of it (a QObject) per frame.
        const int total = data.size();
        int next = 0;
        while (next < total) {
            int n = 0;
            for (;;) {
                if (!running)
                    return;
                const CanObj &frame = data.at(next++);
                batch[n++] = frame.toTransmit();
                tailPending = frame.TailFlag != 0;
                if (n == MaxBatch || frame.BatchEndFlag || next == total)
                    break;
            }
            emit sendSignal(static_cast<unsigned long>(n));
            if (!hideSendFrame.load())
                KvBuffer::instance(ch).addFrame(batch, n, true);
            const unsigned long accepted =
                DevCan::instance().Transmit(channel, batch, static_cast<unsigned long>(n));
            emit usedTimeSignal(UsedTimer::seconds(usedTimer));
            if (accepted == 0) {
                emit errorSignal();
                return;
            }
        }
        if (tailPending)
            emit tailSignal();
        data.clear(); // an idle thread holds no frames
    }
}
