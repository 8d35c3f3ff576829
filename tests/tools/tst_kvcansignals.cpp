#include "kvcanrun.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

// kvcan decode, charging, send --dbc and monitor --dbc as a user runs them: the charging session
// played live on wired channels decodes as its recording does, in every format it is kept in,
// and a database turns frames into signals and signals into frames.
class tst_KvcanSignals : public QObject
{
    Q_OBJECT
private slots:
    void recordingFormatsAgree_data();
    void recordingFormatsAgree();
    void liveSessionMatchesRecording();
    void faultGivesBclTimeout();
    void replayMatchesDecode();
    void decodeByDatabase();
    void sendAndMonitorByDatabase();
    void topShowsLatestSignals();
    void refusals_data();
    void refusals();
};

using namespace kvcantest;

namespace {

QString example(const char *name)
{
    return QStringLiteral(KAVRI_EXAMPLES "/") + QLatin1String(name);
}

// What a session's JSON lines say, without the times (a live bus has its own): each side's
// messages in order, with their fields, and the events of each kind.
struct Session
{
    QStringList charger, bms, phases, timeouts, stops;
};

Session sessionOf(const QString &jsonLines)
{
    Session s;
    for (const QString &line : jsonLines.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString fields =
            QString::fromUtf8(QJsonDocument(o.value(QLatin1String("fields")).toObject())
                                  .toJson(QJsonDocument::Compact));
        const QString event = o.value(QLatin1String("event")).toString();
        const QString code = o.value(QLatin1String("code")).toString();
        if (event == QLatin1String("phase"))
            s.phases << o.value(QLatin1String("phase")).toString();
        else if (event == QLatin1String("timeout"))
            s.timeouts << code;
        else if (event == QLatin1String("stop"))
            s.stops << code + fields;
        else if (event.isEmpty())
            (o.value(QLatin1String("source")).toInt() == 0x56 ? s.charger : s.bms) << code + fields;
    }
    return s;
}

const QStringList NormalPhases{"handshake", "recognition", "configuration", "charging", "ending"};

} // namespace

void tst_KvcanSignals::recordingFormatsAgree_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("candump log") << example("charging-session.log");
    QTest::newRow("BLF") << example("charging-session.blf");
}

void tst_KvcanSignals::recordingFormatsAgree()
{
    QFETCH(QString, file);
    const Result asc = run({"decode", "--gbt", "--json", example("charging-session.asc")});
    QCOMPARE(asc.code, 0);
    QCOMPARE(sessionOf(asc.out).phases, NormalPhases);
    const Result other = run({"decode", "--gbt", "--json", file});
    QCOMPARE(other.code, 0);
    QCOMPARE(other.out, asc.out);
}

void tst_KvcanSignals::liveSessionMatchesRecording()
{
    const Result live = run({"charging", "--json"});
    QVERIFY2(live.code == 0, qPrintable(live.err));
    const Result recorded = run({"decode", "--gbt", "--json", example("charging-session.asc")});
    QCOMPARE(recorded.code, 0);
    const Session a = sessionOf(live.out), b = sessionOf(recorded.out);
    QCOMPARE(a.phases, NormalPhases);
    QCOMPARE(a.phases, b.phases);
    QCOMPARE(a.charger, b.charger);
    QCOMPARE(a.bms, b.bms);
    QCOMPARE(a.stops, b.stops);
    QVERIFY(a.timeouts.isEmpty());
    QVERIFY(a.bms.size() > 100);
}

void tst_KvcanSignals::faultGivesBclTimeout()
{
    const Result r = run({"charging", "--fault"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QStringList lines = r.out.split(QLatin1Char('\n'));
    // Off a terminal: one line per event, the phases by their names, then the picture.
    QStringList events;
    for (const QString &line : lines) {
        const QStringList words = line.simplified().split(QLatin1Char(' '));
        if (words.size() >= 3 &&
            (words.at(1) == QLatin1String("phase") || words.at(1) == QLatin1String("timeout")))
            events << words.at(1) + QLatin1Char(' ') + words.at(2);
    }
    QCOMPARE(events, QStringList({"phase handshake", "phase recognition", "phase configuration",
                                  "phase charging", "timeout BCL", "phase error"}));
    QVERIFY2(r.out.contains(QLatin1String("CEM: bcl")), qPrintable(r.out));
}

void tst_KvcanSignals::replayMatchesDecode()
{
    const Result replay =
        run({"charging", "--replay", example("charging-session.blf"), "--speed", "0", "--json"});
    QCOMPARE(replay.code, 0);
    const Result decoded = run({"decode", "--gbt", "--json", example("charging-session.asc")});
    QCOMPARE(replay.out, decoded.out);
}

namespace {

const char Database[] = R"(BU_: Engine
BO_ 256 EngineData: 8 Engine
 SG_ EngSpeed : 0|16@1+ (0.25,0) [0|16383.75] "rpm" Engine
 SG_ Gear : 16|4@1+ (1,0) [0|15] "" Engine
 SG_ Temp : 31|8@0- (1,-40) [-40|87] "degC" Engine
VAL_ 256 Gear 0 "P" 3 "D" ;
)";

QString writeFile(QTemporaryDir &dir, const char *name, const QByteArray &content)
{
    QFile f(dir.filePath(QLatin1String(name)));
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(content);
    return f.fileName();
}

} // namespace

void tst_KvcanSignals::decodeByDatabase()
{
    QTemporaryDir dir;
    const QString dbc = writeFile(dir, "engine.dbc", Database);
    // EngSpeed 0x12C0 * 0.25 = 1200, Gear 3, Temp 0xFB = -5 - 40; then an unknown ID and a
    // frame too short for Temp.
    const QString log = writeFile(dir, "run.log",
                                  "(1.500000) can0 100#C01203FB00000000\n"
                                  "(1.600000) can0 7FF#1122\n"
                                  "(1.700000) can1 100#C012\n");
    const Result text = run({"decode", "--dbc", dbc, log});
    QCOMPARE(text.code, 0);
    const QStringList lines = text.out.split(QLatin1Char('\n'));
    QVERIFY2(lines.value(0).endsWith(
                 QLatin1String("EngineData(EngSpeed: 1200.0 rpm, Gear: 'D', Temp: -45.0 degC)")),
             qPrintable(text.out));
    QVERIFY2(lines.value(1).endsWith(QLatin1String("[2] 11 22")), qPrintable(text.out));
    QVERIFY2(lines.value(2).endsWith(QLatin1String("EngineData(EngSpeed: 1200.0 rpm)")),
             qPrintable(text.out));

    const Result json = run({"decode", "--dbc", dbc, "--json", log});
    QCOMPARE(json.code, 0);
    const QStringList objects = json.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(objects.size(), 2); // the unknown identifier has no signals to report
    const QJsonObject first = QJsonDocument::fromJson(objects.at(0).toUtf8()).object();
    QCOMPARE(first.value("time").toDouble(), 0.0);
    QCOMPARE(first.value("id").toInt(), 256);
    QCOMPARE(first.value("extended").toBool(), false);
    QCOMPARE(first.value("message").toString(), QStringLiteral("EngineData"));
    QCOMPARE(first.value("signals").toObject().value("EngSpeed").toDouble(), 1200.0);
    QCOMPARE(first.value("signals").toObject().value("Temp").toDouble(), -45.0);
    QCOMPARE(first.value("labels").toObject().value("Gear").toString(), QStringLiteral("D"));
    QCOMPARE(QJsonDocument::fromJson(objects.at(1).toUtf8()).object().value("channel").toInt(), 1);
}

void tst_KvcanSignals::sendAndMonitorByDatabase()
{
    QTemporaryDir dir;
    const QString dbc = writeFile(dir, "engine.dbc", Database);
    const Result sent =
        run({"send", "--dbc", dbc, "EngineData", "EngSpeed=1200", "Gear=D", "Temp=-45"});
    QVERIFY2(sent.code == 0, qPrintable(sent.err));
    QVERIFY2(sent.out.startsWith(QLatin1String("100#C01203FB00000000 EngineData(")),
             qPrintable(sent.out));
    QVERIFY2(sent.out.contains(QLatin1String("sent on channel 0")), qPrintable(sent.out));

    const Result monitored = run({"monitor", "--dbc", dbc, "--wire", "1", "--seconds", "1",
                                  "--send", "100#C01203FB00000000"});
    QVERIFY2(monitored.code == 0, qPrintable(monitored.err));
    QVERIFY2(monitored.out.contains(QLatin1String(
                 "    EngineData(EngSpeed: 1200.0 rpm, Gear: 'D', Temp: -45.0 degC)")),
             qPrintable(monitored.out));
}

// The row of a known message carries its signals' latest values on the line below; a signal
// keeps what the last frame said, an identifier the database lacks gets no line.
void tst_KvcanSignals::topShowsLatestSignals()
{
    QTemporaryDir dir;
    const QString dbc = writeFile(dir, "engine.dbc", Database);
    const Result r =
        run({"top", "--dbc", dbc, "--channel", "1", "--wire", "0", "--seconds", "1", "--send",
             "100#C01203FB00000000", "--send", "100#C81200FB00000000", "--send", "123#01"});
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains(QRegularExpression("\\n100 .*\\n    EngineData\\(EngSpeed: 1202.0 rpm, "
                                               "Gear: 'P', Temp: -45.0 degC\\)\\n")),
             qPrintable(r.out));
    QVERIFY2(r.out.contains(QRegularExpression("\\n123 [^\\n]*\\n(channel|[0-9A-F]{3} )")),
             qPrintable(r.out));
}

void tst_KvcanSignals::refusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::newRow("decode without --dbc or --gbt") << QStringList{"decode", "x.asc"} << 2;
    QTest::newRow("decode of a missing recording")
        << QStringList{"decode", "--gbt", "/nonexistent.asc"} << 1;
    QTest::newRow("charging replay of a missing recording")
        << QStringList{"charging", "--replay", "/nonexistent.asc"} << 1;
    QTest::newRow("charging fault on a recording")
        << QStringList{"charging", "--fault", "--replay", "x.asc"} << 2;
}

void tst_KvcanSignals::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    const Result r = run(args);
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.startsWith(QLatin1String("kvcan: ")), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(tst_KvcanSignals)
#include "tst_kvcansignals.moc"
