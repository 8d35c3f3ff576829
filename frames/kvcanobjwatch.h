#ifndef KVCANOBJWATCH_H
#define KVCANOBJWATCH_H

#include "kavri_global.h"
#include "kvcanobj.h"

#include <QtCore/QBitArray>

// The watch list's record for one identifier: the latest frame buffered with it, and which of
// its eight data bytes have ever changed from one frame to the next (bit i for byte i; a set bit
// stays set).
class KAVRI_EXPORT KvCanObjWatch
{
public:
    KvCanObjWatch();
    explicit KvCanObjWatch(const KvCanObj &first);

    QBitArray changed;
    KvCanObj frame;
};

#endif // KVCANOBJWATCH_H
