#ifndef KVGBTSIMULATION_H
#define KVGBTSIMULATION_H

#include "kavri_global.h"

#include <QtCore/QtGlobal>

#include <vector>

// One frame of the simulated dialogue: who sends it and when it is due.
struct KAVRI_EXPORT KvGbtSimFrame
{
    enum Sender : quint8 { Charger, Bms };

    qint64 time = 0; // microseconds from the start of the session
    Sender sender = Charger;
    quint32 id = 0; // 29-bit identifier
    quint8 size = 0;
    quint8 data[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
};
Q_DECLARE_TYPEINFO(KvGbtSimFrame, Q_PRIMITIVE_TYPE);

// A complete DC charging session between a charger (0x56) and a BMS (0xF4), as the frames both
// sides put on the bus, in time order. Pure and deterministic: the same options give the same
// frames, so a test, a recording and a live play on two wired channels see one session.
//
//   0.000 s   handshake: CHM / BHM every 250 ms
//   1.000 s   recognition: CRM 00, BRM (49 bytes by RTS/CTS), CRM AA
//   1.510 s   configuration: BCP (13 bytes by RTS/CTS), CTS and CML, BRO 00 then AA, CRO 00
//             then AA
//   3.500 s   charging, 8 s: BCL and CCS every 50 ms, BCS (9 bytes by RTS/CTS) and BSM every
//             250 ms, BMV and BMT once by BAM; the demand changes at 2 s (100 A -> 150 A) and
//             at 5 s (to 60 A, constant voltage), the output follows it
//  11.500 s   ending: BST (SOC reached) and CST (BMS stopped) every 10 ms, then BSD and CSD
//
// Every transfer is the full dialogue: RTS, CTS, the data packets 2 ms apart, EndOfMsgAck.
// With the fault, the BMS stops sending BCL 3 s into charging; the charger reports it with a
// CEM (BCL timeout) 1 s later and stops with a CST (fault stop).
class KAVRI_EXPORT KvGbtSimulation
{
public:
    struct Options
    {
        bool bclStops = false;
    };

    static constexpr qint64 ChargingStart = 3500000;           // microseconds
    static constexpr qint64 BclStop = ChargingStart + 3000000; // first missing BCL

    static std::vector<KvGbtSimFrame> generate(const Options &options);
    static std::vector<KvGbtSimFrame> generate() { return generate(Options()); }
    // The frames of one side, in order: what one channel of a wired pair transmits.
    static std::vector<KvGbtSimFrame> of(const std::vector<KvGbtSimFrame> &frames,
                                         KvGbtSimFrame::Sender sender);
};

#endif // KVGBTSIMULATION_H
