#include "kvgbtmessage.h"

#include <cstring>

namespace {
using C = KvGbtCode;
using P = KvGbtPhase;

// Length is the fixed length; BRM 8 (its mandatory part), BCP 13 and BCS 9 travel by the
// transport protocol; BMV, BMT and BSP may be of any length.
const KvGbtMessageInfo table[] = {
    {C::CHM, "CHM", 0x2600, 6, 3, false, 250, P::Handshake},
    {C::BHM, "BHM", 0x2700, 6, 2, true, 250, P::Handshake},
    {C::CRM, "CRM", 0x0100, 6, 8, false, 250, P::Recognition},
    {C::BRM, "BRM", 0x0200, 7, 8, true, 250, P::Recognition},
    {C::BCP, "BCP", 0x0600, 7, 13, true, 500, P::Configuration},
    {C::CTS, "CTS", 0x0700, 6, 7, false, 500, P::Configuration},
    {C::CML, "CML", 0x0800, 6, 8, false, 250, P::Configuration},
    {C::BRO, "BRO", 0x0900, 4, 1, true, 250, P::Configuration},
    {C::CRO, "CRO", 0x0A00, 4, 1, false, 250, P::Configuration},
    {C::BCL, "BCL", 0x1000, 6, 5, true, 50, P::Charging},
    {C::BCS, "BCS", 0x1100, 7, 9, true, 250, P::Charging},
    {C::CCS, "CCS", 0x1200, 6, 8, false, 50, P::Charging},
    {C::BSM, "BSM", 0x1300, 6, 7, true, 250, P::Charging},
    {C::BMV, "BMV", 0x1500, 7, 0, true, 10000, P::Charging},
    {C::BMT, "BMT", 0x1600, 7, 0, true, 10000, P::Charging},
    {C::BSP, "BSP", 0x1700, 7, 0, true, 10000, P::Charging},
    {C::BST, "BST", 0x1900, 4, 4, true, 10, P::Ending},
    {C::CST, "CST", 0x1A00, 4, 4, false, 10, P::Ending},
    {C::BSD, "BSD", 0x1C00, 6, 7, true, 250, P::Ending},
    {C::CSD, "CSD", 0x1D00, 6, 8, false, 250, P::Ending},
    {C::BEM, "BEM", 0x1E00, 2, 4, true, 250, P::Error},
    {C::CEM, "CEM", 0x1F00, 2, 4, false, 250, P::Error},
};
constexpr int tableSize = int(sizeof table / sizeof table[0]);
static_assert(tableSize == 22, "one row per message");
} // namespace

const KvGbtMessageInfo *KvGbtMessageInfo::all(int *count)
{
    if (count)
        *count = tableSize;
    return table;
}

const KvGbtMessageInfo *KvGbtMessageInfo::of(KvGbtCode code)
{
    const int i = int(code) - 1;
    return i >= 0 && i < tableSize ? &table[i] : nullptr;
}

const KvGbtMessageInfo *KvGbtMessageInfo::ofPgn(quint32 pgn)
{
    // Every PGN of the dialogue is PF << 8 with PF below 0x27: one step of a small table.
    if ((pgn & 0xFF) != 0 || pgn > 0x2700)
        return nullptr;
    static const struct Index
    {
        signed char row[0x28];
        Index()
        {
            std::memset(row, -1, sizeof row);
            for (int i = 0; i < tableSize; ++i)
                row[table[i].pgn >> 8] = static_cast<signed char>(i);
        }
    } index;
    const int row = index.row[pgn >> 8];
    return row >= 0 ? &table[row] : nullptr;
}

const char *KvGbtMessageInfo::codeName(KvGbtCode code)
{
    const KvGbtMessageInfo *info = of(code);
    return info ? info->name : "";
}

const char *KvGbtMessageInfo::batteryTypeName(quint32 raw)
{
    static const char *const names[] = {nullptr,   "lead-acid",  "NiMH",
                                        "LiFePO4", "LiMn2O4",    "LiCoO2",
                                        "ternary", "Li-polymer", "Li-titanate"};
    if (raw >= 1 && raw <= 8)
        return names[raw];
    return raw == 0xFF ? "other" : "unknown";
}

const char *KvGbtMessageInfo::chargeModeName(quint32 raw)
{
    return raw == 1 ? "constant voltage" : raw == 2 ? "constant current" : "unknown";
}

const char *KvGbtMessageInfo::phaseName(KvGbtPhase phase)
{
    switch (phase) {
    case P::None:
        break;
    case P::Handshake:
        return "handshake";
    case P::Recognition:
        return "recognition";
    case P::Configuration:
        return "configuration";
    case P::Charging:
        return "charging";
    case P::Ending:
        return "ending";
    case P::Error:
        return "error";
    }
    return "";
}

const KvGbtField *KvGbtMessage::field(const char *key) const
{
    for (const KvGbtField &f : fields) {
        if (std::strcmp(f.key, key) == 0)
            return &f;
    }
    return nullptr;
}

double KvGbtMessage::value(const char *key, double fallback) const
{
    const KvGbtField *f = field(key);
    return f ? f->value : fallback;
}

QString KvGbtMessage::text(const char *key) const
{
    const KvGbtField *f = field(key);
    return f ? f->text : QString();
}
