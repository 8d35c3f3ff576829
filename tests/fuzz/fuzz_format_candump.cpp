// The registry's candump reader over any bytes; the checks are fuzzFormatReader's.
#include "fuzz_common_p.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzFormatReader("candump", data, size);
}
