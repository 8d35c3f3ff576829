#include "kvblf_p.h"

#include <QtCore/QDateTime>
#include <QtCore/QtEndian>

#include <cstring>

#include <zlib.h>

namespace kavri {

namespace {

void put16(char *p, quint16 v)
{
    qToLittleEndian(v, p);
}
void put32(char *p, quint32 v)
{
    qToLittleEndian(v, p);
}
void put64(char *p, quint64 v)
{
    qToLittleEndian(v, p);
}

// Nanoseconds since 1970 to the header's local time of day, to the millisecond.
void putSystemTime(char *p, qint64 epochNs)
{
    std::memset(p, 0, 16);
    if (epochNs <= 0)
        return;
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(epochNs / 1000000);
    put16(p, quint16(t.date().year()));
    put16(p + 2, quint16(t.date().month()));
    put16(p + 4, quint16(t.date().dayOfWeek() % 7));
    put16(p + 6, quint16(t.date().day()));
    put16(p + 8, quint16(t.time().hour()));
    put16(p + 10, quint16(t.time().minute()));
    put16(p + 12, quint16(t.time().second()));
    put16(p + 14, quint16(t.time().msec()));
}

} // namespace

BlfFrameWriter::BlfFrameWriter()
{
    pending.reserve(MaxContainer);
}

BlfFrameWriter::~BlfFrameWriter()
{
    close();
}

QByteArray BlfFrameWriter::header(qint64 fileSize) const
{
    char p[blf::FileHeaderSize] = {};
    std::memcpy(p, "LOGG", 4);
    put32(p + 4, blf::FileHeaderSize);
    p[12] = 2; // log format version 2.6.8.1, as the common readers expect
    p[13] = 6;
    p[14] = 8;
    p[15] = 1;
    put64(p + 16, quint64(fileSize));
    put64(p + 24, quint64(uncompressed));
    put32(p + 32, quint32(objects));
    putSystemTime(p + 40, startNs);
    putSystemTime(p + 56, startNs > 0 ? startNs + lastNs : 0);
    return QByteArray(p, sizeof p);
}

void BlfFrameWriter::begin()
{
    // Stamps count from the header's start, which has milliseconds only: the rest of the start
    // time goes into every stamp, so absolute times survive.
    offsetNs = startNs > 0 ? startNs % 1000000 : 0;
    const QByteArray h = header(blf::FileHeaderSize);
    append(h.constData(), h.size());
}

bool BlfFrameWriter::put(const KvFrame &f)
{
    const int body = f.error ? 32 : 16;
    const int size = 32 + body;
    if (pending.size() + size > MaxContainer)
        settle();
    char p[64] = {};
    std::memcpy(p, "LOBJ", 4);
    put16(p + 4, 32);
    put16(p + 6, 1);
    put32(p + 8, quint32(size));
    put32(p + 12, f.error ? blf::CanErrorExt : blf::CanMessage);
    put32(p + 16, 2); // stamps in nanoseconds
    const qint64 stamp = qMax<qint64>(0, f.timeNs + offsetNs);
    put64(p + 24, quint64(stamp));
    char *b = p + 32;
    put16(b, quint16(f.channel + 1));
    const quint32 id = (f.id & 0x1FFFFFFFu) | (f.extended ? 0x80000000u : 0);
    const int dlc = qMin<int>(f.dlc, 8);
    if (f.error) {
        b[10] = char(dlc);
        put32(b + 16, id);
        std::memcpy(b + 24, f.data, size_t(dlc));
    } else {
        b[2] = char((f.tx ? 0x01 : 0) | (f.remote ? 0x80 : 0));
        b[3] = char(dlc);
        put32(b + 4, id);
        if (!f.remote)
            std::memcpy(b + 8, f.data, size_t(dlc));
    }
    pending.append(p, size);
    ++objects;
    lastNs = qMax(lastNs, f.timeNs);
    return true;
}

void BlfFrameWriter::settle()
{
    if (pending.isEmpty())
        return;
    uLongf room = compressBound(uLong(pending.size()));
    deflated.resize(int(room));
    if (compress2(reinterpret_cast<Bytef *>(deflated.data()), &room,
                  reinterpret_cast<const Bytef *>(pending.constData()), uLong(pending.size()),
                  Z_BEST_SPEED) != Z_OK) {
        failWith(QStringLiteral("cannot compress a container"));
        return;
    }
    const quint32 size = quint32(blf::ObjectBaseSize + blf::ContainerHeaderSize + room);
    char head[blf::ObjectBaseSize + blf::ContainerHeaderSize] = {};
    std::memcpy(head, "LOBJ", 4);
    put16(head + 4, blf::ObjectBaseSize);
    put16(head + 6, 1);
    put32(head + 8, size);
    put32(head + 12, blf::LogContainer);
    put16(head + 16, 2); // zlib
    put32(head + 24, quint32(pending.size()));
    append(head, sizeof head);
    append(deflated.constData(), int(room));
    static const char padding[4] = {};
    append(padding, int(size % 4));
    uncompressed += sizeof head + pending.size();
    pending.resize(0); // keeps the reserved room
}

bool BlfFrameWriter::updateHeader()
{
    const QByteArray h = header(fileBytes());
    return writeAt(0, h.constData(), h.size());
}

} // namespace kavri
