// The DBC loader over any bytes: it must end with a result, list a bounded number of errors, and
// what it loads must be decodable, every signal within the eight bytes it may read.
#include "fuzz_common_p.h"
#include "kvdbcdatabase.h"

#include <QtCore/QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    KvDbcDatabase db;
    const bool ok = db.loadData(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    FUZZ_CHECK(ok == db.errors().isEmpty());
    FUZZ_CHECK(db.errors().size() <= KvDbcDatabase::MaxErrors + 1);
    int total = 0;
    QVector<KvDbcValue> values;
    const quint8 payload[8] = {0xFF, 0x00, 0xA5, 0x5A, 0x12, 0x34, 0x56, 0x78};
    for (int m = 0; m < db.messages().size(); ++m) {
        const KvDbcMessage &message = db.messages().at(m);
        FUZZ_CHECK(message.size >= 0 && message.size <= 8);
        FUZZ_CHECK(message.firstSignal == total);
        total += message.signalList.size();
        for (const KvDbcSignal &s : message.signalList) {
            FUZZ_CHECK(s.length >= 1 && s.length <= 64);
            FUZZ_CHECK(s.minBytes >= 1 && s.minBytes <= 8);
            FUZZ_CHECK(s.multiplexer < message.signalList.size());
        }
        FUZZ_CHECK(db.decode(m, payload, 8, values));
        FUZZ_CHECK(values.size() == message.signalList.size());
    }
    FUZZ_CHECK(total == db.signalCount());
    return 0;
}
