#ifndef KVDBCFORMAT_H
#define KVDBCFORMAT_H

#include "kavri_global.h"
#include "kvdbcdatabase.h"

#include <QtCore/QJsonObject>
#include <QtCore/QString>
#include <QtCore/QVector>

// Renders decoded frames for people and for programs; the tools print what these return.
//
// Text: the message and its present signals, a value-table text quoted instead of the number,
// units after numbers:
//   EngineData(EngSpeed: 1200.0 rpm, Gear: 'D')
// JSON: one object per frame:
//   {"time": 12.5, "channel": 0, "id": 256, "extended": false, "message": "EngineData",
//    "signals": {"EngSpeed": 1200, "Gear": 3}, "labels": {"Gear": "D"}}
//
// Decided here:
// - numbers are the shortest text that reads back to the same double, with ".0" on whole
//   numbers so they read as the physical (real) values they are: 1200 -> "1200.0", 0.1 -> "0.1";
// - signals a frame does not carry are left out of both forms;
// - JSON has no text for infinities and NaN (float signals may hold them): they become null.
class KAVRI_EXPORT KvDbcFormat
{
public:
    static QString text(const KvDbcDatabase &db, int message, const QVector<KvDbcValue> &values);
    static QJsonObject json(const KvDbcDatabase &db, int message, const QVector<KvDbcValue> &values,
                            double time, int channel, quint32 id, bool extended);
    // 1200 -> "1200.0", -0.25 -> "-0.25", 1e21 -> "1e+21"
    static QString number(double value);
};

#endif // KVDBCFORMAT_H
