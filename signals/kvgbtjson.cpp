#include "kvgbtjson.h"

#include "kvgbtsession.h"

#include <cstring>

namespace {
void appendTime(QByteArray &out, qint64 micros)
{
    out += "{\"time\":";
    if (micros < 0) {
        out += '-';
        micros = -micros;
    }
    out += QByteArray::number(micros / 1000000);
    out += '.';
    out += QByteArray::number(micros % 1000000).rightJustified(6, '0');
}

void appendString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '"' || u == '\\') {
            out += '\\';
            out += char(u);
        } else if (u >= 0x20 && u < 0x7F) {
            out += char(u);
        } else {
            out += "\\u";
            out += QByteArray::number(u, 16).rightJustified(4, '0');
        }
    }
    out += '"';
}

void appendValue(QByteArray &out, const KvGbtField &f)
{
    if (f.kind == KvGbtField::Text)
        appendString(out, f.text);
    else if (f.kind == KvGbtField::Number)
        out += QByteArray::number(f.value, 'f', f.decimals);
    else
        out += QByteArray::number(f.raw);
}

void appendKey(QByteArray &out, const char *key)
{
    out += '"';
    out += key;
    out += "\":";
}

// Fields in order; the elements of a list follow each other and become one array.
void appendFields(QByteArray &out, const std::vector<KvGbtField> &fields)
{
    out += "\"fields\":{";
    for (size_t i = 0; i < fields.size();) {
        const KvGbtField &f = fields[i];
        if (i)
            out += ',';
        appendKey(out, f.key);
        if (f.index < 0) {
            appendValue(out, f);
            ++i;
            continue;
        }
        out += '[';
        int index = -1;
        bool object = false;
        for (; i < fields.size() && fields[i].index >= 0 && std::strcmp(fields[i].key, f.key) == 0;
             ++i) {
            const KvGbtField &e = fields[i];
            if (e.index != index) {
                if (object)
                    out += '}';
                if (index >= 0)
                    out += ',';
                index = e.index;
                object = e.item != nullptr;
                if (object)
                    out += '{';
            } else {
                out += ',';
            }
            if (e.item)
                appendKey(out, e.item);
            appendValue(out, e);
        }
        if (object)
            out += '}';
        out += ']';
    }
    out += '}';
}
} // namespace

QByteArray KvGbtJson::message(const KvGbtMessage &m)
{
    QByteArray out;
    out.reserve(256);
    appendTime(out, m.time);
    out += ",\"channel\":" + QByteArray::number(m.channel);
    out += ",\"code\":\"";
    out += KvGbtMessageInfo::codeName(m.code);
    out += "\",\"pgn\":" + QByteArray::number(m.pgn);
    out += ",\"source\":" + QByteArray::number(m.source);
    out += ",\"destination\":" + QByteArray::number(m.destination) + ',';
    appendFields(out, m.fields);
    if (m.malformed)
        out += ",\"malformed\":true";
    out += '}';
    return out;
}

QByteArray KvGbtJson::event(const KvGbtEvent &e)
{
    QByteArray out;
    appendTime(out, e.time);
    switch (e.kind) {
    case KvGbtEvent::Phase:
        out += ",\"event\":\"phase\",\"phase\":\"";
        out += KvGbtMessageInfo::phaseName(e.phase);
        out += '"';
        break;
    case KvGbtEvent::Timeout:
        out += ",\"event\":\"timeout\",\"code\":\"";
        out += KvGbtMessageInfo::codeName(e.code);
        out += '"';
        break;
    case KvGbtEvent::TpError:
        out += ",\"event\":\"tp_error\",\"source\":" + QByteArray::number(e.tpError.source);
        out += ",\"destination\":" + QByteArray::number(e.tpError.destination);
        out += ",\"pgn\":" + QByteArray::number(e.tpError.pgn);
        out += ",\"reason\":\"";
        out += KvJ1939TpError::reasonName(e.tpError.reason);
        out += '"';
        if (e.tpError.reason == KvJ1939TpError::Abort)
            out += ",\"abort_reason\":" + QByteArray::number(e.tpError.abortReason);
        break;
    case KvGbtEvent::Stop:
        out += ",\"event\":\"stop\",\"code\":\"";
        out += KvGbtMessageInfo::codeName(e.code);
        out += "\",";
        appendFields(out, e.stop.fields);
        break;
    }
    out += '}';
    return out;
}
