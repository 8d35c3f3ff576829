// Internal to the adapter library; not installed.
#ifndef BUSIOTHREAD_P_H
#define BUSIOTHREAD_P_H

#include <QtCore/QThread>

#include <condition_variable>
#include <functional>
#include <mutex>

// The one thread of the adapter library on which every Qt CAN bus device lives. The engine calls
// the entry points from threads that have no event loop, while a QCanBusDevice needs one: the
// entry points hand their work to this thread and wait for it with a bound.
//
// The thread starts at the first bridged open and runs until the host's QCoreApplication is
// destroyed or the library is unloaded, not until the last bridged device closes: a plugin may
// keep objects of its own on the thread (the virtual bus's relay server, for one) that later
// devices of this process still rely on.
class BusIoThread : public QThread
{
    Q_OBJECT
public:
    // The running thread, started on first use; null when the host has no QCoreApplication
    // (without one Qt delivers no events, so no device could ever connect).
    static BusIoThread *get();
    // The running thread, never starting one.
    static BusIoThread *running();
    // Stops the thread if it runs; its devices are deleted on it. Safe to call more than once.
    static void shutDown();

    // Runs `work` on the thread and waits at most `timeoutMs` for it to start. Returns false,
    // and `work` never runs, when it could not start in time; once started it is waited for, so
    // `work` may use the caller's data. `work` must not block.
    bool call(const std::function<void()> &work, int timeoutMs);

    // The parent of every device on the thread, so that ending the thread deletes them there.
    QObject *owner() const { return context; }

protected:
    void run() override;

private:
    struct Pending;

    BusIoThread();
    void runPending();          // on the thread: the calls handed over so far, in order
    QObject *context = nullptr; // created and destroyed by run(), published through `ready`
    std::mutex readyMutex;
    std::condition_variable readyChanged;
    bool ready = false; // guarded by readyMutex: the context exists and the loop is about to run
    Pending *const pending; // never deleted, like the thread object itself
};

#endif // BUSIOTHREAD_P_H
