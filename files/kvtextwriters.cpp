// The text formats of the registry: writers.
#include "kvtextformats_p.h"

#include <QtCore/QDateTime>
#include <QtCore/QtAlgorithms>

#include <cstring>

namespace kavri {

namespace {

// A conversion writes millions of lines, and the numbers are most of each line: they are
// formatted from tables, two digits per look-up, instead of a division per digit.
struct DigitTables
{
    char decimal[200]; // "00" .. "99"
    char hex[512];     // "00" .. "FF"
    constexpr DigitTables() : decimal(), hex()
    {
        const char digits[] = "0123456789ABCDEF";
        for (int i = 0; i < 100; ++i) {
            decimal[2 * i] = char('0' + i / 10);
            decimal[2 * i + 1] = char('0' + i % 10);
        }
        for (int i = 0; i < 256; ++i) {
            hex[2 * i] = digits[i >> 4];
            hex[2 * i + 1] = digits[i & 15];
        }
    }
};
constexpr DigitTables Digits;

char *putHexByte(char *p, quint8 b)
{
    std::memcpy(p, Digits.hex + 2 * b, 2);
    return p + 2;
}

// Upper-case hex, at least `width` digits (at most 8): (0x1A, 3) -> "01A". Stores 8 bytes
// whatever the length: the caller's reserve() covers them, and the next field overwrites the
// rest. A store of fixed size is a move or two, where one of variable size is a call.
char *putHex(char *p, quint32 v, int width)
{
    const int needed = v == 0 ? 1 : (35 - int(qCountLeadingZeroBits(v))) / 4;
    const int n = qBound(needed, width, 8);
    char digits[24] = {}; // the eight digits at 8 to 15; room behind them for the 8-byte store
    std::memcpy(digits + 8, Digits.hex + 2 * (v >> 24), 2);
    std::memcpy(digits + 10, Digits.hex + 2 * (v >> 16 & 0xFF), 2);
    std::memcpy(digits + 12, Digits.hex + 2 * (v >> 8 & 0xFF), 2);
    std::memcpy(digits + 14, Digits.hex + 2 * (v & 0xFF), 2);
    std::memcpy(p, digits + 16 - n, 8);
    return p + n;
}

// Decimal, at least `width` digits (at most 20). Written back to front straight into place:
// the length is counted first, so no copy of a variable length is needed.
char *putDec(char *p, quint64 v, int width = 1)
{
    int n = 1;
    for (quint64 limit = 10; n < 20 && v >= limit; limit *= 10)
        ++n;
    if (n < width)
        n = width;
    char *q = p + n;
    while (v >= 100) {
        q -= 2;
        std::memcpy(q, Digits.decimal + 2 * (v % 100), 2);
        v /= 100;
    }
    if (v >= 10) {
        q -= 2;
        std::memcpy(q, Digits.decimal + 2 * v, 2);
    } else {
        *--q = char('0' + v);
    }
    while (q > p)
        *--q = '0';
    return p + n;
}

// A literal's characters, without its terminating zero; its length is known when compiling.
template <size_t N> char *putText(char *p, const char (&text)[N])
{
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

char *pad(char *p, char *from, int width)
{
    while (p - from < width)
        *p++ = ' ';
    return p;
}

// The text of whole seconds, formatted again only when they changed.
const SecondsText &secondsOf(quint64 seconds, SecondsText &cache)
{
    if (seconds != cache.seconds) {
        cache.seconds = seconds;
        cache.length = int(putDec(cache.text, seconds) - cache.text);
    }
    return cache;
}

// Microseconds to "seconds.micros": 250000 -> "0.250000". Stores 24 bytes for the seconds
// whatever their length (see putHex).
char *putSeconds(char *p, quint64 micros, SecondsText &cache)
{
    const SecondsText &seconds = secondsOf(micros / 1000000, cache);
    std::memcpy(p, seconds.text, sizeof seconds.text);
    p += seconds.length;
    *p++ = '.';
    const unsigned fraction = unsigned(micros % 1000000);
    std::memcpy(p, Digits.decimal + 2 * (fraction / 10000), 2);
    std::memcpy(p + 2, Digits.decimal + 2 * (fraction / 100 % 100), 2);
    std::memcpy(p + 4, Digits.decimal + 2 * (fraction % 100), 2);
    return p + 6;
}

// The data bytes as hex, each after `separator` when it is not 0. Formats all eight bytes and
// moves on by `dlc` of them: a loop of fixed length, with no branch per byte (see putHex).
char *putData(char *p, const quint8 *data, int dlc, char separator)
{
    if (separator == 0) {
        for (int i = 0; i < 8; ++i)
            std::memcpy(p + 2 * i, Digits.hex + 2 * data[i], 2);
        return p + 2 * dlc;
    }
    for (int i = 0; i < 8; ++i) {
        p[3 * i] = separator;
        std::memcpy(p + 3 * i + 1, Digits.hex + 2 * data[i], 2);
    }
    return p + 3 * dlc;
}

// To the nearest microsecond, as other tools print their seconds ("%f"): a frame that a BLF
// file holds at 99,897 ns reads 0.000100 here and there alike.
quint64 microsOf(qint64 ns)
{
    return ns > 0 ? quint64((ns + 500) / 1000) : 0;
}

// "Sat Dec 05 08:28:12.778 PM 2026", in English whatever the locale, local time.
QByteArray ascDate(qint64 epochNs)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(epochNs / 1000000);
    const int hour12 = t.time().hour() % 12 == 0 ? 12 : t.time().hour() % 12;
    return QByteArray(days[t.date().dayOfWeek() - 1]) + ' ' + months[t.date().month() - 1] + ' ' +
           QByteArray::number(t.date().day()).rightJustified(2, '0') + ' ' +
           QByteArray::number(hour12).rightJustified(2, '0') + ':' +
           QByteArray::number(t.time().minute()).rightJustified(2, '0') + ':' +
           QByteArray::number(t.time().second()).rightJustified(2, '0') + '.' +
           QByteArray::number(t.time().msec()).rightJustified(3, '0') + ' ' +
           (t.time().hour() < 12 ? "AM" : "PM") + ' ' + QByteArray::number(t.date().year());
}

} // namespace

// -- ASC -------------------------------------------------------------------------------------

void AscFrameWriter::begin()
{
    const QByteArray date = ascDate(startNs);
    QByteArray header = "date " + date + "\nbase hex  timestamps absolute\n";
    // Readers of other tools take the first line after the header as the end of it.
    if (ownForm)
        header += "no internal events logged\n";
    else
        header += "internal events logged\nBegin Triggerblock " + date +
                  "\n   0.000000 Start of measurement\n";
    append(header.constData(), header.size());
}

// Own form:  "0.250099 1 1ABCDEF0x Rx d 1 AA"
// Other tools: "   0.250099 1  1ABCDEF0x       Rx   d 1 AA"
bool AscFrameWriter::put(const KvFrame &f)
{
    char *p = reserve(128);
    const quint64 micros = microsOf(f.timeNs);
    if (!ownForm) // right-aligned in 11 columns
        p = pad(p, p, 11 - 7 - secondsOf(micros / 1000000, secondsText).length);
    p = putSeconds(p, micros, secondsText);
    *p++ = ' ';
    p = putDec(p, quint32(f.channel) + 1);
    *p++ = ' ';
    if (!ownForm)
        *p++ = ' ';
    if (f.error) {
        p = putText(p, "ErrorFrame\n");
        commit(p);
        return true;
    }
    char *const idStart = p;
    p = putHex(p, f.id, 1);
    if (f.extended)
        *p++ = 'x';
    if (!ownForm)
        p = pad(p, idStart, 15);
    *p++ = ' ';
    char *const dirStart = p;
    std::memcpy(p, f.tx ? "Tx" : "Rx", 2);
    p += 2;
    if (!ownForm)
        p = pad(p, dirStart, 4);
    *p++ = ' ';
    const int dlc = qMin<int>(f.dlc, 8);
    *p++ = f.remote ? 'r' : 'd';
    *p++ = ' ';
    *p++ = char('0' + dlc);
    if (!f.remote)
        p = putData(p, f.data, dlc, ' ');
    *p++ = '\n';
    commit(p);
    return true;
}

// "// 12 frames dropped": our own reader takes lines of fewer than six fields for no frame, so a
// comment is kept short; a line end inside the text would start a line of its own.
bool AscFrameWriter::putComment(const QByteArray &text)
{
    QByteArray line = "// " + text;
    line.replace('\n', ' ').replace('\r', ' ');
    line += '\n';
    append(line.constData(), line.size());
    return true;
}

void AscFrameWriter::end()
{
    append("End TriggerBlock\n", 17);
}

// -- candump ---------------------------------------------------------------------------------

// "(1436509052.249713) can0 12345678#DEADBEEF", "... 123#R3", "... 123#11 T" for a sent frame
bool CandumpFrameWriter::put(const KvFrame &f)
{
    char *p = reserve(96);
    *p++ = '(';
    p = putSeconds(p, microsOf(startNs + f.timeNs), secondsText);
    p = putText(p, ") can");
    p = putDec(p, f.channel);
    *p++ = ' ';
    const int dlc = qMin<int>(f.dlc, 8);
    if (f.error) {
        p = putHex(p, 0x20000000u | (f.id & 0x1FFFFFFFu), 8);
        *p++ = '#';
        p = putData(p, f.data, dlc, 0);
    } else {
        p = putHex(p, f.id, f.extended ? 8 : 3);
        *p++ = '#';
        if (f.remote) {
            *p++ = 'R';
            if (dlc > 0)
                *p++ = char('0' + dlc);
        } else {
            p = putData(p, f.data, dlc, 0);
        }
    }
    if (f.tx)
        p = putText(p, " T");
    *p++ = '\n';
    commit(p);
    return true;
}

// -- CSV -------------------------------------------------------------------------------------

void CsvFrameWriter::begin()
{
    const char header[] = "Index,Direction,Time-2,Channel,ID,Type,Format,DLC,Data\n";
    append(header, int(sizeof header - 1));
}

// "0,Rx,10:20:30.456.789,0,000001A2,Data,Standard,3,11 22 33"; error frames have no place.
bool CsvFrameWriter::put(const KvFrame &f)
{
    if (f.error)
        return false;
    char *p = reserve(128);
    p = putDec(p, quint64(index++));
    std::memcpy(p, f.tx ? ",Tx," : ",Rx,", 4);
    p += 4;
    const quint64 micros = microsOf(f.timeNs);
    const quint64 seconds = micros / 1000000;
    p = putDec(p, seconds / 3600, 2);
    *p++ = ':';
    p = putDec(p, seconds / 60 % 60, 2);
    *p++ = ':';
    p = putDec(p, seconds % 60, 2);
    *p++ = '.';
    p = putDec(p, micros / 1000 % 1000, 3);
    *p++ = '.';
    p = putDec(p, micros % 1000, 3);
    *p++ = ',';
    p = putDec(p, f.channel);
    *p++ = ',';
    p = putHex(p, f.id, 8);
    if (f.remote)
        p = putText(p, ",Remote,");
    else
        p = putText(p, ",Data,");
    if (f.extended)
        p = putText(p, "Extend,");
    else
        p = putText(p, "Standard,");
    const int dlc = qMin<int>(f.dlc, 8);
    p = putHex(p, quint32(dlc), 1);
    *p++ = ',';
    if (!f.remote) {
        for (int i = 0; i < dlc; ++i) {
            if (i > 0)
                *p++ = ' ';
            p = putHexByte(p, f.data[i]);
        }
    }
    *p++ = '\n';
    commit(p);
    return true;
}

} // namespace kavri
