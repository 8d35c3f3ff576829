#include "kvgbtsimulation.h"

#include "kvgbtmessage.h"
#include "kvj1939id.h"

#include <algorithm>
#include <cstring>

namespace {
using S = KvGbtSimFrame::Sender;
using C = KvGbtCode;
using Bytes = std::vector<quint8>;

constexpr qint64 Ms = 1000;

void le(Bytes &b, quint32 v, int length)
{
    for (int i = 0; i < length; ++i)
        b.push_back(quint8(v >> (8 * i)));
}

// Raw of a current: 0.1 A, offset -400 A, negative = charging.
quint32 amps(double a)
{
    return quint32((a + 400.0) * 10.0 + 0.5);
}

quint32 tenths(double v)
{
    return quint32(v * 10.0 + 0.5);
}

class Script
{
public:
    // A message of `code` from its sender, by the transport protocol when longer than 8 bytes.
    void send(qint64 time, C code, const Bytes &payload, bool bam = false)
    {
        const KvGbtMessageInfo *info = KvGbtMessageInfo::of(code);
        const S from = info->fromBms ? S::Bms : S::Charger;
        const quint8 source = info->fromBms ? KvGbtMessageInfo::Bms : KvGbtMessageInfo::Charger;
        const quint8 target = info->fromBms ? KvGbtMessageInfo::Charger : KvGbtMessageInfo::Bms;
        if (payload.size() <= 8) {
            frame(time, from, id(info->priority, info->pgn, source, target), payload);
            return;
        }
        const quint8 destination = bam ? 0xFF : target;
        const int size = int(payload.size());
        const int packets = (size + 6) / 7;
        const quint32 pgn = info->pgn;
        Bytes cm{quint8(bam ? 0x20 : 0x10), quint8(size), quint8(size >> 8), quint8(packets), 0xFF};
        le(cm, pgn, 3);
        frame(time, from, id(7, 0xEC00, source, destination), cm);
        qint64 t = time;
        if (!bam) {
            Bytes cts{0x11, quint8(packets), 1, 0xFF, 0xFF};
            le(cts, pgn, 3);
            t += 2 * Ms;
            frame(t, S(1 - from), id(7, 0xEC00, target, source), cts);
        }
        for (int p = 0; p < packets; ++p) {
            t += bam ? 50 * Ms : 2 * Ms;
            Bytes dt{quint8(p + 1)};
            for (int i = 0; i < 7; ++i) {
                const int at = p * 7 + i;
                dt.push_back(at < size ? payload[size_t(at)] : 0xFF);
            }
            frame(t, from, id(7, 0xEB00, source, destination), dt);
        }
        if (!bam) {
            Bytes ack{0x13, quint8(size), quint8(size >> 8), quint8(packets), 0xFF};
            le(ack, pgn, 3);
            frame(t + 2 * Ms, S(1 - from), id(7, 0xEC00, target, source), ack);
        }
    }

    std::vector<KvGbtSimFrame> frames()
    {
        std::stable_sort(
            out.begin(), out.end(),
            [](const KvGbtSimFrame &a, const KvGbtSimFrame &b) { return a.time < b.time; });
        return out;
    }

private:
    static quint32 id(quint8 priority, quint32 pgn, quint8 source, quint8 destination)
    {
        KvJ1939Id fields;
        fields.priority = priority;
        fields.pgn = pgn;
        fields.source = source;
        fields.destination = destination;
        return fields.canId();
    }

    void frame(qint64 time, S sender, quint32 canId, const Bytes &payload)
    {
        KvGbtSimFrame f;
        f.time = time;
        f.sender = sender;
        f.id = canId;
        f.size = quint8(payload.size());
        std::memcpy(f.data, payload.data(), payload.size());
        out.push_back(f);
    }

    std::vector<KvGbtSimFrame> out;
};

Bytes brm()
{
    Bytes b{0x01, 0x01, 0x00, 3}; // version 1.1, LiFePO4
    le(b, 1500, 2);               // 150.0 Ah
    le(b, 3500, 2);               // 350.0 V
    for (char c : {'K', 'V', 'R', 'I'})
        b.push_back(quint8(c));
    le(b, 1, 4);                    // pack number
    b.insert(b.end(), {39, 3, 15}); // 2024-03-15
    le(b, 120, 3);                  // cycles
    b.insert(b.end(), {1, 0xFF});   // owned, reserved
    const char vin[] = "LKVRI0000SIM00001";
    b.insert(b.end(), vin, vin + 17);
    b.insert(b.end(), {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0});
    return b;
}

Bytes bcp()
{
    Bytes b;
    le(b, 420, 2);        // 4.20 V a cell
    le(b, amps(-200), 2); // 200 A
    le(b, 600, 2);        // 60.0 kWh
    le(b, 4200, 2);       // 420.0 V
    b.push_back(55 + 50); // 55 °C
    le(b, 400, 2);        // 40.0 %
    le(b, 3650, 2);       // 365.0 V
    return b;
}

// The charging part: a demand that changes twice and an output that follows it halfway per
// CCS period; the state of charge rises a point per second.
void charging(Script &s, const KvGbtSimulation::Options &options, qint64 end)
{
    const qint64 start = KvGbtSimulation::ChargingStart;
    double output = 0;
    for (qint64 t = start; t < end; t += 50 * Ms) {
        const qint64 into = t - start;
        const double demand = into < 2000 * Ms ? -100 : into < 5000 * Ms ? -150 : -60;
        const double voltage = 380.0 + double(into / (1000 * Ms));
        const int soc = 40 + int(into / (1000 * Ms));
        if (!(options.bclStops && t >= KvGbtSimulation::BclStop)) {
            Bytes bcl;
            le(bcl, tenths(into < 5000 * Ms ? 420.0 : 400.0), 2);
            le(bcl, amps(demand), 2);
            bcl.push_back(into < 5000 * Ms ? 2 : 1);
            s.send(t, C::BCL, bcl);
        }
        output += (demand - output) / 2;
        Bytes ccs;
        le(ccs, tenths(voltage), 2);
        le(ccs, amps(output), 2);
        le(ccs, quint32(into / (60000 * Ms)), 2);
        ccs.insert(ccs.end(), {0xFD, 0xFF});
        s.send(t + 25 * Ms, C::CCS, ccs);
        if (into % (250 * Ms) == 0) {
            Bytes bcs;
            le(bcs, tenths(voltage - 1), 2);
            le(bcs, amps(output), 2);
            le(bcs, 2u << 12 | quint32(330 + soc / 4), 2); // group 2
            bcs.push_back(quint8(soc));
            le(bcs, quint32(60 - soc / 2), 2);
            s.send(t + 5 * Ms, C::BCS, bcs);
            s.send(t + 30 * Ms, C::BSM, {4, 85, 2, 78, 0, 0x00, 0xD0});
        }
    }
    Bytes bmv;
    for (int cell = 0; cell < 6; ++cell)
        le(bmv, 1u << 12 | quint32(340 + cell), 2);
    s.send(start + 510 * Ms, C::BMV, bmv, true);
    s.send(start + 740 * Ms, C::BMT, {75, 76, 77, 78, 79, 80, 81, 82, 83, 84}, true);
}
} // namespace

std::vector<KvGbtSimFrame> KvGbtSimulation::generate(const Options &options)
{
    Script s;
    for (int i = 0; i < 4; ++i) {
        s.send(i * 250 * Ms, C::CHM, {0x01, 0x01, 0x00});
        s.send(i * 250 * Ms + 5 * Ms, C::BHM, {0x4C, 0x1D}); // 750.0 V
    }
    const Bytes crm{0x00, 0x01, 0x00, 0x00, 0x00, 'B', 'J', '1'};
    Bytes crmAa = crm;
    crmAa[0] = 0xAA;
    s.send(1000 * Ms, C::CRM, crm);
    s.send(1010 * Ms, C::BRM, brm());
    s.send(1250 * Ms, C::CRM, crm);
    for (qint64 t = 1500; t < 1800; t += 250)
        s.send(t * Ms, C::CRM, crmAa);
    s.send(1510 * Ms, C::BCP, bcp());
    for (qint64 t = 1760; t < ChargingStart / Ms; t += 250) {
        if ((t - 1760) % 500 == 0)
            s.send(t * Ms, C::CTS, {0x00, 0x00, 0x10, 0x05, 0x12, 0x26, 0x20});
        s.send(t * Ms + 3 * Ms, C::CML, {0x4C, 0x1D, 0xD0, 0x07, 0xDC, 0x05, 0xA0, 0x0F});
    }
    for (qint64 t = 1800; t < ChargingStart / Ms; t += 250)
        s.send(t * Ms, C::BRO, {quint8(t < 2300 ? 0x00 : 0xAA)});
    for (qint64 t = 2400; t < ChargingStart / Ms; t += 250)
        s.send(t * Ms, C::CRO, {quint8(t < 2650 ? 0x00 : 0xAA)});

    if (options.bclStops) {
        const qint64 noticed = BclStop - 50 * Ms + 1000 * Ms + 25 * Ms;
        charging(s, options, noticed);
        for (int i = 0; i < 3; ++i)
            s.send(noticed + i * 250 * Ms, C::CEM, {0xFC, 0xF0, 0xC4, 0xFC});
        for (int i = 0; i < 5; ++i)
            s.send(noticed + 5 * Ms + i * 10 * Ms, C::CST, {0x10, 0x00, 0xF0, 0xF0});
        return s.frames();
    }

    const qint64 stop = ChargingStart + 8000 * Ms;
    charging(s, options, stop);
    for (int i = 0; i < 5; ++i) {
        s.send(stop + i * 10 * Ms, C::BST, {0x01, 0x00, 0x00, 0xF0});
        s.send(stop + 5 * Ms + i * 10 * Ms, C::CST, {0x40, 0x00, 0xF0, 0xF0});
    }
    for (int i = 0; i < 3; ++i) {
        s.send(stop + 100 * Ms + i * 250 * Ms, C::BSD, {48, 0x4A, 0x01, 0x60, 0x01, 77, 86});
        s.send(stop + 150 * Ms + i * 250 * Ms, C::CSD, {8, 0, 52, 0, 1, 0, 0, 0});
    }
    return s.frames();
}

std::vector<KvGbtSimFrame> KvGbtSimulation::of(const std::vector<KvGbtSimFrame> &frames,
                                               KvGbtSimFrame::Sender sender)
{
    std::vector<KvGbtSimFrame> side;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(side),
                 [sender](const KvGbtSimFrame &f) { return f.sender == sender; });
    return side;
}
