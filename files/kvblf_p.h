// Internal to the format registry; not installed and not part of the API.
#ifndef KVBLF_P_H
#define KVBLF_P_H

#include "kvframereader.h"
#include "kvframewriter.h"

#include <QtCore/QByteArray>
#include <QtCore/QVector>

#include <memory>

// The binary logging format, as other tools write it:
//   file header   "LOGG", header size (u32), ..., file size (u64) at 16, uncompressed size (u64)
//                 at 24, object count (u32) at 32, start and stop time (8 x u16 each, local
//                 time: year, month, weekday, day, hour, minute, second, ms) at 40 and 56
//   objects       "LOBJ", header size (u16), header version (u16), object size (u32, header
//                 included), object type (u32); version 1 adds flags (u32; 1 = stamps in 10 us,
//                 2 = in ns), client (u16), object version (u16), stamp (u64); version 2 adds
//                 flags, status (u8), pad, object version (u16), stamp (u64), original (u64).
//                 Each object is followed by (size % 4) bytes of padding.
//   containers    objects of type 10 at the top of the file: method (u16; 0 stored, 2 zlib),
//                 6 bytes, uncompressed size (u32), 4 bytes, then the data, which is a run of
//                 objects; an object may go on in the next container.
//   CAN message   (types 1 and 86) channel (u16, from 1), flags (u8; 1 sent, 0x80 remote),
//                 dlc (u8), id (u32, bit 31 extended), data (8 bytes)
//   CAN error     (type 73) channel (u16), length (u16), flags (u32), ecc, position, dlc (u8
//                 each), pad, frame length (u32), id (u32), extended flags (u16), pad, data (8)
//   CAN FD        (types 100 and 101) counted and stepped over.
namespace kavri {

namespace blf {
const quint32 CanMessage = 1;
const quint32 LogContainer = 10;
const quint32 CanErrorExt = 73;
const quint32 CanMessage2 = 86;
const quint32 CanFdMessage = 100;
const quint32 CanFdMessage64 = 101;
const int FileHeaderSize = 144;
const int ObjectBaseSize = 16;
const int ContainerHeaderSize = 16;
// Bounds that keep a hostile file from taking memory: real containers hold 128 KiB.
const int MaxContainerBytes = 16 * 1024 * 1024;
const int MaxObjectBytes = 16 * 1024 * 1024;
} // namespace blf

// Reads the file front to back on the caller's thread. From the third compressed container on,
// every other container is inflated on a thread of its own (Unpacker) while the one before is
// parsed. Every field here belongs to the reading thread; the unpacking thread sees only the
// container handed to it, moved in and out under the Unpacker's mutex. File access, checks and
// error texts all stay on the reading thread, in file order.
class BlfFrameReader : public KvFrameReader
{
public:
    BlfFrameReader();
    ~BlfFrameReader() override;

protected:
    bool start() override;
    Result next(KvFrame &frame) override;
    qint64 consumed() const override { return consumedPos; }

private:
    enum class Step { Frame, Skipped, Again, NeedMore, Error };
    Step parseObject(KvFrame &frame);
    Step skipPadding(const char *p, int avail);
    Step badObjectSize(quint32 size);

    struct Container;
    class Unpacker;
    // Puts the next container's data behind what is left of the last one.
    Result loadContainer();
    // Reads the next container from the file as it is, or what stands in its place.
    void readContainer(Container &c);
    // Reads the container after the one being loaded and hands it to the unpacking thread.
    void readAhead();
    QByteArray spare();
    void recycle(QByteArray &buffer);

    struct Inflater;
    std::unique_ptr<Inflater> inflater; // made at the first compressed container
    // Objects of the containers read, from innerPos on unread; the containers' data starts a
    // fixed headroom into the buffer, so that the unread tail of the last one fits in front.
    QByteArray inner;
    int innerPos = 0;
    QVector<QByteArray> spares; // buffers of containers done with, for the next ones
    qint64 filePos = 0;         // next top-level object to read from the file
    qint64 consumedPos = 0;     // end of the last container loaded into inner
    qint64 fileSize = 0;
    int loaded = 0;
    // The next container, already read: with the unpacker while `ahead` is set, or in `held`.
    std::unique_ptr<Container> held;
    std::unique_ptr<Unpacker> unpacker;
    bool ahead = false;
    bool noThread = false; // the system refused a thread: unpack here
};

class BlfFrameWriter : public KvFrameWriter
{
public:
    BlfFrameWriter();
    ~BlfFrameWriter() override;

    static const int MaxContainer = 128 * 1024;

protected:
    void begin() override;
    bool put(const KvFrame &frame) override;
    void settle() override;
    bool updateHeader() override;

private:
    QByteArray header(qint64 fileSize) const;

    QByteArray pending; // objects of the container being filled
    QByteArray deflated;
    qint64 objects = 0;
    qint64 uncompressed = blf::FileHeaderSize;
    qint64 lastNs = 0;
    qint64 offsetNs = 0; // start time below the header's milliseconds
};

bool looksLikeBlf(const QByteArray &head);

} // namespace kavri

#endif // KVBLF_P_H
