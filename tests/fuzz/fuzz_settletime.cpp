// The receive-time text from any stamp text and base time: "hh:mm:ss." and digits, always.
#include "fuzz_common_p.h"
#include "kvcommon.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    int baseTime;
    std::memcpy(&baseTime, data + 1, sizeof baseTime);
    const QString direction = data[0] & 1 ? QStringLiteral("Rx") : QStringLiteral("Tx");
    const QString stamp =
        data[0] & 2 ? QString::fromUtf8(reinterpret_cast<const char *>(data + 5), int(size - 5))
                    : QString::fromLatin1(reinterpret_cast<const char *>(data + 5), int(size - 5));
    const QString text = kavri::gSettleTime(direction, stamp, baseTime);
    if (direction != QLatin1String("Rx")) {
        FUZZ_CHECK(text == stamp);
        return 0;
    }
    // "03:25:45.678.9": hours below 24 and at most four digits after the seconds.
    FUZZ_CHECK(text.size() >= 11 && text.size() <= 14);
    FUZZ_CHECK(text[2] == QLatin1Char(':') && text[5] == QLatin1Char(':') &&
               text[8] == QLatin1Char('.'));
    FUZZ_CHECK(text.leftRef(2).toInt() < 24);
    return 0;
}
