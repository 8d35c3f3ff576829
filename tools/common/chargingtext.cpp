#include "chargingtext.h"

#include "kvgbtsession.h"

#include <cmath>

namespace chargingtext {
namespace {

QString address(quint8 a)
{
    return QString::number(a, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

// "voltage_demand_v=257.5 V", "mode=2 (constant current)", "cells[3].voltage_v=3.45 V"
QString field(const KvGbtField &f)
{
    QString key = QString::fromLatin1(f.key);
    if (f.index >= 0)
        key += QStringLiteral("[%1]").arg(f.index);
    if (f.item)
        key += QLatin1Char('.') + QString::fromLatin1(f.item);
    QString value;
    switch (f.kind) {
    case KvGbtField::Text:
        value = QLatin1Char('"') + f.text + QLatin1Char('"');
        break;
    case KvGbtField::Number:
        value = QString::number(f.value, 'f', f.decimals);
        if (*f.unit)
            value += QLatin1Char(' ') + QString::fromUtf8(f.unit);
        break;
    default:
        value = QString::number(f.raw);
        if (f.meaning)
            value += QStringLiteral(" (%1)").arg(QString::fromUtf8(f.meaning));
    }
    return key + QLatin1Char('=') + value;
}

QString fields(const KvGbtMessage &m, bool setPairsOnly)
{
    QStringList parts;
    for (const KvGbtField &f : m.fields) {
        if (!setPairsOnly || (f.kind == KvGbtField::Status && f.raw == 1))
            parts << (setPairsOnly ? QString::fromLatin1(f.key) : field(f));
    }
    return parts.join(setPairsOnly ? QLatin1String(", ") : QLatin1String(" "));
}

// "3.30", "--" for a value not seen (or cut off a short message).
QString bare(double value, int decimals)
{
    return std::isnan(value) ? QStringLiteral("--") : QString::number(value, 'f', decimals);
}

QString number(double value, int decimals, const char *unit)
{
    if (std::isnan(value))
        return QStringLiteral("--");
    return bare(value, decimals) + QLatin1Char(' ') + QString::fromUtf8(unit);
}

// "BST: soc_reached, other_fault", "CEM: none set", "" before the message came.
QString setPairs(const KvGbtMessage &m)
{
    if (m.code == KvGbtCode::Unknown)
        return QString();
    const QString set = fields(m, true);
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(KvGbtMessageInfo::codeName(m.code)),
                                        set.isEmpty() ? QStringLiteral("none set") : set);
}

QString either(const QStringList &parts, const QString &separator = QStringLiteral(", "))
{
    return parts.isEmpty() ? QStringLiteral("--") : parts.join(separator);
}

// "charger 1.1, BMS 1.1"
QString versions(const KvGbtPicture &p)
{
    QStringList parts;
    if (!p.chargerVersion.isEmpty())
        parts << QStringLiteral("charger %1").arg(p.chargerVersion);
    if (!p.bmsVersion.isEmpty())
        parts << QStringLiteral("BMS %1").arg(p.bmsVersion);
    return either(parts);
}

// "BMS 420.0 V -200.0 A, charger 750.0 V -250.0 A": the most each side can take or give.
QString limits(const KvGbtPicture &p)
{
    QStringList parts;
    if (!std::isnan(p.maxChargeVoltageV) || !std::isnan(p.maxChargeCurrentA))
        parts << QStringLiteral("BMS %1 %2")
                     .arg(number(p.maxChargeVoltageV, 1, "V"), number(p.maxChargeCurrentA, 1, "A"));
    if (!std::isnan(p.chargerMaxVoltageV) || !std::isnan(p.chargerMaxCurrentA))
        parts << QStringLiteral("charger %1 %2")
                     .arg(number(p.chargerMaxVoltageV, 1, "V"),
                          number(p.chargerMaxCurrentA, 1, "A"));
    return either(parts);
}

// The two-bit pairs of CCS and BSM: "charger allowed, BMS forbidden".
QString allowed(const KvGbtPicture &p)
{
    QStringList parts;
    if (p.chargerAllowed >= 0)
        parts << QStringLiteral("charger %1")
                     .arg(p.chargerAllowed == 1   ? "allowed"
                          : p.chargerAllowed == 0 ? "paused"
                                                  : "unknown");
    if (p.bmsAllowed >= 0)
        parts << QStringLiteral("BMS %1").arg(p.bmsAllowed == 1   ? "allowed"
                                              : p.bmsAllowed == 0 ? "forbidden"
                                                                  : "unknown");
    return either(parts);
}

// "BSD: SOC 95 %, cells 3.30-3.45 V, 25 to 31 °C; CSD: 42 min, 35.2 kWh"
QString statistics(const KvGbtPicture &p)
{
    QStringList parts;
    if (p.bsd.code != KvGbtCode::Unknown)
        parts << QStringLiteral("BSD: SOC %1, cells %2-%3, %4 to %5")
                     .arg(number(p.bsd.value("stop_soc_percent"), 0, "%"),
                          bare(p.bsd.value("min_cell_voltage_v"), 2),
                          number(p.bsd.value("max_cell_voltage_v"), 2, "V"),
                          number(p.bsd.value("min_temperature_c"), 0, "°C"),
                          number(p.bsd.value("max_temperature_c"), 0, "°C"));
    if (p.csd.code != KvGbtCode::Unknown)
        parts << QStringLiteral("CSD: %1, %2")
                     .arg(number(p.csd.value("charging_minutes"), 0, "min"),
                          number(p.csd.value("energy_kwh"), 1, "kWh"));
    return either(parts, QStringLiteral("; "));
}

} // namespace

QString seconds(qint64 micros)
{
    return QString::number(double(micros) / 1e6, 'f', 6).rightJustified(11);
}

QString message(const KvGbtMessage &m)
{
    QString line = QStringLiteral("%1 ch%2 %3 %4->%5")
                       .arg(seconds(m.time))
                       .arg(m.channel)
                       .arg(QString::fromLatin1(KvGbtMessageInfo::codeName(m.code)))
                       .arg(address(m.source), address(m.destination));
    const QString text = fields(m, false);
    if (!text.isEmpty())
        line += QLatin1Char(' ') + text;
    if (m.malformed)
        line += QStringLiteral(" (malformed, %1 bytes)").arg(m.size);
    return line;
}

QString event(const KvGbtEvent &e)
{
    return seconds(e.time) + QLatin1Char(' ') + eventText(e);
}

QString eventText(const KvGbtEvent &e)
{
    const QString code = QString::fromLatin1(KvGbtMessageInfo::codeName(e.code));
    switch (e.kind) {
    case KvGbtEvent::Phase:
        return QStringLiteral("phase %1")
            .arg(QString::fromLatin1(KvGbtMessageInfo::phaseName(e.phase)));
    case KvGbtEvent::Timeout:
        return QStringLiteral("timeout %1").arg(code);
    case KvGbtEvent::TpError: {
        QString line = QStringLiteral("tp_error %1->%2 PGN 0x%3 %4")
                           .arg(address(e.tpError.source), address(e.tpError.destination),
                                QString::number(e.tpError.pgn, 16).toUpper(),
                                QString::fromLatin1(KvJ1939TpError::reasonName(e.tpError.reason)));
        if (e.tpError.reason == KvJ1939TpError::Abort)
            line += QStringLiteral(" (reason %1)").arg(e.tpError.abortReason);
        return line;
    }
    case KvGbtEvent::Stop: {
        const QString set = fields(e.stop, true);
        return QStringLiteral("stop %1 %2")
            .arg(code, set.isEmpty() ? QStringLiteral("(no reason set)") : set);
    }
    }
    return QString();
}

QVector<Row> pictureRows(const KvGbtPicture &p)
{
    QStringList battery;
    if (p.batteryType >= 0)
        battery << QString::fromLatin1(KvGbtMessageInfo::batteryTypeName(quint32(p.batteryType)));
    if (!std::isnan(p.ratedCapacityAh))
        battery << number(p.ratedCapacityAh, 1, "Ah");
    if (!std::isnan(p.ratedVoltageV))
        battery << number(p.ratedVoltageV, 1, "V");
    if (!p.vin.isEmpty())
        battery << QStringLiteral("VIN %1").arg(p.vin);

    QString demand =
        number(p.demandVoltageV, 1, "V") + QLatin1String("  ") + number(p.demandCurrentA, 1, "A");
    if (p.chargeMode >= 0)
        demand += QStringLiteral("  (%1)").arg(
            QLatin1String(KvGbtMessageInfo::chargeModeName(quint32(p.chargeMode))));
    QString output =
        number(p.outputVoltageV, 1, "V") + QLatin1String("  ") + number(p.outputCurrentA, 1, "A");
    if (p.chargerAllowed == 0)
        output += QLatin1String("  (paused)");

    QString cell = number(p.maxCellVoltageV, 2, "V");
    if (p.maxCellGroup >= 0)
        cell += QStringLiteral(" (group %1)").arg(p.maxCellGroup);
    QString soc = number(p.socPercent, 0, "%");
    if (!std::isnan(p.remainingMinutes))
        soc += QStringLiteral("  (%1 min left)").arg(p.remainingMinutes);

    QStringList stops, errors;
    for (const KvGbtMessage *m : {&p.bst, &p.cst})
        if (m->code != KvGbtCode::Unknown)
            stops << setPairs(*m);
    for (const KvGbtMessage *m : {&p.bem, &p.cem})
        if (m->code != KvGbtCode::Unknown)
            errors << setPairs(*m);

    const char *phase = KvGbtMessageInfo::phaseName(p.phase);
    return {
        {QStringLiteral("phase"), *phase ? QString::fromLatin1(phase) : QStringLiteral("--")},
        {QStringLiteral("versions"), versions(p)},
        {QStringLiteral("battery"), either(battery)},
        {QStringLiteral("limits"), limits(p)},
        {QStringLiteral("demand"), demand},
        {QStringLiteral("output"), output},
        {QStringLiteral("measured"), number(p.measuredVoltageV, 1, "V") + QLatin1String("  ") +
                                         number(p.measuredCurrentA, 1, "A")},
        {QStringLiteral("SOC"), soc},
        {QStringLiteral("cell maximum"), cell},
        {QStringLiteral("temperatures"), number(p.minTemperatureC, 0, "°C") +
                                             QLatin1String(" to ") +
                                             number(p.maxTemperatureC, 0, "°C")},
        {QStringLiteral("allowed"), allowed(p)},
        {QStringLiteral("stops"), stops.isEmpty() ? QStringLiteral("none") : stops.join("; ")},
        {QStringLiteral("errors"), errors.isEmpty() ? QStringLiteral("none") : errors.join("; ")},
        {QStringLiteral("statistics"), statistics(p)}};
}

QStringList picture(const KvGbtPicture &p)
{
    QStringList lines;
    for (const Row &row : pictureRows(p))
        lines << row.first.leftJustified(14) + row.second;
    return lines;
}

} // namespace chargingtext
