#include "kvj1939id.h"

KvJ1939Id KvJ1939Id::fromCanId(quint32 id)
{
    KvJ1939Id fields;
    fields.priority = quint8((id >> 26) & 0x7);
    fields.source = quint8(id & 0xFF);
    const quint32 pf = (id >> 16) & 0xFF;
    const quint32 ps = (id >> 8) & 0xFF;
    const quint32 page = (id >> 24) & 0x3;
    if (pf < 0xF0) {
        fields.pgn = page << 16 | pf << 8;
        fields.destination = quint8(ps);
    } else {
        fields.pgn = page << 16 | pf << 8 | ps;
        fields.destination = 0xFF;
    }
    return fields;
}

quint32 KvJ1939Id::canId() const
{
    const quint32 head = quint32(priority & 0x7) << 26;
    if (isPdu1(pgn))
        return head | (pgn & 0x3FF00) << 8 | quint32(destination) << 8 | source;
    return head | (pgn & 0x3FFFF) << 8 | source;
}
