#include "kvblf_p.h"

#include <QtCore/QDateTime>
#include <QtCore/QtEndian>

#include <cstring>
#include <limits>

#include <zlib.h>

namespace kavri {

namespace {

quint16 u16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}
quint64 u64(const char *p)
{
    return qFromLittleEndian<quint64>(p);
}

// The header's local start time to nanoseconds since 1970; 0 when unset or invalid.
qint64 systemTimeNs(const char *p)
{
    const QDate date(u16(p), u16(p + 2), u16(p + 6));
    const QTime time(u16(p + 8), u16(p + 10), u16(p + 12), u16(p + 14));
    if (u16(p) == 0 || !date.isValid() || !time.isValid())
        return 0;
    // The header's year is any 16-bit number; nanoseconds in 64 bits reach only from about 1677
    // to 2262, and a date outside them has no start rather than an overflowed one.
    const qint64 ms = QDateTime(date, time).toMSecsSinceEpoch();
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / 1000000;
    return ms > -limit && ms < limit ? ms * 1000000 : 0;
}

} // namespace

// One stream for the whole file, reset per container: an init per container would allocate
// and free zlib's state (some 7 KiB) every 128 KiB of data. Inflating a container whole into
// memory of the stated size needs no window either, so none is allocated.
struct BlfFrameReader::Inflater
{
    z_stream z;
    bool ready = false;
    Inflater()
    {
        std::memset(&z, 0, sizeof z);
        ready = inflateInit(&z) == Z_OK;
    }
    ~Inflater()
    {
        if (ready)
            inflateEnd(&z);
    }

    // Inflates `in` into exactly the room of `out`; false when the stream is broken or holds
    // more.
    bool into(const char *in, int size, char *out, int room, int *produced)
    {
        if (!ready || inflateReset(&z) != Z_OK)
            return false;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in));
        z.avail_in = uInt(size);
        z.next_out = reinterpret_cast<Bytef *>(out);
        z.avail_out = uInt(room);
        int rc = inflate(&z, Z_FINISH);
        *produced = int(z.total_out);
        if (rc == Z_BUF_ERROR && z.avail_out == 0) {
            // Full: more would follow only if the stream says so.
            unsigned char probe;
            z.next_out = &probe;
            z.avail_out = 1;
            rc = inflate(&z, Z_FINISH);
            if (rc != Z_STREAM_END || z.total_out != uLong(room))
                rc = Z_DATA_ERROR;
        }
        return rc == Z_STREAM_END;
    }
};

BlfFrameReader::BlfFrameReader() = default;

BlfFrameReader::~BlfFrameReader() = default;

bool BlfFrameReader::start()
{
    char head[72];
    if (file.read(head, sizeof head) != qint64(sizeof head) || std::memcmp(head, "LOGG", 4) != 0) {
        fail(QStringLiteral("%1: not a BLF file (no LOGG header)").arg(file.fileName()));
        return false;
    }
    const quint32 headerSize = u32(head + 4);
    fileSize = file.size();
    if (headerSize < sizeof head || headerSize > 65536 || headerSize > fileSize) {
        fail(QStringLiteral("%1: BLF header of %2 bytes").arg(file.fileName()).arg(headerSize));
        return false;
    }
    epochNs = systemTimeNs(head + 40);
    filePos = headerSize;
    return file.seek(filePos);
}

KvFrameReader::Result BlfFrameReader::next(KvFrame &frame)
{
    for (;;) {
        switch (parseObject(frame)) {
        case Step::Frame:
            return Frame;
        case Step::Skipped:
            return Skipped;
        case Step::Again:
            continue;
        case Step::Error:
            return Error;
        case Step::NeedMore: {
            const Result r = loadContainer();
            if (r != Frame)
                return r;
        }
        }
    }
}

KvFrameReader::Result BlfFrameReader::loadContainer()
{
    for (;;) {
        if (filePos >= fileSize) {
            // What is left must not be the start of an object.
            const int left = inner.size() - innerPos;
            if (left > 0 &&
                QByteArray::fromRawData(inner.constData() + innerPos, left).contains("LOBJ"))
                return fail(QStringLiteral("%1: object at the end runs past the end of the file")
                                .arg(file.fileName()));
            return End;
        }
        char base[blf::ObjectBaseSize + blf::ContainerHeaderSize];
        if (!file.seek(filePos))
            return fail(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        const qint64 got = file.read(base, blf::ObjectBaseSize);
        if (got < blf::ObjectBaseSize) {
            // Trailing padding is no object.
            bool zeros = got >= 0;
            for (int i = 0; i < got; ++i)
                zeros = zeros && base[i] == 0;
            if (zeros && inner.size() == innerPos)
                return End;
            return fail(QStringLiteral("%1: truncated object at offset %2")
                            .arg(file.fileName())
                            .arg(filePos));
        }
        if (std::memcmp(base, "LOBJ", 4) != 0)
            return fail(
                QStringLiteral("%1: no object at offset %2").arg(file.fileName()).arg(filePos));
        const quint32 size = u32(base + 8);
        const quint32 type = u32(base + 12);
        if (size < blf::ObjectBaseSize)
            return fail(QStringLiteral("%1: object of %2 bytes at offset %3")
                            .arg(file.fileName())
                            .arg(size)
                            .arg(filePos));
        if (qint64(size) > fileSize - filePos)
            return fail(QStringLiteral("%1: object at offset %2 runs past the end of the file")
                            .arg(file.fileName())
                            .arg(filePos));
        const qint64 at = filePos;
        filePos += qint64(size) + size % 4;
        if (type != blf::LogContainer)
            continue; // top-level objects other than containers are stepped over
        if (size < blf::ObjectBaseSize + blf::ContainerHeaderSize ||
            size > quint32(blf::MaxContainerBytes))
            return fail(QStringLiteral("%1: container of %2 bytes at offset %3")
                            .arg(file.fileName())
                            .arg(size)
                            .arg(at));
        if (file.read(base + blf::ObjectBaseSize, blf::ContainerHeaderSize) !=
            blf::ContainerHeaderSize)
            return fail(QStringLiteral("%1: truncated container").arg(file.fileName()));
        const quint16 method = u16(base + 16);
        const quint32 stated = u32(base + 24);
        const int dataSize = int(size) - blf::ObjectBaseSize - blf::ContainerHeaderSize;
        if (stated > quint32(blf::MaxContainerBytes))
            return fail(QStringLiteral("%1: container at offset %2 claims %3 bytes")
                            .arg(file.fileName())
                            .arg(at)
                            .arg(stated));
        if (method != 0 && method != 2)
            return fail(QStringLiteral("%1: container at offset %2 packed by unknown method %3")
                            .arg(file.fileName())
                            .arg(at)
                            .arg(method));
        // Keep what is left of the last container in front of the new data.
        const int left = inner.size() - innerPos;
        if (left > blf::MaxObjectBytes)
            return fail(QStringLiteral("%1: object larger than %2 bytes")
                            .arg(file.fileName())
                            .arg(blf::MaxObjectBytes));
        std::memmove(inner.data(), inner.constData() + innerPos, size_t(left));
        innerPos = 0;
        packed.resize(dataSize);
        if (file.read(packed.data(), dataSize) != dataSize)
            return fail(QStringLiteral("%1: truncated container").arg(file.fileName()));
        if (method == 0) {
            inner.resize(left + dataSize);
            std::memcpy(inner.data() + left, packed.constData(), size_t(dataSize));
        } else {
            inner.resize(left + int(stated));
            if (!inflater)
                inflater.reset(new Inflater);
            int produced = 0;
            if (!inflater->into(packed.constData(), dataSize, inner.data() + left, int(stated),
                                &produced))
                return fail(QStringLiteral("%1: container at offset %2 does not inflate to its "
                                           "stated %3 bytes")
                                .arg(file.fileName())
                                .arg(at)
                                .arg(stated));
            inner.resize(left + produced);
        }
        return Frame;
    }
}

// Padding after the last object of a container: up to 7 bytes before the next one. Out of the
// way of parseObject(), which runs once per frame: its error texts would cost every call.
Q_NEVER_INLINE BlfFrameReader::Step BlfFrameReader::skipPadding(const char *p, int avail)
{
    int skip = 1;
    while (skip < 8 && skip + 4 <= avail && std::memcmp(p + skip, "LOBJ", 4) != 0)
        ++skip;
    if (skip + 4 > avail)
        return Step::NeedMore;
    if (skip == 8) {
        fail(QStringLiteral("%1: no object where one should start in the container before "
                            "offset %2")
                 .arg(file.fileName())
                 .arg(filePos));
        return Step::Error;
    }
    innerPos += skip;
    return Step::Again;
}

Q_NEVER_INLINE BlfFrameReader::Step BlfFrameReader::badObjectSize(quint32 size)
{
    fail(QStringLiteral("%1: object of %2 bytes in the container before offset %3")
             .arg(file.fileName())
             .arg(size)
             .arg(filePos));
    return Step::Error;
}

BlfFrameReader::Step BlfFrameReader::parseObject(KvFrame &frame)
{
    const int avail = inner.size() - innerPos;
    if (avail < blf::ObjectBaseSize)
        return Step::NeedMore;
    const char *p = inner.constData() + innerPos;
    if (std::memcmp(p, "LOBJ", 4) != 0)
        return skipPadding(p, avail);
    const quint16 version = u16(p + 6);
    const quint32 size = u32(p + 8);
    const quint32 type = u32(p + 12);
    if (size < blf::ObjectBaseSize || size > quint32(blf::MaxObjectBytes))
        return badObjectSize(size);
    if (quint32(avail) < size)
        return Step::NeedMore;
    innerPos += int(size);

    int headerEnd = 0;
    if (version == 1)
        headerEnd = blf::ObjectBaseSize + 16;
    else if (version == 2)
        headerEnd = blf::ObjectBaseSize + 24;
    else
        return Step::Again;
    const bool canMessage = type == blf::CanMessage || type == blf::CanMessage2;
    if (type == blf::CanFdMessage || type == blf::CanFdMessage64) {
        countUnsupported();
        return Step::Again;
    }
    if (!canMessage && type != blf::CanErrorExt)
        return Step::Again;
    const quint32 body = canMessage ? 16 : 32;
    if (size < quint32(headerEnd) + body)
        return Step::Skipped; // too short for what its type says
    const quint32 flags = u32(p + 16);
    const quint64 stamp = u64(p + 24); // after the flags in both versions
    const char *b = p + headerEnd;
    const quint16 channel = u16(b);
    KvFrame f;
    f.timeNs = qint64(flags == 1 ? stamp * 10000 : stamp);
    f.channel = quint8(qMin<int>(channel > 0 ? channel - 1 : 0, 255));
    quint32 id = 0;
    const char *data = nullptr;
    if (canMessage) {
        const quint8 bits = quint8(b[2]);
        f.tx = bits & 0x01;
        f.remote = bits & 0x80;
        f.dlc = quint8(qMin<int>(quint8(b[3]), 8));
        id = u32(b + 4);
        data = b + 8;
    } else {
        f.error = true;
        f.dlc = quint8(qMin<int>(quint8(b[10]), 8));
        id = u32(b + 16);
        data = b + 24;
    }
    f.extended = id & 0x80000000u;
    f.id = id & 0x1FFFFFFFu;
    // All eight bytes are in the object whatever the length: one load, and the bytes beyond the
    // length masked to 0, instead of a copy of variable length per frame.
    if (!f.remote) {
        const quint64 bytes = qFromLittleEndian<quint64>(data);
        qToLittleEndian(f.dlc == 8 ? bytes : bytes & ((quint64(1) << (8 * f.dlc)) - 1), f.data);
    }
    frame = f;
    return Step::Frame;
}

bool looksLikeBlf(const QByteArray &head)
{
    return head.size() >= 72 && head.startsWith("LOGG");
}

} // namespace kavri
