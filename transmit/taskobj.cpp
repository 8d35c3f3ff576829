#include "taskobj.h"

taskObj::taskObj() : QObject(nullptr)
{
    registerMetaType();
}

taskObj::taskObj(QObject *parent) : QObject(parent)
{
    registerMetaType();
}

taskObj::taskObj(const taskObj &other)
    : QObject(nullptr), dataList(other.dataList), frames(other.frames), interval(other.interval),
      times(other.times), idIncrease(other.idIncrease), dataIncrease(other.dataIncrease)
{
    registerMetaType();
}

taskObj &taskObj::operator=(const taskObj &other)
{
    dataList = other.dataList;
    frames = other.frames;
    interval = other.interval;
    times = other.times;
    idIncrease = other.idIncrease;
    dataIncrease = other.dataIncrease;
    return *this;
}

taskObj::~taskObj() = default;

CanData taskObj::at(int index) const
{
    return dataList.value(index);
}

void taskObj::registerMetaType()
{
    // Once per process, safe against concurrent first tasks: the names must be known before a
    // queued connection carries a task, and the first task is built before any is sent.
    static const bool registered = [] {
        qRegisterMetaType<taskObj>("taskObj");
        qRegisterMetaType<taskQueue>("taskQueue");
        return true;
    }();
    Q_UNUSED(registered)
}
