#include "kvcanobjstrqueue.h"

KvCanObjStrQueue::KvCanObjStrQueue(QObject *parent) : QObject(parent) {}

KvCanObjStrQueue::KvCanObjStrQueue(const KvCanObjStrQueue &other)
    : QObject(nullptr), queue(other.queue)
{
}

KvCanObjStrQueue &KvCanObjStrQueue::operator=(const KvCanObjStrQueue &other)
{
    queue = other.queue;
    return *this;
}

KvCanObjStrQueue::~KvCanObjStrQueue() = default;

CanObjStr KvCanObjStrQueue::at(int i) const
{
    if (i < 0 || i >= queue.size())
        return CanObjStr();
    return queue.at(i);
}

int KvCanObjStrQueue::size() const
{
    return queue.size();
}

bool KvCanObjStrQueue::isEmpty() const
{
    return queue.isEmpty();
}

void KvCanObjStrQueue::clear()
{
    queue.clear();
}
