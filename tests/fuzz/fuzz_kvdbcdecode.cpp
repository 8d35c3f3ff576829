// The decoder and encoder over any frame: a fixed database with every kind of layout (Intel and
// Motorola across byte borders, signed, 64 bits, floats, simple and cascaded multiplexing, a J1939
// parameter group) decodes the fuzzer's frame; a signal is present only when the frame is long
// enough, and a present integer signal re-encoded into the same bytes leaves them unchanged.
#include "fuzz_common_p.h"
#include "kvdbcdatabase.h"

#include <cstring>

namespace {

const char Database[] = R"(BU_: X
BO_ 100 Layouts: 8 X
 SG_ Intel : 4|12@1- (0.5,-3) [0|0] "" X
 SG_ Motorola : 3|20@0+ (1,0) [0|0] "" X
 SG_ Wide : 0|64@1- (1,0) [0|0] "" X
 SG_ Top : 63|1@0+ (1,0) [0|0] "" X
BO_ 101 Floats: 8 X
 SG_ F : 0|32@1- (1,0) [0|0] "" X
 SG_ G : 39|32@0- (2,1) [0|0] "" X
 SG_ D : 0|64@1- (1,0) [0|0] "" X
BO_ 102 Muxed: 8 X
 SG_ A M : 0|2@1+ (1,0) [0|0] "" X
 SG_ B m1M : 2|2@1+ (1,0) [0|0] "" X
 SG_ C m2 : 4|4@1+ (1,0) [0|0] "" X
 SG_ E m3 : 15|16@0- (1,0) [0|0] "" X
BO_ 2364539904 EEC1: 8 X
 SG_ EngineSpeed : 24|16@1+ (0.125,0) [0|8031.875] "rpm" X
BA_DEF_ BO_ "VFrameFormat" ENUM "StandardCAN","ExtendedCAN","reserved","J1939PG";
BA_ "VFrameFormat" BO_ 2364539904 3;
SIG_VALTYPE_ 101 F : 1;
SIG_VALTYPE_ 101 G : 1;
SIG_VALTYPE_ 101 D : 2;
SG_MUL_VAL_ 102 B A 1-1;
SG_MUL_VAL_ 102 C B 2-2;
SG_MUL_VAL_ 102 E A 3-3;
)";

const KvDbcDatabase &database()
{
    static KvDbcDatabase db;
    static const bool loaded = db.loadData(Database);
    FUZZ_CHECK(loaded);
    return db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    const KvDbcDatabase &db = database();
    VCI_CAN_OBJ frame{};
    std::memcpy(&frame.ID, data, 4);
    frame.ExternFlag = data[4] & 1;
    frame.RemoteFlag = (data[4] >> 1) & 1;
    frame.DataLen = quint8(data[4] >> 4); // 0 to 15: lengths past 8 too
    std::memcpy(frame.Data, data + 5, std::min<size_t>(size - 5, 8));
    QVector<KvDbcValue> values;
    const int m = db.decode(frame, values);
    if (m < 0)
        return 0;
    const KvDbcMessage &message = db.messages().at(m);
    const int length = std::min<int>(frame.DataLen, 8);
    for (int s = 0; s < message.signalList.size(); ++s) {
        const KvDbcSignal &signal = message.signalList.at(s);
        if (!values.at(s).present)
            continue;
        FUZZ_CHECK(length >= signal.minBytes);
        if (signal.valueType != KvDbcSignal::Integer || signal.length > 52)
            continue;
        quint8 copy[8];
        std::memcpy(copy, frame.Data, 8);
        FUZZ_CHECK(db.encodeSignal(m, s, values.at(s).physical, copy, length));
        FUZZ_CHECK(std::memcmp(copy, frame.Data, size_t(length)) == 0);
    }
    return 0;
}
