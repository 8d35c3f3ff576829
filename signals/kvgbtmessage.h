#ifndef KVGBTMESSAGE_H
#define KVGBTMESSAGE_H

#include "kavri_global.h"

#include <QtCore/QString>

#include <vector>

// The 22 messages of the GB/T 27930-2015 dialogue between a DC charger (address 0x56) and a
// vehicle's battery management system (address 0xF4), and their decoded form.

enum class KvGbtCode : quint8 {
    Unknown,
    CHM,
    BHM,
    CRM,
    BRM,
    BCP,
    CTS,
    CML,
    BRO,
    CRO,
    BCL,
    BCS,
    CCS,
    BSM,
    BMV,
    BMT,
    BSP,
    BST,
    CST,
    BSD,
    CSD,
    BEM,
    CEM,
};

// The phases of a session, in order; Error is entered when BEM or CEM reports a timeout.
enum class KvGbtPhase : quint8 {
    None,
    Handshake,
    Recognition,
    Configuration,
    Charging,
    Ending,
    Error
};

// What the standard says of one message.
struct KAVRI_EXPORT KvGbtMessageInfo
{
    KvGbtCode code;
    const char *name; // "BCL"
    quint32 pgn;      // 0x001000
    quint8 priority;  // as sent; not part of the match
    quint8 length;    // fixed length; for the transported variable ones the least that decodes
    bool fromBms;     // BMS -> charger, else charger -> BMS
    int periodMs;
    KvGbtPhase phase;

    static constexpr quint8 Charger = 0x56;
    static constexpr quint8 Bms = 0xF4;

    // Every message, in the order of KvGbtCode (Unknown excluded).
    static const KvGbtMessageInfo *all(int *count);
    // nullptr for Unknown or a PGN that is not one of the 22.
    static const KvGbtMessageInfo *of(KvGbtCode code);
    static const KvGbtMessageInfo *ofPgn(quint32 pgn);
    // "BCL"; "" for Unknown.
    static const char *codeName(KvGbtCode code);
    // "handshake", "recognition", "configuration", "charging", "ending", "error"; "" for None.
    static const char *phaseName(KvGbtPhase phase);
    // BRM battery_type: "LiFePO4", "other" (0xFF), "unknown" (not one of the standard's).
    static const char *batteryTypeName(quint32 raw);
    // BCL mode: "constant voltage", "constant current", "unknown".
    static const char *chargeModeName(quint32 raw);
};

// One decoded field. Numbers carry their physical value in `value` (raw x scale + offset, in
// `unit`), enumerations and two-bit status pairs their raw number with its `meaning`; texts
// (versions, ASCII fields, dates) are in `text`. An element of a list (BMV cells, BMT
// temperatures, BSP bytes) has its position in `index`, and within a BMV cell `item` names the
// part ("voltage_v", "group") while `key` names the list ("cells").
struct KAVRI_EXPORT KvGbtField
{
    enum Kind : quint8 { Number, Enumeration, Status, Text };

    const char *key = ""; // the JSON key, "voltage_demand_v"
    const char *item = nullptr;
    const char *unit = "";         // "V", "A", "Ah", "kWh", "°C" (UTF-8), "%", "min", ""
    const char *meaning = nullptr; // "not available", "LiFePO4", "ready" ...
    Kind kind = Number;
    quint8 decimals = 0; // digits after the point that the scale gives
    int index = -1;
    quint32 raw = 0;
    double value = 0;
    QString text;
};
Q_DECLARE_TYPEINFO(KvGbtField, Q_MOVABLE_TYPE);

// A decoded message: where it came from and its fields, in the order the message holds them.
struct KAVRI_EXPORT KvGbtMessage
{
    KvGbtCode code = KvGbtCode::Unknown;
    qint64 time = 0; // microseconds
    int channel = 0;
    quint32 pgn = 0;
    quint8 priority = 0;
    quint8 source = 0;
    quint8 destination = 0xFF;
    bool transported = false;
    bool malformed = false; // shorter than its fixed length; the fields hold what it had
    int size = 0;           // data bytes received
    std::vector<KvGbtField> fields;

    // The field of `key` (the first element for a list); nullptr when absent.
    const KvGbtField *field(const char *key) const;
    // Its value, or `fallback` when absent.
    double value(const char *key, double fallback = qQNaN()) const;
    QString text(const char *key) const;
};

#endif // KVGBTMESSAGE_H
