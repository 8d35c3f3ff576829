// The CSV reader over any bytes: header, then frame by frame, then again in batches.
#include "candata.h"
#include "canobj.h"
#include "fuzz_common_p.h"
#include "kvfilecsv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString name = scratchFile(data, size);
    {
        KvFileCsv file;
        FUZZ_CHECK(file.open(name) && file.prepare());
        CanObj frame;
        for (size_t lines = 0; !file.atEnd(); ++lines) {
            FUZZ_CHECK(lines <= size);
            if (file.getFrame(frame))
                FUZZ_CHECK(frame.DataLen <= 8);
        }
    }
    KvFileCsv file;
    FUZZ_CHECK(file.open(name) && file.prepare());
    const int count = size ? data[size - 1] % 10 : 1;
    CanData batch;
    for (size_t calls = 0; file.getFrames(batch, count); ++calls) {
        FUZZ_CHECK(batch.size() <= count && calls <= size);
        for (int i = 0; i < batch.size(); ++i)
            FUZZ_CHECK(batch.at(i).DataLen <= 8);
    }
    return 0;
}
