// Hexadecimal text to bytes, in both modes, with the text exactly as long as the count needs and
// the output exactly `count` bytes: any read or write past either is caught.
#include "fuzz_common_p.h"
#include "kvcommon.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int mode = data[0] & 1;
    std::vector<unsigned char> text(data + 1, data + size);
    const int count = mode == 1 ? int(text.size() + 1) / 3 : int(text.size()) / 2;
    if (count < 1)
        return 0;
    text.resize(mode == 1 ? size_t(count) * 3 - 1 : size_t(count) * 2);
    std::vector<unsigned char> out(static_cast<size_t>(count));
    const int result = kavri::strtodata(text.data(), out.data(), count, mode);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0) {
        for (int i = 0; i < count; ++i) {
            const size_t at = size_t(i) * (mode == 1 ? 3 : 2);
            unsigned char high = 0, low = 0;
            FUZZ_CHECK(kavri::chartoint(text[at], &high) == 0);
            FUZZ_CHECK(kavri::chartoint(text[at + 1], &low) == 0);
            FUZZ_CHECK(out[size_t(i)] == (high << 4 | low));
        }
    }
    return 0;
}
