#ifndef KVFRAME_H
#define KVFRAME_H

#include "kavri_global.h"

#include <QtCore/QtGlobal>

// One frame of a recording at the full resolution of its format, as the format readers hand it
// out and the format writers take it. A plain value: copied with memcpy, kept in vectors.
//
// timeNs counts nanoseconds since the recording's origin (see KvFrameReader::startEpochNs): the
// start of the measurement in ASC and BLF, the first frame of a candump log, midnight in CSV.
// Each format stores what it can of it (microseconds in text, 10 us or 1 ns in BLF), so a
// conversion never rounds through the adapter's 0.1 ms unit.
//
// channel is the engine's channel: ASC and BLF channel 1 and candump "can0" are channel 0.
// An error frame carries what its format knows of it: candump its error class in `id` and its
// eight error bytes, BLF the identifier and bytes at the error, ASC nothing.
// Bytes of `data` beyond `dlc` (and all of a remote frame's) are 0.
struct KvFrame
{
    qint64 timeNs = 0;
    quint32 id = 0;
    quint8 channel = 0;
    quint8 dlc = 0;
    bool tx = false;
    bool extended = false;
    bool remote = false;
    bool error = false;
    quint8 data[8] = {};
};
Q_DECLARE_TYPEINFO(KvFrame, Q_PRIMITIVE_TYPE);

#endif // KVFRAME_H
