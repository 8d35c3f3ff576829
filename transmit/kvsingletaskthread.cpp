#include "kvsingletaskthread.h"

#include "channelstats_p.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvtaskframe_p.h"
#include "usedtimer_p.h"

#include <chrono>

namespace {
constexpr int IdleCycleMs = 10;
} // namespace

KvSingleTaskThread::KvSingleTaskThread(unsigned long channel, taskObj task)
    : KvSingleTaskThread(nullptr, channel, task)
{
}

KvSingleTaskThread::KvSingleTaskThread(QObject *parent, unsigned long channel, taskObj task)
    : KvThread(parent), channel(channel), task(task)
{
}

// The worker runs this class's run(): it must have ended before this part of the object goes.
KvSingleTaskThread::~KvSingleTaskThread()
{
    stopAndWait();
}

void KvSingleTaskThread::onInitUsedTime()
{
    UsedTimer::restart(usedTimer);
    ChannelStats::setUsedTime(channel, 0.0);
}

int KvSingleTaskThread::writeObj(CanObj &frame)
{
    VCI_CAN_OBJ record = frame.toTransmit();
    KvBuffer::instance(static_cast<int>(channel)).addFrame(&record, 1, true);
    return static_cast<int>(DevCan::instance().Transmit(channel, &record, 1));
}

void KvSingleTaskThread::run()
{
    running = true;
    onInitUsedTime();

    if (task.dataList.isEmpty() || task.dataList.first().isEmpty()) {
        emit errorSignal();
        return;
    }
    // Made once: the increases carry over from cycle to cycle.
    KvTaskFrame work(task.dataList.first().at(0), KvGlobalSet::instance().idFormat, task.idIncrease,
                     task.dataIncrease);
    const int interval = qMax(0, task.interval);
    const bool sendsNothing = task.times < 1 || task.frames < 1;

    while (running) {
        const int wait = sendsNothing ? qMax(interval, IdleCycleMs) : interval;
        if (!pauseWhileRunning(std::chrono::milliseconds(wait)))
            return;
        for (int t = 0; t < task.times; ++t) {
            if (!running)
                return;
            for (int f = 0; f < task.frames; ++f) {
                if (!running)
                    return;
                CanObj frame = work.frame();
                if (writeObj(frame) == 0) {
                    emit errorSignal();
                    return;
                }
                ChannelStats::addSent(channel, 1);
                ChannelStats::setUsedTime(channel, UsedTimer::seconds(usedTimer));
                work.advance();
            }
        }
    }
}
