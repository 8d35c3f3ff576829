// Internal to the fuzz targets; not part of the library.
#ifndef FUZZ_COMMON_P_H
#define FUZZ_COMMON_P_H

#include "kvformatregistry.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// A broken promise of the library: libFuzzer records the input that led here.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s\n", #condition);                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzzing {

// The name of this process's scratch file: on tmpfs when there is one, since a disk-backed /tmp
// makes every input a file-system journal write, which costs more than reading the input.
inline const QByteArray &scratchPath()
{
    static const QByteArray path = [] {
        struct stat info;
        const char *folder =
            ::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
        return QByteArray(folder) + "/kavri-fuzz-" + QByteArray::number(qint64(::getpid())) +
               ".dat";
    }();
    return path;
}

inline void removeScratch()
{
    ::unlink(scratchPath().constData());
}

} // namespace fuzzing

// The readers take a file name, as a replay opens a recording, so each input is written to one
// scratch file per process. The file stays open and is rewritten in place: two system calls an
// input instead of a create, open and close. It is removed when the fuzzer exits normally.
inline QString scratchFile(const uint8_t *data, size_t size)
{
    static const int fd = [] {
        const int f = ::open(fuzzing::scratchPath().constData(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        FUZZ_CHECK(f >= 0);
        std::atexit(fuzzing::removeScratch);
        return f;
    }();
    static const QString name = QString::fromLocal8Bit(fuzzing::scratchPath());
    FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, off_t(done));
        FUZZ_CHECK(n > 0);
        done += size_t(n);
    }
    return name;
}

// A registry reader over any bytes, its content check passed by (the check runs too, for its own
// coverage): every read ends in a frame, a skipped line or object, the end or an error; the
// position never goes back; the end or error stays.
inline int fuzzFormatReader(const char *format, const uint8_t *data, size_t size)
{
    const QString name = scratchFile(data, size);
    KvFormatRegistry::detect(name, QString(), nullptr);
    std::unique_ptr<KvFrameReader> reader(
        KvFormatRegistry::find(QLatin1String(format))->newReader());
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

#endif // FUZZ_COMMON_P_H
