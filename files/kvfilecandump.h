#ifndef KVFILECANDUMP_H
#define KVFILECANDUMP_H

#include "kavri_global.h"
#include "kvfile.h"

#include <QtCore/QtGlobal>

// Reader of the compact log that Linux CAN tools record (candump -l): one frame per line as
// "(seconds) interface frame", anything after the frame (a direction mark) ignored:
//   (1436509052.249713) can0 12345678#DEADBEEF   -> extended data frame, 4 bytes
//   (1436509052.449847) can0 123#R               -> standard remote frame, DataLen 0
//   (1436509052.549847) can1 7DF#R3              -> standard remote frame, DataLen 3
//   (1436509052.649847) can0 123#11.22.33 R      -> standard data frame 11 22 33
// Three hex digits before the # make a standard identifier, eight an extended one. Data is up
// to eight bytes as pairs of hex digits, optionally split by points; eight bytes may carry the
// raw DLC 9..F as "_9".."_F", which is dropped (DataLen stays 8). The interface is not used:
// the replay picks the channel.
//
// Lines that cannot be read are skipped and the next one read: CAN FD frames ("##"; they do not
// fit a classic frame), error frames (their 8-digit identifier has bit 29 set), other lengths
// of identifier, a standard identifier above 7FF, odd or non-hex digits, more than eight bytes,
// a time that is not "(digits.digits)", fewer than three words, and lines longer than 4095
// bytes.
//
// TimeStamp is the time since the first frame read after prepare() in the adapter's unit of
// 0.1 ms, truncated toward zero, low 32 bits: a log holds wall-clock seconds since 1970, which
// do not fit. A frame stamped before the first one thus gets a stamp near 2^32 (a step back).
class KAVRI_EXPORT KvFileCandump : public KvFile
{
    Q_OBJECT
public:
    explicit KvFileCandump(QObject *parent = nullptr);
    ~KvFileCandump() override;

    using KvFile::open;
    // Opens read-only; a file that is not a regular file is refused.
    bool open(QString fileName) override;
    // Forgets the first frame's time, so the next frame read is stamped 0. False only when not
    // open. There is no header.
    bool prepare() override;
    // Reads up to the next frame line: TimeStamp, ID, ExternFlag, RemoteFlag, DataLen and all
    // eight data bytes (those beyond the frame's data 0); no other field changes. False, frame
    // unchanged, when no frame line is left.
    bool getFrame(CanObj &frame) override;
    // Batches are not read from this form: getFrames() is KvFile's and returns false.

private:
    bool haveOrigin = false;
    qint64 originMicros = 0;
};

#endif // KVFILECANDUMP_H
