#include "kvthread.h"

namespace {
// How often waitForFinish() repeats a pending stop while the worker is still alive.
constexpr unsigned long RepeatStopMs = 20;
} // namespace

KvThread::KvThread() : KvThread(nullptr) {}

KvThread::KvThread(QObject *parent) : QThread(parent)
{
    // Emitted in the worker right after run() returns: the stop it carried is spent.
    connect(
        this, &QThread::finished, this, [this] { stopPending = false; }, Qt::DirectConnection);
}

KvThread::~KvThread()
{
    stopAndWait();
}

void KvThread::run() {}

void KvThread::waitForFinish()
{
    // A worker cannot outlive itself; waiting on it from inside would never end.
    if (QThread::currentThread() == this)
        return;
    while (!wait(RepeatStopMs)) {
        if (stopPending)
            clearRunning();
    }
    acquireWorkerState();
}

bool KvThread::wait(unsigned long time)
{
    const bool done = QThread::wait(time);
    if (done)
        acquireWorkerState();
    return done;
}

bool KvThread::wait(QDeadlineTimer deadline)
{
    const bool done = QThread::wait(deadline);
    if (done)
        acquireWorkerState();
    return done;
}

void KvThread::clearRunning()
{
    running = false;
    {
        const std::lock_guard<std::mutex> locker(pauseLock);
    }
    pauseEnded.notify_all();
}

bool KvThread::pauseUntil(std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> locker(pauseLock);
    pauseEnded.wait_until(locker, until, [this] { return !running; });
    return running;
}

bool KvThread::pauseWhileRunning(std::chrono::microseconds duration)
{
    if (duration.count() <= 0)
        return running;
    return pauseUntil(std::chrono::steady_clock::now() + duration);
}

void KvThread::stop()
{
    clearRunning();
    // An exchange rather than a store: should the worker's finished handler have stored its
    // false just before, a plain store would cut the checker's view of the handler's accesses
    // from the acquiring load after wait(); a read-modify-write keeps it.
    if (isRunning())
        stopPending.exchange(true, std::memory_order_acq_rel);
}

void KvThread::stopAndWait()
{
    if (isRunning()) {
        stop();
        waitForFinish();
    }
    acquireWorkerState();
}

void KvThread::acquireWorkerState()
{
    // The worker's last step touching this object is the finished handler, which stores
    // stopPending. QThread::wait() orders the caller after it, but inside Qt, where a thread
    // checker cannot see it; this acquiring load makes the same order visible, so a destructor
    // (or a reader of the worker's results) is not reported as racing the handler.
    (void)stopPending.load(std::memory_order_acquire);
}
