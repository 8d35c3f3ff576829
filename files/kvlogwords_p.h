// Internal to the readers of recordings made by other tools; not installed and not part of the API.
#ifndef KVLOGWORDS_P_H
#define KVLOGWORDS_P_H

#include "kvtextline_p.h"

#include <QtCore/QtGlobal>

// Other tools pad their columns, so their lines are split at runs of white space and every
// number is read strictly: a field that is not exactly the number expected makes the line
// unreadable instead of becoming 0. Parsed by hand, without regular expressions: a replay reads
// millions of lines.
namespace kavri {

// Splits at runs of ASCII white space, ignoring it at both ends: "  1  123 Rx\n" -> "1" "123"
// "Rx". Stores the first N words and returns how many there are in all.
template <int N> int splitWords(const char *data, int size, TextField (&words)[N])
{
    int count = 0;
    int i = 0;
    while (true) {
        while (i < size && isAsciiSpace(data[i]))
            ++i;
        if (i == size)
            return count;
        const int start = i;
        while (i < size && !isAsciiSpace(data[i]))
            ++i;
        if (count < N)
            words[count] = TextField{data + start, i - start};
        ++count;
    }
}

// ASCII letters compared without case: equalsNoCase("Base", "base") -> true
inline bool equalsNoCase(const TextField &field, const char *lower)
{
    int i = 0;
    for (; i < field.size && lower[i] != '\0'; ++i) {
        const char c = field.data[i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != lower[i])
            return false;
    }
    return i == field.size && lower[i] == '\0';
}

// Seconds written as digits, a point and digits, to microseconds, truncating digits beyond the
// sixth after the point: "12.3456789" -> 12345678, "0.0001" -> 100, "7" -> 7000000.
// False for anything else: a sign, an exponent, an empty part ("1." ".5"), and more than twelve
// digits before the point, so that the result and differences of two results fit in 64 bits.
inline bool parseSeconds(const TextField &field, qint64 *micros)
{
    const int maxWholeDigits = 12;
    qint64 whole = 0;
    int i = 0;
    for (; i < field.size && field.data[i] >= '0' && field.data[i] <= '9'; ++i) {
        if (i == maxWholeDigits)
            return false;
        whole = whole * 10 + (field.data[i] - '0');
    }
    if (i == 0)
        return false;
    qint64 fraction = 0;
    if (i < field.size) {
        if (field.data[i] != '.' || i + 1 == field.size)
            return false;
        qint64 scale = 100000;
        for (++i; i < field.size; ++i) {
            const char c = field.data[i];
            if (c < '0' || c > '9')
                return false;
            fraction += (c - '0') * scale;
            scale /= 10;
        }
    }
    *micros = whole * 1000000 + fraction;
    return true;
}

// 1 to 8 hex digits, nothing else: "1A2b" -> 0x1A2B; "", "0x1", "1 2", "123456789" -> false
inline bool parseHex(const TextField &field, quint32 *value)
{
    if (field.size < 1 || field.size > 8)
        return false;
    quint32 v = 0;
    for (int i = 0; i < field.size; ++i) {
        const int digit = hexDigitValue(field.data[i]);
        if (digit < 0)
            return false;
        v = v << 4 | quint32(digit);
    }
    *value = v;
    return true;
}

// 1 to 10 decimal digits, nothing else, at most 2^32 - 1: "291" -> 291; "-1", "4294967296" -> false
inline bool parseDec(const TextField &field, quint32 *value)
{
    if (field.size < 1 || field.size > 10)
        return false;
    quint64 v = 0;
    for (int i = 0; i < field.size; ++i) {
        const char c = field.data[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + quint64(c - '0');
    }
    if (v > 0xFFFFFFFFu)
        return false;
    *value = quint32(v);
    return true;
}

// Microseconds to TimeStamp units of 0.1 ms, the adapter's unit: truncated toward zero, low
// 32 bits (so stamps wrap after about 119 hours, and a negative time wraps below 2^32).
inline quint32 stampUnits(qint64 micros)
{
    return quint32(quint64(micros / 100));
}

} // namespace kavri

#endif // KVLOGWORDS_P_H
