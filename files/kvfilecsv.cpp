#include "kvfilecsv.h"

#include "candata.h"
#include "canobj.h"
#include "kvtextline_p.h"

namespace {

using kavri::TextField;
using kavri::TextLine;

// The recorder's words in GBK, the code page its recordings are written in.
const char RemoteWordGbk[] = "\xD4\xB6\xB3\xCC\xD6\xA1"; // 远程帧, remote frame
const char ExtendWordGbk[] = "\xC0\xA9\xD5\xB9\xD6\xA1"; // 扩展帧, extended frame

const int ColumnCount = 9;

enum class LineKind { Frame, Malformed, DlcTooLarge };

struct FrameWords
{
    // The translations, or nullptr where no translator changed a word.
    const QString *remote = nullptr;
    const QString *extend = nullptr;
};

bool isWord(const TextField &column, const char *english, const char *gbk,
            const QString *translation)
{
    if (column.equals(english) || column.equals(gbk))
        return true;
    return translation && column.toString() == *translation;
}

quint32 timeStamp(const TextField &column, int timeMode, quint32 unchanged)
{
    switch (timeMode) {
    case 0:
        return kavri::hexToUInt(column) / 10;
    case 1:
        return quint32(kavri::msecsSinceMidnight(column, ':'));
    case 2: {
        // "10:20:30.456.789": the last part goes, "10:20:30.456" is read.
        TextField head = column;
        int dot = column.size - 1;
        while (dot >= 0 && column.data[dot] != '.')
            --dot;
        if (dot >= 0)
            head.size = dot;
        return quint32(kavri::msecsSinceMidnight(head, '.'));
    }
    default:
        return unchanged;
    }
}

// Fills the frame from a line, or leaves it untouched when the line is not a frame.
LineKind readFrameLine(const TextLine &line, int timeMode, const FrameWords &words, CanObj &frame)
{
    TextField columns[ColumnCount + 1];
    const int count = kavri::splitFields(
        line.data(), line.size(), [](char c) { return c == ','; }, columns);
    if (line.tooLong() || count != ColumnCount)
        return LineKind::Malformed;
    const quint32 dlc = kavri::hexToUInt(columns[7]) & 0xFF;
    if (dlc > 8)
        return LineKind::DlcTooLarge;

    frame.DataLen = quint8(dlc);
    frame.TimeStamp = timeStamp(columns[2], timeMode, frame.TimeStamp);
    frame.ID = kavri::hexToUInt(columns[4]);
    frame.RemoteFlag = isWord(columns[5], "Remote", RemoteWordGbk, words.remote) ? 1 : 0;
    frame.ExternFlag = isWord(columns[6], "Extend", ExtendWordGbk, words.extend) ? 1 : 0;

    TextField bytes[8];
    const int byteCount = kavri::splitFields(
        columns[8].data, columns[8].size, [](char c) { return c == ' '; }, bytes);
    for (int i = 0; i < qMin(byteCount, 8); ++i)
        frame.Data[i] = quint8(kavri::hexToUInt(bytes[i]));
    return LineKind::Frame;
}

} // namespace

KvFileCsv::KvFileCsv(QObject *parent)
    : KvFile(parent), remoteWord(tr("\xD4\xB6\xB3\xCC\xD6\xA1")),
      extendWord(tr("\xC0\xA9\xD5\xB9\xD6\xA1"))
{
}

KvFileCsv::~KvFileCsv() = default;

bool KvFileCsv::open(QString fileName)
{
    return openRecording(fileName);
}

bool KvFileCsv::prepare()
{
    if (!isOpen())
        return false;
    timeMode = 0;
    TextLine header;
    if (!header.read(*this) || header.tooLong())
        return true;
    // "No.,Dir,Time-2,..." -> 2
    TextField columns[3];
    if (kavri::splitFields(
            header.data(), header.size(), [](char c) { return c == ','; }, columns) < 3)
        return true;
    TextField pieces[2];
    if (kavri::splitFields(
            columns[2].data, columns[2].size, [](char c) { return c == '-'; }, pieces) < 2)
        return true;
    timeMode = qint32(pieces[1].toString().toUInt());
    return true;
}

bool KvFileCsv::getFrames(CanData &frames, int count)
{
    if (count < 1 || atEnd())
        return false;

    CanData batch;
    const CanObj blank;
    CanObj frame;
    TextLine line;
    bool readSomething = false;
    for (int used = 0; used < count && !atEnd();) {
        if (!line.read(*this))
            break;
        readSomething = true;
        frame = blank;
        const LineKind kind = readFrameLine(line, timeMode, FrameWords(), frame);
        if (kind == LineKind::DlcTooLarge)
            continue;
        if (kind == LineKind::Frame) {
            frame.UserFlag = used == 0 ? 1 : 0;
            frame.TailFlag = atEnd() ? 1 : 0;
            frame.BatchEndFlag = used + 1 == count ? 1 : 0;
            batch.push(frame);
        }
        ++used;
    }
    // A file that shrank under the reader may claim more data than it can deliver.
    if (!readSomething)
        return false;
    frames = batch;
    return true;
}

bool KvFileCsv::getFrame(CanObj &frame)
{
    static const QString untranslatedRemote = QString::fromUtf8(RemoteWordGbk);
    static const QString untranslatedExtend = QString::fromUtf8(ExtendWordGbk);
    FrameWords words;
    if (remoteWord != untranslatedRemote)
        words.remote = &remoteWord;
    if (extendWord != untranslatedExtend)
        words.extend = &extendWord;

    TextLine line;
    return line.read(*this) && readFrameLine(line, timeMode, words, frame) == LineKind::Frame;
}
