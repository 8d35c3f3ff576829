#ifndef KVFILEBIN_H
#define KVFILEBIN_H

#include "kavri_global.h"
#include "kvfile.h"

// Reader of the binary frame file: payload bytes only, no header, eight bytes per frame, the
// last frame short when the size is not a multiple of eight. Everything else a frame needs
// (identifier, format, type, send type) comes from a template frame the caller supplies:
//   20-byte file -> frames of 8, 8 and 4 bytes, then false
class KAVRI_EXPORT KvFileBin : public KvFile
{
    Q_OBJECT
public:
    explicit KvFileBin(QObject *parent = nullptr);
    ~KvFileBin() override;

    using KvFile::open;
    // Opens read-only in binary mode.
    bool open(QString fileName) override;
    // There is no header: always true.
    bool prepare() override;
    // Replaces the queue with up to `count` frames, each a copy of the queue's first frame with
    // the next record as its data. UserFlag marks the first frame of the batch and BatchEndFlag
    // the count-th; TailFlag and UserData keep the template's values. Returns true, with an
    // empty queue when count < 1 or the file is at its end.
    // An empty queue with a positive count has no template: false, nothing read, queue empty
    // (inventing an identifier would put frames on the bus nobody asked for).
    bool getFrames(CanData &frames, int count) override;
    // Reads the next record into frame.Data and sets DataLen to the bytes read; nothing else of
    // the frame changes, bytes beyond DataLen included. False, with DataLen 0, when nothing
    // could be read (end of file, read error, file not open).
    bool getFrame(CanObj &frame) override;
};

#endif // KVFILEBIN_H
