#include "kvgbtsession.h"

#include "kvgbtdecoder.h"
#include "vci.h"

#include <algorithm>

namespace {
using C = KvGbtCode;
using P = KvGbtPhase;

int rawOf(const KvGbtMessage &m, const char *key)
{
    const KvGbtField *f = m.field(key);
    return f ? int(f->raw) : -1;
}

void take(double &into, const KvGbtMessage &m, const char *key)
{
    if (const KvGbtField *f = m.field(key))
        into = f->value;
}
} // namespace

KvGbtSession::KvGbtSession()
{
    tp.setMessageHandler([this](const KvJ1939Message &m) { onJ1939(m); });
    tp.setErrorHandler([this](const KvJ1939TpError &e) {
        KvGbtEvent event;
        event.kind = KvGbtEvent::TpError;
        event.time = e.time;
        event.tpError = e;
        emitEvent(event);
    });
}

KvGbtSession::~KvGbtSession() = default;

void KvGbtSession::setMessageHandler(MessageHandler handler)
{
    onMessage = std::move(handler);
}

void KvGbtSession::setEventHandler(EventHandler handler)
{
    onEvent = std::move(handler);
}

void KvGbtSession::setChannel(int c)
{
    channel = c;
}

void KvGbtSession::reset()
{
    tp.reset();
    state = KvGbtPicture();
    for (Watch &w : watches)
        w = Watch();
    stopReported[0] = stopReported[1] = false;
    now = 0;
}

void KvGbtSession::feedFrame(qint64 time, quint32 canId, const quint8 *data, int size)
{
    advance(time);
    tp.feed(time, canId, data, size);
}

void KvGbtSession::feedFrame(const VCI_CAN_OBJ &frame, qint64 time)
{
    if (!frame.ExternFlag || frame.RemoteFlag)
        return;
    feedFrame(time, frame.ID, frame.Data, std::min<int>(frame.DataLen, 8));
}

void KvGbtSession::feedMessage(const KvGbtMessage &message)
{
    advance(message.time);
    track(message);
}

void KvGbtSession::onJ1939(const KvJ1939Message &message)
{
    if (KvGbtDecoder::decode(message, channel, scratch))
        track(scratch);
}

void KvGbtSession::track(const KvGbtMessage &message)
{
    if (message.code == C::Unknown)
        return;
    now = std::max(now, message.time);
    followPhase(message);
    updatePicture(message);

    const KvGbtMessageInfo *info = KvGbtMessageInfo::of(message.code);
    Watch &w = watches[int(message.code)];
    if (info->phase == state.phase && limitOf(message.code) > 0) {
        w.lastSeen = message.time;
        w.armed = true;
        w.fired = false;
        if (message.code == C::BRO || message.code == C::CRO) {
            const int ready =
                rawOf(message, message.code == C::BRO ? "bms_ready" : "charger_ready");
            if (ready == 0xAA)
                w.notReadySince = -1;
            else if (w.notReadySince < 0)
                w.notReadySince = message.time;
        }
    }
    if (onMessage)
        onMessage(message);

    const int stopIndex = message.code == C::BST ? 0 : message.code == C::CST ? 1 : -1;
    if (stopIndex >= 0 && !stopReported[stopIndex]) {
        stopReported[stopIndex] = true;
        KvGbtEvent event;
        event.kind = KvGbtEvent::Stop;
        event.time = message.time;
        event.code = message.code;
        event.stop = message;
        emitEvent(event);
    }
}

void KvGbtSession::followPhase(const KvGbtMessage &m)
{
    const P current = state.phase;
    if (m.code == C::BEM || m.code == C::CEM) {
        const bool timedOut = std::any_of(m.fields.begin(), m.fields.end(),
                                          [](const KvGbtField &f) { return f.raw == 1; });
        if (timedOut && current != P::Error)
            enter(P::Error, m.time);
        return;
    }
    const bool late = current == P::Charging || current == P::Ending || current == P::Error;
    if (m.code == C::CRM && late && rawOf(m, "recognition") == 0x00) {
        enter(P::Recognition, m.time);
        return;
    }
    if (m.code == C::CHM && (current == P::Ending || current == P::Error)) {
        enter(P::Handshake, m.time);
        return;
    }
    const P own = KvGbtMessageInfo::of(m.code)->phase;
    if (current == P::None || (current != P::Error && own > current))
        enter(own, m.time);
}

void KvGbtSession::enter(KvGbtPhase phase, qint64 time)
{
    state.phase = phase;
    for (Watch &w : watches)
        w = Watch();
    if (phase == P::Handshake || phase == P::Recognition)
        stopReported[0] = stopReported[1] = false;
    KvGbtEvent event;
    event.kind = KvGbtEvent::Phase;
    event.time = time;
    event.phase = phase;
    emitEvent(event);
}

qint64 KvGbtSession::limitOf(KvGbtCode code)
{
    switch (code) {
    case C::BCL:
    case C::CCS:
        return ShortLimit;
    case C::BMV:
    case C::BMT:
    case C::BSP:
    case C::BEM:
    case C::CEM:
    case C::BST:
    case C::CST:
    case C::Unknown:
        return 0;
    default:
        return LongLimit;
    }
}

void KvGbtSession::advance(qint64 time)
{
    tp.advance(time);
    now = std::max(now, time);
    struct Due
    {
        qint64 time;
        C code;
    } due[2 * 23];
    int n = 0;
    for (int i = 1; i < 23; ++i) {
        Watch &w = watches[i];
        if (!w.armed)
            continue;
        const qint64 limit = limitOf(C(i));
        if (!w.fired && time - w.lastSeen > limit) {
            w.fired = true;
            due[n++] = {w.lastSeen + limit, C(i)};
        }
        if (w.notReadySince >= 0 && !w.readyFired && time - w.notReadySince > ReadyLimit) {
            w.readyFired = true;
            due[n++] = {w.notReadySince + ReadyLimit, C(i)};
        }
    }
    std::sort(due, due + n, [](const Due &a, const Due &b) { return a.time < b.time; });
    for (int i = 0; i < n; ++i) {
        KvGbtEvent event;
        event.kind = KvGbtEvent::Timeout;
        event.time = due[i].time;
        event.code = due[i].code;
        emitEvent(event);
    }
}

void KvGbtSession::emitEvent(KvGbtEvent &event)
{
    event.channel = channel;
    if (onEvent)
        onEvent(event);
}

void KvGbtSession::updatePicture(const KvGbtMessage &m)
{
    KvGbtPicture &s = state;
    switch (m.code) {
    case C::CHM:
        s.chargerVersion = m.text("version");
        break;
    case C::BHM:
        take(s.maxChargeVoltageV, m, "max_charge_voltage_v");
        break;
    case C::BRM:
        s.bmsVersion = m.text("version");
        s.batteryType = rawOf(m, "battery_type");
        take(s.ratedCapacityAh, m, "rated_capacity_ah");
        take(s.ratedVoltageV, m, "rated_voltage_v");
        if (m.field("vin"))
            s.vin = m.text("vin");
        break;
    case C::BCP:
        take(s.maxCellVoltageLimitV, m, "max_cell_voltage_v");
        take(s.maxChargeCurrentA, m, "max_charge_current_a");
        take(s.nominalEnergyKwh, m, "nominal_energy_kwh");
        take(s.maxChargeVoltageV, m, "max_charge_voltage_v");
        take(s.socPercent, m, "soc_percent");
        take(s.measuredVoltageV, m, "battery_voltage_v");
        break;
    case C::CML:
        take(s.chargerMaxVoltageV, m, "max_output_voltage_v");
        take(s.chargerMaxCurrentA, m, "max_output_current_a");
        break;
    case C::BRO:
        s.bmsReady = rawOf(m, "bms_ready");
        break;
    case C::CRO:
        s.chargerReady = rawOf(m, "charger_ready");
        break;
    case C::BCL:
        take(s.demandVoltageV, m, "voltage_demand_v");
        take(s.demandCurrentA, m, "current_demand_a");
        s.chargeMode = m.field("mode") ? rawOf(m, "mode") : s.chargeMode;
        break;
    case C::BCS:
        take(s.measuredVoltageV, m, "measured_voltage_v");
        take(s.measuredCurrentA, m, "measured_current_a");
        take(s.maxCellVoltageV, m, "max_cell_voltage_v");
        s.maxCellGroup = m.field("max_cell_group") ? rawOf(m, "max_cell_group") : s.maxCellGroup;
        take(s.socPercent, m, "soc_percent");
        take(s.remainingMinutes, m, "remaining_minutes");
        break;
    case C::CCS:
        take(s.outputVoltageV, m, "output_voltage_v");
        take(s.outputCurrentA, m, "output_current_a");
        take(s.chargingMinutes, m, "charging_minutes");
        s.chargerAllowed =
            m.field("charging_allowed") ? rawOf(m, "charging_allowed") : s.chargerAllowed;
        break;
    case C::BSM:
        take(s.maxTemperatureC, m, "max_temperature_c");
        take(s.minTemperatureC, m, "min_temperature_c");
        s.bmsAllowed = m.field("charging_allowed") ? rawOf(m, "charging_allowed") : s.bmsAllowed;
        break;
    case C::BST:
        s.bst = m;
        break;
    case C::CST:
        s.cst = m;
        break;
    case C::BSD:
        s.bsd = m;
        break;
    case C::CSD:
        s.csd = m;
        break;
    case C::BEM:
        s.bem = m;
        break;
    case C::CEM:
        s.cem = m;
        break;
    default:
        break;
    }
}
