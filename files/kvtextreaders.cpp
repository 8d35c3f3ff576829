// The text formats of the registry: line parsers, readers and content checks.
#include "kvtextformats_p.h"

#include <QtCore/QDate>
#include <QtCore/QDateTime>
#include <QtCore/QTime>

#include <cstring>
#include <limits>

namespace kavri {

namespace {

const int BlockSize = 64 * 1024;
const int MaxWords = 6 + 8 + 2;

// The engine's channel from a file's 1-based one: 1 -> 0; 0 stays 0.
quint8 engineChannel(quint32 oneBased)
{
    return quint8(qMin<quint32>(oneBased > 0 ? oneBased - 1 : 0, 255));
}

// "1ABCDEF0x" -> extended 0x1ABCDEF0, "291" -> standard 291 in decimal.
bool readAscIdentifier(TextField word, bool decimal, quint32 *id, bool *extended)
{
    *extended = false;
    if (word.size > 0 && (word.data[word.size - 1] == 'x' || word.data[word.size - 1] == 'X')) {
        *extended = true;
        --word.size;
    }
    if (!(decimal ? parseDec(word, id) : parseHex(word, id)))
        return false;
    return *id <= (*extended ? 0x1FFFFFFFu : 0x7FFu);
}

// A classic DLC: one digit 0..8, the same in either base.
bool readDlcDigit(const TextField &word, quint8 *dlc)
{
    if (word.size != 1 || word.data[0] < '0' || word.data[0] > '8')
        return false;
    *dlc = quint8(word.data[0] - '0');
    return true;
}

bool readAscByte(const TextField &word, bool decimal, quint8 *byte)
{
    quint32 value = 0;
    const bool ok = decimal ? word.size <= 3 && parseDec(word, &value)
                            : word.size <= 2 && parseHex(word, &value);
    if (!ok || value > 0xFF)
        return false;
    *byte = quint8(value);
    return true;
}

int monthNumber(const TextField &word)
{
    static const char *const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i) {
        if (equalsNoCase(word, names[i]))
            return i + 1;
    }
    return 0;
}

// "Sat Dec 05 08:28:12.778 PM 2026" (weekday, month, day, time, [AM|PM], year) as local time,
// to nanoseconds since 1970; 0 when it does not read.
qint64 ascDate(const TextField *words, int count)
{
    if (count < 4)
        return 0;
    const int month = monthNumber(words[1]);
    quint32 day = 0, year = 0;
    if (month == 0 || !parseDec(words[2], &day))
        return 0;
    const QTime time = QTime::fromString(words[3].toString(), QStringLiteral("h:m:s.z")).isValid()
                           ? QTime::fromString(words[3].toString(), QStringLiteral("h:m:s.z"))
                           : QTime::fromString(words[3].toString(), QStringLiteral("h:m:s"));
    int next = 4;
    int hourShift = 0;
    if (count > next && (equalsNoCase(words[next], "am") || equalsNoCase(words[next], "pm"))) {
        const bool pm = equalsNoCase(words[next], "pm");
        if (time.isValid())
            hourShift = (pm ? 12 : 0) - (time.hour() == 12 ? 12 : 0);
        ++next;
    }
    if (count <= next || !parseDec(words[next], &year) || !time.isValid())
        return 0;
    const QDateTime when(QDate(int(year), month, int(day)), time.addSecs(hourShift * 3600));
    if (!when.isValid())
        return 0;
    // Years far outside the nanosecond range of 64 bits (about 1677 to 2262) have no start.
    const qint64 ms = when.toMSecsSinceEpoch();
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / 1000000;
    return ms > -limit && ms < limit ? ms * 1000000 : 0;
}

// "(1436509052.249713)" -> 1436509052249713
bool readCandumpTime(const TextField &word, qint64 *micros)
{
    if (word.size < 3 || word.data[0] != '(' || word.data[word.size - 1] != ')')
        return false;
    return parseSeconds(TextField{word.data + 1, word.size - 2}, micros);
}

// "DEADBEEF", "11.22.33", "", "1122334455667788_C"
bool readCandumpData(const char *s, int size, KvFrame &frame)
{
    int i = 0;
    while (i < size) {
        if (s[i] == '.') {
            ++i;
            continue;
        }
        if (s[i] == '_')
            break;
        if (frame.dlc == 8 || i + 1 == size)
            return false;
        const int high = hexDigitValue(s[i]);
        const int low = hexDigitValue(s[i + 1]);
        if (high < 0 || low < 0)
            return false;
        frame.data[frame.dlc++] = quint8(high << 4 | low);
        i += 2;
    }
    if (i == size)
        return true;
    // Raw DLC of an 8-byte frame: "_9".."_F"
    return frame.dlc == 8 && size - i == 2 && hexDigitValue(s[i + 1]) >= 9;
}

// Trailing digits of an interface name: "can1" -> 1, "vcan0" -> 0, "any" -> 0.
quint8 interfaceChannel(const TextField &word)
{
    int i = word.size;
    while (i > 0 && word.data[i - 1] >= '0' && word.data[i - 1] <= '9')
        --i;
    quint32 n = 0;
    if (i == word.size || !parseDec(TextField{word.data + i, word.size - i}, &n))
        return 0;
    return quint8(qMin<quint32>(n, 255));
}

bool isBlank(const TextField &line)
{
    return line.trimmed().size == 0;
}

// Complete lines of a file's first bytes, LF, CR LF or CR ended; at most maxLines.
template <typename F> void forEachLine(const QByteArray &head, int maxLines, F f)
{
    const char *d = head.constData();
    const int n = head.size();
    int start = 0;
    for (int i = 0, lines = 0; i <= n && lines < maxLines; ++i) {
        if (i < n && d[i] != '\n' && d[i] != '\r')
            continue;
        if (i == n && start == n)
            break;
        if (!f(TextField{d + start, i - start}))
            return;
        ++lines;
        if (i + 1 < n && d[i] == '\r' && d[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
}

} // namespace

// -- Lines -----------------------------------------------------------------------------------

bool BlockLines::fill()
{
    if (block.isEmpty())
        block.resize(BlockSize);
    char *d = block.data();
    if (pos > 0) {
        std::memmove(d, d + pos, size_t(end - pos));
        base += pos;
        end -= pos;
        pos = 0;
    }
    const qint64 n = file.read(d + end, BlockSize - end);
    if (n <= 0) {
        eof = true;
        failedRead = n < 0;
        return false;
    }
    end += int(n);
    return true;
}

bool BlockLines::next(TextField &line, bool &tooLong)
{
    tooLong = false;
    bool dropping = false;
    for (;;) {
        const char *d = block.constData();
        int i = pos;
        while (i < end && d[i] != '\n' && d[i] != '\r')
            ++i;
        if (i < end) {
            if (d[i] == '\r' && i + 1 == end && !eof) {
                fill(); // is an LF next?
                continue;
            }
            line = TextField{d + pos, i - pos};
            tooLong = dropping || line.size > MaxLength;
            pos = i + 1;
            if (d[i] == '\r' && pos < end && d[pos] == '\n')
                ++pos;
            return true;
        }
        if (eof) {
            if (pos == end && !dropping)
                return false;
            line = TextField{d + pos, end - pos};
            tooLong = dropping || line.size > MaxLength;
            pos = end;
            return true;
        }
        if (end - pos > MaxLength) {
            // Too long to keep: drop what is here and go on to the line's end.
            dropping = true;
            base += end;
            pos = end = 0;
        }
        fill();
    }
}

KvFrameReader::Result TextFrameReader::next(KvFrame &frame)
{
    TextField line;
    bool tooLong = false;
    while (!ended && lines.next(line, tooLong)) {
        if (tooLong)
            return Skipped;
        switch (parse(line, frame)) {
        case LineKind::Frame:
            return Frame;
        case LineKind::Bad:
            return Skipped;
        case LineKind::Unsupported:
            countUnsupported();
            break;
        case LineKind::Other:
            break;
        case LineKind::EndOfData:
            ended = true;
            return End;
        }
    }
    if (lines.readFailed())
        return fail(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
    return End;
}

// -- ASC -------------------------------------------------------------------------------------

LineKind AscLineParser::parse(const TextField &line, KvFrame &frame)
{
    TextField w[MaxWords];
    const int count = splitWords(line.data, line.size, w);
    if (count == 0)
        return LineKind::Other;
    if (endAtE && line.data[0] == 'E')
        return LineKind::EndOfData;
    if (equalsNoCase(w[0], "base")) {
        for (int i = 1; i < qMin(count, MaxWords); ++i) {
            if (equalsNoCase(w[i], "hex"))
                decimal = false;
            else if (equalsNoCase(w[i], "dec"))
                decimal = true;
            else if (equalsNoCase(w[i], "absolute"))
                relativeTimes = false;
            else if (equalsNoCase(w[i], "relative"))
                relativeTimes = true;
        }
        return LineKind::Other;
    }
    if (equalsNoCase(w[0], "date")) {
        if (const qint64 t = ascDate(w + 1, qMin(count, MaxWords) - 1))
            epochNs = t;
        return LineKind::Other;
    }
    if (equalsNoCase(w[0], "begin") && count > 2 && equalsNoCase(w[1], "triggerblock")) {
        if (const qint64 t = ascDate(w + 2, qMin(count, MaxWords) - 2))
            epochNs = t;
        return LineKind::Other;
    }

    qint64 micros = 0;
    if (!parseSeconds(w[0], &micros))
        return LineKind::Other;
    // Unsigned: a hostile file of huge relative times wraps instead of overflowing.
    clockMicros = relativeTimes ? clockMicros + quint64(micros) : quint64(micros);
    if (count < 3)
        return LineKind::Other;
    if (equalsNoCase(w[1], "canfd"))
        return LineKind::Unsupported;
    quint32 channel = 0;
    if (!parseDec(w[1], &channel))
        return LineKind::Other; // events, statistics, comments with a time

    frame = KvFrame();
    frame.timeNs = qint64(clockMicros * 1000u);
    frame.channel = engineChannel(channel);
    if (equalsNoCase(w[2], "errorframe")) {
        frame.error = true;
        return LineKind::Frame;
    }
    if (count < 5 || !(equalsNoCase(w[3], "rx") || equalsNoCase(w[3], "tx")))
        return LineKind::Other; // TxRq and other events of a channel
    frame.tx = equalsNoCase(w[3], "tx");
    if (!readAscIdentifier(w[2], decimal, &frame.id, &frame.extended))
        return LineKind::Bad;
    if (equalsNoCase(w[4], "r")) {
        // Older tools write no DLC for a remote frame; what follows may be anything else then.
        frame.remote = true;
        if (count > 5 && !readDlcDigit(w[5], &frame.dlc))
            frame.dlc = 0;
        return LineKind::Frame;
    }
    if (!equalsNoCase(w[4], "d") || count < 6 || !readDlcDigit(w[5], &frame.dlc) ||
        count < 6 + frame.dlc)
        return LineKind::Bad;
    for (int i = 0; i < frame.dlc; ++i) {
        if (!readAscByte(w[6 + i], decimal, &frame.data[i]))
            return LineKind::Bad;
    }
    return LineKind::Frame;
}

bool AscFrameReader::start()
{
    if (parser.endAtE) {
        // Our own form: two header lines, whatever they hold, except what they say of the base
        // and the start.
        TextField line;
        bool tooLong = false;
        for (int i = 0; i < 2 && lines.next(line, tooLong); ++i) {
            KvFrame ignored;
            if (!tooLong && !line.equals("") && !(line.data[0] >= '0' && line.data[0] <= '9'))
                parser.parse(line, ignored);
        }
    } else {
        // The header is read as the lines come; the start time is needed before the first
        // frame, so it is looked for in the first lines now.
        const qint64 at = file.pos();
        AscLineParser probe;
        forEachLine(file.peek(16 * 1024), 64, [&](const TextField &line) {
            KvFrame ignored;
            probe.parse(line, ignored);
            return true;
        });
        parser.epochNs = probe.epochNs;
        file.seek(at);
    }
    epochNs = parser.epochNs;
    return true;
}

// -- candump ---------------------------------------------------------------------------------

LineKind parseCandumpLine(const TextField &line, KvFrame &frame)
{
    TextField w[4];
    const int count = splitWords(line.data, line.size, w);
    if (count == 0)
        return LineKind::Other;
    qint64 micros = 0;
    // Beyond the year 2255 the time would not fit in nanoseconds.
    if (count < 3 || !readCandumpTime(w[0], &micros) || micros > 9000000000000000)
        return LineKind::Bad;
    const TextField &word = w[2];
    const char *hash = static_cast<const char *>(std::memchr(word.data, '#', size_t(word.size)));
    if (!hash)
        return LineKind::Bad;
    frame = KvFrame();
    frame.timeNs = micros * 1000;
    frame.channel = interfaceChannel(w[1]);
    if (count >= 4)
        frame.tx = w[3].equals("T") || w[3].equals("t");
    const int idSize = int(hash - word.data);
    if (!(idSize == 3 || idSize == 8) || !parseHex(TextField{word.data, idSize}, &frame.id))
        return LineKind::Bad;
    const char *rest = hash + 1;
    const int restSize = word.size - idSize - 1;
    if (restSize > 0 && rest[0] == '#')
        return LineKind::Unsupported; // CAN FD
    frame.extended = idSize == 8;
    if (frame.extended && (frame.id & 0x20000000u)) {
        // An error frame: its class bits in the identifier, details in the data.
        frame.error = true;
        frame.extended = false;
        frame.id &= 0x1FFFFFFFu;
        return readCandumpData(rest, restSize, frame) ? LineKind::Frame : LineKind::Bad;
    }
    if (frame.id > (frame.extended ? 0x1FFFFFFFu : 0x7FFu))
        return LineKind::Bad;
    if (restSize > 0 && (rest[0] == 'R' || rest[0] == 'r')) {
        frame.remote = true;
        if (restSize == 1)
            return LineKind::Frame;
        if (restSize != 2 || rest[1] < '0' || rest[1] > '8')
            return LineKind::Bad;
        frame.dlc = quint8(rest[1] - '0');
        return LineKind::Frame;
    }
    return readCandumpData(rest, restSize, frame) ? LineKind::Frame : LineKind::Bad;
}

bool CandumpFrameReader::start()
{
    // The writer of a conversion wants the start before the first frame is read.
    forEachLine(file.peek(16 * 1024), 64, [this](const TextField &line) {
        KvFrame f;
        if (parseCandumpLine(line, f) != LineKind::Frame)
            return true;
        haveOrigin = true;
        epochNs = f.timeNs;
        return false;
    });
    return true;
}

LineKind CandumpFrameReader::parse(const TextField &line, KvFrame &frame)
{
    const LineKind kind = parseCandumpLine(line, frame);
    if (kind != LineKind::Frame)
        return kind;
    // A log holds wall-clock times: the first frame is the origin.
    if (!haveOrigin) {
        haveOrigin = true;
        epochNs = frame.timeNs;
    }
    frame.timeNs -= epochNs;
    return kind;
}

// -- CSV -------------------------------------------------------------------------------------

namespace {

const char RemoteWordGbk[] = "\xD4\xB6\xB3\xCC\xD6\xA1"; // remote frame
const char ExtendWordGbk[] = "\xC0\xA9\xD5\xB9\xD6\xA1"; // extended frame
const char SendWordGbk[] = "\xB7\xA2\xCB\xCD";           // sent

bool isComma(char c)
{
    return c == ',';
}

// "10:20:30.456.789" -> 37230456789 us; hours may run past 24.
bool readDayMicros(const TextField &t, qint64 *micros)
{
    TextField parts[5];
    int n = splitFields(
        t.data, t.size, [](char c) { return c == ':' || c == '.'; }, parts);
    if (n != 5)
        return false;
    quint32 v[5];
    for (int i = 0; i < 5; ++i) {
        if (!parseDec(parts[i], &v[i]) || (i > 0 && parts[i].size > 3))
            return false;
    }
    if (v[1] > 59 || v[2] > 59 || parts[3].size != 3 || parts[4].size != 3)
        return false;
    *micros = ((qint64(v[0]) * 60 + v[1]) * 60 + v[2]) * 1000000 + v[3] * 1000 + v[4];
    return true;
}

} // namespace

int CsvLineParser::headerMode(const TextField &line)
{
    TextField columns[10];
    if (splitFields(line.data, line.size, isComma, columns) != 9)
        return -1;
    TextField pieces[3];
    if (splitFields(
            columns[2].data, columns[2].size, [](char c) { return c == '-'; }, pieces) < 2)
        return -1;
    quint32 mode = 0;
    return parseDec(pieces[1].trimmed(), &mode) && mode <= 2 ? int(mode) : -1;
}

LineKind CsvLineParser::parse(const TextField &line, KvFrame &frame) const
{
    if (isBlank(line))
        return LineKind::Other;
    TextField c[10];
    if (splitFields(line.data, line.size, isComma, c) != 9)
        return LineKind::Bad;
    const quint32 dlc = hexToUInt(c[7]);
    if (dlc > 8)
        return LineKind::Bad;
    frame = KvFrame();
    qint64 micros = 0;
    switch (timeMode) {
    case 0:
        micros = qint64(hexToUInt(c[2])) * 100;
        break;
    case 1:
        micros = qint64(msecsSinceMidnight(c[2], ':')) * 1000;
        break;
    case 2:
        if (!readDayMicros(c[2].trimmed(), &micros)) {
            TextField head = c[2];
            while (head.size > 0 && head.data[head.size - 1] != '.')
                --head.size;
            micros = qint64(msecsSinceMidnight(TextField{head.data, qMax(0, head.size - 1)}, '.')) *
                     1000;
        }
        break;
    default:
        break;
    }
    frame.timeNs = micros * 1000;
    const TextField dir = c[1].trimmed();
    frame.tx = dir.equals("Tx") || dir.equals(SendWordGbk);
    quint32 channel = 0;
    if (parseDec(c[3].trimmed(), &channel))
        frame.channel = quint8(qMin<quint32>(channel, 255));
    frame.id = hexToUInt(c[4]);
    frame.remote = c[5].equals("Remote") || c[5].equals(RemoteWordGbk);
    frame.extended = c[6].equals("Extend") || c[6].equals(ExtendWordGbk);
    frame.dlc = quint8(dlc);
    if (!frame.remote) {
        TextField bytes[8];
        const int n = splitFields(
            c[8].data, c[8].size, [](char ch) { return ch == ' '; }, bytes);
        for (int i = 0; i < qMin(n, int(dlc)); ++i)
            frame.data[i] = quint8(hexToUInt(bytes[i]));
    }
    return LineKind::Frame;
}

bool CsvFrameReader::start()
{
    TextField header;
    bool tooLong = false;
    if (lines.next(header, tooLong) && !tooLong)
        parser.timeMode = qMax(0, CsvLineParser::headerMode(header));
    return true;
}

// -- bin -------------------------------------------------------------------------------------

KvFrameReader::Result BinFrameReader::next(KvFrame &frame)
{
    frame = KvFrame();
    const qint64 n = file.read(reinterpret_cast<char *>(frame.data), 8);
    if (n < 0)
        return fail(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
    frame.dlc = quint8(n);
    return n > 0 ? Frame : End;
}

// -- Content checks --------------------------------------------------------------------------

bool looksLikeText(const QByteArray &head)
{
    for (const char c : head) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')
            return false;
    }
    return !head.isEmpty();
}

bool looksLikeCandump(const QByteArray &head)
{
    if (!looksLikeText(head))
        return false;
    // Frame lines are the majority of the first few, not necessarily the first line: a log cut
    // from a longer one starts mid-line, and the other tools still read the rest of it.
    int frames = 0, others = 0;
    forEachLine(head, 64, [&](const TextField &line) {
        if (isBlank(line))
            return true;
        KvFrame f;
        const LineKind k = parseCandumpLine(line, f);
        ++(k == LineKind::Frame || k == LineKind::Unsupported ? frames : others);
        return frames + others < 8;
    });
    return frames > others;
}

bool looksLikeCsv(const QByteArray &head)
{
    if (head.contains('\0'))
        return false;
    int n = 0;
    bool ok = false;
    forEachLine(head, 2, [&](const TextField &line) {
        if (n++ == 0) {
            ok = CsvLineParser::headerMode(line) >= 0;
            return ok;
        }
        TextField c[10];
        ok = isBlank(line) || splitFields(line.data, line.size, isComma, c) == 9;
        return false;
    });
    return ok;
}

bool looksLikeOwnAsc(const QByteArray &head)
{
    if (!looksLikeText(head))
        return false;
    int n = 0;
    bool dated = false;
    int verdict = -1; // -1 undecided, 0 no, 1 yes
    AscLineParser parser;
    parser.endAtE = true;
    forEachLine(head, 64, [&](const TextField &line) {
        ++n;
        const TextField t = line.trimmed();
        if (n <= 2) {
            dated = dated || (t.size >= 4 && equalsNoCase(TextField{t.data, 4}, "date")) ||
                    (t.size >= 4 && equalsNoCase(TextField{t.data, 4}, "base"));
            return true;
        }
        TextField w[4];
        const int words = splitWords(t.data, t.size, w);
        if (t.size == 0 || (t.size >= 2 && t.data[0] == '/' && t.data[1] == '/') ||
            (words == 4 && equalsNoCase(w[0], "no") && equalsNoCase(w[1], "internal")))
            return true;
        if (line.data[0] == 'E') {
            verdict = dated ? 1 : 0;
            return false;
        }
        KvFrame f;
        const bool strict = line.data[0] >= '0' && line.data[0] <= '9' &&
                            !std::memchr(line.data, '\t', size_t(line.size)) &&
                            !QByteArray::fromRawData(line.data, line.size).contains("  ");
        verdict = strict && parser.parse(line, f) == LineKind::Frame ? 1 : 0;
        return false;
    });
    return verdict == 1 || (verdict < 0 && dated);
}

bool looksLikeAscLog(const QByteArray &head)
{
    if (!looksLikeText(head))
        return false;
    bool found = false;
    AscLineParser parser;
    forEachLine(head, 64, [&](const TextField &line) {
        TextField w[3];
        const int count = splitWords(line.data, line.size, w);
        if (count == 0)
            return true;
        if (equalsNoCase(w[0], "date") ||
            (equalsNoCase(w[0], "base") && count > 1 &&
             (equalsNoCase(w[1], "hex") || equalsNoCase(w[1], "dec"))) ||
            (equalsNoCase(w[0], "begin") && count > 1 && equalsNoCase(w[1], "triggerblock")) ||
            (count > 2 && equalsNoCase(w[1], "internal") && equalsNoCase(w[2], "events"))) {
            found = true;
            return false;
        }
        KvFrame f;
        if (parser.parse(line, f) == LineKind::Frame) {
            found = true;
            return false;
        }
        return true;
    });
    return found;
}

} // namespace kavri
