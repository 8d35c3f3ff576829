// Reassembly and decoding of charging traffic from any bytes: each 12-byte record is one frame
// (2 bytes of time step in 0.1 ms, 1 byte picking the identifier, 1 byte of length taken modulo
// 9, 8 data bytes). Checks, besides crashes and overruns: transfers stay
// within their slots and sizes, every message and event renders as one JSON object, decoded
// messages never claim more bytes than they got.
#include "fuzz_common_p.h"
#include "kvgbtjson.h"
#include "kvgbtsession.h"

namespace {
quint32 identifier(quint8 pick)
{
    // The TP identifiers of both directions and BAM, then the 22 messages, then anything.
    static const quint32 tp[] = {0x1CEC56F4, 0x1CEB56F4, 0x1CECF456,
                                 0x1CEBF456, 0x1CECFFF4, 0x1CEBFFF4};
    if (pick < 6)
        return tp[pick];
    int count = 0;
    const KvGbtMessageInfo *all = KvGbtMessageInfo::all(&count);
    const int i = (pick - 6) % (count + 1);
    if (i == count)
        return 0x18000000u | quint32(pick) << 16 | 0xF456;
    const quint32 from = all[i].fromBms ? 0xF4 : 0x56;
    const quint32 to = all[i].fromBms ? 0x56 : 0xF4;
    return quint32(all[i].priority) << 26 | all[i].pgn << 8 | to << 8 | from;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    KvGbtSession session;
    session.setMessageHandler([](const KvGbtMessage &m) {
        const QByteArray line = KvGbtJson::message(m);
        FUZZ_CHECK(line.startsWith("{\"time\":") && line.endsWith('}') && !line.contains('\n'));
        FUZZ_CHECK(m.size <= KvJ1939Transport::MaxSize);
    });
    session.setEventHandler([](const KvGbtEvent &e) {
        const QByteArray line = KvGbtJson::event(e);
        FUZZ_CHECK(line.startsWith("{\"time\":") && line.endsWith('}') && !line.contains('\n'));
    });
    qint64 time = 0;
    for (size_t at = 0; at + 12 <= size; at += 12) {
        const uint8_t *r = data + at;
        time += qint64(r[0] | r[1] << 8) * 100;
        session.feedFrame(time, identifier(r[2]), r + 4, r[3] % 9);
        const KvJ1939Transport &tp = session.transport();
        FUZZ_CHECK(tp.sessionCount() <= KvJ1939Transport::DefaultMaxSessions);
        FUZZ_CHECK(tp.bufferedBytes() <= tp.sessionCount() * KvJ1939Transport::MaxSize);
    }
    session.advance(time + 100000000);
    FUZZ_CHECK(session.transport().sessionCount() == 0);
    return 0;
}
