#include "canreadthread.h"

#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"

namespace {
constexpr unsigned long ReadCapacity = 32;
constexpr long IdlePollMs = 50;
} // namespace

CanReadThread::CanReadThread() : CanReadThread(0) {}

CanReadThread::CanReadThread(unsigned long channel) : CanThread(channel) {}

CanReadThread::~CanReadThread()
{
    stopAndWait();
}

void CanReadThread::run()
{
    running = true;
    VCI_CAN_OBJ frames[ReadCapacity] = {};
    VCI_ERR_INFO error = {};

    const int ch = static_cast<int>(channel);
    KvBuffer &buffer = KvBuffer::instance(ch);
    buffer.setChannel(ch);
    KvChannelSet *counts =
        KvGlobalSet::isChannel(ch) ? &KvGlobalSet::instance().channelSets[ch] : nullptr;
    DevCan &device = DevCan::instance();

    do {
        if (device.readErrInfo(channel, &error) == 1)
            buffer.addErrorData(error);

        const unsigned long n = device.Receive(channel, frames, ReadCapacity, 0);
        if (n == 0 || n > ReadCapacity) {
            pauseWhileRunning(std::chrono::milliseconds(IdlePollMs));
            continue;
        }
        const int received = static_cast<int>(n);
        buffer.addFrame(frames, received, false);
        if (counts)
            counts->receiveCount.fetch_add(received, std::memory_order_relaxed);
        if (buffer.DBCRun())
            buffer.addDBCFrame(frames, received);
        if (buffer.GBT27930Run())
            buffer.addGBT27930Frame(frames, received);
    } while (running);
}
