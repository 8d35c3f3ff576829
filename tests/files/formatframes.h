// Shared by the format tests: frames of every kind and one text per frame, so that lists
// compare at a glance.
#ifndef FORMATFRAMES_H
#define FORMATFRAMES_H

#include "kvformatregistry.h"
#include "kvframe.h"

#include <QtCore/QProcess>
#include <QtCore/QStringList>

#include <cstring>
#include <memory>

namespace formats {

inline KvFrame frame(qint64 ns, quint32 id, const char *flags, int channel, int dlc,
                     const QByteArray &data = {})
{
    KvFrame f;
    f.timeNs = ns;
    f.id = id;
    f.channel = quint8(channel);
    f.dlc = quint8(dlc);
    f.extended = std::strchr(flags, 'x');
    f.remote = std::strchr(flags, 'r');
    f.error = std::strchr(flags, 'e');
    f.tx = std::strchr(flags, 't');
    if (!f.remote)
        std::memcpy(f.data, data.constData(), size_t(qMin(dlc, int(data.size()))));
    return f;
}

// Standard, extended, remote and error frames, lengths 0 to 8, four channels, both directions,
// stamps with nanoseconds, one beyond an hour.
inline QVector<KvFrame> frames()
{
    const QByteArray b = QByteArray::fromHex("0123456789ABCDEF");
    QVector<KvFrame> list;
    for (int dlc = 0; dlc <= 8; ++dlc)
        list << frame(qint64(dlc) * 1000123457, 0x100 + quint32(dlc), dlc % 2 ? "t" : "", dlc % 4,
                      dlc, b);
    list << frame(9100000001, 0x7FF, "", 1, 8, QByteArray::fromHex("FFFEFDFCFBFAF9F8"))
         << frame(9200000999, 0x1ABCDEF0, "x", 2, 1, "\xAA")
         << frame(9300000000, 0x1FFFFFFF, "xt", 3, 8, b)
         << frame(9400000000, 0x000, "x", 0, 2, QByteArray::fromHex("BEEF"))
         << frame(9500000000, 0x7DF, "r", 0, 0) << frame(9600000000, 0x18DAF110, "xrt", 1, 8)
         << frame(9700000000, 0x100, "r", 2, 5)
         << frame(9800000000, 0x80, "e", 0, 8, QByteArray(8, '\0'))
         << frame(3723456789123, 0x7A0, "t", 3, 7, b);
    return list;
}

inline QString describe(const KvFrame &f)
{
    return QStringLiteral("%1%2%3%4%5 ch%6 %7 %8 @%9")
        .arg(f.id, 0, 16)
        .arg(f.extended ? "x" : "")
        .arg(f.remote ? "r" : "")
        .arg(f.error ? "E" : "")
        .arg(f.tx ? " Tx" : " Rx")
        .arg(f.channel)
        .arg(f.dlc)
        .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(f.data), 8).toHex()))
        .arg(f.timeNs);
}

// What the format keeps of a frame: its time resolution, and of an error frame what it holds.
inline KvFrame kept(KvFrame f, const QString &format)
{
    const KvFormat *fmt = KvFormatRegistry::find(format);
    if (fmt->resolutionNs > 1) // to the nearest step
        f.timeNs = (f.timeNs + fmt->resolutionNs / 2) / fmt->resolutionNs * fmt->resolutionNs;
    if (f.error) {
        f.remote = false;
        if (format == QLatin1String("asc") || format == QLatin1String("asclog")) {
            const KvFrame bare = frame(f.timeNs, 0, "e", f.channel, 0);
            f = bare;
        } else if (format == QLatin1String("candump")) {
            f.extended = false;
        } else if (format == QLatin1String("blf")) {
            f.tx = false;
        }
    }
    return f;
}

inline QStringList describe(const QVector<KvFrame> &list, const QString &format = {})
{
    QStringList texts;
    for (const KvFrame &f : list) {
        if (format == QLatin1String("csv") && f.error)
            continue;
        texts << describe(format.isEmpty() ? f : kept(f, format));
    }
    return texts;
}

// Every frame a reader gives, as texts; Skipped and the end noted as lines of their own.
inline QStringList readAll(KvFrameReader &reader, int cap = 100000)
{
    QStringList texts;
    KvFrame f;
    for (int i = 0; i < cap; ++i) {
        switch (reader.read(f)) {
        case KvFrameReader::Frame:
            texts << describe(f);
            break;
        case KvFrameReader::Skipped:
            texts << QStringLiteral("skipped");
            break;
        case KvFrameReader::End:
            return texts;
        case KvFrameReader::Error:
            texts << QStringLiteral("error: ") + reader.errorString();
            return texts;
        }
    }
    texts << QStringLiteral("never ended");
    return texts;
}

// Debian's python-can belongs to this interpreter; the python3 first on PATH lacks it.
constexpr char Python[] = "/usr/bin/python3";

inline bool havePythonCan()
{
    QProcess p;
    p.start(Python, {"-c", "import can"});
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Every frame python-can reads from the file, one line each: time, id, extended, remote, error,
// rx, channel, dlc, data in hex. `error` set when python-can fails.
inline QVector<KvFrame> readByPython(const QString &format, const QString &path, QString *error)
{
    static const char script[] = R"(
import sys, can
fmt, path = sys.argv[1], sys.argv[2]
reader = {"asc": can.ASCReader, "candump": can.CanutilsLogReader, "blf": can.BLFReader}[fmt](path)
for m in reader:
    ch = m.channel
    if isinstance(ch, str):
        digits = "".join(c for c in ch if c.isdigit())
        ch = int(digits) if digits else 0
    print("%.6f %d %d %d %d %d %d %d %s" % (m.timestamp, m.arbitration_id, m.is_extended_id,
          m.is_remote_frame, m.is_error_frame, m.is_rx, ch or 0, m.dlc, bytes(m.data).hex()))
)";
    QProcess p;
    p.start(Python, {"-c", script, format, path});
    QVector<KvFrame> list;
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        *error = QString::fromLocal8Bit(p.readAllStandardError());
        return list;
    }
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.size() < 8)
            continue;
        KvFrame f;
        f.timeNs = qRound64(w[0].toDouble() * 1e6) * 1000;
        f.id = w[1].toUInt();
        f.extended = w[2] == "1";
        f.remote = w[3] == "1";
        f.error = w[4] == "1";
        f.tx = w[5] == "0";
        f.channel = quint8(w[6].toUInt());
        f.dlc = quint8(w[7].toUInt());
        const QByteArray data = QByteArray::fromHex(w.value(8));
        if (!f.remote)
            std::memcpy(f.data, data.constData(), size_t(qMin(8, int(data.size()))));
        list << f;
    }
    return list;
}

// Every frame our reader gives; `error` set when the file does not open or read to its end.
inline QVector<KvFrame> readOurs(const QString &path, QString *error, qint64 *epochNs = nullptr)
{
    QVector<KvFrame> list;
    std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, {}, error);
    if (!reader)
        return list;
    KvFrame f;
    KvFrameReader::Result r;
    while ((r = reader->read(f)) == KvFrameReader::Frame || r == KvFrameReader::Skipped) {
        if (r == KvFrameReader::Frame)
            list << f;
    }
    if (r == KvFrameReader::Error)
        *error = reader->errorString();
    if (epochNs)
        *epochNs = reader->startEpochNs();
    return list;
}

inline bool writeOurs(const QString &format, const QString &path, const QVector<KvFrame> &list,
                      qint64 startNs = 0)
{
    std::unique_ptr<KvFrameWriter> w = KvFormatRegistry::newWriter(format);
    if (!w->open(path, startNs))
        return false;
    for (const KvFrame &f : list)
        w->write(f);
    return w->close();
}

} // namespace formats

#endif // FORMATFRAMES_H
