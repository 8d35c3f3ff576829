#ifndef KVTHREAD_H
#define KVTHREAD_H

#include "kavri_global.h"

#include <QtCore/QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// Base of every worker thread: a cooperative stop flag, a mutex for the subclass's own state and
// a blocking wait. A worker's run() sets `running` as its first step and polls it; the controller
// stops the worker with stop() followed by waitForFinish(). Since run() raises the flag afresh, a
// stopped thread may be started again, and a stop() issued before start() does not affect the run.
//
// A stop() that arrives after start() but before run() has raised the flag would otherwise be
// lost; waitForFinish() therefore repeats such a stop until run() returns, so the pair never
// hangs. A subclass with state of its own stops and waits in its own destructor, before that
// state goes; this base does the same as a last resort.
//
// Workers pause with pauseWhileRunning(), never with one long sleep: stop() ends the pause at
// once, so a worker notices a stop within its current step, whatever its interval.
class KAVRI_EXPORT KvThread : public QThread
{
    Q_OBJECT
public:
    KvThread();
    explicit KvThread(QObject *parent);
    ~KvThread() override;

    void run() override;
    // Blocks until run() has returned, without a time limit.
    virtual void waitForFinish();
    // Clears the flag, ends a pause in progress and returns at once; does not wait.
    void stop();
    // QThread::wait, and on success everything the worker did is ordered before the caller's
    // next step in a way thread checkers can see as well (Qt orders it inside Qt, out of view).
    bool wait(unsigned long time);
    bool wait(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

protected:
    // Written by the controlling thread, read by the worker; nothing else is published through it.
    std::atomic<bool> running{false};
    // Free for subclasses; this base never locks it. A standard mutex, whose hand-overs the thread
    // checker can follow (Qt's own mutex hides its contended path inside Qt).
    std::mutex mutex;

    // For subclass destructors: stop, and wait when the thread is still alive.
    void stopAndWait();
    // For the worker: waits until `until` or until the running flag is cleared, whichever comes
    // first; true when the time came with the flag still set. Waits on a condition that stop()
    // signals, so a stop ends the pause at once instead of after the interval.
    bool pauseUntil(std::chrono::steady_clock::time_point until);
    bool pauseWhileRunning(std::chrono::microseconds duration);

private:
    void acquireWorkerState();
    // Clears the running flag and wakes a pause in progress.
    void clearRunning();

    // Hands a stop to a pausing worker: stop() takes the lock once after clearing the flag, so a
    // worker testing the flag under it either sees the flag clear or is already waiting.
    std::mutex pauseLock;
    std::condition_variable pauseEnded;

    // A stop() for the run in progress (or about to begin); cleared once that run has ended.
    std::atomic<bool> stopPending{false};
};

#endif // KVTHREAD_H
