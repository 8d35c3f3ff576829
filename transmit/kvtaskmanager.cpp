#include "kvtaskmanager.h"

namespace {
constexpr int ChannelCount = 4;
}

KvTaskManager::KvTaskManager() = default;

KvTaskManager::~KvTaskManager() = default;

KvTaskManager &KvTaskManager::instance(int channel)
{
    // One initialisation of the whole array, safe against concurrent first calls; the last
    // element is the store for indices that name no channel.
    static KvTaskManager stores[ChannelCount + 1];
    if (channel < 0 || channel >= ChannelCount)
        return stores[ChannelCount];
    return stores[channel];
}

int KvTaskManager::addTask(taskObj task)
{
    std::lock_guard<std::mutex> locker(tasksMutex);
    tasks.append(task);
    taskCount.storeRelease(tasks.size());
    return 0;
}

taskObj KvTaskManager::getTask(int index)
{
    std::lock_guard<std::mutex> locker(tasksMutex);
    if (index < 0 || index >= tasks.size())
        return taskObj();
    return tasks.at(index);
}

int KvTaskManager::count() const
{
    return taskCount.loadAcquire();
}

void KvTaskManager::clear()
{
    std::lock_guard<std::mutex> locker(tasksMutex);
    tasks.clear();
    taskCount.storeRelease(0);
}
