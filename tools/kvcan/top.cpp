// kvcan top: a live table of a channel's identifiers, one row each, redrawn in place.
#include "commands.h"

#include "kvdbcdatabase.h"
#include "kvdbcformat.h"
#include "kvdevicesession.h"
#include "kvframesubscription.h"
#include "kvidstatistics.h"
#include "kvnamemapping.h"
#include "kvpipe.h"
#include "session.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QTextStream>

#include <algorithm>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

QString milliseconds(double seconds)
{
    return seconds < 0 ? QStringLiteral("-") : QString::number(seconds * 1000.0, 'f', 1);
}

// The latest value of every signal of each identifier the database knows, for the lines under
// its row. A signal a frame does not carry (a multiplexed one not selected, a short frame) keeps
// the value an earlier frame gave it.
class SignalValues
{
public:
    explicit SignalValues(const KvDbcDatabase &database) : db(database) {}

    void add(const VCI_CAN_OBJ &frame)
    {
        const int m = db.decode(frame, fresh);
        if (m < 0)
            return;
        Entry &e = latest[key(frame.ID, frame.ExternFlag)];
        e.message = m;
        e.values.resize(size_t(fresh.size()));
        for (int s = 0; s < fresh.size(); ++s) {
            if (fresh.at(s).present)
                e.values[size_t(s)] = fresh.at(s);
        }
    }

    // "    EngineData(EngSpeed: 1200.0 rpm, Gear: 'D')", or empty for an unknown identifier.
    QString line(quint32 id, bool extended) const
    {
        const auto it = latest.constFind(key(id, extended));
        if (it == latest.cend())
            return QString();
        return QStringLiteral("    ") +
               KvDbcFormat::text(db, it->message,
                                 QVector<KvDbcValue>(it->values.begin(), it->values.end()));
    }

private:
    struct Entry
    {
        int message = -1;
        std::vector<KvDbcValue> values; // a std::vector: no copy-on-write on every merge
    };
    static quint32 key(quint32 id, bool extended) { return id | (extended ? 0x80000000u : 0u); }

    const KvDbcDatabase &db;
    QHash<quint32, Entry> latest;
    QVector<KvDbcValue> fresh;
};

// " 123 BrakePedal  12  10.0  100.0  99.8  100.3  2  01 03*"
//  "    BrakeData(Pressure: 12.5 bar)"   with a database, under each row it knows
QString table(const KvIdStatistics &stats, bool byRate, const SignalValues *signalValues)
{
    QVector<KvIdStatisticsRow> rows = stats.rows();
    std::stable_sort(rows.begin(), rows.end(),
                     [byRate](const KvIdStatisticsRow &a, const KvIdStatisticsRow &b) {
                         if (byRate && a.rate != b.rate)
                             return a.rate > b.rate;
                         return a.extended != b.extended ? b.extended : a.id < b.id;
                     });
    QString text;
    QTextStream s(&text);
    s << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8  %9\n")
             .arg(QStringLiteral("ID"), -8)
             .arg(QStringLiteral("name"), -14)
             .arg(QStringLiteral("count"), 9)
             .arg(QStringLiteral("rate/s"), 8)
             .arg(QStringLiteral("last ms"), 9)
             .arg(QStringLiteral("min ms"), 9)
             .arg(QStringLiteral("max ms"), 9)
             .arg(QStringLiteral("dlc"), 3)
             .arg(QStringLiteral("data (* changed)"));
    for (const KvIdStatisticsRow &r : qAsConst(rows)) {
        QStringList bytes;
        for (int i = 0; i < qMin<int>(r.dataLen, 8); ++i)
            bytes << QStringLiteral("%1%2")
                         .arg(r.remote ? 0 : r.data[i], 2, 16, QLatin1Char('0'))
                         .arg((r.changed >> i) & 1 ? QLatin1Char('*') : QLatin1Char(' '))
                         .toUpper();
        const QString id =
            QString::number(r.id, 16).toUpper().rightJustified(r.extended ? 8 : 3, '0');
        // Joined rather than formatted with arg(): a name may itself hold "%1".
        s << id.leftJustified(8) << ' '
          << KvNameMapping::getSingleton().find(r.id).leftJustified(14) << ' '
          << QString::number(r.count).rightJustified(9) << ' '
          << QString::number(r.rate, 'f', 1).rightJustified(8) << ' '
          << milliseconds(r.lastCycle).rightJustified(9) << ' '
          << milliseconds(r.minCycle).rightJustified(9) << ' '
          << milliseconds(r.maxCycle).rightJustified(9) << ' '
          << QString::number(r.dataLen).rightJustified(3) << "  "
          << (r.remote ? QStringLiteral("remote ") : QString()) << bytes.join(' ') << '\n';
        if (signalValues) {
            const QString line = signalValues->line(r.id, r.extended);
            if (!line.isEmpty())
                s << line << '\n';
        }
    }
    s.flush();
    return text;
}

} // namespace

int runTop(const QStringList &args)
{
    QCommandLineParser parser;
    addDeviceOptions(parser);
    addFilterOptions(parser);
    parser.addOption(option("seconds", "How long to run; 0: until Ctrl-C.", "seconds", "0"));
    parser.addOption(option("sort", "Order of the rows: id or rate.", "key", "id"));
    parser.addOption(option("interval", "Seconds between redraws on a terminal.", "seconds", "1"));
    parser.addOption(
        option("dbc", "Show each message's latest signal values under its row.", "file"));
    parser.addOption(option(
        "send", "Send this frame (ID#DATA) on the --wire channel first; repeatable.", "frame"));
    DeviceOptions device;
    if (const int rc = parseCommandLine(
            parser, args,
            "A live table of a channel's identifiers: count, rate, cycle time (last, min, max) "
            "and the latest data with the bytes that changed marked. Redrawn in place on a "
            "terminal; off a terminal, the table is printed once at the end. Ctrl-C ends it.",
            &device);
        rc >= 0)
        return rc;
    cansyntax::IdFilter filter;
    qint64 msecs = 0, interval = 0;
    if (!readFilterOptions(parser, filter) || !secondsOption(parser, "seconds", msecs) ||
        !secondsOption(parser, "interval", interval))
        return 2;
    const QString sort = parser.value("sort").toLower();
    if (sort != QLatin1String("id") && sort != QLatin1String("rate"))
        return fail(QStringLiteral("bad --sort '%1': id or rate").arg(parser.value("sort")), 2);
    CanData toSend;
    for (const QString &text : parser.values("send")) {
        CanObj frame;
        QString error;
        if (!parseFrame(text, frame, error))
            return fail(error, 2);
        toSend.push(frame);
    }
    if (!toSend.isEmpty() && device.wire < 0)
        return fail(QStringLiteral("--send needs --wire: the frames go out on the wired channel"),
                    2);

    KvDbcDatabase db;
    std::unique_ptr<SignalValues> signalValues;
    if (parser.isSet("dbc")) {
        if (!loadDatabase(parser.value("dbc"), db))
            return 1;
        signalValues = std::make_unique<SignalValues>(db);
    }

    const bool tty = isatty(STDOUT_FILENO);
    KvIdStatistics stats;
    quint64 dropped = 0;
    {
        KvDeviceSession session;
        KvFrameSubscription frames(session, int(device.channel), 1 << 16);
        if (!startSession(session, device))
            return 1;
        if (!toSend.isEmpty())
            KvPipe::instance(device.wire).push(toSend);
        QVector<KvCanObj> records;
        const auto feed = [&] {
            records.clear();
            frames.take(records);
            for (const KvCanObj &r : qAsConst(records)) {
                if (!filter.accepts(r.frame.ID, r.frame.ExternFlag))
                    continue;
                stats.add(r);
                if (signalValues)
                    signalValues->add(r.frame);
            }
        };
        QElapsedTimer sinceDraw;
        sinceDraw.start();
        runUntil(
            msecs > 0 ? msecs : -1, nullptr,
            [&] {
                feed();
                if (tty && sinceDraw.elapsed() >= qMax<qint64>(100, interval)) {
                    // Home and clear to the end: the table replaces itself without scrolling.
                    out() << "\x1b[H\x1b[J"
                          << table(stats, sort == QLatin1String("rate"), signalValues.get());
                    out().flush();
                    sinceDraw.restart();
                }
            },
            50);
        session.stop();
        feed();
        dropped = frames.dropped();
    }
    if (pipeClosed())
        return 0;
    if (tty)
        out() << "\x1b[H\x1b[J";
    out() << table(stats, sort == QLatin1String("rate"), signalValues.get());
    out() << QStringLiteral("channel %1: %2 frames, %3 identifiers, %4 dropped\n")
                 .arg(device.channel)
                 .arg(stats.frames())
                 .arg(stats.rows().size())
                 .arg(dropped);
    out().flush();
    return 0;
}
