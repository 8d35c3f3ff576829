#include "busiothread_p.h"

#include <QtCore/QCoreApplication>

#include <chrono>
#include <deque>
#include <dlfcn.h>
#include <memory>
#include <vector>

namespace {

std::mutex instanceMutex;
BusIoThread *instance = nullptr; // guarded by instanceMutex
// Every thread object ever made. They are never deleted (see shutDown); holding them here, in a
// list that is itself never destroyed, keeps them reachable for the life of the process, as they
// are meant to be, rather than lost to the leak checker.
std::vector<BusIoThread *> *const allThreads =
    new std::vector<BusIoThread *>; // guarded by instanceMutex

void stopWithApplication()
{
    BusIoThread::shutDown();
}

// Once the thread exists the library must stay mapped until the process ends: the engine unloads
// it at exit while the thread may still be winding down.
void pinLibrary()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&pinLibrary), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

// The last chance to stop the thread when the host never destroys its QCoreApplication.
struct StopAtUnload
{
    ~StopAtUnload() { BusIoThread::shutDown(); }
} stopAtUnload;

// One hand-over to the thread. The caller gives up only while the work has not started, so work
// that runs always finds the caller still waiting.
struct Call
{
    enum State { Pending, Running, Done, Abandoned };
    explicit Call(const std::function<void()> &work) : work(work) {}
    const std::function<void()> work;
    std::mutex mutex;
    std::condition_variable changed;
    State state = Pending; // guarded by mutex
};

// The thread's own object, for the event that tells it to run the pending calls.
thread_local BusIoThread *current = nullptr;

} // namespace

struct BusIoThread::Pending
{
    std::deque<std::shared_ptr<Call>> calls; // guarded by readyMutex
};

BusIoThread::BusIoThread() : pending(new Pending) {}

BusIoThread *BusIoThread::get()
{
    if (!QCoreApplication::instance())
        return nullptr;
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (instance)
        return instance;
    pinLibrary();
    auto *thread = new BusIoThread;
    allThreads->push_back(thread);
    thread->setObjectName(QStringLiteral("kavri-canbus-io"));
    thread->start();
    std::unique_lock<std::mutex> ready(thread->readyMutex);
    if (!thread->readyChanged.wait_for(ready, std::chrono::seconds(5),
                                       [thread] { return thread->ready; }))
        return nullptr; // never started: left alone, it may still come up and is then idle
    instance = thread;
    // Qt calls post routines while the application object still delivers events, so the
    // devices can still be deleted on the thread.
    qAddPostRoutine(stopWithApplication);
    return instance;
}

BusIoThread *BusIoThread::running()
{
    std::lock_guard<std::mutex> lock(instanceMutex);
    return instance;
}

// The thread object itself is never deleted: a caller may still hold it, and call() on a stopped
// thread fails cleanly.
void BusIoThread::shutDown()
{
    BusIoThread *thread;
    {
        std::lock_guard<std::mutex> lock(instanceMutex);
        thread = instance;
        instance = nullptr;
    }
    if (!thread)
        return;
    thread->quit();
    thread->wait(3000);
}

bool BusIoThread::call(const std::function<void()> &work, int timeoutMs)
{
    auto c = std::make_shared<Call>(work);
    {
        std::lock_guard<std::mutex> lock(readyMutex);
        if (!ready)
            return false;
        pending->calls.push_back(c);
        // The event carries no state of its own: the call travels through `pending`, under our
        // own lock. State captured in the event would be freed by whichever thread drops Qt's
        // last reference to it, an ordering made by Qt's own atomics that the thread checker
        // cannot see.
        QMetaObject::invokeMethod(
            context, [] { current->runPending(); }, Qt::QueuedConnection);
    }
    std::unique_lock<std::mutex> lock(c->mutex);
    if (!c->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return c->state != Call::Pending; })) {
        c->state = Call::Abandoned;
        return false;
    }
    c->changed.wait(lock, [&] { return c->state == Call::Done; });
    return true;
}

void BusIoThread::runPending()
{
    for (;;) {
        std::shared_ptr<Call> c;
        {
            std::lock_guard<std::mutex> lock(readyMutex);
            if (pending->calls.empty())
                return;
            c = std::move(pending->calls.front());
            pending->calls.pop_front();
        }
        {
            std::lock_guard<std::mutex> lock(c->mutex);
            if (c->state == Call::Abandoned)
                continue;
            c->state = Call::Running;
        }
        c->work();
        {
            std::lock_guard<std::mutex> lock(c->mutex);
            c->state = Call::Done;
        }
        c->changed.notify_all();
    }
}

void BusIoThread::run()
{
    current = this;
    {
        QObject owner;
        {
            std::lock_guard<std::mutex> lock(readyMutex);
            context = &owner;
            ready = true;
        }
        readyChanged.notify_all();
        exec();
        std::lock_guard<std::mutex> lock(readyMutex);
        ready = false;
        context = nullptr;
        pending->calls.clear(); // their callers have given up: the loop is gone
    } // the devices, children of `owner`, are deleted here, on this thread
}
