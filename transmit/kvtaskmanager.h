#ifndef KVTASKMANAGER_H
#define KVTASKMANAGER_H

#include "kavri_global.h"
#include "taskobj.h"

#include <QtCore/QAtomicInt>
#include <QtCore/QList>
#include <mutex>

// The application's list of send tasks for one channel. The send threads are handed their tasks
// directly and never consult it.
//
// There is one store per channel 0..3, all four built together on the first call from any
// thread and kept until the process ends. A channel outside 0..3 gets a fifth store that belongs
// to no channel: a wrong index neither crashes nor mixes its tasks into a real channel's list.
class KAVRI_EXPORT KvTaskManager
{
public:
    static KvTaskManager &instance(int channel);

    // Appends a copy of the task; always 0.
    int addTask(taskObj task);
    // A copy of the task at `index`; outside the list (negative included) a default task with
    // no bursts and every count 0.
    taskObj getTask(int index);
    // Read without the lock, so it may be stale while another thread changes the list.
    int count() const;
    void clear();

private:
    KvTaskManager();
    ~KvTaskManager();
    Q_DISABLE_COPY(KvTaskManager)

    QList<taskObj> tasks;
    std::mutex tasksMutex; // a standard mutex, so the thread checker sees the hand-over
    QAtomicInt taskCount;  // follows tasks under the lock, so count() needs none
};

#endif // KVTASKMANAGER_H
