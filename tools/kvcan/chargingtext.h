#ifndef CHARGINGTEXT_H
#define CHARGINGTEXT_H

#include <QtCore/QString>
#include <QtCore/QStringList>

struct KvGbtEvent;
struct KvGbtMessage;
struct KvGbtPicture;

// How kvcan prints charging messages, session events and the session picture for people; the
// JSON form is KvGbtJson's.
namespace chargingtext {

// "   1.250000 ch0 BCL F4->56 voltage_demand_v=257.5 V current_demand_a=-100.0 A mode=2
// (constant current)"
QString message(const KvGbtMessage &message);
// "   3.500000 phase charging", "   7.450000 timeout BCL", "   9.000000 stop BST soc_reached=1",
// "   2.000000 tp_error F4->56 PGN 0x1100 timeout_t1"
QString event(const KvGbtEvent &event);
// The session picture, one aligned line per row: phase, battery, demand, output, SOC, cell
// maximum, temperatures, faults. Values not seen yet read "--".
QStringList picture(const KvGbtPicture &picture);

} // namespace chargingtext

#endif // CHARGINGTEXT_H
