#include "canthread.h"

namespace {
constexpr unsigned long IdlePollMs = 50;
} // namespace

CanThread::CanThread() : CanThread(0) {}

CanThread::CanThread(unsigned long channel) : channel(static_cast<quint32>(channel)) {}

CanThread::~CanThread()
{
    stopAndWait();
}

void CanThread::run()
{
    running = true;
    while (running)
        QThread::msleep(IdlePollMs);
}
