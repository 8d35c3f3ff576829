#ifndef KVCANOBJWATCHSTR_H
#define KVCANOBJWATCHSTR_H

#include "canobjstr.h"
#include "kavri_global.h"

#include <QtCore/QBitArray>

// The text form of a watch record: the changed-byte bits and the latest frame as texts.
class KAVRI_EXPORT KvCanObjWatchStr
{
public:
    KvCanObjWatchStr();

    QBitArray changed;
    CanObjStr text;
};

#endif // KVCANOBJWATCHSTR_H
