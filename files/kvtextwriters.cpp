// The text formats of the registry: writers.
#include "kvtextformats_p.h"

#include <QtCore/QDateTime>

#include <cstring>

namespace kavri {

namespace {

const char HexDigits[] = "0123456789ABCDEF";

char *putHexByte(char *p, quint8 b)
{
    p[0] = HexDigits[b >> 4];
    p[1] = HexDigits[b & 15];
    return p + 2;
}

// Upper-case hex, at least `width` digits: (0x1A, 3) -> "01A"
char *putHex(char *p, quint32 v, int width)
{
    char tmp[8];
    int n = 0;
    do {
        tmp[n++] = HexDigits[v & 15];
        v >>= 4;
    } while (v != 0);
    while (n < width)
        tmp[n++] = '0';
    while (n > 0)
        *p++ = tmp[--n];
    return p;
}

char *putDec(char *p, quint64 v, int width = 1)
{
    char tmp[20];
    int n = 0;
    do {
        tmp[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n < width)
        tmp[n++] = '0';
    while (n > 0)
        *p++ = tmp[--n];
    return p;
}

char *putText(char *p, const char *text)
{
    const size_t n = std::strlen(text);
    std::memcpy(p, text, n);
    return p + n;
}

char *pad(char *p, char *from, int width)
{
    while (p - from < width)
        *p++ = ' ';
    return p;
}

// Microseconds to "seconds.micros": 250000 -> "0.250000"
char *putSeconds(char *p, quint64 micros)
{
    p = putDec(p, micros / 1000000);
    *p++ = '.';
    return putDec(p, micros % 1000000, 6);
}

quint64 microsOf(qint64 ns)
{
    return ns > 0 ? quint64(ns / 1000) : 0;
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
    if (!ownForm) {
        char tmp[32];
        char *e = putSeconds(tmp, microsOf(f.timeNs));
        p = pad(p, p, 11 - int(e - tmp));
        std::memcpy(p, tmp, size_t(e - tmp));
        p += e - tmp;
    } else {
        p = putSeconds(p, microsOf(f.timeNs));
    }
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
    p = putText(p, f.tx ? "Tx" : "Rx");
    if (!ownForm)
        p = pad(p, dirStart, 4);
    *p++ = ' ';
    const int dlc = qMin<int>(f.dlc, 8);
    *p++ = f.remote ? 'r' : 'd';
    *p++ = ' ';
    *p++ = char('0' + dlc);
    if (!f.remote) {
        for (int i = 0; i < dlc; ++i) {
            *p++ = ' ';
            p = putHexByte(p, f.data[i]);
        }
    }
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
    p = putSeconds(p, microsOf(startNs + f.timeNs));
    p = putText(p, ") can");
    p = putDec(p, f.channel);
    *p++ = ' ';
    const int dlc = qMin<int>(f.dlc, 8);
    if (f.error) {
        p = putHex(p, 0x20000000u | (f.id & 0x1FFFFFFFu), 8);
        *p++ = '#';
        for (int i = 0; i < dlc; ++i)
            p = putHexByte(p, f.data[i]);
    } else {
        p = putHex(p, f.id, f.extended ? 8 : 3);
        *p++ = '#';
        if (f.remote) {
            *p++ = 'R';
            if (dlc > 0)
                *p++ = char('0' + dlc);
        } else {
            for (int i = 0; i < dlc; ++i)
                p = putHexByte(p, f.data[i]);
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
    p = putText(p, f.tx ? ",Tx," : ",Rx,");
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
    p = putText(p, f.remote ? ",Remote," : ",Data,");
    p = putText(p, f.extended ? "Extend," : "Standard,");
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
