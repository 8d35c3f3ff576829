// kvcan dbc FILE: the messages and signals of a DBC database, as the decoder sees them.
#include "commands.h"
#include "session.h"

#include "kvdbcdatabase.h"
#include "kvdbcformat.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QTextStream>

#include <cstdio>

namespace {

// "0x100 EngineData, 8 bytes, every 100 ms, from Engine"
QString messageLine(const KvDbcMessage &m)
{
    const QString id =
        QString::number(m.id, 16).toUpper().rightJustified(m.extended ? 8 : 3, QLatin1Char('0'));
    QString line = QStringLiteral("0x%1 %2, %3 bytes").arg(id, m.name).arg(m.size);
    if (m.extended)
        line += QLatin1String(", extended");
    if (m.j1939)
        line += QStringLiteral(", J1939 PGN 0x%1")
                    .arg(QString::number(KvDbcDatabase::pgnOf(m.id), 16).toUpper());
    if (m.cycleTime > 0)
        line += QStringLiteral(", every %1 ms").arg(m.cycleTime);
    QStringList senders = QStringList(m.transmitter) + m.transmitters;
    senders.removeDuplicates();
    line += QStringLiteral(", from %1").arg(senders.join(QLatin1Char(',')));
    return line;
}

// "  EngSpeed 24|16@1+ (0.25,0) [0|16383.75] rpm, selected by Mux = 1, 0=P 1=R"
QString signalLine(const KvDbcMessage &m, const KvDbcSignal &s)
{
    QString line = QStringLiteral("  %1 %2|%3@%4%5 (%6,%7) [%8|%9]")
                       .arg(s.name)
                       .arg(s.startBit)
                       .arg(s.length)
                       .arg(s.bigEndian ? 0 : 1)
                       .arg(QLatin1Char(s.isSigned ? '-' : '+'))
                       .arg(KvDbcFormat::number(s.factor), KvDbcFormat::number(s.offset),
                            KvDbcFormat::number(s.minimum), KvDbcFormat::number(s.maximum));
    if (!s.unit.isEmpty())
        line += QLatin1Char(' ') + s.unit;
    if (s.valueType == KvDbcSignal::Float32)
        line += QLatin1String(", float");
    else if (s.valueType == KvDbcSignal::Float64)
        line += QLatin1String(", double");
    if (s.isMultiplexer)
        line += QLatin1String(", multiplexer");
    if (s.multiplexer >= 0) {
        QStringList values;
        for (const KvDbcMuxRange &r : s.multiplexValues)
            values << (r.low == r.high ? QString::number(r.low)
                                       : QStringLiteral("%1-%2").arg(r.low).arg(r.high));
        line += QStringLiteral(", when %1 = %2")
                    .arg(m.signalList.at(s.multiplexer).name, values.join(QLatin1Char(',')));
    }
    if (!s.valueNames.isEmpty()) {
        QStringList names;
        for (const KvDbcValueName &v : s.valueNames)
            names << QStringLiteral("%1='%2'").arg(v.value).arg(v.name);
        line += QLatin1String(", ") + names.join(QLatin1Char(' '));
    }
    return line;
}

} // namespace

int runDbc(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("List the messages and signals of a DBC file. Problems in the file are "
                       "reported one a line with their line number; the exit code is then 1."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The DBC file."));
    QTextStream out(stdout);
    if (!parser.parse(args)) {
        fprintf(stderr, "kvcan: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << commandHelp(parser, QStringLiteral("dbc"));
        return 0;
    }
    if (parser.positionalArguments().size() != 1) {
        fprintf(stderr, "kvcan: dbc takes one file\n");
        return 2;
    }
    const QString file = parser.positionalArguments().at(0);
    KvDbcDatabase db;
    db.load(file);
    for (const KvDbcError &e : db.errors()) {
        if (e.line > 0)
            fprintf(stderr, "%s:%d: %s\n", qPrintable(file), e.line, qPrintable(e.message));
        else
            fprintf(stderr, "kvcan: %s\n", qPrintable(e.message));
    }
    for (const KvDbcMessage &m : db.messages()) {
        out << messageLine(m) << '\n';
        for (const KvDbcSignal &s : m.signalList)
            out << signalLine(m, s) << '\n';
    }
    out << db.messages().size() << " messages, " << db.signalCount() << " signals\n";
    return db.errors().isEmpty() ? 0 : 1;
}
