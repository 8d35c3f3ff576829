#ifndef CANDATA_H
#define CANDATA_H

#include "canobj.h"
#include "kavri_global.h"

#include <QtCore/QList>
#include <QtCore/QObject>

// An ordered queue of frames: one unit of transmission (a burst of a send task, a batch read
// from a file, a block of a firmware image). Copies are independent values; the list is shared
// copy-on-write underneath, so passing a queue around costs nothing until someone changes it.
class KAVRI_EXPORT CanData : public QObject
{
    Q_OBJECT
public:
    CanData();
    explicit CanData(QObject *parent);
    CanData(const CanData &other);
    CanData &operator=(const CanData &other);
    ~CanData() override;

    void push(const CanObj &frame);
    void push(const CanObj &&frame);
    // Removes and returns the head. On an empty queue it returns a default (all-zero) frame and
    // changes nothing, so a caller that skipped the emptiness test cannot crash.
    CanObj pop();
    // Position 0 is the head; i must lie in 0..size()-1.
    const CanObj &at(int i) const;
    int size() const;
    bool isEmpty() const;
    void clear();

private:
    QList<CanObj> frames;
};

#endif // CANDATA_H
