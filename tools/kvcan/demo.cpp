#include "commands.h"

#include "canwritethread.h"
#include "devcan.h"
#include "firmwarecheck.h"
#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "kvglobalset.h"
#include "kvnamemapping.h"
#include "kvpipe.h"
#include "kvsendfilethread.h"
#include "kvsendfirmwarethread.h"
#include "session.h"
#include "taskthread.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QCryptographicHash>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QTextStream>
#include <QtWidgets/QTableWidget>

#include <atomic>

namespace {

// The example files: beside the source tree when run from a build, or installed with the tool.
QString examplePath(const QString &name)
{
    const QString app = QCoreApplication::applicationDirPath();
    for (const QString &dir :
         {QStringLiteral(KAVRI_EXAMPLES_DIR), app + "/../share/kavri/examples"}) {
        const QString path = QDir(dir).filePath(name);
        if (QFile::exists(path))
            return path;
    }
    return QString();
}

// Frames the engine put on a channel: every frame offered to its buffer that the receive thread
// did not bring in. Nothing in the demo hides sent frames, so each one is offered.
int sentOn(int channel)
{
    return KvBuffer::instance(channel).frames() -
           KvGlobalSet::instance().channelSets[channel].receiveCount;
}

void heading(const QString &text)
{
    out() << '\n' << "== " << text << '\n';
    out().flush();
}

} // namespace

int runDemo(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addOption(option("seconds", "How long the traffic runs.", "seconds", "10"));
    parser.addOption(option("max-lines", "Trace lines printed per channel and refresh.", "n", "6"));
    DeviceOptions options;
    if (const int rc = parseCommandLine(
            parser, args,
            "Runs the engine on a simulated two-channel adapter: a cyclic task list on channel 0, "
            "an ASC replay on channel 1 and a firmware download through channel 0's pipe, with "
            "the traffic, the watch list and the statistics as an analyser shows them.",
            &options);
        rc >= 0)
        return rc;
    qint64 msecs = 0, maxLinesValue = 0;
    if (!secondsOption(parser, "seconds", msecs) ||
        !countOption(parser, "max-lines", 0, 1000000, maxLinesValue))
        return 2;
    const int maxLines = int(maxLinesValue);

    const QString tasksFile = examplePath("tasks.xml");
    const QString ascFile = examplePath("recording.asc");
    const QString imageFile = examplePath("firmware.bin");
    if (tasksFile.isEmpty() || ascFile.isEmpty() || imageFile.isEmpty())
        return fail(QStringLiteral(
            "the example files (tasks.xml, recording.asc, firmware.bin) are missing"));

    heading("Device: simulated adapter type 4, two channels at 500 kbit/s, wired together");
    DeviceOptions device; // type 4, index 0, channel 0, 500 kbit/s
    device.type = options.type;
    device.index = options.index;
    device.wire = 1;
    const QVector<uint> channels{0, 1};
    KvDeviceSession session;
    TraceStream trace0(session, 0), trace1(session, 1);
    if (!startSession(session, device))
        return 1;
    // Senders throttle against a bus that takes its time, as a real one does.
    if (!session.setSimulatedBusTiming(true))
        return fail(session.errorString());
    DevCan &dev = session.device();
    out() << QStringLiteral("opened: %1 channels, bit rates %2 and %3 bit/s\n")
                 .arg(dev.getChannels())
                 .arg(dev.maxBaudrate(0))
                 .arg(dev.maxBaudrate(1));

    KvNameMapping &names = KvNameMapping::getSingleton();
    names.add(0x100, QStringLiteral("EngineStatus"));
    names.add(0x18FEF100, QStringLiteral("VehicleSpeed"));
    names.add(0x7DF, QStringLiteral("DiagRequest"));
    names.add(0x110, QStringLiteral("FwStart"));
    names.add(0x111, QStringLiteral("FwData"));
    names.add(0x112, QStringLiteral("FwEnd"));
    names.add(0x113, QStringLiteral("FwDigest"));
    names.add(0x114, QStringLiteral("FwFinish"));
    names.add(0x123, QStringLiteral("BrakePedal"));
    KvGlobalSet &settings = KvGlobalSet::instance();
    if (!settings.isWatch())
        settings.onWatch();

    QTableWidget table;
    QString error;
    if (!loadTasks(tasksFile, table, error))
        return fail(error);
    out() << QStringLiteral("task list %1: %2 tasks\n")
                 .arg(QDir::toNativeSeparators(tasksFile))
                 .arg(table.rowCount());

    int exitCode = 0;
    FirmwareCheck firmware;
    QElapsedTimer clock;
    {
        clock.start();

        heading("Traffic (direction, time of day, adapter stamp, ID, name, type, format, length, "
                "data)");
        // The task thread clears channel 0's pipe as it starts, so the download waits for it.
        settings.channelSets[0].taskMode = 1; // cyclic
        taskThread tasks(0);
        session.addSender(&tasks);
        std::atomic<bool> tasksStarted{false};
        QObject::connect(
            &tasks, &taskThread::startSignal, &tasks, [&] { tasksStarted = true; },
            Qt::DirectConnection);
        taskQueue q = tasksOf(table);
        tasks.setTaskQueue(q);
        tasks.setPage(1);
        tasks.start();
        runUntil(5000, [&] { return bool(tasksStarted); });

        taskObj replayTask;
        CanData burst;
        burst.push(CanObj());
        replayTask.dataList << burst;
        KvSendFileThread replay(1);
        session.addSender(&replay);
        replay.setFileType(2);
        replay.setFileName(ascFile);
        replay.setParameter(replayTask);
        std::atomic<bool> replayDone{false};
        QObject::connect(
            &replay, &KvSendFileThread::tailSignal, &replay, [&] { replayDone = true; },
            Qt::DirectConnection);
        replay.start();

        std::atomic<bool> firmwareSent{false}, refused{false};
        CanWriteThread *writer0 = session.writer(0);
        QObject::connect(
            writer0, &CanWriteThread::tailSignal, writer0, [&] { firmwareSent = true; },
            Qt::DirectConnection);
        for (uint ch : channels)
            QObject::connect(
                session.writer(int(ch)), &CanWriteThread::errorSignal, session.writer(int(ch)),
                [&] { refused = true; }, Qt::DirectConnection);
        KvSendFirmwareThread flash(0);
        session.addSender(&flash);
        flash.setFileName(imageFile);
        int progress = -1;
        QObject::connect(&flash, &KvSendFirmwareThread::progressValueChanged, &flash,
                         [&](int p) { progress = p; });
        flash.start();

        auto refresh = [&] {
            trace0.drain(maxLines, {}, true);
            trace1.drain(
                maxLines,
                [&](const QString &id, const QString &dir, const QString &data) {
                    firmware.add(id, dir, data);
                },
                true);
        };
        runUntil(
            qMax<qint64>(1000, msecs), [&] { return bool(refused); }, refresh, 500);

        heading("Stopping");
        tasks.stop();
        tasks.waitForFinish();
        replay.stop();
        replay.waitForFinish();
        flash.stop();
        flash.waitForFinish();
        runUntil(10000,
                 [&] { return KvPipe::instance(0).isEmpty() && KvPipe::instance(1).isEmpty(); });
        runUntil(10000, [&] { return bool(firmwareSent); });
        // Let the receive threads take what is still on the wire before they stop.
        runUntil(5000, [&] {
            return settings.channelSets[0].receiveCount == sentOn(1) &&
                   settings.channelSets[1].receiveCount == sentOn(0);
        });
        session.stop();
        QCoreApplication::processEvents();
        refresh();
        out() << QStringLiteral("task list, replay (%1) and firmware download (%2 %) stopped\n")
                     .arg(replayDone ? "complete" : "stopped")
                     .arg(progress);
        if (refused) {
            fail(QStringLiteral("the adapter refused a transmit"));
            exitCode = 1;
        }
    }
    const double elapsed = clock.elapsed() / 1000.0;

    for (uint ch : channels) {
        heading(QStringLiteral("Watch list, channel %1").arg(ch));
        printWatchList(ch);
    }

    heading("Statistics");
    bool countsAgree = true;
    for (uint ch : channels) {
        KvBuffer &buffer = KvBuffer::instance(int(ch));
        const KvChannelSet &set = settings.channelSets[ch];
        const double load =
            100.0 * double(quint32(buffer.size())) / (elapsed * dev.maxBaudrate(ch));
        const quint64 sent = quint64(sentOn(int(ch)));
        const int receivedOther = settings.channelSets[1 - ch].receiveCount;
        out() << QStringLiteral(
                     "channel %1: %2 frames, %3 bits, bus load %4 %, received %5, sent %6 "
                     "(task and replay threads %7)\n")
                     .arg(ch)
                     .arg(buffer.frames())
                     .arg(quint32(buffer.size()))
                     .arg(load, 0, 'f', 1)
                     .arg(set.receiveCount)
                     .arg(sent)
                     .arg(set.sendCount);
        const bool agree = sent == quint64(receivedOther);
        countsAgree = countsAgree && agree;
        out() << QStringLiteral(
                     "  frames sent on channel %1 = frames received on channel %2: %3 = %4 %5\n")
                     .arg(ch)
                     .arg(1 - ch)
                     .arg(sent)
                     .arg(receivedOther)
                     .arg(agree ? "OK" : "MISMATCH");
    }

    heading("Firmware check");
    QFile image(imageFile);
    image.open(QIODevice::ReadOnly);
    QCryptographicHash originalHash(QCryptographicHash::Sha1);
    originalHash.addData(&image);
    const bool imageMatches = firmware.imageDigest() == originalHash.result();
    out() << QStringLiteral(
                 "reassembled %1 bytes from %2 frames 0x111 on channel 1 (image file: %3 bytes)\n")
                 .arg(firmware.imageBytes())
                 .arg(firmware.imageFrames())
                 .arg(image.size());
    out() << QStringLiteral("digest frames 0x113: %1\n")
                 .arg(QString::fromLatin1(firmware.digest().toHex()));
    out() << QStringLiteral("SHA-1 of the reassembled image %1 the digest frames: %2\n")
                 .arg(firmware.digestMatches() ? "matches" : "does NOT match")
                 .arg(firmware.digestMatches() && imageMatches ? "verified" : "FAILED");

    session.setSimulatedBusTiming(false);
    const bool ok = exitCode == 0 && countsAgree && firmware.digestMatches() && imageMatches;
    heading(ok ? "Demo finished: all checks passed" : "Demo finished: a check FAILED");
    out().flush();
    return ok ? 0 : 1;
}
