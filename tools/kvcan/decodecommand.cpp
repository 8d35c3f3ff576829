// kvcan decode: a recording of any registry format decoded against a DBC database (--dbc) or as
// a GB/T 27930 charging session (--gbt), for people or as JSON lines.
#include "commands.h"

#include "chargingtext.h"
#include "kvdbcdatabase.h"
#include "kvdbcformat.h"
#include "kvformatregistry.h"
#include "kvgbtjson.h"
#include "kvgbtsession.h"
#include "session.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QTextStream>

namespace {

// "   12.500000 ch0 100   EngineData(EngSpeed: 1200.0 rpm, Gear: 'D')"; an unknown identifier
// shows its bytes: "   12.600000 ch0 7FF   [2] 11 22"
QString dbcLine(const KvFrame &f, const QString &decoded)
{
    const QString id =
        QString::number(f.id, 16).toUpper().rightJustified(f.extended ? 8 : 3, QLatin1Char('0'));
    QString line = QStringLiteral("%1 ch%2 %3 ")
                       .arg(QString::number(double(f.timeNs) / 1e9, 'f', 6).rightJustified(12))
                       .arg(f.channel)
                       .arg(id.leftJustified(8));
    if (!decoded.isEmpty())
        return line + decoded;
    line += QStringLiteral("[%1]").arg(f.dlc);
    for (int i = 0; i < f.dlc && !f.remote; ++i)
        line += QLatin1Char(' ') +
                QString::number(f.data[i], 16).toUpper().rightJustified(2, QLatin1Char('0'));
    if (f.remote)
        line += QLatin1String(" remote");
    return line;
}

int decodeDbc(KvFrameReader &reader, const QString &dbcFile, bool json)
{
    KvDbcDatabase db;
    if (!db.load(dbcFile) && db.messages().isEmpty())
        return fail(db.errors().isEmpty()
                        ? QStringLiteral("cannot read %1").arg(dbcFile)
                        : QStringLiteral("%1: %2").arg(dbcFile, db.errors().first().message));
    for (const KvDbcError &e : db.errors())
        fprintf(stderr, "%s:%d: %s\n", qPrintable(dbcFile), e.line, qPrintable(e.message));
    QVector<KvDbcValue> values;
    KvFrame f;
    qint64 frames = 0, unknown = 0;
    KvFrameReader::Result r;
    while ((r = reader.read(f)) != KvFrameReader::End && r != KvFrameReader::Error) {
        if (r != KvFrameReader::Frame || f.error)
            continue;
        ++frames;
        const int message = f.remote ? -1 : db.messageIndex(f.id, f.extended);
        if (message >= 0)
            db.decode(message, f.data, f.dlc, values);
        else
            ++unknown;
        if (json) {
            // Frames of no message in the database have no signals to report.
            if (message >= 0)
                out() << QJsonDocument(KvDbcFormat::json(db, message, values,
                                                         double(f.timeNs) / 1e9, f.channel, f.id,
                                                         f.extended))
                             .toJson(QJsonDocument::Compact)
                      << '\n';
        } else {
            out() << dbcLine(f, message >= 0 ? KvDbcFormat::text(db, message, values) : QString())
                  << '\n';
        }
    }
    if (!json)
        out() << QStringLiteral("%1 frames, %2 of messages in the database\n")
                     .arg(frames)
                     .arg(frames - unknown);
    out().flush();
    if (r == KvFrameReader::Error)
        return fail(reader.errorString());
    return 0;
}

int decodeGbt(KvFrameReader &reader, bool json)
{
    KvGbtSession session;
    qint64 messages = 0, events = 0;
    session.setMessageHandler([&](const KvGbtMessage &m) {
        ++messages;
        if (json)
            out() << KvGbtJson::message(m) << '\n';
        else
            out() << chargingtext::message(m) << '\n';
    });
    session.setEventHandler([&](const KvGbtEvent &e) {
        ++events;
        if (json)
            out() << KvGbtJson::event(e) << '\n';
        else
            out() << chargingtext::event(e) << '\n';
    });
    KvFrame f;
    KvFrameReader::Result r;
    while ((r = reader.read(f)) != KvFrameReader::End && r != KvFrameReader::Error) {
        // The charging dialogue is extended data frames only.
        if (r != KvFrameReader::Frame || f.error || f.remote || !f.extended)
            continue;
        session.setChannel(f.channel);
        session.feedFrame(f.timeNs / 1000, f.id, f.data, f.dlc);
    }
    if (!json) {
        out() << QStringLiteral("%1 messages, %2 events; the session at the end:\n")
                     .arg(messages)
                     .arg(events);
        for (const QString &line : chargingtext::picture(session.picture()))
            out() << "  " << line << '\n';
    }
    out().flush();
    // A hostile recording's content is reported, not failed; only a broken file is.
    if (r == KvFrameReader::Error)
        return fail(reader.errorString());
    return 0;
}

} // namespace

int runDecode(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Decode a recording: its frames' signals by a DBC database (--dbc FILE), or its GB/T "
        "27930 charging messages and session events (--gbt)."));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("RECORDING"),
        QStringLiteral("A recording in %1.").arg(KvFormatRegistry::names()));
    parser.addOption({"dbc", "Decode the signals of this DBC database.", "file"});
    parser.addOption({"gbt", "Decode the GB/T 27930 charging dialogue."});
    parser.addOption({"json", "One JSON object a line."});
    parser.addOption({"format", "The recording's format (default: from its content).", "format"});
    if (!parser.parse(args))
        return fail(parser.errorText(), 2);
    if (parser.isSet("help")) {
        out() << commandHelp(parser, args.value(0));
        out().flush();
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("decode takes one recording"), 2);
    if (parser.isSet("dbc") == parser.isSet("gbt"))
        return fail(QStringLiteral("decode needs either --dbc FILE or --gbt"), 2);
    QString error;
    const std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(
        parser.positionalArguments().at(0), parser.value("format"), &error);
    if (!reader)
        return fail(error, error.startsWith(QLatin1String("unknown format")) ? 2 : 1);
    if (parser.isSet("gbt"))
        return decodeGbt(*reader, parser.isSet("json"));
    return decodeDbc(*reader, parser.value("dbc"), parser.isSet("json"));
}
