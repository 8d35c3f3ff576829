// The registry's blf reader over any bytes; the checks are fuzzFormatReader's.
#include "fuzz_common_p.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzFormatReader("blf", data, size);
}
