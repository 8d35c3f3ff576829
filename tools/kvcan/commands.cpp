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
#include "kvsendfilethread.h"
#include "kvsendfirmwarethread.h"
#include "record.h"
#include "session.h"
#include "stopsignals.h"
#include "taskthread.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QTextStream>
#include <QtWidgets/QTableWidget>

#include <atomic>
#include <memory>

namespace {

// Parses a subcommand's arguments and its device options. Returns -1 to go on, or the exit code
// when the command is done already (help shown, or a usage error reported).
int parseArgs(QCommandLineParser &parser, const QStringList &args, const QString &description,
              DeviceOptions &device)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    if (!parser.parse(args))
        return fail(parser.errorText(), 2);
    if (parser.isSet(QStringLiteral("help"))) {
        out() << parser.helpText();
        out().flush();
        return 0;
    }
    QString error;
    if (!readDeviceOptions(parser, device, error))
        return fail(error, 2);
    return -1;
}

// "100-1FF" or "100" -> an inclusive identifier range.
bool parseRange(const QString &text, KvIdFilter &filter)
{
    const QStringList parts = text.split('-');
    bool ok1 = false, ok2 = false;
    filter.startId = parts.value(0).toUInt(&ok1, 16);
    filter.endId = parts.size() > 1 ? parts.at(1).toUInt(&ok2, 16) : filter.startId;
    if (parts.size() == 1)
        ok2 = ok1;
    filter.note = text;
    return ok1 && ok2 && parts.size() <= 2;
}

} // namespace

void printWatchList(uint channel)
{
    KvBuffer &buffer = KvBuffer::instance(int(channel));
    out() << QStringLiteral(
                 "Watch list of channel %1 (%2 identifiers; * marks bytes that changed):\n")
                 .arg(channel)
                 .arg(buffer.countW());
    for (int i = 0; i < buffer.countW(); ++i) {
        const KvCanObjWatchStr w = buffer.getWatchFrame(i);
        QStringList bytes = w.text.data.split(' ', Qt::SkipEmptyParts);
        for (int b = 0; b < bytes.size(); ++b)
            bytes[b] += w.changed.testBit(b) ? QLatin1Char('*') : QLatin1Char(' ');
        const QString name =
            KvNameMapping::getSingleton().find(w.text.id.trimmed().toUInt(nullptr, 16));
        out() << "  " << w.text.id << name.leftJustified(14) << ' '
              << w.text.frameType.leftJustified(6) << ' ' << w.text.frameFormat.leftJustified(8)
              << ' ' << w.text.dataLen << "  " << bytes.join(' ') << '\n';
    }
    out().flush();
}

int runMonitor(const QStringList &args)
{
    if (wantsSignals(args))
        return runMonitorSignals(args);
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addOption({"seconds", "How long to monitor.", "seconds", "10"});
    parser.addOption({"watch", "Keep the watch list and print it at the end."});
    parser.addOption(
        {"not", "Drop frames in this ID range (hex, e.g. 100-1FF); repeatable.", "range"});
    parser.addOption({"only", "Keep only frames in this ID range (hex); repeatable.", "range"});
    parser.addOption(
        {"send", "Send this frame (ID#DATA) on the --wire channel first; repeatable.", "frame"});
    parser.addOption({"max-lines", "Trace lines printed per refresh.", "n", "20"});
    parser.addOption(
        {"record", "Also record the channel into this file (format from its ending).", "file"});
    DeviceOptions device;
    if (const int rc = parseArgs(parser, args, "Live trace of one channel.", device); rc >= 0)
        return rc;
    CanData toSend;
    for (const QString &text : parser.values("send")) {
        CanObj frame;
        if (!parseFrame(text, frame))
            return fail(
                QStringLiteral("bad frame '%1': expected ID#DATA such as 123#1122").arg(text), 2);
        toSend.push(frame);
    }
    if (!toSend.isEmpty() && device.wire < 0)
        return fail(QStringLiteral("--send needs --wire: the frames go out on the wired channel"),
                    2);
    KvIdFilterMannger &filter = KvIdFilterMannger::instance(int(device.channel));
    filter.clearNotReceive();
    filter.clearOnlyReceive();
    filter.setFilterMode(0);
    for (const QString &r : parser.values("not")) {
        KvIdFilter f;
        if (!parseRange(r, f))
            return fail(QStringLiteral("bad range '%1'").arg(r), 2);
        filter.addNotReceive(f);
        filter.setFilterMode(1);
    }
    for (const QString &r : parser.values("only")) {
        KvIdFilter f;
        if (!parseRange(r, f))
            return fail(QStringLiteral("bad range '%1'").arg(r), 2);
        filter.addOnlyReceive(f);
        filter.setFilterMode(2);
    }
    const int seconds = parser.value("seconds").toInt();
    const int maxLines = parser.value("max-lines").toInt();

    if (parser.isSet("watch") && !KvGlobalSet::instance().isWatch())
        KvGlobalSet::instance().onWatch();
    int received = 0;
    int exitCode = 0;
    {
        KvDeviceSession session;
        TraceStream trace(session, device.channel);
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
        if (!toSend.isEmpty())
            KvPipe::instance(device.wire).push(toSend);
        runUntil(
            seconds * 1000,
            [&] { return recording && (stopsignals::requested() || recording->failed()); },
            [&] {
                if (recording)
                    recording->hideStatus();
                received += trace.drain(maxLines);
                if (recording)
                    recording->showStatus();
            },
            500);
        session.stop();
        if (recording)
            recording->hideStatus();
        received += trace.drain(maxLines);
        if (recording)
            exitCode = recording->finish();
    }
    out() << QStringLiteral("channel %1: %2 frames shown, %3 received\n")
                 .arg(device.channel)
                 .arg(received)
                 .arg(KvGlobalSet::instance().channelSets[device.channel].receiveCount);
    out().flush();
    if (parser.isSet("watch"))
        printWatchList(device.channel);
    return exitCode;
}

int runSend(const QStringList &args)
{
    if (wantsSignals(args))
        return runSendSignals(args);
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addPositionalArgument("frames", "Frames as ID#DATA: 123#1122, 18FEF100#01, 7DF#R.",
                                 "ID#DATA...");
    parser.addOption({"repeat", "Send the frames this many times.", "n", "1"});
    DeviceOptions device;
    if (const int rc = parseArgs(parser, args, "Send frames through the transmit pipe.", device);
        rc >= 0)
        return rc;
    if (parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("no frames given: expected ID#DATA such as 123#1122"), 2);
    const int repeat = qMax(1, parser.value("repeat").toInt());
    CanData frames;
    for (int r = 0; r < repeat; ++r) {
        for (const QString &text : parser.positionalArguments()) {
            CanObj frame;
            if (!parseFrame(text, frame))
                return fail(
                    QStringLiteral("bad frame '%1': expected ID#DATA such as 123#1122").arg(text),
                    2);
            frames.push(frame);
        }
    }
    // The last frame carries TailFlag, so the transmit thread tells us when all are out.
    CanObj last = frames.at(frames.size() - 1);
    last.TailFlag = 1;
    CanData tagged;
    for (int i = 0; i < frames.size() - 1; ++i)
        tagged.push(frames.at(i));
    tagged.push(last);

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
        } else if (!done) {
            exitCode = fail(QStringLiteral("timed out sending on channel %1").arg(device.channel));
        } else {
            out()
                << QStringLiteral("sent %1 frames on channel %2\n").arg(total).arg(device.channel);
        }
        if (trace) {
            const int wire = device.wire;
            runUntil(2000, [&] {
                return KvGlobalSet::instance().channelSets[wire].receiveCount >= total;
            });
            session.stop();
            const int shown = trace->drain(50);
            out() << QStringLiteral("received %1 frames on channel %2\n").arg(shown).arg(wire);
        }
    }
    out().flush();
    return exitCode;
}

int runReplay(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addPositionalArgument("file", "Recording to replay.");
    parser.addOption({"format",
                      KvFormatRegistry::names() + " (default: from the content; asclog is ASC "
                                                  "from other tools).",
                      "format"});
    parser.addOption({"interval", "Pause between frames of a binary file, in ms.", "ms", "0"});
    parser.addOption({"id", "Identifier (hex) for the frames of a binary file.", "id", "100"});
    parser.addOption(
        {"max-gap", "Longest pause between two frames, in ms (0: none).", "ms", "10000"});
    DeviceOptions device;
    if (const int rc =
            parseArgs(parser, args, "Replay a recorded frame file onto a channel.", device);
        rc >= 0)
        return rc;
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("expected one file to replay"), 2);
    const QString file = parser.positionalArguments().at(0);
    // The registry checks the content (and refuses what is no recording) before anything is
    // sent. The application's own forms keep their replay; the others are paced by their stamps.
    QString error;
    const KvFormat *detected = KvFormatRegistry::detect(file, parser.value("format"), &error);
    if (!detected)
        return fail(error, error.startsWith(QLatin1String("unknown format")) ? 2 : 1);
    const QString format = detected->name;
    const int fileType = detected->replayFileType;
    bool gapOk = false;
    const qint64 maxGap = parser.value("max-gap").toLongLong(&gapOk);
    if (!gapOk)
        return fail(QStringLiteral("bad --max-gap '%1'").arg(parser.value("max-gap")), 2);

    taskObj task;
    task.interval = parser.value("interval").toInt();
    CanObj templateFrame;
    templateFrame.ID = parser.value("id").toUInt(nullptr, 16);
    templateFrame.ExternFlag = templateFrame.ID > 0x7FF;
    CanData burst;
    burst.push(templateFrame);
    task.dataList << burst;

    KvChannelSet &stats = KvGlobalSet::instance().channelSets[device.channel];
    const int before = stats.sendCount;
    int exitCode = 0;
    {
        KvDeviceSession session;
        if (!startSession(session, device))
            return 1;
        KvSendFileThread replay(device.channel);
        session.addSender(&replay);
        if (fileType >= 0)
            replay.setFileType(fileType);
        else
            replay.setFormat(format);
        replay.setMaxGap(maxGap);
        replay.setFileName(file);
        replay.setParameter(task);
        ProgressBar bar(QStringLiteral("replay"));
        std::atomic<bool> begun{false}, refused{false};
        QObject::connect(&replay, &KvSendFileThread::progressValueChanged, &replay,
                         [&](int p) { bar.set(p); });
        // The last frame may end before the file does (an end line, a trailer): a replay that
        // ran to its end is complete.
        QObject::connect(&replay, &KvSendFileThread::tailSignal, &replay, [&] {
            if (!refused)
                bar.set(100);
        });
        QObject::connect(
            &replay, &KvSendFileThread::begainSend, &replay, [&] { begun = true; },
            Qt::DirectConnection);
        QObject::connect(
            &replay, &KvSendFileThread::errorSignal, &replay, [&] { refused = true; },
            Qt::DirectConnection);
        replay.start();
        runUntil(-1, [&] { return replay.isFinished(); });
        QCoreApplication::processEvents();
        bar.finish();
        const qint64 sentFrames = stats.sendCount - before;
        if (!begun) {
            exitCode = fail(replay.errorString().isEmpty()
                                ? QStringLiteral("cannot read %1 as %2").arg(file, format)
                                : replay.errorString());
        } else if (refused) {
            exitCode = fail(QStringLiteral("transmit refused on channel %1").arg(device.channel));
        } else {
            out() << QStringLiteral("replayed %1 frames from %2 on channel %3, skipped %4 lines\n")
                         .arg(sentFrames)
                         .arg(file)
                         .arg(device.channel)
                         .arg(replay.skippedLines());
            if (replay.endReason() == KvSendFileThread::ReadError)
                exitCode = fail(QStringLiteral("stopped at a truncated or broken file: %1")
                                    .arg(replay.errorString()));
            else if (sentFrames == 0)
                exitCode = fail(QStringLiteral("no frame replayed from %1").arg(file));
        }
    }
    out().flush();
    return exitCode;
}

int runFlash(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addPositionalArgument("image", "Firmware image file.");
    DeviceOptions device;
    if (const int rc = parseArgs(parser, args, "Download a firmware image over CAN.", device);
        rc >= 0)
        return rc;
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("expected one image file"), 2);
    const QString image = parser.positionalArguments().at(0);
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
        std::atomic<bool> finished{false}, refused{false};
        QObject::connect(
            writer, &CanWriteThread::tailSignal, writer, [&] { finished = true; },
            Qt::DirectConnection);
        QObject::connect(
            writer, &CanWriteThread::errorSignal, writer, [&] { refused = true; },
            Qt::DirectConnection);
        KvSendFirmwareThread flash(device.channel);
        session.addSender(&flash);
        flash.setFileName(image);
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
            -1, [&] { return (finished || refused) && flash.isFinished(); }, collect);
        QCoreApplication::processEvents();
        bar.finish();
        if (refused) {
            exitCode = fail(QStringLiteral("transmit refused on channel %1").arg(device.channel));
        } else {
            out() << QStringLiteral("flashed %1 bytes on channel %2\n")
                         .arg(bytes)
                         .arg(device.channel);
            if (trace) {
                runUntil(2000, [&] {
                    collect();
                    return check.complete();
                });
                out() << QStringLiteral("channel %1 received %2 bytes in %3 frames; SHA-1 %4: %5\n")
                             .arg(device.wire)
                             .arg(check.image().size())
                             .arg(check.imageFrames())
                             .arg(QString::fromLatin1(check.digest().toHex()))
                             .arg(check.digestMatches() ? "verified" : "MISMATCH");
                if (!check.digestMatches())
                    exitCode = 1;
            }
        }
    }
    out().flush();
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
    parser.addOption({"mode", "sequential, cyclic or parallel.", "mode", "sequential"});
    parser.addOption({"seconds", "How long cyclic and parallel tasks run.", "seconds", "5"});
    DeviceOptions device;
    if (const int rc =
            parseArgs(parser, args, "Run the send tasks of a task-list document.", device);
        rc >= 0)
        return rc;
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("expected one task-list document"), 2);
    static const QStringList modes{"sequential", "cyclic", "parallel"};
    const int mode = modes.indexOf(parser.value("mode").toLower());
    if (mode < 0)
        return fail(QStringLiteral("unknown mode '%1'").arg(parser.value("mode")), 2);
    QTableWidget table;
    QString error;
    if (!loadTasks(parser.positionalArguments().at(0), table, error))
        return fail(error);
    out() << QStringLiteral("%1 tasks:\n").arg(table.rowCount());
    for (int row = 0; row < table.rowCount(); ++row)
        out() << "  " << table.item(row, 0)->text().leftJustified(16) << table.item(row, 1)->text()
              << table.item(row, 2)->text().leftJustified(7) << table.item(row, 3)->text() << '\n';
    out().flush();

    KvChannelSet &stats = KvGlobalSet::instance().channelSets[device.channel];
    const int before = stats.sendCount;
    stats.taskMode = mode;
    int exitCode = 0;
    {
        KvDeviceSession session;
        if (!startSession(session, device))
            return 1;
        taskThread runner(device.channel);
        session.addSender(&runner);
        QObject::connect(&session, &KvDeviceSession::aboutToStop, &runner,
                         [&runner] { runner.stopSingleTask(); });
        std::atomic<bool> refused{false};
        QObject::connect(
            &runner, &taskThread::errorSignal, &runner, [&] { refused = true; },
            Qt::DirectConnection);
        taskQueue q = tasksOf(table);
        runner.setTaskQueue(q);
        runner.setPage(1);
        runner.start();
        const int seconds = parser.value("seconds").toInt();
        if (mode == 0)
            runUntil(-1, [&] { return runner.isFinished(); });
        else
            runUntil(seconds * 1000, [&] { return bool(refused); });
        runner.stop();
        runner.waitForFinish();
        runner.stopSingleTask();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (refused)
            exitCode = fail(QStringLiteral("transmit refused on channel %1").arg(device.channel));
        out() << QStringLiteral("%1 frames sent on channel %2 in %3 mode\n")
                     .arg(stats.sendCount - before)
                     .arg(device.channel)
                     .arg(modes.at(mode));
    }
    out().flush();
    return exitCode;
}
