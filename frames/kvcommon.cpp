#include "kvcommon.h"

#include <QtCore/QByteArray>

#include <cstdint>
#include <ctime>

namespace kavri {

char MSB(short v)
{
    return static_cast<char>(v >> 8);
}

char LSB(short v)
{
    return static_cast<char>(v & 0xFF);
}

QString gToUtf8(QString text)
{
    Q_UNUSED(text);
    return QString();
}

static int idShift(int type)
{
    return type == 1 ? 3 : 21;
}

// Eight upper-case hexadecimal digits of a 32-bit word.
static QString hex8(quint32 word)
{
    return QString::asprintf("%08X", word);
}

QString getCanIdFromLL(int type, long long value)
{
    return hex8(static_cast<quint32>(value >> idShift(type)));
}

QString toCanIdFromLL(int type, long long id)
{
    const quint32 low = static_cast<quint32>(id);
    return hex8(static_cast<quint32>(quint64(low) << idShift(type)));
}

QString getCanCodeFromLL(long long code)
{
    return hex8(static_cast<quint32>(code));
}

QString toCanCodeFromLL(long long code)
{
    return getCanCodeFromLL(code);
}

int chartoint(unsigned char c, unsigned char *out)
{
    if (c >= '0' && c <= '9')
        *out = c - '0';
    else if (c >= 'A' && c <= 'F')
        *out = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
        *out = c - 'a' + 10;
    else
        return 1;
    return 0;
}

int strtodata(unsigned char *text, unsigned char *out, int count, int mode)
{
    const int step = mode == 1 ? 3 : 2;
    int p = 0;
    for (int i = 0; i < count; ++i, p += step) {
        unsigned char high = 0;
        unsigned char low = 0;
        if (chartoint(text[p], &high) != 0)
            return 1;
        out[i] = high;
        if (chartoint(text[p + 1], &low) != 0)
            return 1;
        out[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return 0;
}

QBitArray chartoBitArray(unsigned char c)
{
    QBitArray bits(8);
    for (int i = 0; i < 8; ++i)
        bits.setBit(i, (c >> i) & 1);
    return bits;
}

int gettimeofday(struct timeval *tv, void *zone)
{
    Q_UNUSED(zone);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    // Back from the broken-down local time, letting the conversion decide daylight saving.
    local.tm_isdst = -1;
    const time_t seconds = mktime(&local);
    tv->tv_sec = static_cast<int32_t>(seconds);
    tv->tv_usec = (now.tv_nsec / 1000000) * 1000;
    return 0;
}

void gUsleep(int microseconds)
{
    struct timeval start;
    kavri::gettimeofday(&start, nullptr);
    for (;;) {
        struct timeval now;
        kavri::gettimeofday(&now, nullptr);
        // Signed 32-bit arithmetic, wrapping like the clock's own seconds field.
        const uint32_t secs = uint32_t(int32_t(now.tv_sec)) - uint32_t(int32_t(start.tv_sec));
        const uint32_t ms = secs * 1000u + uint32_t(now.tv_usec / 1000);
        const int32_t elapsed = int32_t(ms * 1000u - uint32_t(start.tv_usec));
        if (elapsed >= microseconds)
            return;
    }
}

QString gSettleTime(QString direction, QString timeText, int baseTime)
{
    bool ok = false;
    const qint32 value = static_cast<qint32>(timeText.toUInt(&ok, 16));
    if (direction != QLatin1String("Rx"))
        return timeText;
    const QString digits = QString::number(value);

    const int seconds = value / 10000 - baseTime / 10000;
    const int dayTime = ((seconds % 86400) + 86400) % 86400;
    QString text =
        QString::asprintf("%02d:%02d:%02d.", dayTime / 3600, dayTime / 60 % 60, dayTime % 60);
    if (value == baseTime) {
        text += QLatin1String("000.0");
    } else {
        const int start = qMax(0, digits.length() - 4);
        text += digits.mid(start, digits.length() - 1 - start);
        text += QLatin1Char('.');
        text += digits.right(1);
    }
    return text;
}

void incData(CanObj &frame, int index, bool &carry)
{
    if (!carry || index < 0 || index > 7)
        return;
    for (int j = index; j < 8; ++j) {
        if (frame.Data[j] != 0xFF) {
            ++frame.Data[j];
            carry = false;
            return;
        }
        if (frame.DataLen <= j + 1) {
            for (quint8 &byte : frame.Data)
                byte = 0;
            carry = false;
            return;
        }
    }
}

} // namespace kavri
