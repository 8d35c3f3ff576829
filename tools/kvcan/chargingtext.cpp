#include "chargingtext.h"

#include "kvgbtsession.h"

#include <cmath>

namespace chargingtext {
namespace {

QString seconds(qint64 micros)
{
    return QString::number(double(micros) / 1e6, 'f', 6).rightJustified(11);
}

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

QString number(double value, int decimals, const char *unit)
{
    if (std::isnan(value))
        return QStringLiteral("--");
    return QString::number(value, 'f', decimals) + QLatin1Char(' ') + QString::fromUtf8(unit);
}

QString row(const char *name, const QString &value)
{
    return QString::fromLatin1(name).leftJustified(14) + value;
}

} // namespace

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
    const QString code = QString::fromLatin1(KvGbtMessageInfo::codeName(e.code));
    switch (e.kind) {
    case KvGbtEvent::Phase:
        return QStringLiteral("%1 phase %2")
            .arg(seconds(e.time), QString::fromLatin1(KvGbtMessageInfo::phaseName(e.phase)));
    case KvGbtEvent::Timeout:
        return QStringLiteral("%1 timeout %2").arg(seconds(e.time), code);
    case KvGbtEvent::TpError: {
        QString line =
            QStringLiteral("%1 tp_error %2->%3 PGN 0x%4 %5")
                .arg(seconds(e.time), address(e.tpError.source), address(e.tpError.destination),
                     QString::number(e.tpError.pgn, 16).toUpper(),
                     QString::fromLatin1(KvJ1939TpError::reasonName(e.tpError.reason)));
        if (e.tpError.reason == KvJ1939TpError::Abort)
            line += QStringLiteral(" (reason %1)").arg(e.tpError.abortReason);
        return line;
    }
    case KvGbtEvent::Stop: {
        const QString set = fields(e.stop, true);
        return QStringLiteral("%1 stop %2 %3")
            .arg(seconds(e.time), code, set.isEmpty() ? QStringLiteral("(no reason set)") : set);
    }
    }
    return QString();
}

QStringList picture(const KvGbtPicture &p)
{
    static const char *const batteryTypes[] = {"",        "lead-acid",  "NiMH",
                                               "LiFePO4", "LiMn2O4",    "LiCoO2",
                                               "ternary", "Li-polymer", "Li-titanate"};
    QStringList battery;
    if (!p.bmsVersion.isEmpty())
        battery << QStringLiteral("version %1").arg(p.bmsVersion);
    if (p.batteryType > 0 && p.batteryType < 9)
        battery << QString::fromLatin1(batteryTypes[p.batteryType]);
    else if (p.batteryType >= 0)
        battery << QStringLiteral("type %1").arg(p.batteryType);
    if (!std::isnan(p.ratedCapacityAh))
        battery << number(p.ratedCapacityAh, 1, "Ah");
    if (!std::isnan(p.ratedVoltageV))
        battery << number(p.ratedVoltageV, 1, "V");
    if (!p.vin.isEmpty())
        battery << QStringLiteral("VIN %1").arg(p.vin);

    const char *mode = p.chargeMode == 1   ? "constant voltage"
                       : p.chargeMode == 2 ? "constant current"
                                           : "";
    QString demand =
        number(p.demandVoltageV, 1, "V") + QLatin1String("  ") + number(p.demandCurrentA, 1, "A");
    if (*mode)
        demand += QStringLiteral("  (%1)").arg(QLatin1String(mode));
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

    QStringList faults;
    for (const KvGbtMessage *m : {&p.bst, &p.cst, &p.bem, &p.cem}) {
        if (m->code == KvGbtCode::Unknown)
            continue;
        const QString set = fields(*m, true);
        faults << QStringLiteral("%1: %2").arg(
            QString::fromLatin1(KvGbtMessageInfo::codeName(m->code)),
            set.isEmpty() ? QStringLiteral("none set") : set);
    }

    const char *phase = KvGbtMessageInfo::phaseName(p.phase);
    return {row("phase", *phase ? QString::fromLatin1(phase) : QStringLiteral("--")),
            row("battery", battery.isEmpty() ? QStringLiteral("--") : battery.join(", ")),
            row("demand", demand),
            row("output", output),
            row("measured", number(p.measuredVoltageV, 1, "V") + QLatin1String("  ") +
                                number(p.measuredCurrentA, 1, "A")),
            row("SOC", soc),
            row("cell maximum", cell),
            row("temperatures", number(p.minTemperatureC, 0, "°C") + QLatin1String(" to ") +
                                    number(p.maxTemperatureC, 0, "°C")),
            row("stops/faults", faults.isEmpty() ? QStringLiteral("none") : faults.join("; "))};
}

} // namespace chargingtext
