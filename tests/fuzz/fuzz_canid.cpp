// Identifier and code texts from any type and value: always eight upper-case hexadecimal digits,
// and an identifier read back from its left-aligned word is the identifier again.
#include "fuzz_common_p.h"
#include "kvcommon.h"

#include <cstring>

namespace {
bool isEightHexDigits(const QString &text)
{
    if (text.size() != 8)
        return false;
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 12)
        return 0;
    int type;
    long long value;
    std::memcpy(&type, data, sizeof type);
    std::memcpy(&value, data + 4, sizeof value);
    FUZZ_CHECK(isEightHexDigits(kavri::getCanIdFromLL(type, value)));
    FUZZ_CHECK(isEightHexDigits(kavri::toCanIdFromLL(type, value)));
    FUZZ_CHECK(isEightHexDigits(kavri::getCanCodeFromLL(value)));
    FUZZ_CHECK(isEightHexDigits(kavri::toCanCodeFromLL(value)));
    const long long id = type == 1 ? value & 0x1FFFFFFF : value & 0x7FF;
    const QString word = kavri::toCanIdFromLL(type, id);
    FUZZ_CHECK(kavri::getCanIdFromLL(type, word.toLongLong(nullptr, 16)) ==
               QString::asprintf("%08llX", id));
    return 0;
}
