#include "kvfile.h"

#include "candata.h"
#include "canobj.h"

#include <QtCore/QFileInfo>

KvFile::KvFile(QObject *parent) : QFile(parent) {}

KvFile::~KvFile() = default;

bool KvFile::open(QString fileName)
{
    Q_UNUSED(fileName)
    return false;
}

bool KvFile::prepare()
{
    return false;
}

bool KvFile::getFrames(CanData &frames, int count)
{
    Q_UNUSED(frames)
    Q_UNUSED(count)
    return false;
}

bool KvFile::getFrame(CanObj &frame)
{
    Q_UNUSED(frame)
    return false;
}

bool KvFile::openRecording(const QString &fileName)
{
    // QFile would warn on an empty name or a second open; a reader reports by its result only.
    // Opening a pipe could block until a writer appears, and a device may never end, so anything
    // but a regular file is refused before it is opened.
    if (fileName.isEmpty() || isOpen() || !QFileInfo(fileName).isFile())
        return false;
    setFileName(fileName);
    return QFile::open(QIODevice::ReadOnly);
}
