#include "cansyntax.h"

#include <QtCore/QPair>
#include <QtCore/QStringList>

#include <cmath>

namespace cansyntax {

namespace {

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

QString badCharacter(QChar c, const char *where)
{
    return QStringLiteral("'%1' in the %2 is not a hex digit").arg(c).arg(QLatin1String(where));
}

// Hex digits only, at most 8 of them; false with the reason otherwise.
bool parseHexId(const QString &text, quint32 &value, QString &error)
{
    if (text.isEmpty()) {
        error = QStringLiteral("no identifier");
        return false;
    }
    if (text.size() > 8) {
        error = QStringLiteral("identifier %1 has more than 8 hex digits").arg(text);
        return false;
    }
    value = 0;
    for (QChar c : text) {
        const int v = hexValue(c);
        if (v < 0) {
            error = badCharacter(c, "identifier");
            return false;
        }
        value = value << 4 | quint32(v);
    }
    return true;
}

} // namespace

bool parseFrame(const QString &text, Frame &frame, QString &error)
{
    const int hash = text.indexOf(QLatin1Char('#'));
    if (hash < 0) {
        error = QStringLiteral("no '#' between identifier and data");
        return false;
    }
    const QString idText = text.left(hash);
    QString rest = text.mid(hash + 1);
    if (rest.startsWith(QLatin1Char('#'))) {
        error = QStringLiteral("CAN FD frames (##) are not supported by the adapter");
        return false;
    }
    Frame f;
    if (!parseHexId(idText, f.id, error))
        return false;
    if (idText.size() == 3) {
        if (f.id > 0x7FF) {
            error = QStringLiteral("identifier %1 is too large for a standard frame (at most 7FF)")
                        .arg(idText.toUpper());
            return false;
        }
    } else if (idText.size() == 8) {
        f.extended = true;
        if (f.id > 0x1FFFFFFF) {
            error = QStringLiteral(
                        "identifier %1 is too large for an extended frame (at most 1FFFFFFF)")
                        .arg(idText.toUpper());
            return false;
        }
    } else {
        error = QStringLiteral("the identifier needs 3 hex digits (standard) or 8 (extended), "
                               "not %1")
                    .arg(idText.size());
        return false;
    }

    if (rest.startsWith(QLatin1Char('R')) || rest.startsWith(QLatin1Char('r'))) {
        f.remote = true;
        const QString length = rest.mid(1);
        if (!length.isEmpty()) {
            if (length.size() != 1 || !length.at(0).isDigit()) {
                error = QStringLiteral("remote length '%1' is not a digit from 0 to 8").arg(length);
                return false;
            }
            f.dlc = quint8(length.at(0).digitValue());
            if (f.dlc > 8) {
                error = QStringLiteral("remote length %1 is more than 8").arg(f.dlc);
                return false;
            }
        }
        frame = f;
        return true;
    }

    // Bytes as two hex digits each; one '.' may stand before any byte and at the end.
    int i = 0;
    while (i < rest.size()) {
        if (rest.at(i) == QLatin1Char('.')) {
            ++i;
            if (i == rest.size())
                break;
        }
        if (i + 1 >= rest.size()) {
            error = hexValue(rest.at(i)) < 0
                        ? badCharacter(rest.at(i), "data")
                        : QStringLiteral("odd number of hex digits in the data");
            return false;
        }
        const int high = hexValue(rest.at(i));
        const int low = hexValue(rest.at(i + 1));
        if (high < 0 || low < 0) {
            error = badCharacter(high < 0 ? rest.at(i) : rest.at(i + 1), "data");
            return false;
        }
        if (f.dlc == 8) {
            int bytes = 9;
            for (int j = i + 2; j + 1 < rest.size(); j += 2)
                bytes += rest.at(j) == QLatin1Char('.') ? 0 : 1;
            error = QStringLiteral("%1 data bytes: a frame carries at most 8").arg(bytes);
            return false;
        }
        f.data[f.dlc++] = quint8(high << 4 | low);
        i += 2;
    }
    frame = f;
    return true;
}

bool IdCondition::matches(quint32 id, bool extended) const
{
    if (extendedOnly && !extended)
        return false;
    switch (kind) {
    case Range:
        return id >= first && id <= second;
    case Mask:
        return (id & second) == (first & second);
    case InvertedMask:
        return (id & second) != (first & second);
    }
    return false;
}

bool parseCondition(const QString &text, IdCondition &condition, QString &error)
{
    IdCondition c;
    c.text = text;
    int split = -1;
    for (QChar sep : {QLatin1Char('-'), QLatin1Char(':'), QLatin1Char('~')}) {
        if (text.contains(sep)) {
            split = text.indexOf(sep);
            c.kind = sep == QLatin1Char('-')   ? IdCondition::Range
                     : sep == QLatin1Char(':') ? IdCondition::Mask
                                               : IdCondition::InvertedMask;
            break;
        }
    }
    const QString firstText = split < 0 ? text : text.left(split);
    const QString secondText = split < 0 ? text : text.mid(split + 1);
    if (!parseHexId(firstText, c.first, error) || !parseHexId(secondText, c.second, error)) {
        error = QStringLiteral("bad filter '%1': %2").arg(text, error);
        return false;
    }
    if (c.kind == IdCondition::Range && c.second < c.first) {
        error = QStringLiteral("bad filter '%1': the range is reversed (%2 is below %3)")
                    .arg(text, secondText.toUpper(), firstText.toUpper());
        return false;
    }
    const quint32 largest = c.kind == IdCondition::Range ? c.second : c.first;
    if (largest > 0x1FFFFFFF) {
        error = QStringLiteral("bad filter '%1': identifiers end at 1FFFFFFF").arg(text);
        return false;
    }
    c.extendedOnly = firstText.size() == 8 || largest > 0x7FF;
    condition = c;
    return true;
}

bool IdFilter::accepts(quint32 id, bool extended) const
{
    for (const IdCondition &c : exclude) {
        if (c.matches(id, extended))
            return false;
    }
    if (only.isEmpty())
        return true;
    for (const IdCondition &c : only) {
        if (c.matches(id, extended))
            return true;
    }
    return false;
}

namespace {

// Digits with at most one '.', no sign, no exponent, no unit: what a user means by a number.
bool plainNumber(const QString &text, bool fractional)
{
    if (text.isEmpty())
        return false;
    int dots = 0, digits = 0;
    for (QChar c : text) {
        if (c == QLatin1Char('.'))
            ++dots;
        else if (c.isDigit())
            ++digits;
        else
            return false;
    }
    return digits > 0 && dots <= (fractional ? 1 : 0);
}

} // namespace

bool parseSeconds(const QString &text, double maxSeconds, qint64 &msecs, QString &error)
{
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('-'))) {
        error = QStringLiteral("%1 seconds: the value must not be negative").arg(t);
        return false;
    }
    if (!plainNumber(t, true)) {
        error = QStringLiteral("'%1' is not a number of seconds").arg(text);
        return false;
    }
    const double value = t.toDouble();
    if (!(value <= maxSeconds)) {
        error = QStringLiteral("%1 seconds is more than the %2 allowed").arg(t).arg(maxSeconds);
        return false;
    }
    msecs = qint64(std::llround(value * 1000.0));
    return true;
}

bool parseCount(const QString &text, qint64 min, qint64 max, qint64 &value, QString &error)
{
    const QString t = text.trimmed();
    bool ok = plainNumber(t, false);
    const qint64 v = ok ? t.toLongLong(&ok) : 0;
    if (!ok) {
        error = QStringLiteral("'%1' is not a whole number").arg(text);
        return false;
    }
    if (v < min || v > max) {
        error = QStringLiteral("%1 is outside %2 to %3").arg(v).arg(min).arg(max);
        return false;
    }
    value = v;
    return true;
}

namespace {

// A plain number followed by one of `units` (each with its factor); no unit means factor 1.
bool numberWithUnit(const QString &text, const QVector<QPair<QChar, double>> &units, double &value)
{
    QString t = text.trimmed();
    double factor = 1;
    for (const auto &unit : units) {
        if (t.endsWith(unit.first, Qt::CaseInsensitive)) {
            factor = unit.second;
            t.chop(1);
            break;
        }
    }
    if (!plainNumber(t, true))
        return false;
    value = t.toDouble() * factor;
    return std::isfinite(value) && value <= 9.0e15;
}

} // namespace

bool parseSize(const QString &text, qint64 &bytes, QString &error)
{
    double value = 0;
    if (!numberWithUnit(text,
                        {{QLatin1Char('K'), 1024.0},
                         {QLatin1Char('M'), 1024.0 * 1024},
                         {QLatin1Char('G'), 1024.0 * 1024 * 1024}},
                        value) ||
        value < 1) {
        error = QStringLiteral("'%1' is not a size such as 100M").arg(text);
        return false;
    }
    bytes = qint64(value);
    return true;
}

bool parseDuration(const QString &text, qint64 &msecs, QString &error)
{
    double value = 0;
    if (!numberWithUnit(text,
                        {{QLatin1Char('s'), 1000.0},
                         {QLatin1Char('m'), 60000.0},
                         {QLatin1Char('h'), 3600000.0}},
                        value) ||
        value < 1) {
        error = QStringLiteral("'%1' is not a duration such as 10m").arg(text);
        return false;
    }
    // Without a unit the number is seconds.
    const QString t = text.trimmed();
    msecs = qint64(
        t.isEmpty() || t.back().isDigit() || t.back() == QLatin1Char('.') ? value * 1000.0 : value);
    return true;
}

bool parseTimeMode(const QString &text, TimeMode &mode, QString &error)
{
    static const QString modes = QStringLiteral("adzA");
    if (text.size() != 1 || !modes.contains(text.at(0))) {
        error = QStringLiteral("unknown time stamp mode '%1': use a, d, z or A").arg(text);
        return false;
    }
    const TimeMode all[] = {TimeMode::Absolute, TimeMode::Delta, TimeMode::Zero, TimeMode::Date};
    mode = all[modes.indexOf(text.at(0))];
    return true;
}

namespace {

QString idText(const Frame &frame)
{
    return QStringLiteral("%1")
        .arg(frame.id, frame.extended ? 8 : 3, 16, QLatin1Char('0'))
        .toUpper();
}

QString hexData(const Frame &frame)
{
    if (frame.remote)
        return QString();
    static const char digits[] = "0123456789ABCDEF";
    QString s;
    s.reserve(frame.dlc * 2);
    for (int i = 0; i < frame.dlc && i < 8; ++i) {
        s += QLatin1Char(digits[frame.data[i] >> 4]);
        s += QLatin1Char(digits[frame.data[i] & 0xF]);
    }
    return s;
}

} // namespace

QString logLine(qint64 microsSinceEpoch, int channel, const Frame &frame)
{
    QString payload = hexData(frame);
    if (frame.remote)
        payload = frame.dlc ? QStringLiteral("R%1").arg(frame.dlc) : QStringLiteral("R");
    return QStringLiteral("(%1.%2) can%3 %4#%5")
        .arg(microsSinceEpoch / 1000000)
        .arg(microsSinceEpoch % 1000000, 6, 10, QLatin1Char('0'))
        .arg(channel)
        .arg(idText(frame), payload);
}

QString jsonLine(double seconds, int channel, bool tx, const Frame &frame)
{
    return QStringLiteral("{\"time\": %1, \"channel\": %2, \"dir\": \"%3\", \"id\": %4, "
                          "\"extended\": %5, \"remote\": %6, \"dlc\": %7, \"data\": \"%8\"}")
        .arg(seconds, 0, 'f', 6)
        .arg(channel)
        .arg(tx ? QLatin1String("Tx") : QLatin1String("Rx"))
        .arg(frame.id)
        .arg(frame.extended ? QLatin1String("true") : QLatin1String("false"))
        .arg(frame.remote ? QLatin1String("true") : QLatin1String("false"))
        .arg(frame.dlc)
        .arg(hexData(frame));
}

} // namespace cansyntax
