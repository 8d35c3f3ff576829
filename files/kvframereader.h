#ifndef KVFRAMEREADER_H
#define KVFRAMEREADER_H

#include "kavri_global.h"
#include "kvframe.h"

#include <QtCore/QFile>
#include <QtCore/QString>

// Reads the frames of one recording, front to back, for a format of KvFormatRegistry (which
// creates readers; a reader is not tied to a thread, but used by one at a time).
//
// read() tells four outcomes apart:
//   Frame    the next frame is in `frame`;
//   Skipped  a line or object that should have been a frame could not be read; it is counted
//            (skipped()) and the next read() goes on after it;
//   End      the recording ended where it should;
//   Error    the file cannot be read on (truncated, inconsistent, a read error): errorString()
//            says where and why. Every later read() says Error again.
// Frames the engine cannot carry (CAN FD) are stepped over and counted in unsupported(); lines
// that are not frames at all (headers, comments, events) are stepped over silently.
//
// position() and size() are bytes, 64-bit, for progress. Memory does not grow with the file:
// text lines beyond 4095 bytes are skipped whole, binary objects have fixed bounds.
class KAVRI_EXPORT KvFrameReader
{
    Q_DISABLE_COPY(KvFrameReader)
public:
    enum Result { Frame, Skipped, End, Error };

    KvFrameReader();
    virtual ~KvFrameReader();

    // Opens a regular file read-only and reads what the format keeps ahead of its frames. False
    // with errorString() set for anything else: a missing file, a folder, a FIFO or device (which
    // could block or never end), a header that does not hold together.
    bool open(const QString &path);
    Result read(KvFrame &frame);

    qint64 position() const;
    qint64 size() const;
    // The wall-clock time of timeNs 0, in nanoseconds since 1970 UTC; 0 when the file does not
    // tell.
    qint64 startEpochNs() const { return epochNs; }
    qint64 skipped() const { return skippedCount; }
    qint64 unsupported() const { return unsupportedCount; }
    QString errorString() const { return error; }

protected:
    // The format's part. start() runs once after the file opened; next() reads on. Both set
    // fail() for an Error. next() may return Skipped without counting: read() counts.
    virtual bool start() { return true; }
    virtual Result next(KvFrame &frame) = 0;
    // Bytes consumed so far, where the format reads ahead of QFile's position.
    virtual qint64 consumed() const { return file.pos(); }

    Result fail(const QString &message);
    void countUnsupported() { ++unsupportedCount; }

    QFile file;
    qint64 epochNs = 0;

private:
    QString error;
    qint64 skippedCount = 0;
    qint64 unsupportedCount = 0;
    bool failed = false;
    bool ready = false; // opened, and the format's start() passed
};

#endif // KVFRAMEREADER_H
