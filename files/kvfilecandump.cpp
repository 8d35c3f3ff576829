#include "kvfilecandump.h"

#include "canobj.h"
#include "kvtextformats_p.h"

#include <cstring>

KvFileCandump::KvFileCandump(QObject *parent) : KvFile(parent) {}

KvFileCandump::~KvFileCandump() = default;

bool KvFileCandump::open(QString fileName)
{
    return openRecording(fileName);
}

bool KvFileCandump::prepare()
{
    haveOrigin = false;
    originMicros = 0;
    return isOpen();
}

bool KvFileCandump::getFrame(CanObj &frame)
{
    kavri::TextLine line;
    while (line.read(*this)) {
        KvFrame read;
        // Error frames have nothing to replay; CAN FD frames do not fit a classic one.
        if (line.tooLong() ||
            kavri::parseCandumpLine(kavri::TextField{line.data(), line.size()}, read) !=
                kavri::LineKind::Frame ||
            read.error)
            continue;
        const qint64 micros = read.timeNs / 1000;
        if (!haveOrigin) {
            haveOrigin = true;
            originMicros = micros;
        }
        frame.TimeStamp = kavri::stampUnits(micros - originMicros);
        frame.ID = read.id;
        frame.ExternFlag = read.extended ? 1 : 0;
        frame.RemoteFlag = read.remote ? 1 : 0;
        frame.DataLen = read.dlc;
        std::memcpy(frame.Data, read.data, sizeof read.data);
        return true;
    }
    return false;
}
