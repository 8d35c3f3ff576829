#include "canthread.h"

namespace {
constexpr long IdlePollMs = 50;
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
        pauseWhileRunning(std::chrono::milliseconds(IdlePollMs));
}
