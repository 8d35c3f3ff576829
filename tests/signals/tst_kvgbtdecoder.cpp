// The 22 charging messages, encoded by hand from the protocol's tables, decoded to their fields.
#include "kvgbtdecoder.h"
#include "kvj1939transport.h"

#include <QtTest/QtTest>

namespace {
KvGbtCode codeOf(const QString &name)
{
    int count = 0;
    const KvGbtMessageInfo *all = KvGbtMessageInfo::all(&count);
    for (int i = 0; i < count; ++i) {
        if (name == QLatin1String(all[i].name))
            return all[i].code;
    }
    return KvGbtCode::Unknown;
}

// "key=value unit(meaning)" per field, lists as key[i] or key[i].item, texts quoted:
//   voltage_demand_v=257.5V current_demand_a=100.0A mode=2(constant current)
QString render(const KvGbtMessage &m)
{
    QStringList parts;
    if (m.malformed)
        parts << QStringLiteral("malformed");
    for (const KvGbtField &f : m.fields) {
        QString key = QString::fromUtf8(f.key);
        if (f.index >= 0)
            key += QStringLiteral("[%1]").arg(f.index);
        if (f.item)
            key += QLatin1Char('.') + QString::fromUtf8(f.item);
        QString value;
        if (f.kind == KvGbtField::Text)
            value = QLatin1Char('"') + f.text + QLatin1Char('"');
        else if (f.kind == KvGbtField::Number)
            value = QString::number(f.value, 'f', f.decimals) + QString::fromUtf8(f.unit);
        else
            value = QString::number(f.raw);
        if (f.meaning)
            value += QStringLiteral("(%1)").arg(QString::fromUtf8(f.meaning));
        parts << key + QLatin1Char('=') + value;
    }
    return parts.join(QLatin1Char(' '));
}
} // namespace

class tst_KvGbtDecoder : public QObject
{
    Q_OBJECT
private slots:
    void table();
    void messages_data();
    void messages();
    void addresses_data();
    void addresses();
};

void tst_KvGbtDecoder::table()
{
    // Identifiers of the protocol's table, rebuilt from PGN, priority and direction.
    int count = 0;
    const KvGbtMessageInfo *all = KvGbtMessageInfo::all(&count);
    QCOMPARE(count, 22);
    QCOMPARE(KvGbtMessageInfo::ofPgn(0x1000)->code, KvGbtCode::BCL);
    QVERIFY(!KvGbtMessageInfo::ofPgn(0x1400));
    QVERIFY(!KvGbtMessageInfo::ofPgn(0x1001));
    QVERIFY(!KvGbtMessageInfo::ofPgn(0x11000));
    const quint32 cml = quint32(all[6].priority) << 26 | all[6].pgn << 8 | 0xF4 << 8 | 0x56;
    QCOMPARE(QString::fromLatin1(all[6].name), QStringLiteral("CML"));
    QCOMPARE(cml, 0x1808F456u);
}

void tst_KvGbtDecoder::messages_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *code, const char *payload,
                        const QString &expected) {
        QTest::newRow(name) << QString::fromLatin1(code) << QString::fromLatin1(payload)
                            << expected;
    };

    row("CHM 1.1", "CHM", "01 01 00", "version=\"1.1\"");
    row("CHM all ones", "CHM", "FF FF FF", "version=\"65535.255\"");
    row("CHM longer, extra ignored", "CHM", "01 01 00 FF FF", "version=\"1.1\"");
    row("BHM 750 V", "BHM", "4C 1D", "max_charge_voltage_v=750.0V");
    row("BHM minimum", "BHM", "00 00", "max_charge_voltage_v=0.0V");
    row("BHM not available", "BHM", "FF FF", "max_charge_voltage_v=6553.5V(not available)");
    row("CRM recognised", "CRM", "AA 01 00 00 00 42 4A 31",
        "recognition=170(recognised) charger_number=1 region=\"BJ1\"");
    row("CRM not recognised, no region", "CRM", "00 FF FF FF FF FF FF FF",
        "recognition=0(not recognised) charger_number=4294967295(not available) region=\"\"");
    row("CRM short", "CRM", "AA 01 00 00 00",
        "malformed recognition=170(recognised) charger_number=1");
    const QString brm8 = QStringLiteral("version=\"1.1\" battery_type=3(LiFePO4) "
                                        "rated_capacity_ah=150.0Ah rated_voltage_v=350.0V");
    const QString brm23 = brm8 + QStringLiteral(" manufacturer=\"KVRI\" pack_number=1 "
                                                "production_date=\"2024-03-15\" "
                                                "charge_cycles=120 ownership=1(owned)");
    row("BRM mandatory part", "BRM", "01 01 00 03 DC 05 AC 0D", brm8);
    row("BRM up to the ownership", "BRM",
        "01 01 00 03 DC 05 AC 0D 4B 56 52 49 01 00 00 00 27 03 0F 78 00 00 01", brm23);
    row("BRM full, 49 bytes", "BRM",
        "01 01 00 03 DC 05 AC 0D 4B 56 52 49 01 00 00 00 27 03 0F 78 00 00 01 FF "
        "4C 4B 56 52 49 30 30 30 30 53 49 4D 30 30 30 30 31 12 34 56 78 9A BC DE F0",
        brm23 + QStringLiteral(" vin=\"LKVRI0000SIM00001\" bms_software=\"123456789ABCDEF0\""));
    row("BRM VIN cut short", "BRM",
        "01 01 00 03 DC 05 AC 0D 4B 56 52 49 01 00 00 00 27 03 0F 78 00 00 01 FF 4C 4B", brm23);
    row("BRM other battery, 7 bytes", "BRM", "01 01 00 FF DC 05 AC",
        "malformed version=\"1.1\" battery_type=255(other) rated_capacity_ah=150.0Ah");
    row("BCP", "BCP", "A4 01 D0 07 58 02 68 10 69 90 01 42 0E",
        "max_cell_voltage_v=4.20V max_charge_current_a=-200.0A nominal_energy_kwh=60.0kWh "
        "max_charge_voltage_v=420.0V max_temperature_c=55°C soc_percent=40.0% "
        "battery_voltage_v=365.0V");
    row("BCP minimum", "BCP", "00 00 00 00 00 00 00 00 00 00 00 00 00",
        "max_cell_voltage_v=0.00V max_charge_current_a=-400.0A nominal_energy_kwh=0.0kWh "
        "max_charge_voltage_v=0.0V max_temperature_c=-50°C soc_percent=0.0% "
        "battery_voltage_v=0.0V");
    row("BCP single frame of 8", "BCP", "A4 01 D0 07 58 02 68 10",
        "malformed max_cell_voltage_v=4.20V max_charge_current_a=-200.0A "
        "nominal_energy_kwh=60.0kWh max_charge_voltage_v=420.0V");
    row("CTS", "CTS", "00 00 10 05 12 26 20", "time=\"2026-12-05 10:00:00\"");
    row("CTS latest", "CTS", "59 59 23 31 12 99 20", "time=\"2099-12-31 23:59:59\"");
    row("CTS short", "CTS", "59 59 23 31 12 99", "malformed");
    row("CML", "CML", "4C 1D D0 07 DC 05 A0 0F",
        "max_output_voltage_v=750.0V min_output_voltage_v=200.0V "
        "max_output_current_a=-250.0A min_output_current_a=0.0A");
    row("BRO ready", "BRO", "AA", "bms_ready=170(ready)");
    row("BRO not ready", "BRO", "00", "bms_ready=0(not ready)");
    row("BRO invalid", "BRO", "FF", "bms_ready=255(invalid)");
    row("BRO empty", "BRO", "", "malformed");
    row("CRO ready", "CRO", "AA", "charger_ready=170(ready)");
    row("BCL", "BCL", "0F 0A 88 13 02",
        "voltage_demand_v=257.5V current_demand_a=100.0A mode=2(constant current)");
    row("BCL charging 375 A, constant voltage", "BCL", "68 10 FA 00 01",
        "voltage_demand_v=420.0V current_demand_a=-375.0A mode=1(constant voltage)");
    row("BCL not available", "BCL", "FF FF FF FF FF",
        "voltage_demand_v=6553.5V(not available) current_demand_a=6153.5A(not available) "
        "mode=255(unknown)");
    row("BCL three bytes", "BCL", "0F 0A 88", "malformed voltage_demand_v=257.5V");
    row("BCS", "BCS", "E8 0E 60 0F 5A 21 50 1E 00",
        "measured_voltage_v=381.6V measured_current_a=-6.4A max_cell_voltage_v=3.46V "
        "max_cell_group=2 soc_percent=80% remaining_minutes=30min");
    row("BCS all ones", "BCS", "FF FF FF FF FF FF FF FF FF",
        "measured_voltage_v=6553.5V(not available) measured_current_a=6153.5A(not available) "
        "max_cell_voltage_v=40.95V max_cell_group=15 soc_percent=255%(not available) "
        "remaining_minutes=65535min(not available)");
    row("BCS empty", "BCS", "", "malformed");
    row("CCS", "CCS", "D4 0E 3C 0F 05 00 FD FF",
        "output_voltage_v=379.6V output_current_a=-10.0A charging_minutes=5min "
        "charging_allowed=1(allowed)");
    row("CCS paused", "CCS", "00 00 A0 0F 00 00 FC FF",
        "output_voltage_v=0.0V output_current_a=0.0A charging_minutes=0min "
        "charging_allowed=0(paused)");
    row("BSM", "BSM", "04 55 02 4E 00 00 D0",
        "max_cell_voltage_number=5 max_temperature_c=35°C max_temperature_point=3 "
        "min_temperature_c=28°C min_temperature_point=1 cell_voltage=0(normal) soc=0(normal) "
        "over_current=0(normal) over_temperature=0(normal) insulation=0(normal) "
        "output_connector=0(normal) charging_allowed=1(allowed)");
    row("BSM each pair its own bits", "BSM", "00 00 00 00 00 E4 E4",
        "max_cell_voltage_number=1 max_temperature_c=-50°C max_temperature_point=1 "
        "min_temperature_c=-50°C min_temperature_point=1 cell_voltage=0(normal) soc=1(high) "
        "over_current=2(untrusted) over_temperature=3(not available) insulation=0(normal) "
        "output_connector=1(fault) charging_allowed=2(untrusted)");
    row("BMV two cells", "BMV", "54 11 56 21",
        "cells[0].voltage_v=3.40V cells[0].group=1 cells[1].voltage_v=3.42V cells[1].group=2");
    row("BMV odd byte ignored", "BMV", "54 11 56", "cells[0].voltage_v=3.40V cells[0].group=1");
    row("BMT", "BMT", "4B 00 FF",
        "temperatures_c[0]=25°C temperatures_c[1]=-50°C temperatures_c[2]=205°C");
    row("BSP", "BSP", "01 02", "reserved[0]=1 reserved[1]=2");
    const QString bstNormal =
        QStringLiteral("insulation_fault=0(normal) connector_over_temperature=0(normal) "
                       "bms_over_temperature=0(normal) charge_connector_fault=0(normal) "
                       "battery_over_temperature=0(normal) high_voltage_relay_fault=0(normal) "
                       "check_point_2_fault=0(normal) other_fault=0(normal) over_current=0(normal) "
                       "voltage_abnormal=0(normal)");
    row("BST SOC reached", "BST", "01 00 00 F0",
        "soc_reached=1(reached) total_voltage_reached=0(not reached) "
        "cell_voltage_reached=0(not reached) charger_stopped=0(normal) " +
            bstNormal);
    row("BST each pair its own bits", "BST", "E4 1B E4 F4",
        "soc_reached=0(not reached) total_voltage_reached=1(reached) "
        "cell_voltage_reached=2(untrusted) charger_stopped=3(not available) "
        "insulation_fault=3(not available) connector_over_temperature=2(untrusted) "
        "bms_over_temperature=1(fault) charge_connector_fault=0(normal) "
        "battery_over_temperature=0(normal) high_voltage_relay_fault=1(fault) "
        "check_point_2_fault=2(untrusted) other_fault=3(not available) over_current=0(normal) "
        "voltage_abnormal=1(fault)");
    row("BST two bytes", "BST", "01 00",
        "malformed soc_reached=1(reached) total_voltage_reached=0(not reached) "
        "cell_voltage_reached=0(not reached) charger_stopped=0(normal) "
        "insulation_fault=0(normal) connector_over_temperature=0(normal) "
        "bms_over_temperature=0(normal) charge_connector_fault=0(normal)");
    row("CST each pair its own bits", "CST", "E4 1B F4 F1",
        "conditions_reached=0(not reached) manual_stop=1(set) fault_stop=2(untrusted) "
        "bms_stopped=3(not available) charger_over_temperature=3(not available) "
        "charge_connector_fault=2(untrusted) charger_internal_over_temperature=1(fault) "
        "energy_not_deliverable=0(normal) emergency_stop=0(normal) other_fault=1(fault) "
        "current_mismatch=1(fault) voltage_abnormal=0(normal)");
    row("BSD", "BSD", "30 4A 01 60 01 4D 56",
        "stop_soc_percent=48% min_cell_voltage_v=3.30V max_cell_voltage_v=3.52V "
        "min_temperature_c=27°C max_temperature_c=36°C");
    row("BSD all ones", "BSD", "FF FF FF FF FF FF FF",
        "stop_soc_percent=255%(not available) min_cell_voltage_v=655.35V(not available) "
        "max_cell_voltage_v=655.35V(not available) min_temperature_c=205°C(not available) "
        "max_temperature_c=205°C(not available)");
    row("CSD", "CSD", "08 00 34 00 01 00 00 00",
        "charging_minutes=8min energy_kwh=5.2kWh charger_number=1");
    row("BEM", "BEM", "F1 F4 F4 FD",
        "crm_00=1(timeout) crm_aa=0(normal) cts_cml=0(normal) cro=1(timeout) ccs=0(normal) "
        "cst=1(timeout) csd=1(timeout)");
    row("CEM BCL timeout", "CEM", "FC F0 C4 FC",
        "brm=0(normal) bcp=0(normal) bro=0(normal) bcs=0(normal) bcl=1(timeout) "
        "bst=0(normal) bsd=0(normal)");
    row("CEM one byte", "CEM", "FD", "malformed brm=1(timeout)");
}

void tst_KvGbtDecoder::messages()
{
    QFETCH(QString, code);
    QFETCH(QString, payload);
    QFETCH(QString, expected);
    // On the heap, exactly as long as the payload: a read past its end is caught by ASan.
    const QByteArray bytes = QByteArray::fromHex(payload.toLatin1());
    std::vector<quint8> data(bytes.begin(), bytes.end());
    KvGbtMessage message;
    KvGbtDecoder::decodePayload(codeOf(code), data.data(), int(data.size()), message);
    QCOMPARE(render(message), expected);
    QCOMPARE(message.size, int(data.size()));
}

void tst_KvGbtDecoder::addresses_data()
{
    QTest::addColumn<quint32>("pgn");
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("destination");
    QTest::addColumn<bool>("transported");
    QTest::addColumn<QString>("code");
    QTest::newRow("BCL from the BMS") << 0x1000u << 0xF4 << 0x56 << false << "BCL";
    QTest::newRow("BCL the wrong way") << 0x1000u << 0x56 << 0xF4 << false << "";
    QTest::newRow("BCL from another node") << 0x1000u << 0x01 << 0x56 << false << "";
    QTest::newRow("CCS from the charger") << 0x1200u << 0x56 << 0xF4 << false << "CCS";
    QTest::newRow("BMV by BAM") << 0x1500u << 0xF4 << 0xFF << true << "BMV";
    QTest::newRow("BCL to global, single frame") << 0x1000u << 0xF4 << 0xFF << false << "";
    QTest::newRow("PGN outside the dialogue") << 0x1400u << 0xF4 << 0x56 << false << "";
}

void tst_KvGbtDecoder::addresses()
{
    QFETCH(quint32, pgn);
    QFETCH(int, source);
    QFETCH(int, destination);
    QFETCH(bool, transported);
    QFETCH(QString, code);
    const quint8 data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    KvJ1939Message in;
    in.time = 1234567;
    in.pgn = pgn;
    in.priority = 6;
    in.source = quint8(source);
    in.destination = quint8(destination);
    in.transported = transported;
    in.data = data;
    in.size = 8;
    KvGbtMessage out;
    out.channel = -5;
    QCOMPARE(KvGbtDecoder::decode(in, 2, out), !code.isEmpty());
    QCOMPARE(QString::fromLatin1(KvGbtMessageInfo::codeName(out.code)), code);
    if (!code.isEmpty()) {
        QCOMPARE(out.time, in.time);
        QCOMPARE(out.channel, 2);
        QCOMPARE(int(out.destination), destination);
    } else {
        QCOMPARE(out.channel, -5);
    }
}

QTEST_APPLESS_MAIN(tst_KvGbtDecoder)
#include "tst_kvgbtdecoder.moc"
