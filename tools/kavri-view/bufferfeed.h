#ifndef BUFFERFEED_H
#define BUFFERFEED_H

#include "kvcanobj.h"

#include <QtCore/QVector>

class CanObjStr;
class KvBuffer;

// The rows a channel's receive buffer stored since the last take(), as buffered frames again,
// for the per-identifier statistics and the trace's relative times.
//
// The buffer hands out display texts only, so each new row is read once and its texts parsed
// back. While the list is below its limit the new rows are exactly those past the last count;
// once it is full they are the newest min(frames counted since, rows held): frames that the ID
// filter or the hide switch dropped are then taken for stored ones, and some rows are read twice.
// That is good enough for a view; a feed from the buffer's own save queue has no such guess.
class BufferFeed
{
public:
    explicit BufferFeed(KvBuffer &buffer);

    // The rows stored since the last call, oldest first.
    QVector<KvCanObj> take();
    // True when the last take() found the list emptied or the totals reset: whatever was
    // derived from earlier rows no longer matches the list.
    bool restarted() const { return fresh; }
    // Rows stored since the feed began or the list was last emptied.
    qint64 stored() const { return total; }
    // The buffer's row count and frame total when the last take() read it.
    int count() const { return lastCount; }
    quint32 frames() const { return lastFrames; }

    // The texts of a buffered frame read back: "00000123 ", "0x1F40", "09:05:03:007", "Data",
    // "Standard", "3", "01 A2 FF", "Rx" -> received standard frame 0x123, stamp 0x1F40.
    static KvCanObj recordOf(const CanObjStr &texts);

private:
    KvBuffer &buffer;
    int lastCount = 0;
    quint32 lastFrames = 0;
    qint64 total = 0;
    bool fresh = true;
};

#endif // BUFFERFEED_H
