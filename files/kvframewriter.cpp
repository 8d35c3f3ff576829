#include "kvframewriter.h"

#include <QtCore/QFileInfo>

KvFrameWriter::KvFrameWriter() = default;

KvFrameWriter::~KvFrameWriter() = default;

bool KvFrameWriter::open(const QString &path, qint64 startEpochNs)
{
    if (file.isOpen())
        return failWith(QStringLiteral("already open"));
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return failWith(QStringLiteral("%1: not a regular file").arg(path));
    file.setFileName(path);
    // Unbuffered: the writer buffers itself, and a full disk must show at the write it hits.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return failWith(QStringLiteral("%1: %2").arg(path, file.errorString()));
    buffer.reset(new char[Capacity]);
    used = 0;
    onDisk = 0;
    startNs = startEpochNs;
    begin();
    return !failed;
}

bool KvFrameWriter::write(const KvFrame &frame)
{
    if (failed || !file.isOpen())
        return false;
    if (put(frame))
        ++writtenCount;
    else
        ++droppedCount;
    return !failed;
}

bool KvFrameWriter::comment(const QByteArray &text)
{
    if (failed || !file.isOpen())
        return false;
    return putComment(text) && !failed;
}

bool KvFrameWriter::flush()
{
    if (failed || !file.isOpen())
        return false;
    settle();
    return drain() && updateHeader() && file.flush();
}

bool KvFrameWriter::close()
{
    if (!file.isOpen())
        return !failed;
    if (!failed) {
        settle();
        end();
        if (drain())
            updateHeader();
    }
    file.close();
    buffer.reset();
    return !failed;
}

void KvFrameWriter::append(const char *data, int n)
{
    while (n > 0) {
        if (used == Capacity)
            drain();
        const int part = qMin(n, Capacity - used);
        memcpy(buffer.get() + used, data, size_t(part));
        used += part;
        data += part;
        n -= part;
    }
}

bool KvFrameWriter::drain()
{
    const int n = used;
    used = 0;
    return !failed && writeRaw(buffer.get(), n);
}

bool KvFrameWriter::writeRaw(const char *data, qint64 n)
{
    if (n == 0)
        return true;
    qint64 allowed = n;
    if (spaceLimit >= 0)
        allowed = qBound<qint64>(0, spaceLimit - onDisk, n);
    // A short write is retried for the rest: a disk that fills takes part of a write, and only
    // the next one says why (ENOSPC, EFBIG).
    for (qint64 done = 0; done < allowed;) {
        const qint64 n = file.write(data + done, allowed - done);
        if (n <= 0)
            return failWith(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        done += n;
        onDisk += n;
    }
    if (allowed < n)
        return failWith(QStringLiteral("%1: No space left on device").arg(file.fileName()));
    return true;
}

bool KvFrameWriter::writeAt(qint64 offset, const char *data, int n)
{
    if (failed)
        return false;
    const qint64 end = onDisk;
    if (!file.seek(offset) || file.write(data, n) != n || !file.seek(end))
        return failWith(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
    return true;
}

bool KvFrameWriter::failWith(const QString &message)
{
    if (!failed)
        error = message;
    failed = true;
    used = 0;
    return false;
}
