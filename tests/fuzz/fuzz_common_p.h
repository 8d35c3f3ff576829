// Internal to the fuzz targets; not part of the library.
#ifndef FUZZ_COMMON_P_H
#define FUZZ_COMMON_P_H

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The readers take a file name, so each input is written to one scratch file per process.
inline QString scratchFile(const uint8_t *data, size_t size)
{
    static const QString name =
        QStringLiteral("/tmp/kavri-fuzz-%1.dat").arg(QCoreApplication::applicationPid());
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    return name;
}

// A broken promise of the library: libFuzzer records the input that led here.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s\n", #condition);                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#endif // FUZZ_COMMON_P_H
