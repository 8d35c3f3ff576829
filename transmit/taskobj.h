#ifndef TASKOBJ_H
#define TASKOBJ_H

#include "candata.h"
#include "kavri_global.h"

#include <QtCore/QList>
#include <QtCore/QMetaType>
#include <QtCore/QObject>
#include <QtCore/QQueue>

// One send task: the frame to put on the bus (the first frame of the first burst), how many
// copies go out per burst, the pause, the repeat count, and whether the ID or one data byte
// advances after each send. It is a value passed between the application, the task store, the
// task-list document and the send threads; a thread works on its own copy and never writes back.
//
// Copies share the burst list copy-on-write, so handing a task to a thread costs nothing, and a
// change to either copy's list detaches it without touching the other. A copy has no parent.
//
// The type is registered with the meta-type system as "taskObj" (and a queue of tasks as
// "taskQueue") when the first task is built, so tasks travel in a QVariant (the task-list table
// keeps them in its items) and through queued signals.
class KAVRI_EXPORT taskObj : public QObject
{
    Q_OBJECT
public:
    taskObj();
    explicit taskObj(QObject *parent);
    taskObj(const taskObj &other);
    taskObj &operator=(const taskObj &other);
    ~taskObj() override;

    int getFrames() const { return frames; }
    int getInterval() const { return interval; }
    int getTimes() const { return times; }
    // A copy of burst `index`; an index outside the list gives an empty burst, so a caller that
    // trusted a stale size cannot read past the list.
    CanData at(int index) const;
    int size() const { return dataList.size(); }

    QList<CanData> dataList;
    int frames = 0;       // frames per burst
    int interval = 0;     // pause in milliseconds; 0 or negative: none
    int times = 0;        // repeat count; 0 or negative: nothing is sent
    int idIncrease = 0;   // exactly 1: the ID advances by one after each send
    int dataIncrease = 0; // k in 1..8: data byte k (counted from 1) advances after each send

private:
    static void registerMetaType();
};

Q_DECLARE_METATYPE(taskObj)

// The queue of tasks handed to a task thread.
typedef QQueue<taskObj> taskQueue;

#endif // TASKOBJ_H
