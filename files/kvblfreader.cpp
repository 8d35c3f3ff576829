#include "kvblf_p.h"

#include <QtCore/QDateTime>
#include <QtCore/QtEndian>

#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

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

namespace {

// Room kept in front of each container's data for the unread tail of the one before: an object
// split between two containers is joined by copying that tail, not the new container.
const int Headroom = 4096;

} // namespace

// One top-level container as read from the file, or what was found in its place.
struct BlfFrameReader::Container
{
    enum Kind { Data, End, Padding, Broken };
    Kind kind = End;
    qint64 at = 0;   // offset of the container object
    qint64 next = 0; // offset of the object after it
    quint16 method = 0;
    quint32 stated = 0;
    QByteArray packed;
    QByteArray data;       // Headroom bytes, then the objects the container holds once unpacked
    bool unpacked = false; // its objects are in data
    bool tried = false;    // inflated, with or without success
    QString error;         // for Broken

    // Runs on either thread: touches nothing but the container and the given stream.
    void unpack(Inflater &inflater)
    {
        data.resize(Headroom + int(stated));
        int produced = 0;
        tried = true;
        unpacked = inflater.into(packed.constData(), packed.size(), data.data() + Headroom,
                                 int(stated), &produced);
        data.resize(Headroom + produced);
    }
};

// Inflates one container at a time on a thread of its own, so that the next container inflates
// while this one is parsed: most of a read is zlib's. The container is moved in and out under
// the mutex, which orders its buffers between the threads; the thread shares nothing else.
class BlfFrameReader::Unpacker
{
public:
    Unpacker() : worker([this] { run(); }) {}
    ~Unpacker()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        changed.notify_all();
        worker.join();
    }

    void give(Container &&c)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            job = std::move(c);
            state = Busy;
        }
        changed.notify_all();
    }

    void take(Container &c)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return state == Done; });
        c = std::move(job);
        state = Idle;
    }

private:
    void run()
    {
        Inflater inflater;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stop || state == Busy; });
            if (stop)
                return;
            Container c = std::move(job);
            lock.unlock();
            c.unpack(inflater);
            lock.lock();
            job = std::move(c);
            state = Done;
            changed.notify_all();
        }
    }

    enum State { Idle, Busy, Done };
    std::mutex mutex;
    std::condition_variable changed;
    Container job;
    State state = Idle;
    bool stop = false;
    std::thread worker; // last: starts once the rest is made
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
    filePos = consumedPos = headerSize;
    inner.resize(Headroom);
    innerPos = Headroom;
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

QByteArray BlfFrameReader::spare()
{
    return spares.isEmpty() ? QByteArray() : spares.takeLast();
}

void BlfFrameReader::recycle(QByteArray &buffer)
{
    // Three are in use at most: the one parsed, the one inflating here and the one ahead.
    if (spares.size() < 3 && buffer.capacity() <= 2 * Headroom + 256 * 1024)
        spares.append(std::move(buffer));
    buffer = QByteArray();
}

void BlfFrameReader::readContainer(Container &c)
{
    const auto broken = [&c](const QString &why) {
        c.kind = Container::Broken;
        c.error = why;
    };
    const QString name = file.fileName();
    for (;;) {
        c.at = c.next = filePos;
        if (filePos >= fileSize) {
            c.kind = Container::End;
            return;
        }
        char base[blf::ObjectBaseSize + blf::ContainerHeaderSize];
        if (!file.seek(filePos))
            return broken(QStringLiteral("%1: %2").arg(name, file.errorString()));
        const qint64 got = file.read(base, blf::ObjectBaseSize);
        if (got < blf::ObjectBaseSize) {
            // Trailing padding is no object.
            bool zeros = got >= 0;
            for (int i = 0; i < got; ++i)
                zeros = zeros && base[i] == 0;
            c.kind = zeros ? Container::Padding : Container::Broken;
            c.error = QStringLiteral("%1: truncated object at offset %2").arg(name).arg(filePos);
            return;
        }
        if (std::memcmp(base, "LOBJ", 4) != 0)
            return broken(QStringLiteral("%1: no object at offset %2").arg(name).arg(filePos));
        const quint32 size = u32(base + 8);
        const quint32 type = u32(base + 12);
        if (size < blf::ObjectBaseSize)
            return broken(QStringLiteral("%1: object of %2 bytes at offset %3")
                              .arg(name)
                              .arg(size)
                              .arg(filePos));
        if (qint64(size) > fileSize - filePos)
            return broken(QStringLiteral("%1: object at offset %2 runs past the end of the file")
                              .arg(name)
                              .arg(filePos));
        filePos += qint64(size) + size % 4;
        c.next = filePos;
        if (type != blf::LogContainer)
            continue; // top-level objects other than containers are stepped over
        if (size < blf::ObjectBaseSize + blf::ContainerHeaderSize ||
            size > quint32(blf::MaxContainerBytes))
            return broken(QStringLiteral("%1: container of %2 bytes at offset %3")
                              .arg(name)
                              .arg(size)
                              .arg(c.at));
        if (file.read(base + blf::ObjectBaseSize, blf::ContainerHeaderSize) !=
            blf::ContainerHeaderSize)
            return broken(QStringLiteral("%1: truncated container").arg(name));
        c.method = u16(base + 16);
        c.stated = u32(base + 24);
        const int dataSize = int(size) - blf::ObjectBaseSize - blf::ContainerHeaderSize;
        if (c.stated > quint32(blf::MaxContainerBytes))
            return broken(QStringLiteral("%1: container at offset %2 claims %3 bytes")
                              .arg(name)
                              .arg(c.at)
                              .arg(c.stated));
        if (c.method != 0 && c.method != 2)
            return broken(QStringLiteral("%1: container at offset %2 packed by unknown method %3")
                              .arg(name)
                              .arg(c.at)
                              .arg(c.method));
        // A stored container is read straight to where its objects are parsed.
        QByteArray &to = c.method == 0 ? c.data : c.packed;
        const int offset = c.method == 0 ? Headroom : 0;
        to = spare();
        to.resize(offset + dataSize);
        if (file.read(to.data() + offset, dataSize) != dataSize)
            return broken(QStringLiteral("%1: truncated container").arg(name));
        c.kind = Container::Data;
        c.unpacked = c.method == 0;
        if (!c.unpacked)
            c.data = spare();
        return;
    }
}

void BlfFrameReader::readAhead()
{
    held.reset(new Container);
    readContainer(*held);
    if (held->kind != Container::Data || held->unpacked || noThread)
        return;
    if (!unpacker) {
        try {
            unpacker.reset(new Unpacker);
        } catch (const std::system_error &) {
            noThread = true; // out of threads: the next container inflates here, in turn
            return;
        }
    }
    unpacker->give(std::move(*held));
    held.reset();
    ahead = true;
}

KvFrameReader::Result BlfFrameReader::loadContainer()
{
    Container c;
    if (ahead) {
        unpacker->take(c);
        ahead = false;
    } else if (held) {
        c = std::move(*held);
        held.reset();
    } else {
        readContainer(c);
        // Alternate: while this container inflates here, the unpacker inflates the next one,
        // which is then parsed while the one after inflates here. Not for the first containers,
        // so that a small file never starts a thread.
        if (c.kind == Container::Data && !c.unpacked && ++loaded > 1)
            readAhead();
    }
    const int left = inner.size() - innerPos;
    const QString name = file.fileName();
    switch (c.kind) {
    case Container::End:
        consumedPos = c.next;
        // What is left must not be the start of an object.
        if (left > 0 &&
            QByteArray::fromRawData(inner.constData() + innerPos, left).contains("LOBJ"))
            return fail(
                QStringLiteral("%1: object at the end runs past the end of the file").arg(name));
        return End;
    case Container::Padding:
        return left == 0 ? End : fail(c.error);
    case Container::Broken:
        return fail(c.error);
    case Container::Data:
        break;
    }
    if (!c.unpacked && !c.tried) {
        if (!inflater)
            inflater.reset(new Inflater);
        c.unpack(*inflater);
    }
    if (!c.unpacked)
        return fail(QStringLiteral("%1: container at offset %2 does not inflate to its "
                                   "stated %3 bytes")
                        .arg(name)
                        .arg(c.at)
                        .arg(c.stated));
    if (left > blf::MaxObjectBytes)
        return fail(
            QStringLiteral("%1: object larger than %2 bytes").arg(name).arg(blf::MaxObjectBytes));
    // The tail of the last container goes in front of the new data.
    if (left <= Headroom) {
        std::memcpy(c.data.data() + Headroom - left, inner.constData() + innerPos, size_t(left));
        innerPos = Headroom - left;
    } else {
        QByteArray joined = spare();
        joined.resize(left + c.data.size());
        std::memcpy(joined.data() + Headroom, inner.constData() + innerPos, size_t(left));
        std::memcpy(joined.data() + Headroom + left, c.data.constData() + Headroom,
                    size_t(c.data.size() - Headroom));
        recycle(c.data);
        c.data = std::move(joined);
        innerPos = Headroom;
    }
    inner.swap(c.data);
    recycle(c.data);
    recycle(c.packed);
    consumedPos = c.next;
    return Frame;
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
                 .arg(consumedPos));
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
             .arg(consumedPos));
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
