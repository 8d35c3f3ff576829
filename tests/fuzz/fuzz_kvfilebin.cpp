// The binary reader over any bytes: frame by frame and in batches of every size up to 9.
#include "candata.h"
#include "canobj.h"
#include "fuzz_common_p.h"
#include "kvfilebin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString name = scratchFile(data, size);
    {
        KvFileBin file;
        FUZZ_CHECK(file.open(name) && file.prepare());
        CanObj frame;
        size_t bytes = 0;
        while (file.getFrame(frame)) {
            FUZZ_CHECK(frame.DataLen >= 1 && frame.DataLen <= 8);
            bytes += frame.DataLen;
            FUZZ_CHECK(bytes <= size);
        }
        FUZZ_CHECK(bytes == size && frame.DataLen == 0);
    }
    KvFileBin file;
    FUZZ_CHECK(file.open(name));
    const int count = size ? data[0] % 10 : 1;
    CanData batch;
    batch.push(CanObj());
    size_t bytes = 0;
    for (size_t calls = 0; file.getFrames(batch, count) && !batch.isEmpty(); ++calls) {
        FUZZ_CHECK(batch.size() <= count && calls <= size);
        for (int i = 0; i < batch.size(); ++i)
            bytes += batch.at(i).DataLen;
    }
    FUZZ_CHECK(count < 1 || bytes == size);
    return 0;
}
