#ifndef KVJ1939ID_H
#define KVJ1939ID_H

#include "kavri_global.h"

#include <QtCore/QtGlobal>

// The fields of a 29-bit J1939 identifier:
//   priority << 26 | EDP << 25 | DP << 24 | PF << 16 | PS << 8 | SA
// PDU1 (PF below 240) is addressed: PS is the destination and the PGN is EDP, DP and PF with a
// PS of 0. PDU2 (PF 240 and above) is broadcast: PS is part of the PGN and the destination is
// the global address 255.
//   0x1808F456 -> priority 6, PGN 0x000800, destination 0xF4, source 0x56
//   0x18FEF100 -> priority 6, PGN 0x00FEF1, destination 0xFF, source 0x00
struct KAVRI_EXPORT KvJ1939Id
{
    quint8 priority = 6;
    quint32 pgn = 0; // 18 bits
    quint8 source = 0;
    quint8 destination = 0xFF;

    // Bits above the 29th are ignored.
    static KvJ1939Id fromCanId(quint32 id);
    // The identifier back; a PDU1 PGN loses its low byte to the destination, a PDU2 one keeps it
    // and the destination is not sent. Priority is taken modulo 8, the PGN modulo 2^18.
    quint32 canId() const;
    static bool isPdu1(quint32 pgn) { return ((pgn >> 8) & 0xFF) < 0xF0; }
};
Q_DECLARE_TYPEINFO(KvJ1939Id, Q_PRIMITIVE_TYPE);

#endif // KVJ1939ID_H
