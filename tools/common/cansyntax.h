#ifndef CANSYNTAX_H
#define CANSYNTAX_H

// The command-line forms that users of the common Linux CAN tools already type: frames as cansend
// takes them, identifier filters as candump takes them, and the numbers and durations of options.
// Every parser returns false with a sentence saying why, so a tool can print it as it stands.

#include <QtCore/QString>
#include <QtCore/QVector>

namespace cansyntax {

struct Frame
{
    quint32 id = 0;
    bool extended = false;
    bool remote = false;
    quint8 dlc = 0;
    quint8 data[8] = {};
};

// "123#1122"           -> standard data frame 0x123, 2 bytes
// "18FEF100#01.02"     -> extended data frame (8 digits), bytes separated by dots
// "7DF#R" / "7DF#R3"   -> standard remote frame, DLC 0 / 3
// An identifier has 3 hex digits (standard, at most 7FF) or 8 (extended, at most 1FFFFFFF).
bool parseFrame(const QString &text, Frame &frame, QString &error);

// One identifier condition of a filter, as candump and the range options write them:
//   "100-1FF"  inclusive range        "100"        one identifier
//   "123:7FF"  id & mask == 123 & mask
//   "123~7FF"  id & mask != 123 & mask (inverted)
// A condition written with 8 identifier digits, or with a value above 7FF, applies to extended
// frames only; otherwise it applies to frames of both forms.
struct IdCondition
{
    enum Kind { Range, Mask, InvertedMask };
    Kind kind = Range;
    quint32 first = 0;  // range start, or the identifier of a mask condition
    quint32 second = 0; // range end, or the mask
    bool extendedOnly = false;
    QString text;

    bool matches(quint32 id, bool extended) const;
};
bool parseCondition(const QString &text, IdCondition &condition, QString &error);

// The --only and --not options together: a frame passes when it matches at least one --only
// condition (or none was given) and no --not condition.
struct IdFilter
{
    QVector<IdCondition> only;
    QVector<IdCondition> exclude;

    bool isEmpty() const { return only.isEmpty() && exclude.isEmpty(); }
    bool accepts(quint32 id, bool extended) const;
};

// Plain decimal numbers, optionally fractional where a duration is meant: "1.5" -> 1500 ms.
// "abc", "3s", negatives and values beyond `maxSeconds` are refused.
bool parseSeconds(const QString &text, double maxSeconds, qint64 &msecs, QString &error);
bool parseCount(const QString &text, qint64 min, qint64 max, qint64 &value, QString &error);
// A size with an optional K, M or G (powers of 1024): "100M" -> 104857600.
bool parseSize(const QString &text, qint64 &bytes, QString &error);
// A duration with an optional s, m or h: "10m" -> 600000 ms, "90" -> 90000 ms.
bool parseDuration(const QString &text, qint64 &msecs, QString &error);

// How candump's -t prints a frame's time: a (absolute), d (delta), z (zero-based), A (date).
enum class TimeMode { None, Absolute, Delta, Zero, Date };
bool parseTimeMode(const QString &text, TimeMode &mode, QString &error);

// A line as `candump -l` writes it: "(1436509052.249713) can0 123#1122", "#R3" for remote frames.
QString logLine(qint64 microsSinceEpoch, int channel, const Frame &frame);
// One JSON object per frame, keys time, channel, dir, id, extended, remote, dlc, data.
QString jsonLine(double seconds, int channel, bool tx, const Frame &frame);

} // namespace cansyntax

#endif // CANSYNTAX_H
