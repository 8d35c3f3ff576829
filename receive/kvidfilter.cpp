#include "kvidfilter.h"

KvIdFilter::KvIdFilter() : QObject(nullptr) {}

KvIdFilter::KvIdFilter(const KvIdFilter &other)
    : QObject(nullptr), startId(other.startId), endId(other.endId), note(other.note)
{
}

KvIdFilter &KvIdFilter::operator=(const KvIdFilter &other)
{
    startId = other.startId;
    endId = other.endId;
    note = other.note;
    return *this;
}

KvIdFilter::~KvIdFilter() = default;
