#include "commands.h"

#include "canwritethread.h"
#include "firmwarecheck.h"
#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvglobalset.h"
#include "kvidfiltermannger.h"
#include "kvnamemapping.h"
#include "kvnamexmlreader.h"
#include "kvpipe.h"
#include "kvreplay.h"
#include "kvsendfilethread.h"
#include "kvsendfirmwarethread.h"
#include "record.h"
#include "session.h"
#include "stopsignals.h"
#include "taskthread.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMap>
#include <QtCore/QRegularExpression>
#include <QtCore/QTextStream>
#include <QtWidgets/QTableWidget>

#include <atomic>
#include <memory>
#include <vector>

namespace {

// The frames of a positional list or a repeatable option; exit code 2 (already reported) on a
// bad one.
bool framesOf(const QStringList &texts, CanData &frames)
{
    for (const QString &text : texts) {
        CanObj frame;
        QString error;
        if (!parseFrame(text, frame, error)) {
            fail(error, 2);
            return false;
        }
        frames.push(frame);
    }
    return true;
}

// A recording or image must be a regular file with something in it; said before any format is
// looked at (a FIFO or device would block the open or never end).
bool checkInputFile(const QString &path, const QString &what)
{
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("%1: no such file").arg(path)) == 0;
    if (!info.isFile())
        return fail(QStringLiteral("%1: not a regular file").arg(path)) == 0;
    if (info.size() == 0)
        return fail(QStringLiteral("%1: the %2 is empty").arg(path, what)) == 0;
    return true;
}

// The exit status of work the user cut short.
constexpr int CutShort = 130;

// Hands `rounds` repetitions of a frame list (0: without end) to a transmit pipe, a few queues
// at a time.
class Feeder
{
public:
    Feeder(const CanData &frames, qint64 rounds) : left(rounds), endless(rounds == 0)
    {
        if (frames.isEmpty())
            return;
        // About 512 frames a queue: large enough that the transmit thread fills its adapter
        // calls, small enough that a few queues ahead stay well under a second of bus time.
        perQueue = qMax<qint64>(1, 512 / frames.size());
        for (qint64 r = 0; r < perQueue; ++r) {
            for (int i = 0; i < frames.size(); ++i)
                queue.push(frames.at(i));
        }
    }

    void feed(KvPipe &pipe)
    {
        while (!queue.isEmpty() && (endless || left > 0) && pipe.count() < QueuesAhead) {
            if (endless || left >= perQueue) {
                pipe.push(queue);
                left -= perQueue;
                continue;
            }
            // The last, shorter queue.
            CanData rest;
            const int frames = queue.size() / int(perQueue);
            for (int i = 0; i < frames * int(left); ++i)
                rest.push(queue.at(i));
            pipe.push(rest);
            left = 0;
        }
    }

private:
    static constexpr int QueuesAhead = 8;
    CanData queue;
    qint64 perQueue = 0;
    qint64 left;
    bool endless;
};

} // namespace

void printWatchList(uint channel, const cansyntax::IdFilter &filter)
{
    KvBuffer &buffer = KvBuffer::instance(int(channel));
    QStringList lines;
    for (int i = 0; i < buffer.countW(); ++i) {
        const KvCanObjWatchStr w = buffer.getWatchFrame(i);
        const quint32 id = w.text.id.trimmed().toUInt(nullptr, 16);
        if (!filter.accepts(id, w.text.frameFormat.startsWith(QLatin1String("Ext"))))
            continue;
        QStringList bytes = w.text.data.split(' ', Qt::SkipEmptyParts);
        for (int b = 0; b < bytes.size(); ++b)
            bytes[b] += w.changed.testBit(b) ? QLatin1Char('*') : QLatin1Char(' ');
        const QString name = KvNameMapping::getSingleton().find(id);
        lines << QStringLiteral("  ") + w.text.id + name.leftJustified(14) + ' ' +
                     w.text.frameType.leftJustified(6) + ' ' + w.text.frameFormat.leftJustified(8) +
                     ' ' + w.text.dataLen + "  " + bytes.join(' ');
    }
    report() << QStringLiteral(
                    "Watch list of channel %1 (%2 identifiers; * marks bytes that changed):\n")
                    .arg(channel)
                    .arg(lines.size());
    for (const QString &line : qAsConst(lines))
        report() << line << '\n';
    report().flush();
}

int runMonitor(const QStringList &args)
{
    if (wantsSignals(args))
        return runMonitorSignals(args);
    QCommandLineParser parser;
    addDeviceOptions(parser);
    addOutputOptions(parser);
    addFilterOptions(parser);
    parser.addOption(option("seconds", "How long to monitor; 0: until Ctrl-C.", "seconds", "10"));
    parser.addOption(option("watch", "Keep the watch list and print it at the end."));
    parser.addOption(option(
        "send", "Send this frame (ID#DATA) on the --wire channel first; repeatable.", "frame"));
    parser.addOption(option("repeat",
                            "Send the --send frames this many times; 0: over and over until the "
                            "monitor ends, keeping the bus busy.",
                            "n", "1"));
    parser.addOption(option("max-lines",
                            "Trace lines printed per refresh, then a count of the rest; 0: every "
                            "frame.",
                            "n", "0"));
    parser.addOption(option(
        "record", "Also record the channel into this file (format from its ending).", "file"));
    DeviceOptions device;
    if (const int rc = parseCommandLine(
            parser, args, "Live trace of one channel. Ctrl-C or SIGTERM ends it with its summary.",
            &device);
        rc >= 0)
        return rc;
    OutputOptions output;
    cansyntax::IdFilter filter;
    qint64 msecs = 0, maxLines = 0, repeat = 1;
    if (!readOutputOptions(parser, output) || !readFilterOptions(parser, filter) ||
        !secondsOption(parser, "seconds", msecs) ||
        !countOption(parser, "max-lines", 0, 1000000, maxLines) ||
        !countOption(parser, "repeat", 0, 1000000, repeat))
        return 2;
    CanData toSend;
    if (!framesOf(parser.values("send"), toSend))
        return 2;
    if (!toSend.isEmpty() && device.wire < 0)
        return fail(QStringLiteral("--send needs --wire: the frames go out on the wired channel"),
                    2);
    // The engine's own ID filter stays open; the candump filters apply in the tool.
    KvIdFilterMannger &engineFilter = KvIdFilterMannger::instance(int(device.channel));
    engineFilter.clearNotReceive();
    engineFilter.clearOnlyReceive();
    engineFilter.setFilterMode(0);

    if (parser.isSet("watch") && !KvGlobalSet::instance().isWatch())
        KvGlobalSet::instance().onWatch();
    qint64 shown = 0, dropped = 0;
    std::atomic<qint64> sent{0};
    int exitCode = 0;
    {
        KvDeviceSession session;
        TraceStream trace(session, device.channel);
        trace.setFilter(filter);
        trace.setOutput(output);
        if (!startSession(session, device))
            return 1;
        // --record: a recording beside the trace, ended by the time, Ctrl-C or SIGTERM.
        std::unique_ptr<Recording> recording;
        if (parser.isSet("record")) {
            stopsignals::install();
            recording.reset(new Recording(session, parser.value("record")));
            recording->setChannels({int(device.channel)});
            if (!recording->start())
                return 1;
        }
        // The frames go out as the bus takes them: the pipe is topped up a few queues ahead of
        // the transmit thread, so that a repeat of thousands (or for ever) never sits in memory
        // all at once and the bus never waits for the next tick.
        Feeder feeder(toSend, repeat);
        if (!toSend.isEmpty()) {
            QObject::connect(
                session.writer(device.wire), &CanWriteThread::sendSignal,
                session.writer(device.wire), [&sent](unsigned long n) { sent += qint64(n); },
                Qt::DirectConnection);
            feeder.feed(KvPipe::instance(device.wire));
        }
        const auto tick = [&] {
            if (recording)
                recording->hideStatus();
            shown += maxLines > 0 ? trace.drain(int(maxLines)) : trace.pump();
            if (recording)
                recording->showStatus();
        };
        runUntil(
            msecs > 0 ? msecs : -1, [&] { return recording && recording->failed(); },
            [&] {
                if (!toSend.isEmpty())
                    feeder.feed(KvPipe::instance(device.wire));
                tick();
            },
            maxLines > 0 ? 500 : 20);
        session.stop();
        if (recording)
            recording->hideStatus();
        if (maxLines > 0)
            tick();
        else
            shown += trace.finish(interrupted() ? 200 : 1000);
        dropped = trace.dropped();
        if (recording)
            exitCode = recording->finish();
    }
    if (pipeClosed())
        return 0;
    // One summary line, whatever was asked: scripts read it.
    report() << QStringLiteral("channel %1: %2 frames shown, %3 received, %4 dropped by the trace")
                    .arg(device.channel)
                    .arg(shown)
                    .arg(KvGlobalSet::instance().channelSets[device.channel].receiveCount)
                    .arg(dropped)
             << (toSend.isEmpty()
                     ? QString()
                     : QStringLiteral(", %1 sent on channel %2").arg(sent.load()).arg(device.wire))
             << '\n';
    report().flush();
    if (parser.isSet("watch"))
        printWatchList(device.channel, filter);
    return exitCode;
}

int runSend(const QStringList &args)
{
    if (wantsSignals(args))
        return runSendSignals(args);
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addPositionalArgument("frames",
                                 "Frames as cansend takes them: 123#1122 (3 hex digits: "
                                 "standard), 18FEF100#01.02 (8 digits: extended), 7DF#R or 7DF#R3 "
                                 "(remote, with its length).",
                                 "ID#DATA...");
    parser.addOption(option("repeat", "Send the frames this many times.", "n", "1"));
    DeviceOptions device;
    if (const int rc =
            parseCommandLine(parser, args, "Send frames through the transmit pipe.", &device);
        rc >= 0)
        return rc;
    if (parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("no frames given: expected ID#DATA such as 123#1122"), 2);
    qint64 repeat = 1;
    if (!countOption(parser, "repeat", 1, 1000000, repeat))
        return 2;
    CanData once;
    if (!framesOf(parser.positionalArguments(), once))
        return 2;
    CanData tagged;
    for (qint64 r = 0; r < repeat; ++r) {
        for (int i = 0; i < once.size(); ++i) {
            CanObj frame = once.at(i);
            // The last frame carries TailFlag, so the transmit thread tells us when all are out.
            frame.TailFlag = r == repeat - 1 && i == once.size() - 1;
            tagged.push(frame);
        }
    }

    const int total = tagged.size();
    int exitCode = 0;
    {
        KvDeviceSession session;
        std::unique_ptr<TraceStream> trace(
            device.wire >= 0 ? new TraceStream(session, uint(device.wire)) : nullptr);
        if (!startSession(session, device))
            return 1;
        std::atomic<bool> done{false}, refused{false};
        CanWriteThread *writer = session.writer(int(device.channel));
        QObject::connect(
            writer, &CanWriteThread::tailSignal, writer, [&] { done = true; },
            Qt::DirectConnection);
        QObject::connect(
            writer, &CanWriteThread::errorSignal, writer, [&] { refused = true; },
            Qt::DirectConnection);
        KvPipe::instance(int(device.channel)).push(tagged);
        runUntil(30000, [&] { return done || refused; });
        if (refused) {
            exitCode = fail(QStringLiteral("transmit refused on channel %1").arg(device.channel));
        } else if (interrupted()) {
            exitCode = CutShort;
        } else if (!done) {
            exitCode = fail(QStringLiteral("timed out sending on channel %1").arg(device.channel));
        } else {
            report()
                << QStringLiteral("sent %1 frames on channel %2\n").arg(total).arg(device.channel);
        }
        if (trace) {
            const int wire = device.wire;
            runUntil(2000, [&] {
                return KvGlobalSet::instance().channelSets[wire].receiveCount >= total;
            });
            session.stop();
            const int shown = trace->drain(50);
            report() << QStringLiteral("received %1 frames on channel %2\n").arg(shown).arg(wire);
        }
    }
    report().flush();
    return exitCode;
}

int runReplay(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    addOutputOptions(parser);
    parser.addPositionalArgument("file", "Recording to replay.");
    parser.addOption(option("format",
                            KvFormatRegistry::names() +
                                ", or from the content when not given (asclog is ASC from other "
                                "tools). Every format with time stamps is replayed with its "
                                "recorded timing; only an explicit --format asc replays the "
                                "application's ASC recording as fast as the adapter takes it.",
                            "format"));
    parser.addOption(
        option("speed", "Play the recorded gaps this many times faster.", "factor", "1"));
    parser.addOption(option("loop", "Replay the file this many times.", "n", "1"));
    parser.addOption(option("ignore-timestamps", "Send the frames back to back."));
    parser.addOption(
        option("max-gap", "Longest pause between two frames, in seconds.", "seconds", "10"));
    parser.addOption(option("map",
                            "Replay recording channels onto engine channels, e.g. 1=0,2=1 (both "
                            "sides engine numbers: ASC and BLF channel 1 and candump can0 are "
                            "channel 0); other channels are left out. Without it, every channel "
                            "goes to --channel.",
                            "from=to,..."));
    parser.addOption(
        option("interval", "Pause between frames of a binary file, in ms.", "ms", "0"));
    parser.addOption(
        option("id", "Identifier (hex) for the frames of a binary file.", "id", "100"));
    DeviceOptions device;
    if (const int rc = parseCommandLine(
            parser, args,
            "Replay a recorded frame file. With --wire, the frames that reach the wired channel "
            "are printed (--log, --json).",
            &device);
        rc >= 0)
        return rc;
    OutputOptions output;
    if (!readOutputOptions(parser, output))
        return 2;
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("expected one file to replay"), 2);
    qint64 maxGap = 0, loops = 1, interval = 0;
    if (!secondsOption(parser, "max-gap", maxGap) ||
        !countOption(parser, "loop", 1, 1000000, loops) ||
        !countOption(parser, "interval", 0, 3600000, interval))
        return 2;
    bool speedOk = false;
    const double speed = parser.value("speed").toDouble(&speedOk);
    if (!speedOk || !(speed >= 0.001 && speed <= 1000))
        return fail(QStringLiteral("bad --speed '%1': a factor from 0.001 to 1000")
                        .arg(parser.value("speed")),
                    2);
    QVector<QPair<int, int>> map;
    if (parser.isSet("map")) {
        QString error;
        if (!KvReplay::parseChannelMap(parser.value("map"), map, error))
            return fail(QStringLiteral("bad --map: %1").arg(error), 2);
    }
    bool idOk = false;
    const uint id = parser.value("id").toUInt(&idOk, 16);
    if (!idOk || id > 0x1FFFFFFF)
        return fail(QStringLiteral("bad --id '%1'").arg(parser.value("id")), 2);
    const QString file = parser.positionalArguments().at(0);
    if (!checkInputFile(file, QStringLiteral("recording")))
        return 1;
    QString error;
    const KvFormat *detected = KvFormatRegistry::detect(file, parser.value("format"), &error);
    if (!detected)
        return fail(error, error.startsWith(QLatin1String("unknown format")) ? 2 : 1);
    const QString format = detected->name;
    const bool unpacedAsc = parser.value("format").compare("asc", Qt::CaseInsensitive) == 0;
    if (!map.isEmpty() && unpacedAsc)
        return fail(QStringLiteral("--map needs the channels of a format reader; not with "
                                   "--format asc"),
                    2);

    taskObj task;
    task.interval = int(interval);
    CanObj templateFrame;
    templateFrame.ID = id;
    templateFrame.ExternFlag = id > 0x7FF;
    CanData burst;
    burst.push(templateFrame);
    task.dataList << burst;

    int exitCode = 0;
    QString why;
    qint64 sent = 0, skipped = 0, errorFrames = 0;
    qint64 perChannel[5] = {};
    QMap<int, qint64> perTarget;
    KvSendFileThread::EndReason ended = KvSendFileThread::NotRun;
    {
        KvDeviceSession session;
        KvReplay replay(session);
        replay.setFileName(file);
        if (unpacedAsc)
            replay.setFileType(detected->replayFileType);
        else
            replay.setFormat(format);
        replay.setChannel(int(device.channel));
        replay.setChannelMap(map);
        replay.setMaxGap(parser.isSet("ignore-timestamps") ? 0 : maxGap);
        replay.setSpeed(speed);
        replay.setLoops(loops);
        replay.setParameter(task);
        std::unique_ptr<TraceStream> trace(
            device.wire >= 0 ? new TraceStream(session, uint(device.wire)) : nullptr);
        if (trace)
            trace->setOutput(output);
        if (!startSession(session, device, replay.targetChannels()))
            return 1;
        ProgressBar bar(QStringLiteral("replay"));
        QObject::connect(&replay, &KvReplay::progressChanged, &replay, [&](int p) { bar.set(p); });
        if (!replay.start())
            return fail(replay.errorString());
        runUntil(
            -1, [&] { return !replay.isRunning(); },
            [&] {
                if (trace)
                    trace->pump();
            },
            20);
        // Interrupted: the threads end within a pause slice, and the replay with them.
        replay.stop();
        replay.waitForFinished();
        QCoreApplication::processEvents();
        bar.finish();
        sent = replay.sentFrames();
        skipped = replay.skippedLines();
        errorFrames = replay.errorFrames();
        perTarget = replay.sentPerChannel();
        for (int c = 0; c < 5; ++c)
            perChannel[c] = replay.sentFromChannel(c);
        ended = replay.endReason();
        why = replay.errorString();
        if (trace) {
            runUntil(1000, [&] {
                trace->pump();
                return KvGlobalSet::instance().channelSets[device.wire].receiveCount >= sent;
            });
        }
        session.stop();
        if (trace)
            trace->finish(500);
    }
    if (pipeClosed())
        return 0;
    if (ended == KvSendFileThread::Refused || ended == KvSendFileThread::NotRun)
        return fail(why.isEmpty() ? QStringLiteral("cannot read %1 as %2").arg(file, format) : why);
    if (ended == KvSendFileThread::TransmitRefused)
        return fail(QStringLiteral("transmit refused while replaying %1").arg(file));
    QStringList channels;
    for (auto it = perTarget.cbegin(); it != perTarget.cend(); ++it)
        channels << QStringLiteral("%1 on channel %2").arg(it.value()).arg(it.key());
    QStringList recorded;
    for (int c = 0; c < 5; ++c) {
        if (perChannel[c] > 0)
            recorded << QStringLiteral("%1 from %2")
                            .arg(perChannel[c])
                            .arg(c < 4 ? QStringLiteral("channel %1").arg(c)
                                       : QStringLiteral("others"));
    }
    report() << QStringLiteral("replayed %1 frames from %2 (%3; recorded: %4), skipped %5 lines, "
                               "%6 error frames\n")
                    .arg(sent)
                    .arg(file)
                    .arg(channels.join(QStringLiteral(", ")))
                    .arg(recorded.isEmpty() ? QStringLiteral("none") : recorded.join(", "))
                    .arg(skipped)
                    .arg(errorFrames);
    report().flush();
    if (ended == KvSendFileThread::Stopped || interrupted())
        return CutShort;
    if (ended == KvSendFileThread::ReadError)
        exitCode = fail(QStringLiteral("stopped at a truncated or broken file: %1").arg(why));
    else if (sent == 0)
        exitCode = fail(QStringLiteral("no frames to replay in %1").arg(file));
    return exitCode;
}

int runFlash(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addPositionalArgument("image", "Firmware image file.");
    DeviceOptions device;
    if (const int rc = parseCommandLine(
            parser, args,
            "Download a firmware image over CAN. With --wire, the wired channel checks the image "
            "it received against the digest frames.",
            &device);
        rc >= 0)
        return rc;
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("expected one image file"), 2);
    const QString image = parser.positionalArguments().at(0);
    if (!checkInputFile(image, QStringLiteral("image")))
        return 1;
    QFile probe(image);
    if (!probe.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open %1: %2").arg(image, probe.errorString()));
    const qint64 bytes = probe.size();
    probe.close();

    int exitCode = 0;
    {
        FirmwareCheck check;
        KvDeviceSession session;
        std::unique_ptr<TraceStream> trace(
            device.wire >= 0 ? new TraceStream(session, uint(device.wire)) : nullptr);
        if (!startSession(session, device))
            return 1;
        CanWriteThread *writer = session.writer(int(device.channel));
        std::atomic<bool> finished{false}, refused{false}, failed{false};
        QObject::connect(
            writer, &CanWriteThread::tailSignal, writer, [&] { finished = true; },
            Qt::DirectConnection);
        QObject::connect(
            writer, &CanWriteThread::errorSignal, writer, [&] { refused = true; },
            Qt::DirectConnection);
        KvSendFirmwareThread flash(device.channel);
        session.addSender(&flash);
        flash.setFileName(image);
        QObject::connect(
            &flash, &KvSendFirmwareThread::errorSignal, &flash, [&] { failed = true; },
            Qt::DirectConnection);
        ProgressBar bar(QStringLiteral("flash"));
        QObject::connect(&flash, &KvSendFirmwareThread::progressValueChanged, &flash,
                         [&](int p) { bar.set(p); });
        flash.start();
        auto collect = [&] {
            if (trace)
                trace->drain(0, [&](const QString &id, const QString &dir, const QString &data) {
                    check.add(id, dir, data);
                });
        };
        runUntil(
            -1, [&] { return (finished || refused || failed) && flash.isFinished(); }, collect, 20);
        const bool cut = interrupted() && !finished;
        flash.stop();
        flash.waitForFinish();
        QCoreApplication::processEvents();
        bar.finish();
        if (refused || failed) {
            exitCode =
                fail(refused ? QStringLiteral("transmit refused on channel %1").arg(device.channel)
                             : QStringLiteral("the download of %1 failed").arg(image));
        } else if (cut) {
            report() << QStringLiteral("flash of %1 stopped\n").arg(image);
            exitCode = CutShort;
        } else {
            report() << QStringLiteral("flashed %1 bytes on channel %2\n")
                            .arg(bytes)
                            .arg(device.channel);
            if (trace) {
                runUntil(2000, [&] {
                    collect();
                    return check.complete();
                });
                report() << QStringLiteral(
                                "channel %1 received %2 bytes in %3 frames; SHA-1 %4: %5\n")
                                .arg(device.wire)
                                .arg(check.imageBytes())
                                .arg(check.imageFrames())
                                .arg(QString::fromLatin1(check.digest().toHex()))
                                .arg(check.digestMatches() ? "verified" : "MISMATCH");
                if (!check.digestMatches())
                    exitCode = 1;
            }
        }
    }
    report().flush();
    return exitCode;
}

// Loads a task-list document into a table, as the application's task table holds it.
bool loadTasks(const QString &file, QTableWidget &table, QString &error)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open %1: %2").arg(file, f.errorString());
        return false;
    }
    table.setColumnCount(4);
    KvNameXmlReader reader(&table);
    if (!reader.readFile(&f)) {
        error =
            QStringLiteral("cannot read %1: %2").arg(file, reader.errorString().replace('\n', ' '));
        return false;
    }
    return true;
}

taskQueue tasksOf(const QTableWidget &table)
{
    taskQueue q;
    for (int row = 0; row < table.rowCount(); ++row) {
        if (const QTableWidgetItem *item = table.item(row, 0))
            q.enqueue(item->data(Qt::UserRole).value<taskObj>());
    }
    return q;
}

int runTasks(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addPositionalArgument("file", "Task-list document (.xml).");
    parser.addOption(option("mode",
                            "sequential, cyclic or parallel. A task list's interval separates the "
                            "tasks from each other, not the bursts of one task.",
                            "mode", "sequential"));
    parser.addOption(option("seconds", "How long cyclic and parallel tasks run.", "seconds", "5"));
    DeviceOptions device;
    if (const int rc = parseCommandLine(parser, args,
                                        "Run the send tasks of a task-list document. Ctrl-C "
                                        "stops them (exit status 130).",
                                        &device);
        rc >= 0)
        return rc;
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("expected one task-list document"), 2);
    static const QStringList modes{"sequential", "cyclic", "parallel"};
    const int mode = modes.indexOf(parser.value("mode").toLower());
    if (mode < 0)
        return fail(QStringLiteral("unknown mode '%1'").arg(parser.value("mode")), 2);
    qint64 msecs = 0;
    if (!secondsOption(parser, "seconds", msecs))
        return 2;
    const QString file = parser.positionalArguments().at(0);
    if (!checkInputFile(file, QStringLiteral("task list")))
        return 1;
    QTableWidget table;
    QString error;
    if (!loadTasks(file, table, error))
        return fail(error);
    if (table.rowCount() == 0)
        return fail(QStringLiteral("%1 holds no tasks").arg(file));
    report() << QStringLiteral("%1 tasks:\n").arg(table.rowCount());
    for (int row = 0; row < table.rowCount(); ++row)
        report() << "  " << table.item(row, 0)->text().leftJustified(16)
                 << table.item(row, 1)->text() << table.item(row, 2)->text().leftJustified(7)
                 << table.item(row, 3)->text() << '\n';
    report().flush();

    KvChannelSet &stats = KvGlobalSet::instance().channelSets[device.channel];
    const int before = stats.sendCount;
    stats.taskMode = mode;
    int exitCode = 0;
    bool cut = false;
    {
        KvDeviceSession session;
        if (!startSession(session, device))
            return 1;
        taskThread runner(device.channel);
        session.addSender(&runner);
        QObject::connect(&session, &KvDeviceSession::aboutToStop, &runner,
                         [&runner] { runner.stopSingleTask(); });
        std::atomic<bool> refused{false}, stopping{false};
        // A transmit refused because the tasks are being stopped is the stop, not a failure.
        QObject::connect(
            &runner, &taskThread::errorSignal, &runner,
            [&] {
                if (!stopping)
                    refused = true;
            },
            Qt::DirectConnection);
        taskQueue q = tasksOf(table);
        runner.setTaskQueue(q);
        runner.setPage(1);
        runner.start();
        if (mode == 0)
            runUntil(-1, [&] { return runner.isFinished(); });
        else
            runUntil(msecs, [&] { return bool(refused); });
        cut = interrupted() && !(mode == 0 && runner.isFinished());
        stopping = true;
        runner.stop();
        runner.waitForFinish();
        runner.stopSingleTask();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (refused)
            exitCode = fail(QStringLiteral("transmit refused on channel %1").arg(device.channel));
        report() << QStringLiteral("%1 frames sent on channel %2 in %3 mode%4\n")
                        .arg(stats.sendCount - before)
                        .arg(device.channel)
                        .arg(modes.at(mode))
                        .arg(cut ? QStringLiteral(", stopped") : QString());
    }
    report().flush();
    return exitCode ? exitCode : cut ? CutShort : 0;
}
