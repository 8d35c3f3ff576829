#include "kvfileasclog.h"

#include "canobj.h"
#include "kvtextformats_p.h"

#include <cstring>

KvFileAscLog::KvFileAscLog(QObject *parent) : KvFile(parent) {}

KvFileAscLog::~KvFileAscLog() = default;

bool KvFileAscLog::open(QString fileName)
{
    return openRecording(fileName);
}

bool KvFileAscLog::prepare()
{
    decimal = false;
    relativeTimes = false;
    clockMicros = 0;
    return isOpen();
}

bool KvFileAscLog::getFrame(CanObj &frame)
{
    kavri::AscLineParser parser;
    parser.decimal = decimal;
    parser.relativeTimes = relativeTimes;
    parser.clockMicros = clockMicros;
    kavri::TextLine line;
    KvFrame read;
    bool found = false;
    while (!found && line.read(*this)) {
        // Error frames have nothing to replay.
        found = !line.tooLong() &&
                parser.parse(kavri::TextField{line.data(), line.size()}, read) ==
                    kavri::LineKind::Frame &&
                !read.error;
    }
    decimal = parser.decimal;
    relativeTimes = parser.relativeTimes;
    clockMicros = parser.clockMicros;
    if (!found)
        return false;
    frame.TimeStamp = quint32(clockMicros / 100);
    frame.ID = read.id;
    frame.ExternFlag = read.extended ? 1 : 0;
    frame.RemoteFlag = read.remote ? 1 : 0;
    frame.DataLen = read.dlc;
    std::memcpy(frame.Data, read.data, sizeof read.data);
    return true;
}
