// The registry's asclog reader over any bytes, its content check passed by: every read ends in a
// frame, a skipped line, the end or an error, the position never goes back, and the end stays.
#include "fuzz_common_p.h"
#include "kvformatregistry.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString name = scratchFile(data, size);
    KvFormatRegistry::detect(name, QString(), nullptr);
    std::unique_ptr<KvFrameReader> reader(
        KvFormatRegistry::find(QStringLiteral("asclog"))->newReader());
    if (!reader->open(name))
        return 0;
    KvFrame frame;
    KvFrameReader::Result r = KvFrameReader::Frame;
    qint64 position = 0;
    // A frame takes at least 32 bytes of a container, which inflates to at most 16 MiB.
    for (size_t reads = 0; r == KvFrameReader::Frame || r == KvFrameReader::Skipped; ++reads) {
        FUZZ_CHECK(reads <= size + (16u << 20) / 32 * 64 + 1);
        r = reader->read(frame);
        FUZZ_CHECK(frame.dlc <= 8 && reader->position() >= position);
        position = reader->position();
    }
    FUZZ_CHECK(reader->read(frame) == r);
    return 0;
}
