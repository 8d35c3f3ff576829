#ifndef KVGBTJSON_H
#define KVGBTJSON_H

#include "kavri_global.h"

#include <QtCore/QByteArray>

struct KvGbtEvent;
struct KvGbtMessage;

// The JSON-lines form of decoded charging messages and session events: one object per line,
// without the line end, keys in a fixed order.
//   {"time":1.250000,"channel":0,"code":"BCL","pgn":4096,"source":244,"destination":86,
//    "fields":{"voltage_demand_v":257.5,"current_demand_a":-100.0,"mode":2}}
//   {"time":3.000000,"event":"phase","phase":"charging"}
//   {"time":5.050000,"event":"timeout","code":"BCL"}
//   {"time":2.000000,"event":"tp_error","source":244,"destination":86,"pgn":4352,
//    "reason":"timeout_t1"}                     (an Abort adds "abort_reason")
//   {"time":9.000000,"event":"stop","code":"BST","fields":{"soc_reached":1,...}}
// Times are seconds with six decimals. Field values are numbers with the digits their scale
// gives (enumerations and status pairs raw), texts are strings; list fields are arrays (BMV
// "cells" an array of {"voltage_v","group"} objects). A malformed message adds
// "malformed":true after its fields.
class KAVRI_EXPORT KvGbtJson
{
public:
    static QByteArray message(const KvGbtMessage &message);
    static QByteArray event(const KvGbtEvent &event);
};

#endif // KVGBTJSON_H
