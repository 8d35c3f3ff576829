#ifndef CHARGINGTEXT_H
#define CHARGINGTEXT_H

#include <QtCore/QPair>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVector>

struct KvGbtEvent;
struct KvGbtMessage;
struct KvGbtPicture;

// How the tools word charging messages, session events and the session picture for people, so
// that the terminal and the window say the same thing; the JSON form is KvGbtJson's.
namespace chargingtext {

// "   1.250000 ch0 BCL F4->56 voltage_demand_v=257.5 V current_demand_a=-100.0 A mode=2
// (constant current)"
QString message(const KvGbtMessage &message);
// "   3.500000 phase charging", "   7.450000 timeout BCL", "   9.000000 stop BST soc_reached",
// "   2.000000 tp_error F4->56 PGN 0x1100 timeout_t1"
QString event(const KvGbtEvent &event);
// The same without the time: "phase charging", "timeout BCL".
QString eventText(const KvGbtEvent &event);
// "   1.250000": seconds with microseconds, right-aligned.
QString seconds(qint64 micros);

// The session picture as (row name, value) pairs, in this order: phase, versions, battery,
// limits, demand, output, measured, SOC, cell maximum, temperatures, allowed, stops, errors,
// statistics. Values not seen yet read "--".
using Row = QPair<QString, QString>;
QVector<Row> pictureRows(const KvGbtPicture &picture);
// The rows as aligned lines: "SOC           80 %  (12 min left)".
QStringList picture(const KvGbtPicture &picture);

} // namespace chargingtext

#endif // CHARGINGTEXT_H
