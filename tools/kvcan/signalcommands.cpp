// monitor --dbc / --gbt and send --dbc: the live trace with each frame's signals or the charging
// dialogue, and frames built from signal values. Kept apart from the plain monitor and send,
// which hand over to these when a database or the charging protocol is asked for.
#include "commands.h"

#include "canwritethread.h"
#include "chargingview.h"
#include "kvbuffer.h"
#include "kvdbcdatabase.h"
#include "kvdbcformat.h"
#include "kvdevicesession.h"
#include "kvgbtmonitor.h"
#include "kvgbtsession.h"
#include "kvglobalset.h"
#include "kvpipe.h"
#include "session.h"
#include "stopsignals.h"

#include <QtCore/QTextStream>

#include <atomic>

namespace {

int parse(QCommandLineParser &parser, const QStringList &args, const char *description,
          DeviceOptions &device)
{
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    if (!parser.parse(args))
        return fail(parser.errorText(), 2);
    if (parser.isSet("help")) {
        out() << commandHelp(parser, args.value(0));
        out().flush();
        return 0;
    }
    QString error;
    if (!readDeviceOptions(parser, device, error))
        return fail(error, 2);
    return -1;
}

// "ch0   12.3456 100      [8] 11 22 33 44 55 66 77 88"
QString frameLine(int channel, const VCI_CAN_OBJ &f)
{
    QString line = QStringLiteral("ch%1 %2 %3 [%4]")
                       .arg(channel)
                       .arg(QString::number(f.TimeStamp / 10000.0, 'f', 4).rightJustified(11))
                       .arg(QString::number(f.ID, 16).toUpper().leftJustified(8))
                       .arg(f.DataLen);
    for (int i = 0; i < qMin<int>(f.DataLen, 8) && !f.RemoteFlag; ++i)
        line += QLatin1Char(' ') +
                QString::number(f.Data[i], 16).toUpper().rightJustified(2, QLatin1Char('0'));
    return line;
}

// Frames for the wired channel to send first, so a monitor has something to show.
bool framesToSend(const QCommandLineParser &parser, const DeviceOptions &device, CanData &frames)
{
    for (const QString &text : parser.values("send")) {
        CanObj frame;
        QString error;
        if (!parseFrame(text, frame, error)) {
            fail(error, 2);
            return false;
        }
        frames.push(frame);
    }
    if (!frames.isEmpty() && device.wire < 0) {
        fail(QStringLiteral("--send needs --wire: the frames go out on the wired channel"), 2);
        return false;
    }
    return true;
}

} // namespace

bool loadDatabase(const QString &file, KvDbcDatabase &db)
{
    db.load(file);
    for (const KvDbcError &e : db.errors())
        fprintf(stderr, "%s:%d: %s\n", qPrintable(file), e.line, qPrintable(e.message));
    if (db.messages().isEmpty()) {
        fail(QStringLiteral("%1 has no messages to decode").arg(file));
        return false;
    }
    return true;
}

bool wantsSignals(const QStringList &args)
{
    for (const QString &a : args) {
        if (a == QLatin1String("--dbc") || a.startsWith(QLatin1String("--dbc=")) ||
            a == QLatin1String("--gbt"))
            return true;
    }
    return false;
}

int runMonitorSignals(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addOption({"dbc", "Show the signals of this DBC database under each frame.", "file"});
    parser.addOption({"gbt", "Show the GB/T 27930 charging messages and the session."});
    parser.addOption({"seconds", "How long to monitor.", "seconds", "10"});
    parser.addOption(
        {"send", "Send this frame (ID#DATA) on the --wire channel first; repeatable.", "frame"});
    DeviceOptions device;
    if (const int rc = parse(parser, args, "Live trace of one channel, decoded.", device); rc >= 0)
        return rc;
    if (parser.isSet("dbc") == parser.isSet("gbt"))
        return fail(QStringLiteral("monitor decodes by --dbc FILE or --gbt, not both"), 2);
    CanData toSend;
    if (!framesToSend(parser, device, toSend))
        return 2;
    KvDbcDatabase db;
    if (parser.isSet("dbc") && !loadDatabase(parser.value("dbc"), db))
        return 1;
    const int channel = int(device.channel);
    KvBuffer &buffer = KvBuffer::instance(channel);

    // The decoders read the buffer's side queues, which the receive thread fills while their
    // switches are on. The charging session is shown as `kvcan charging` shows it: redrawn in
    // place on a terminal, one line per event elsewhere.
    KvGbtSession charging;
    charging.setChannel(channel);
    ChargingView chargingView(charging, false);
    KvGbtMonitor gbtMonitor(buffer, charging);
    QVector<VCI_CAN_OBJ> batch;
    QVector<KvDbcValue> values;
    qint64 frames = 0, known = 0;
    const auto drain = [&] {
        if (parser.isSet("gbt")) {
            frames += gbtMonitor.poll();
            chargingView.refresh();
        } else {
            batch.clear();
            buffer.takeDBCFrames(batch, 1 << 16);
            for (const VCI_CAN_OBJ &f : batch) {
                ++frames;
                out() << frameLine(channel, f) << '\n';
                const int m = db.decode(f, values);
                if (m >= 0) {
                    ++known;
                    out() << "    " << KvDbcFormat::text(db, m, values) << '\n';
                }
            }
        }
        out().flush();
    };
    stopsignals::install();
    {
        KvDeviceSession session;
        buffer.ClearDBC();
        buffer.ClearGBT27930();
        buffer.setDBCRun(parser.isSet("dbc"));
        buffer.setGBT27930Run(parser.isSet("gbt"));
        if (!startSession(session, device))
            return 1;
        if (!toSend.isEmpty())
            KvPipe::instance(device.wire).push(toSend);
        runUntil(
            parser.value("seconds").toInt() * 1000, [] { return stopsignals::requested(); }, drain,
            100);
        session.stop();
        drain();
        buffer.setDBCRun(false);
        buffer.setGBT27930Run(false);
    }
    if (parser.isSet("gbt")) {
        // The picture first: on a terminal it is redrawn where it stands.
        chargingView.finish();
        out() << QStringLiteral("channel %1: %2 frames\n").arg(channel).arg(frames);
    } else {
        out() << QStringLiteral("channel %1: %2 frames, %3 of messages in the database\n")
                     .arg(channel)
                     .arg(frames)
                     .arg(known);
    }
    out().flush();
    return stopsignals::requested() ? 130 : 0;
}

int runSendSignals(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    parser.addOption({"dbc", "The DBC database that defines the message.", "file"});
    parser.addPositionalArgument("MESSAGE", "The message's name in the database.");
    parser.addPositionalArgument("SIGNAL=VALUE",
                                 "Physical values or value-table names; signals "
                                 "not given are 0.",
                                 "[SIGNAL=VALUE...]");
    DeviceOptions device;
    if (const int rc = parse(parser, args, "Send a frame built from signal values.", device);
        rc >= 0)
        return rc;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(QStringLiteral("no message given: send --dbc FILE MESSAGE SIGNAL=VALUE..."), 2);
    KvDbcDatabase db;
    if (!loadDatabase(parser.value("dbc"), db))
        return 1;
    const int message = db.messageIndex(positional.first());
    if (message < 0)
        return fail(
            QStringLiteral("no message '%1' in %2").arg(positional.first(), parser.value("dbc")),
            2);
    QList<QPair<QString, QString>> assignments;
    for (const QString &a : positional.mid(1)) {
        const int eq = a.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(QStringLiteral("bad assignment '%1': expected SIGNAL=VALUE").arg(a), 2);
        assignments.append({a.left(eq), a.mid(eq + 1)});
    }
    QByteArray payload;
    QString error;
    if (!db.encode(message, assignments, payload, error))
        return fail(error, 2);

    const KvDbcMessage &m = db.messages().at(message);
    CanObj frame;
    frame.ID = m.id;
    frame.ExternFlag = m.extended;
    frame.DataLen = quint8(payload.size());
    memcpy(frame.Data, payload.constData(), size_t(payload.size()));
    frame.TailFlag = 1;
    CanData one;
    one.push(frame);
    QVector<KvDbcValue> values;
    db.decode(message, frame.Data, frame.DataLen, values);
    out() << QStringLiteral("%1#%2 %3\n")
                 .arg(QString::number(m.id, 16).toUpper().rightJustified(m.extended ? 8 : 3,
                                                                         QLatin1Char('0')),
                      QString::fromLatin1(payload.toHex().toUpper()),
                      KvDbcFormat::text(db, message, values));

    int exitCode = 0;
    KvDeviceSession session;
    if (!startSession(session, device))
        return 1;
    std::atomic<bool> done{false}, refused{false};
    CanWriteThread *writer = session.writer(int(device.channel));
    QObject::connect(
        writer, &CanWriteThread::tailSignal, writer, [&] { done = true; }, Qt::DirectConnection);
    QObject::connect(
        writer, &CanWriteThread::errorSignal, writer, [&] { refused = true; },
        Qt::DirectConnection);
    KvPipe::instance(int(device.channel)).push(one);
    runUntil(10000, [&] { return done || refused; });
    if (refused)
        exitCode = fail(QStringLiteral("transmit refused on channel %1").arg(device.channel));
    else if (!done)
        exitCode = fail(QStringLiteral("timed out sending on channel %1").arg(device.channel));
    else
        out() << QStringLiteral("sent on channel %1\n").arg(device.channel);
    session.stop();
    out().flush();
    return exitCode;
}
