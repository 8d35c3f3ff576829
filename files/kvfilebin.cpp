#include "kvfilebin.h"

#include "candata.h"
#include "canobj.h"

#include <cstring>

namespace {

const int RecordSize = 8;

// Bytes of the next record (0 to 8); a failed read counts as the end of the file.
int readRecord(QFile &file, quint8 *data)
{
    if (!file.isOpen())
        return 0;
    const qint64 n = file.read(reinterpret_cast<char *>(data), RecordSize);
    return n > 0 ? int(n) : 0;
}

} // namespace

KvFileBin::KvFileBin(QObject *parent) : KvFile(parent) {}

KvFileBin::~KvFileBin() = default;

bool KvFileBin::open(QString fileName)
{
    return openRecording(fileName);
}

bool KvFileBin::prepare()
{
    return true;
}

bool KvFileBin::getFrames(CanData &frames, int count)
{
    if (count > 0 && frames.isEmpty())
        return false;
    if (count <= 0) {
        frames.clear();
        return true;
    }

    CanData batch;
    // One working frame for the whole batch: every frame is a copy of the template with its own
    // data, and a frame object is costly enough to build that a download notices one per frame.
    CanObj frame(frames.at(0));
    for (int i = 0; i < count && !atEnd();) {
        std::memset(frame.Data, 0, sizeof frame.Data);
        const int n = readRecord(*this, frame.Data);
        if (n == 0)
            break;
        frame.DataLen = quint8(n);
        frame.UserFlag = i == 0 ? 1 : 0;
        ++i;
        frame.BatchEndFlag = i == count ? 1 : 0;
        batch.push(frame);
    }
    frames = batch;
    return true;
}

bool KvFileBin::getFrame(CanObj &frame)
{
    quint8 data[RecordSize];
    const int n = readRecord(*this, data);
    std::memcpy(frame.Data, data, size_t(n));
    frame.DataLen = quint8(n);
    return n != 0;
}
