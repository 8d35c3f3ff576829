#include "kvfilecandump.h"

#include "canobj.h"
#include "kvlogwords_p.h"

#include <cstring>

namespace {

using kavri::TextField;

struct LogFrame
{
    quint32 id = 0;
    quint8 extended = 0;
    quint8 remote = 0;
    quint8 length = 0;
    quint8 data[8] = {};
};

// "(1436509052.249713)" -> 1436509052249713
bool readTime(const TextField &word, qint64 *micros)
{
    if (word.size < 3 || word.data[0] != '(' || word.data[word.size - 1] != ')')
        return false;
    return kavri::parseSeconds(TextField{word.data + 1, word.size - 2}, micros);
}

// The data after "#": "DEADBEEF", "11.22.33", "", "1122334455667788_C".
bool readData(const char *s, int size, LogFrame *frame)
{
    int i = 0;
    while (i < size) {
        if (s[i] == '.') {
            ++i;
            continue;
        }
        if (s[i] == '_')
            break;
        if (frame->length == 8 || i + 1 == size)
            return false;
        const int high = kavri::hexDigitValue(s[i]);
        const int low = kavri::hexDigitValue(s[i + 1]);
        if (high < 0 || low < 0)
            return false;
        frame->data[frame->length++] = quint8(high << 4 | low);
        i += 2;
    }
    if (i == size)
        return true;
    // Raw DLC of an 8-byte frame: "_9".."_F"
    return frame->length == 8 && size - i == 2 && kavri::hexDigitValue(s[i + 1]) >= 9;
}

// "12345678#DEADBEEF", "123#R", "123#R3"
bool readFrame(const TextField &word, LogFrame *frame)
{
    const char *hash = static_cast<const char *>(std::memchr(word.data, '#', size_t(word.size)));
    if (!hash)
        return false;
    const int idSize = int(hash - word.data);
    if (!(idSize == 3 || idSize == 8) || !kavri::parseHex(TextField{word.data, idSize}, &frame->id))
        return false;
    frame->extended = idSize == 8 ? 1 : 0;
    if (frame->id > (frame->extended ? 0x1FFFFFFFu : 0x7FFu))
        return false; // error frames carry bit 29
    const char *rest = hash + 1;
    const int restSize = word.size - idSize - 1;
    if (restSize > 0 && rest[0] == 'R') {
        frame->remote = 1;
        if (restSize == 1)
            return true;
        if (restSize != 2 || rest[1] < '0' || rest[1] > '8')
            return false;
        frame->length = quint8(rest[1] - '0');
        return true;
    }
    return readData(rest, restSize, frame); // "##" of a CAN FD frame fails here
}

} // namespace

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
        if (line.tooLong())
            continue;
        TextField words[3];
        qint64 micros = 0;
        LogFrame read;
        if (kavri::splitWords(line.data(), line.size(), words) < 3 ||
            !readTime(words[0], &micros) || !readFrame(words[2], &read))
            continue;
        if (!haveOrigin) {
            haveOrigin = true;
            originMicros = micros;
        }
        frame.TimeStamp = kavri::stampUnits(micros - originMicros);
        frame.ID = read.id;
        frame.ExternFlag = read.extended;
        frame.RemoteFlag = read.remote;
        frame.DataLen = read.length;
        std::memcpy(frame.Data, read.data, sizeof read.data);
        return true;
    }
    return false;
}
