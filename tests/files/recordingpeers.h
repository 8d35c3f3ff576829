// Shared by the tests of the readers of other tools' recordings: the frames the peer tools are
// asked to write, running those tools, and one text per frame so that lists compare at a glance.
#ifndef RECORDINGPEERS_H
#define RECORDINGPEERS_H

#include "candata.h"
#include "canobj.h"
#include "kvfile.h"

#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>
#include <QtCore/QStringList>
#include <QtCore/QTemporaryDir>

namespace peers {

struct Frame
{
    qint64 offsetUs; // since the first frame
    quint32 id;
    bool extended;
    bool remote;
    int dlc;
    QByteArray data;
    int channel;
};

// Standard, extended and remote frames, DLC 0 to 8, identifiers at the edges of their ranges,
// times that are not whole 0.1 ms and one beyond an hour.
inline QList<Frame> frames()
{
    return {
        {0, 0x000, false, false, 0, QByteArray(), 0},
        {123457, 0x123, false, false, 3, QByteArray::fromHex("010203"), 0},
        {250000, 0x7FF, false, false, 8, QByteArray::fromHex("0011223344556677"), 1},
        {250099, 0x1ABCDEF0, true, false, 1, QByteArray::fromHex("AA"), 0},
        {400001, 0x1FFFFFFF, true, false, 8, QByteArray::fromHex("FFFEFDFCFBFAF9F8"), 0},
        {512345, 0x7DF, false, true, 0, QByteArray(), 0},
        {600000, 0x18DAF110, true, true, 8, QByteArray(), 1},
        {700000, 0x100, false, true, 5, QByteArray(), 0},
        {700000, 0x000, true, false, 2, QByteArray::fromHex("BEEF"), 0},
        {1000000, 0x456, false, false, 4, QByteArray::fromHex("DEADBEEF"), 0},
        {1999999, 0x0ABCDE, true, false, 5, QByteArray::fromHex("0102030405"), 0},
        {2000000, 0x001, false, false, 6, QByteArray::fromHex("A1A2A3A4A5A6"), 0},
        {3723456789, 0x7A0, false, false, 7, QByteArray::fromHex("10203040506070"), 0},
    };
}

inline QString describe(quint32 id, bool extended, bool remote, int length, const QByteArray &data,
                        quint32 stamp)
{
    return QStringLiteral("%1%2 %3 %4 %5 @%6")
        .arg(id, 0, 16)
        .arg(extended ? "x" : "")
        .arg(remote ? "r" : "d")
        .arg(length)
        .arg(QString::fromLatin1(data.toHex()))
        .arg(stamp);
}

// All eight data bytes are shown: the readers must clear what a frame does not carry.
inline QString describe(const CanObj &f)
{
    return describe(f.ID, f.ExternFlag, f.RemoteFlag, f.DataLen,
                    QByteArray(reinterpret_cast<const char *>(f.Data), 8), f.TimeStamp);
}

// What a reader must give for the frame; `remoteLength` false for tools that drop a remote
// frame's DLC.
inline QString expected(const Frame &f, bool remoteLength = true)
{
    const int length = f.remote && !remoteLength ? 0 : f.dlc;
    QByteArray data = f.data;
    data.append(QByteArray(8 - data.size(), '\0'));
    return describe(f.id, f.extended, f.remote, length, data, quint32(f.offsetUs / 100));
}

inline QStringList expected(const QList<Frame> &list, bool remoteLength = true)
{
    QStringList texts;
    for (const Frame &f : list)
        texts << expected(f, remoteLength);
    return texts;
}

// Writes a file into the test's directory; its path, or empty when it cannot be written.
inline QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    QFile f(dir.filePath(name));
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() ? f.fileName()
                                                                              : QString();
}

// Every frame the reader gives for the file; stops at 10000 in case a reader never ends.
inline QStringList readAll(KvFile &reader, const QString &path)
{
    QStringList texts;
    if (!reader.open(path) || !reader.prepare())
        return {QStringLiteral("cannot open or prepare")};
    CanObj frame;
    while (texts.size() < 10000 && reader.getFrame(frame))
        texts << describe(frame);
    reader.close();
    return texts;
}

// Runs a peer tool; an empty result means it ran and exited 0, else what went wrong.
inline QString run(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return program + QStringLiteral(" did not start");
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return program + QStringLiteral(" timed out");
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return program + QStringLiteral(" failed: ") +
               QString::fromLocal8Bit(p.readAllStandardError());
    return QString();
}

inline QString canUtil(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

// A candump log of the frames, as can-utils write it; after the third frame an error frame and
// a CAN FD frame, which the readers must step over.
inline QByteArray candumpLog(const QList<Frame> &list)
{
    const qint64 startUs = 1436509052249713;
    QByteArray log;
    for (int i = 0; i < list.size(); ++i) {
        const Frame &f = list.at(i);
        const qint64 t = startUs + f.offsetUs;
        const QByteArray time = QStringLiteral("(%1.%2) can%3 ")
                                    .arg(t / 1000000)
                                    .arg(t % 1000000, 6, 10, QLatin1Char('0'))
                                    .arg(f.channel)
                                    .toLatin1();
        QByteArray id =
            QByteArray::number(f.id, 16).toUpper().rightJustified(f.extended ? 8 : 3, '0');
        log += time + id + '#';
        if (f.remote)
            log += f.dlc > 0 ? "R" + QByteArray::number(f.dlc) : QByteArray("R");
        else
            log += f.data.toHex().toUpper();
        log += '\n';
        if (i == 2) {
            log += time + "20000080#0000000000000000\n";
            log += time + "123##1112233\n";
        }
    }
    return log;
}

} // namespace peers

#endif // RECORDINGPEERS_H
