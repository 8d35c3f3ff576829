#include "kvfileasclog.h"

#include "canobj.h"
#include "kvlogwords_p.h"

#include <cstring>

namespace {

using kavri::TextField;

const int MaxWords = 6 + 8;

// An identifier word: "1ABCDEF0x" -> extended 0x1ABCDEF0, "291" -> standard 291 in decimal.
bool readIdentifier(TextField word, bool decimal, quint32 *id, quint8 *extended)
{
    *extended = 0;
    if (word.size > 0 && (word.data[word.size - 1] == 'x' || word.data[word.size - 1] == 'X')) {
        *extended = 1;
        --word.size;
    }
    if (!(decimal ? kavri::parseDec(word, id) : kavri::parseHex(word, id)))
        return false;
    return *id <= (*extended ? 0x1FFFFFFFu : 0x7FFu);
}

// A DLC of a classic frame: one digit 0..8, the same in either base.
bool readDlc(const TextField &word, quint8 *dlc)
{
    if (word.size != 1 || word.data[0] < '0' || word.data[0] > '8')
        return false;
    *dlc = quint8(word.data[0] - '0');
    return true;
}

bool readByte(const TextField &word, bool decimal, quint8 *byte)
{
    quint32 value = 0;
    const bool ok = decimal ? word.size <= 3 && kavri::parseDec(word, &value)
                            : word.size <= 2 && kavri::parseHex(word, &value);
    if (!ok || value > 0xFF)
        return false;
    *byte = quint8(value);
    return true;
}

} // namespace

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
    kavri::TextLine line;
    while (line.read(*this)) {
        if (!line.tooLong() && readFrameLine(line.data(), line.size(), frame))
            return true;
    }
    return false;
}

bool KvFileAscLog::readFrameLine(const char *data, int size, CanObj &frame)
{
    TextField words[MaxWords];
    const int count = kavri::splitWords(data, size, words);
    if (count == 0)
        return false;

    if (kavri::equalsNoCase(words[0], "base")) {
        for (int i = 1; i < qMin(count, MaxWords); ++i) {
            if (kavri::equalsNoCase(words[i], "hex"))
                decimal = false;
            else if (kavri::equalsNoCase(words[i], "dec"))
                decimal = true;
            else if (kavri::equalsNoCase(words[i], "absolute"))
                relativeTimes = false;
            else if (kavri::equalsNoCase(words[i], "relative"))
                relativeTimes = true;
        }
        return false;
    }

    qint64 micros = 0;
    if (!kavri::parseSeconds(words[0], &micros))
        return false;
    // Unsigned: a hostile file of huge relative times wraps instead of overflowing.
    clockMicros = relativeTimes ? clockMicros + quint64(micros) : quint64(micros);

    quint32 channel = 0;
    quint32 id = 0;
    quint8 extended = 0;
    quint8 dlc = 0;
    if (count < 5 || !kavri::parseDec(words[1], &channel) ||
        !readIdentifier(words[2], decimal, &id, &extended) ||
        !(kavri::equalsNoCase(words[3], "rx") || kavri::equalsNoCase(words[3], "tx")))
        return false;

    quint8 bytes[8] = {};
    bool remote = false;
    if (kavri::equalsNoCase(words[4], "r")) {
        // Older tools write no DLC for a remote frame; what follows may be anything else then.
        remote = true;
        if (count > 5 && !readDlc(words[5], &dlc))
            dlc = 0;
    } else if (kavri::equalsNoCase(words[4], "d")) {
        if (count < 6 || !readDlc(words[5], &dlc) || count < 6 + dlc)
            return false;
        for (int i = 0; i < dlc; ++i) {
            if (!readByte(words[6 + i], decimal, &bytes[i]))
                return false;
        }
    } else {
        return false;
    }

    frame.TimeStamp = quint32(clockMicros / 100);
    frame.ID = id;
    frame.ExternFlag = extended;
    frame.RemoteFlag = remote ? 1 : 0;
    frame.DataLen = dlc;
    std::memcpy(frame.Data, bytes, sizeof bytes);
    return true;
}
