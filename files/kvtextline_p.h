// Internal to the text frame-file readers; not installed and not part of the API.
#ifndef KVTEXTLINE_P_H
#define KVTEXTLINE_P_H

#include <QtCore/QFile>
#include <QtCore/QLatin1String>
#include <QtCore/QString>
#include <QtCore/QTime>

#include <cstring>

// The text readers work on the raw bytes of a line. Recordings carry GBK words, which are not
// valid UTF-8: decoded, different words would become the same replacement characters. Numbers
// and times are read exactly as Qt reads them from the UTF-8 decoded text: the common plain
// ASCII forms are parsed here directly (a replay reads millions of lines), and anything else is
// handed to Qt's own parser, so both roads always give Qt's result.
namespace kavri {

inline bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

inline int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A piece of a line: a view of bytes owned by someone else.
struct TextField
{
    const char *data = nullptr;
    int size = 0;

    bool equals(const char *text) const
    {
        const size_t n = std::strlen(text);
        return size_t(size) == n && (n == 0 || std::memcmp(data, text, n) == 0);
    }
    QString toString() const { return QString::fromUtf8(data, size); }
    // Without the ASCII white space at both ends.
    TextField trimmed() const
    {
        TextField t = *this;
        while (t.size > 0 && isAsciiSpace(t.data[0])) {
            ++t.data;
            --t.size;
        }
        while (t.size > 0 && isAsciiSpace(t.data[t.size - 1]))
            --t.size;
        return t;
    }
};

// Splits bytes at every byte for which isSeparator is true, keeping empty fields: n separators
// give n + 1 fields. Stores the first N fields and returns how many there are in all.
template <int N, typename Predicate>
int splitFields(const char *data, int size, Predicate isSeparator, TextField (&fields)[N])
{
    int count = 0;
    int start = 0;
    for (int i = 0; i < size; ++i) {
        if (!isSeparator(data[i]))
            continue;
        if (count < N)
            fields[count] = TextField{data + start, i - start};
        ++count;
        start = i + 1;
    }
    if (count < N)
        fields[count] = TextField{data + start, size - start};
    return count + 1;
}

// One line of a text recording, read into a fixed buffer. A frame line is far shorter than the
// buffer; of a longer line only the start is kept and the rest is read and dropped, so a file of
// endless lines costs no more memory than a short one.
class TextLine
{
public:
    static const int MaxLength = 4095;

    // Reads the next line. A line ends at LF, CR LF or a lone CR; the end becomes one LF that
    // stays in the line, other bytes are kept as they are. False when no byte could be read: end
    // of file, a read error, a file that was not open or has shrunk below the read position.
    bool read(QFile &file)
    {
        length = 0;
        overlong = false;
        if (!file.isOpen())
            return false;
        // Most lines are short: look at a little first, at the most a line can hold then.
        qint64 n = file.peek(buffer, ShortLook);
        if (n <= 0)
            return false;
        int end = findEnd(int(n));
        if (end < 0 && n == ShortLook) {
            n = file.peek(buffer, MaxLength + 1);
            end = findEnd(int(n));
        }
        if (end >= 0 && end < MaxLength) {
            int consumed = end + 1;
            if (buffer[end] == '\r') {
                char next = 0;
                if (end + 1 < n)
                    next = buffer[end + 1];
                else if (file.peek(buffer, end + 2) == end + 2)
                    next = buffer[end + 1];
                if (next == '\n')
                    ++consumed;
                buffer[end] = '\n';
            }
            file.skip(consumed);
            length = end + 1;
            return true;
        }
        if (end < 0 && n <= MaxLength) {
            // The last line, without an end.
            file.skip(n);
            length = int(n);
            return true;
        }
        // Longer than a line may be: keep the start, drop the rest up to and with its end.
        overlong = true;
        length = MaxLength;
        file.skip(MaxLength);
        char rest[MaxLength + 1];
        bool cr = false;
        for (;;) {
            const qint64 m = file.peek(rest, sizeof rest);
            if (m <= 0)
                return true;
            int i = 0;
            if (cr) {
                if (rest[0] == '\n')
                    file.skip(1);
                return true;
            }
            while (i < m && rest[i] != '\n' && rest[i] != '\r')
                ++i;
            if (i == m) {
                file.skip(m);
                continue;
            }
            file.skip(i + 1);
            if (rest[i] == '\n')
                return true;
            cr = true;
        }
    }

    // The line was longer than MaxLength bytes: only its first MaxLength bytes are here.
    bool tooLong() const { return overlong; }
    const char *data() const { return buffer; }
    int size() const { return length; }
    bool isAscii() const
    {
        for (int i = 0; i < length; ++i) {
            if (static_cast<unsigned char>(buffer[i]) >= 0x80)
                return false;
        }
        return true;
    }

private:
    static const int ShortLook = 256;

    int findEnd(int n) const
    {
        for (int i = 0; i < n; ++i) {
            if (buffer[i] == '\n' || buffer[i] == '\r')
                return i;
        }
        return -1;
    }

    char buffer[MaxLength + 1];
    int length = 0;
    bool overlong = false;
};

// QString::toUInt(&ok, 16), 0 when it does not parse:  " 3E8\n" -> 1000, "0x1F" -> 31, "G" -> 0
inline quint32 hexToUInt(const TextField &field)
{
    const TextField t = field.trimmed();
    if (t.size == 0)
        return 0;
    if (t.size <= 8) {
        quint32 value = 0;
        int i = 0;
        for (; i < t.size; ++i) {
            const int digit = hexDigitValue(t.data[i]);
            if (digit < 0)
                break;
            value = value << 4 | quint32(digit);
        }
        if (i == t.size)
            return value;
    }
    return field.toString().toUInt(nullptr, 16);
}

// QString::toUShort(&ok, 10), 0 when it does not parse:  "8" -> 8, "70000" -> 0
inline quint16 decToUShort(const TextField &field)
{
    const TextField t = field.trimmed();
    if (t.size == 0)
        return 0;
    if (t.size <= 4) {
        quint16 value = 0;
        int i = 0;
        for (; i < t.size && t.data[i] >= '0' && t.data[i] <= '9'; ++i)
            value = quint16(value * 10 + (t.data[i] - '0'));
        if (i == t.size)
            return value;
    }
    return field.toString().toUShort(nullptr, 10);
}

// QString::toFloat(&ok):  "0.012345" -> 0.012345f
// Plain decimals of up to 15 digits are exact as an integer over a power of ten, and one
// division of two exact doubles is correctly rounded, as Qt's conversion is; Qt then narrows
// the double to float, and so do we.
inline float decToFloat(const TextField &field, bool *ok)
{
    static const double powersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const TextField t = field.trimmed();
    quint64 mantissa = 0;
    int digits = 0;
    int fractionDigits = -1; // -1: no point seen
    bool plain = t.size > 0;
    for (int i = 0; i < t.size && plain; ++i) {
        const char c = t.data[i];
        if (c >= '0' && c <= '9') {
            mantissa = mantissa * 10 + quint64(c - '0');
            ++digits;
            if (fractionDigits >= 0)
                ++fractionDigits;
        } else if (c == '.' && fractionDigits < 0 && digits > 0) {
            fractionDigits = 0;
        } else {
            plain = false;
        }
    }
    if (plain && digits <= 15 && fractionDigits != 0) {
        *ok = true;
        return float(double(mantissa) / powersOfTen[fractionDigits < 0 ? 0 : fractionDigits]);
    }
    return field.toString().toFloat(ok);
}

// QTime::fromString(text, "hh:mm:ss" + msecSeparator + "z") as milliseconds since midnight, 0
// when it does not parse. Qt reads z as a fraction of a second:
//   "00:00:01:500" -> 1500, "00:00:01:5" -> 1500, "00:00:01:05" -> 1050
inline int msecsSinceMidnight(const TextField &field, char msecSeparator)
{
    const char *s = field.data;
    const auto digit = [s](int i) { return s[i] >= '0' && s[i] <= '9'; };
    const auto number = [s](int i) { return (s[i] - '0') * 10 + (s[i + 1] - '0'); };
    if (field.size >= 10 && field.size <= 12 && s[2] == ':' && s[5] == ':' &&
        s[8] == msecSeparator && digit(0) && digit(1) && digit(3) && digit(4) && digit(6) &&
        digit(7)) {
        int msecs = 0;
        int scale = 100;
        bool digitsOnly = true;
        for (int i = 9; i < field.size; ++i, scale /= 10) {
            digitsOnly = digitsOnly && digit(i);
            msecs += (s[i] - '0') * scale;
        }
        const int hours = number(0), minutes = number(3), seconds = number(6);
        if (digitsOnly && hours < 24 && minutes < 60 && seconds < 60)
            return ((hours * 60 + minutes) * 60 + seconds) * 1000 + msecs;
    }
    const QString format =
        msecSeparator == ':' ? QStringLiteral("hh:mm:ss:z") : QStringLiteral("hh:mm:ss.z");
    const QTime time = QTime::fromString(field.toString(), format);
    return time.isValid() ? time.msecsSinceStartOfDay() : 0;
}

// The first byte of QByteArray::fromHex(text), 0 when there is none. fromHex skips every
// character that is not a hex digit and pairs the digits from the end, so an odd count leaves
// the first digit alone:  "1A" -> 0x1A, "123" -> 0x01, "x7" -> 0x07, "" -> 0
inline quint8 firstHexByte(const TextField &field)
{
    int count = 0;
    int first = 0;
    int second = 0;
    for (int i = 0; i < field.size; ++i) {
        const int digit = hexDigitValue(field.data[i]);
        if (digit < 0)
            continue;
        if (count == 0)
            first = digit;
        else if (count == 1)
            second = digit;
        ++count;
    }
    if (count == 0)
        return 0;
    return quint8(count % 2 ? first : first << 4 | second);
}

} // namespace kavri

#endif // KVTEXTLINE_P_H
