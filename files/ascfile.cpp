#include "ascfile.h"

#include "canobj.h"
#include "kvtextline_p.h"

#include <QtCore/QByteArrayList>
#include <QtCore/QStringList>

#include <cmath>

namespace {

using kavri::TextField;
using kavri::TextLine;

const int FirstDataField = 6;
const int MaxFields = FirstDataField + 8;

// Seconds -> 0.1 ms units, in single precision as the recorder wrote them:
// 0.012345f * 10000.0f = 123.45 -> 123. Beyond 2^63 units the low 32 bits of the true value are
// 0 anyway; infinities and NaN give 0 too.
quint32 timeStamp(float seconds)
{
    const float units = seconds * 10000.0f;
    if (!std::isfinite(units) || std::fabs(units) >= 9.2233720368547758e18f)
        return 0;
    return quint32(qint64(units));
}

// Fills the frame from a line; false, frame untouched, when the line cannot be a frame.
bool readFrameLine(const TextLine &line, const QRegExp &separator, CanObj &frame)
{
    TextField fields[MaxFields];
    int count = 0;
    QByteArrayList decoded;
    if (line.isAscii()) {
        count = kavri::splitFields(line.data(), line.size(), kavri::isAsciiSpace, fields);
    } else {
        // Beyond ASCII, white space also means characters such as U+00A0 (UTF-8 C2 A0): the
        // separator decides on the decoded text. Fields go back to UTF-8 for the parsers.
        const QStringList parts =
            QString::fromUtf8(line.data(), line.size()).split(separator, Qt::KeepEmptyParts);
        count = parts.size();
        for (int i = 0; i < qMin(count, MaxFields); ++i)
            decoded.append(parts.at(i).toUtf8());
        for (int i = 0; i < decoded.size(); ++i)
            fields[i] = TextField{decoded.at(i).constData(), decoded.at(i).size()};
    }
    if (count < FirstDataField || fields[2].size == 0 || fields[4].size == 0)
        return false;
    const quint8 dlc = quint8(kavri::decToUShort(fields[5]));
    if (dlc > 8)
        return false;

    bool ok = false;
    const float seconds = kavri::decToFloat(fields[0], &ok);
    frame.TimeStamp = ok ? timeStamp(seconds) : 0;
    TextField id = fields[2];
    frame.ExternFlag = id.data[id.size - 1] == 'x' ? 1 : 0;
    if (frame.ExternFlag)
        --id.size;
    frame.ID = kavri::hexToUInt(id);
    frame.RemoteFlag = fields[4].data[0] == 'd' ? 0 : 1;
    frame.DataLen = dlc;
    for (int i = FirstDataField; i < qMin(count, MaxFields); ++i)
        frame.Data[i - FirstDataField] = kavri::firstHexByte(fields[i]);
    return true;
}

} // namespace

ASCFile::ASCFile(QObject *parent) : KvFile(parent), separator(QStringLiteral("\t|\\s")) {}

ASCFile::~ASCFile() = default;

bool ASCFile::open(QString fileName)
{
    return openRecording(fileName);
}

bool ASCFile::prepare()
{
    TextLine header;
    header.read(*this);
    header.read(*this);
    return true;
}

bool ASCFile::getFrame(CanObj &frame)
{
    TextLine line;
    while (!atEnd()) {
        if (!line.read(*this))
            return false;
        if (line.size() > 0 && line.data()[0] == 'E') {
            // Nothing after the end line belongs to the recording.
            seek(size());
            return false;
        }
        if (!line.tooLong() && readFrameLine(line, separator, frame))
            return true;
    }
    return false;
}
