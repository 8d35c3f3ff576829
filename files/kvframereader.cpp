#include "kvframereader.h"

#include <QtCore/QFileInfo>

KvFrameReader::KvFrameReader() = default;

KvFrameReader::~KvFrameReader() = default;

bool KvFrameReader::open(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        fail(QStringLiteral("%1: no such file").arg(path));
        return false;
    }
    // Opening a FIFO blocks until a writer comes, a device may never end: refused unopened.
    if (!info.isFile()) {
        fail(QStringLiteral("%1: not a regular file").arg(path));
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return false;
    }
    ready = start() && !failed;
    return ready;
}

KvFrameReader::Result KvFrameReader::read(KvFrame &frame)
{
    // A flag, not file.isOpen(): this runs once per frame, and that is a call into Qt.
    if (Q_UNLIKELY(failed || !ready))
        return failed ? Error : fail(QStringLiteral("not open"));
    const Result r = next(frame);
    if (r == Skipped)
        ++skippedCount;
    return r;
}

qint64 KvFrameReader::position() const
{
    return file.isOpen() ? consumed() : 0;
}

qint64 KvFrameReader::size() const
{
    return file.isOpen() ? file.size() : 0;
}

KvFrameReader::Result KvFrameReader::fail(const QString &message)
{
    if (!failed)
        error = message;
    failed = true;
    return Error;
}
