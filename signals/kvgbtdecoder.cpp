#include "kvgbtdecoder.h"

#include "kvj1939transport.h"

namespace {
using C = KvGbtCode;

const char *const Generic[] = {"normal", "set", "untrusted", "not available"};
const char *const Level[] = {"normal", "high", "low", "not available"};
const char *const Fault[] = {"normal", "fault", "untrusted", "not available"};
const char *const Reached[] = {"not reached", "reached", "untrusted", "not available"};
const char *const Timeout[] = {"normal", "timeout", "untrusted", "not available"};
const char *const Allowed[] = {"forbidden", "allowed", "untrusted", "not available"};
const char *const Paused[] = {"paused", "allowed", "untrusted", "not available"};

const char *recognition(quint32 raw)
{
    return raw == 0x00 ? "not recognised" : raw == 0xAA ? "recognised" : "invalid";
}

const char *readiness(quint32 raw)
{
    return raw == 0x00 ? "not ready" : raw == 0xAA ? "ready" : "invalid";
}

const char *ownership(quint32 raw)
{
    return raw == 0 ? "leased" : raw == 1 ? "owned" : "unknown";
}

// Appends the fields of one payload, each only when all its bytes are there.
class Fields
{
public:
    Fields(const quint8 *data, int size, KvGbtMessage &out) : d(data), n(size), m(out) {}

    bool has(int byte, int length) const { return byte - 1 + length <= n; }

    quint32 le(int byte, int length) const
    {
        quint32 v = 0;
        for (int i = length - 1; i >= 0; --i)
            v = v << 8 | d[byte - 1 + i];
        return v;
    }

    // raw x scale + offset, in `unit`.
    void number(const char *key, const char *unit, int byte, int length, double scale = 1,
                double offset = 0, int decimals = 0)
    {
        if (!has(byte, length))
            return;
        const quint32 raw = le(byte, length);
        KvGbtField &f = add(key, KvGbtField::Number, raw);
        f.unit = unit;
        f.value = raw * scale + offset;
        f.decimals = quint8(decimals);
        if (raw == (length == 4 ? 0xFFFFFFFFu : (1u << (8 * length)) - 1))
            f.meaning = "not available";
    }

    void voltage(const char *key, int byte) { number(key, "V", byte, 2, 0.1, 0, 1); }
    void current(const char *key, int byte) { number(key, "A", byte, 2, 0.1, -400, 1); }
    void cellVoltage(const char *key, int byte) { number(key, "V", byte, 2, 0.01, 0, 2); }
    void temperature(const char *key, int byte) { number(key, "°C", byte, 1, 1, -50); }

    void enumeration(const char *key, int byte, const char *(*meaning)(quint32))
    {
        if (!has(byte, 1))
            return;
        KvGbtField &f = add(key, KvGbtField::Enumeration, d[byte - 1]);
        f.meaning = meaning(f.raw);
    }

    // Bits `bit` and `bit`+1 (1 = least significant) of byte `byte`.
    void status(const char *key, int byte, int bit, const char *const meanings[4])
    {
        if (!has(byte, 1))
            return;
        KvGbtField &f = add(key, KvGbtField::Status, (d[byte - 1] >> (bit - 1)) & 0x3);
        f.meaning = meanings[f.raw];
    }

    // One status pair per two bits of `count` pairs from byte `byte` on.
    void statuses(const char *const *keys, int count, int byte, const char *const meanings[4])
    {
        for (int i = 0; i < count; ++i)
            status(keys[i], byte + i / 4, 1 + 2 * (i % 4), meanings);
    }

    void text(const char *key, const QString &value)
    {
        KvGbtField &f = add(key, KvGbtField::Text, 0);
        f.text = value;
    }

    // "1.1" from minor, major low, major high.
    void version(const char *key, int byte)
    {
        if (has(byte, 3))
            text(key, QStringLiteral("%1.%2").arg(le(byte + 1, 2)).arg(d[byte - 1]));
    }

    void ascii(const char *key, int byte, int length)
    {
        if (!has(byte, length))
            return;
        int end = length;
        while (end > 0) {
            const quint8 c = d[byte - 2 + end];
            if (c != 0x00 && c != 0xFF && c != ' ')
                break;
            --end;
        }
        text(key, QString::fromLatin1(reinterpret_cast<const char *>(d + byte - 1), end));
    }

    KvGbtField &add(const char *key, KvGbtField::Kind kind, quint32 raw)
    {
        m.fields.emplace_back();
        KvGbtField &f = m.fields.back();
        f.key = key;
        f.kind = kind;
        f.raw = raw;
        f.value = raw;
        return f;
    }

    const quint8 *d;
    int n;
    KvGbtMessage &m;
};

void decodeBrm(Fields &f)
{
    f.version("version", 1);
    f.enumeration("battery_type", 4, KvGbtMessageInfo::batteryTypeName);
    f.number("rated_capacity_ah", "Ah", 5, 2, 0.1, 0, 1);
    f.voltage("rated_voltage_v", 7);
    f.ascii("manufacturer", 9, 4);
    f.number("pack_number", "", 13, 4);
    if (f.has(17, 3)) {
        f.text("production_date", QStringLiteral("%1-%2-%3")
                                      .arg(1985 + f.d[16], 4, 10, QLatin1Char('0'))
                                      .arg(f.d[17], 2, 10, QLatin1Char('0'))
                                      .arg(f.d[18], 2, 10, QLatin1Char('0')));
    }
    f.number("charge_cycles", "", 20, 3);
    f.enumeration("ownership", 23, ownership);
    f.ascii("vin", 25, 17);
    if (f.has(42, 8)) {
        f.text("bms_software",
               QString::fromLatin1(
                   QByteArray(reinterpret_cast<const char *>(f.d + 41), 8).toHex().toUpper()));
    }
}

void decodeCts(Fields &f)
{
    if (!f.has(1, 7))
        return;
    // Packed BCD read as hex digits: 0x59 -> "59".
    const auto two = [&f](int byte) {
        return QStringLiteral("%1").arg(f.d[byte - 1], 2, 16, QLatin1Char('0')).toUpper();
    };
    f.text("time", two(7) + two(6) + QLatin1Char('-') + two(5) + QLatin1Char('-') + two(4) +
                       QLatin1Char(' ') + two(3) + QLatin1Char(':') + two(2) + QLatin1Char(':') +
                       two(1));
}

void decodeBcs(Fields &f)
{
    f.voltage("measured_voltage_v", 1);
    f.current("measured_current_a", 3);
    if (f.has(5, 2)) {
        const quint32 word = f.le(5, 2);
        KvGbtField &cell = f.add("max_cell_voltage_v", KvGbtField::Number, word & 0xFFF);
        cell.unit = "V";
        cell.value = cell.raw * 0.01;
        cell.decimals = 2;
        f.add("max_cell_group", KvGbtField::Number, word >> 12);
    }
    f.number("soc_percent", "%", 7, 1);
    f.number("remaining_minutes", "min", 8, 2);
}

void decodeBsm(Fields &f)
{
    f.number("max_cell_voltage_number", "", 1, 1, 1, 1);
    f.temperature("max_temperature_c", 2);
    f.number("max_temperature_point", "", 3, 1, 1, 1);
    f.temperature("min_temperature_c", 4);
    f.number("min_temperature_point", "", 5, 1, 1, 1);
    f.status("cell_voltage", 6, 1, Level);
    f.status("soc", 6, 3, Level);
    f.status("over_current", 6, 5, Fault);
    f.status("over_temperature", 6, 7, Fault);
    f.status("insulation", 7, 1, Fault);
    f.status("output_connector", 7, 3, Fault);
    f.status("charging_allowed", 7, 5, Allowed);
}

void decodeBmv(Fields &f)
{
    for (int i = 0; f.has(2 * i + 1, 2); ++i) {
        const quint32 word = f.le(2 * i + 1, 2);
        KvGbtField &voltage = f.add("cells", KvGbtField::Number, word & 0xFFF);
        voltage.item = "voltage_v";
        voltage.index = i;
        voltage.unit = "V";
        voltage.value = voltage.raw * 0.01;
        voltage.decimals = 2;
        KvGbtField &group = f.add("cells", KvGbtField::Number, word >> 12);
        group.item = "group";
        group.index = i;
    }
}

void decodeList(Fields &f, const char *key, const char *unit, double offset)
{
    for (int i = 0; i < f.n; ++i) {
        KvGbtField &e = f.add(key, KvGbtField::Number, f.d[i]);
        e.index = i;
        e.unit = unit;
        e.value = e.raw + offset;
    }
}

void decodeBst(Fields &f)
{
    static const char *const reached[] = {"soc_reached", "total_voltage_reached",
                                          "cell_voltage_reached"};
    static const char *const faults[] = {"insulation_fault",         "connector_over_temperature",
                                         "bms_over_temperature",     "charge_connector_fault",
                                         "battery_over_temperature", "high_voltage_relay_fault",
                                         "check_point_2_fault",      "other_fault"};
    static const char *const errors[] = {"over_current", "voltage_abnormal"};
    f.statuses(reached, 3, 1, Reached);
    f.status("charger_stopped", 1, 7, Generic);
    f.statuses(faults, 8, 2, Fault);
    f.statuses(errors, 2, 4, Fault);
}

void decodeCst(Fields &f)
{
    static const char *const stops[] = {"manual_stop", "fault_stop", "bms_stopped"};
    static const char *const faults[] = {
        "charger_over_temperature", "charge_connector_fault", "charger_internal_over_temperature",
        "energy_not_deliverable",   "emergency_stop",         "other_fault"};
    static const char *const errors[] = {"current_mismatch", "voltage_abnormal"};
    f.status("conditions_reached", 1, 1, Reached);
    for (int i = 0; i < 3; ++i)
        f.status(stops[i], 1, 3 + 2 * i, Generic);
    f.statuses(faults, 6, 2, Fault);
    f.statuses(errors, 2, 4, Fault);
}

void decodeBem(Fields &f)
{
    f.status("crm_00", 1, 1, Timeout);
    f.status("crm_aa", 1, 3, Timeout);
    f.status("cts_cml", 2, 1, Timeout);
    f.status("cro", 2, 3, Timeout);
    f.status("ccs", 3, 1, Timeout);
    f.status("cst", 3, 3, Timeout);
    f.status("csd", 4, 1, Timeout);
}

void decodeCem(Fields &f)
{
    f.status("brm", 1, 1, Timeout);
    f.status("bcp", 2, 1, Timeout);
    f.status("bro", 2, 3, Timeout);
    f.status("bcs", 3, 1, Timeout);
    f.status("bcl", 3, 3, Timeout);
    f.status("bst", 3, 5, Timeout);
    f.status("bsd", 4, 1, Timeout);
}

void decodeFields(KvGbtCode code, Fields &f)
{
    switch (code) {
    case C::Unknown:
        break;
    case C::CHM:
        f.version("version", 1);
        break;
    case C::BHM:
        f.voltage("max_charge_voltage_v", 1);
        break;
    case C::CRM:
        f.enumeration("recognition", 1, recognition);
        f.number("charger_number", "", 2, 4);
        f.ascii("region", 6, 3);
        break;
    case C::BRM:
        decodeBrm(f);
        break;
    case C::BCP:
        f.cellVoltage("max_cell_voltage_v", 1);
        f.current("max_charge_current_a", 3);
        f.number("nominal_energy_kwh", "kWh", 5, 2, 0.1, 0, 1);
        f.voltage("max_charge_voltage_v", 7);
        f.temperature("max_temperature_c", 9);
        f.number("soc_percent", "%", 10, 2, 0.1, 0, 1);
        f.voltage("battery_voltage_v", 12);
        break;
    case C::CTS:
        decodeCts(f);
        break;
    case C::CML:
        f.voltage("max_output_voltage_v", 1);
        f.voltage("min_output_voltage_v", 3);
        f.current("max_output_current_a", 5);
        f.current("min_output_current_a", 7);
        break;
    case C::BRO:
        f.enumeration("bms_ready", 1, readiness);
        break;
    case C::CRO:
        f.enumeration("charger_ready", 1, readiness);
        break;
    case C::BCL:
        f.voltage("voltage_demand_v", 1);
        f.current("current_demand_a", 3);
        f.enumeration("mode", 5, KvGbtMessageInfo::chargeModeName);
        break;
    case C::BCS:
        decodeBcs(f);
        break;
    case C::CCS:
        f.voltage("output_voltage_v", 1);
        f.current("output_current_a", 3);
        f.number("charging_minutes", "min", 5, 2);
        f.status("charging_allowed", 7, 1, Paused);
        break;
    case C::BSM:
        decodeBsm(f);
        break;
    case C::BMV:
        decodeBmv(f);
        break;
    case C::BMT:
        decodeList(f, "temperatures_c", "°C", -50);
        break;
    case C::BSP:
        decodeList(f, "reserved", "", 0);
        break;
    case C::BST:
        decodeBst(f);
        break;
    case C::CST:
        decodeCst(f);
        break;
    case C::BSD:
        f.number("stop_soc_percent", "%", 1, 1);
        f.cellVoltage("min_cell_voltage_v", 2);
        f.cellVoltage("max_cell_voltage_v", 4);
        f.temperature("min_temperature_c", 6);
        f.temperature("max_temperature_c", 7);
        break;
    case C::CSD:
        f.number("charging_minutes", "min", 1, 2);
        f.number("energy_kwh", "kWh", 3, 2, 0.1, 0, 1);
        f.number("charger_number", "", 5, 4);
        break;
    case C::BEM:
        decodeBem(f);
        break;
    case C::CEM:
        decodeCem(f);
        break;
    }
}
} // namespace

void KvGbtDecoder::decodePayload(KvGbtCode code, const quint8 *data, int size, KvGbtMessage &out)
{
    const KvGbtMessageInfo *info = KvGbtMessageInfo::of(code);
    size = data ? qMax(size, 0) : 0;
    out.code = info ? code : KvGbtCode::Unknown;
    out.pgn = info ? info->pgn : 0;
    out.priority = info ? info->priority : 0;
    out.size = size;
    out.malformed = info && size < info->length;
    out.fields.clear();
    Fields fields(data, size, out);
    decodeFields(out.code, fields);
}

bool KvGbtDecoder::decode(const KvJ1939Message &in, int channel, KvGbtMessage &out)
{
    const KvGbtMessageInfo *info = KvGbtMessageInfo::ofPgn(in.pgn);
    if (!info)
        return false;
    const quint8 sender = info->fromBms ? KvGbtMessageInfo::Bms : KvGbtMessageInfo::Charger;
    const quint8 receiver = info->fromBms ? KvGbtMessageInfo::Charger : KvGbtMessageInfo::Bms;
    if (in.source != sender ||
        (in.destination != receiver && !(in.transported && in.destination == 0xFF)))
        return false;
    decodePayload(info->code, in.data, in.size, out);
    out.time = in.time;
    out.channel = channel;
    out.priority = in.priority;
    out.source = in.source;
    out.destination = in.destination;
    out.transported = in.transported;
    return true;
}
