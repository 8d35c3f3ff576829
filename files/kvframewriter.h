#ifndef KVFRAMEWRITER_H
#define KVFRAMEWRITER_H

#include "kavri_global.h"
#include "kvframe.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QString>

#include <memory>

// Writes frames into a recording of one format of KvFormatRegistry, streaming: memory stays
// constant whatever the length, output is buffered and reaches the file at flush(), close(),
// or when the buffer fills. After a flush() the file is a complete recording of everything
// written so far, readable even if the process dies later (an ASC without its end line, a BLF
// whose header counts are those of the last flush).
//
// Failures are sticky: once a write fails (a missing folder, a full disk), every later call
// returns false and errorString() says what happened first. A frame the format cannot hold (an
// error frame in CSV) is not written and is counted in dropped().
//
// Fault hook: setSpaceLimit(n) lets the file take n bytes in all and then fails like a full
// disk, so tests can make a write fail at any point without a full disk.
class KAVRI_EXPORT KvFrameWriter
{
    Q_DISABLE_COPY(KvFrameWriter)
public:
    KvFrameWriter();
    // Subclasses close() in their own destructor: the trailer is theirs to write.
    virtual ~KvFrameWriter();

    // Creates or truncates `path` and writes the format's header. startEpochNs is the wall-clock
    // time of timeNs 0 (nanoseconds since 1970 UTC, 0 for unknown), for the formats that note
    // it. Refuses a folder and anything else that is not a regular file.
    bool open(const QString &path, qint64 startEpochNs = 0);
    bool write(const KvFrame &frame);
    bool flush();
    // Writes the trailer, updates what the header counts, and closes. True when everything
    // written is in the file.
    bool close();

    // A comment line where the format has them ("// text" in ASC); false where it has none, and
    // nothing is written then. The text is one line; readers step over it.
    bool comment(const QByteArray &text);

    bool isOpen() const { return file.isOpen(); }
    qint64 written() const { return writtenCount; }
    // Bytes of the recording so far, on disk or buffered (a BLF container still being filled
    // counts once it is compressed).
    qint64 bytes() const { return onDisk + used; }
    qint64 dropped() const { return droppedCount; }
    QString errorString() const { return error; }

    void setSpaceLimit(qint64 bytes) { spaceLimit = bytes; }

protected:
    // Formats a frame into the buffer; false when the format cannot hold it.
    virtual bool put(const KvFrame &frame) = 0;
    // Formats a comment line; false when the format has none.
    virtual bool putComment(const QByteArray &) { return false; }
    virtual void begin() {}
    virtual void end() {}
    // Moves frames the format keeps aside (a BLF container) into the buffer.
    virtual void settle() {}
    // After the buffer reached the file: rewrites what the header counts.
    virtual bool updateHeader() { return true; }

    // Room for n bytes (n <= 4096) at the end of the buffer; commit() what was used.
    char *reserve(int n)
    {
        if (used + n > Capacity)
            drain();
        return buffer.get() + used;
    }
    void commit(char *end) { used = int(end - buffer.get()); }
    void append(const char *data, int n);
    // Writes bytes at an offset of the file (the buffer must be empty), then returns to the end.
    bool writeAt(qint64 offset, const char *data, int n);
    bool failWith(const QString &message);
    qint64 fileBytes() const { return onDisk; }

    qint64 startNs = 0;

private:
    static constexpr int Capacity = 256 * 1024;
    bool drain();
    bool writeRaw(const char *data, qint64 n);

    QFile file;
    std::unique_ptr<char[]> buffer;
    int used = 0;
    qint64 onDisk = 0;
    qint64 spaceLimit = -1;
    qint64 writtenCount = 0;
    qint64 droppedCount = 0;
    bool failed = false;
    QString error;
};

#endif // KVFRAMEWRITER_H
