#ifndef KVCANOBJSTRQUEUE_H
#define KVCANOBJSTRQUEUE_H

#include "canobjstr.h"
#include "kavri_global.h"

#include <QtCore/QObject>

// A queue of frame texts as an object of its own. The application fills `queue` directly; the
// class only reads it.
class KAVRI_EXPORT KvCanObjStrQueue : public QObject
{
    Q_OBJECT
public:
    explicit KvCanObjStrQueue(QObject *parent = nullptr);
    KvCanObjStrQueue(const KvCanObjStrQueue &other);
    KvCanObjStrQueue &operator=(const KvCanObjStrQueue &other);
    ~KvCanObjStrQueue() override;

    // A copy of the record at position i, 0 being the oldest. Outside 0..size()-1 the result is
    // a record with thirteen empty texts.
    CanObjStr at(int i) const;
    int size() const;
    bool isEmpty() const;
    void clear();

    CanObjStrQueue queue;
};

#endif // KVCANOBJSTRQUEUE_H
