// The ASC reader over any bytes: header lines, then every frame up to the end.
#include "ascfile.h"
#include "canobj.h"
#include "fuzz_common_p.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString name = scratchFile(data, size);
    ASCFile file;
    FUZZ_CHECK(file.open(name) && file.prepare());
    CanObj frame;
    size_t frames = 0;
    while (file.getFrame(frame)) {
        FUZZ_CHECK(frame.DataLen <= 8 && ++frames <= size);
    }
    // The end stays the end.
    FUZZ_CHECK(!file.getFrame(frame));
    return 0;
}
