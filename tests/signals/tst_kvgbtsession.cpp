// A charging session followed from its frames: the simulated session direct, through its ASC
// recording and through a channel's GB/T 27930 queue; the JSON lines; timeouts and bad input.
#include "ascfile.h"
#include "canobj.h"
#include "kvbuffer.h"
#include "kvfileasclog.h"
#include "kvgbtdecoder.h"
#include "kvgbtjson.h"
#include "kvgbtmonitor.h"
#include "kvgbtsession.h"
#include "kvgbtsimulation.h"

#include <QtCore/QRandomGenerator>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <cstring>
#include <memory>

namespace {
// Everything a session reported, as JSON lines.
struct Log
{
    explicit Log(KvGbtSession &session)
    {
        session.setMessageHandler([this](const KvGbtMessage &m) {
            lines << KvGbtJson::message(m);
            codes << QString::fromLatin1(KvGbtMessageInfo::codeName(m.code));
        });
        session.setEventHandler([this](const KvGbtEvent &e) {
            lines << KvGbtJson::event(e);
            if (e.kind == KvGbtEvent::Phase)
                phases << QString::fromLatin1(KvGbtMessageInfo::phaseName(e.phase));
            else
                others << KvGbtJson::event(e);
        });
    }
    QList<QByteArray> lines;
    QStringList codes;
    QStringList phases;
    QList<QByteArray> others; // events other than phases
};

void feed(KvGbtSession &session, const std::vector<KvGbtSimFrame> &frames)
{
    for (const KvGbtSimFrame &f : frames)
        session.feedFrame(f.time, f.id, f.data, f.size);
}

// The recording as other tools write ASC, one bus seen from channel 1.
//   "3.500000 1 181056F4x Rx d 5 68 10 E8 03 02"
QByteArray asc(const std::vector<KvGbtSimFrame> &frames)
{
    QByteArray out = "date Sat Dec 5 10:00:00.000 2026\nbase hex  timestamps absolute\n"
                     "no internal events logged\n";
    for (const KvGbtSimFrame &f : frames) {
        out += QByteArray::number(double(f.time) / 1e6, 'f', 6) + " 1 " +
               QByteArray::number(f.id, 16).toUpper() + "x Rx d " + QByteArray::number(f.size);
        for (int i = 0; i < f.size; ++i)
            out += ' ' + QByteArray::number(f.data[i], 16).rightJustified(2, '0').toUpper();
        out += '\n';
    }
    return out + "End TriggerBlock\n";
}

QString examplePath()
{
    return QStringLiteral(KAVRI_EXAMPLES "/charging-session.asc");
}

// Times differ by the reader's resolution; everything else must not.
QList<QByteArray> withoutTimes(QList<QByteArray> lines)
{
    static const QRegularExpression time(QStringLiteral("^\\{\"time\":[0-9.]+,"));
    for (QByteArray &line : lines)
        line = QString::fromLatin1(line).remove(time).toLatin1();
    return lines;
}

const QStringList normalPhases = {"handshake", "recognition", "configuration", "charging",
                                  "ending"};
} // namespace

class tst_KvGbtSession : public QObject
{
    Q_OBJECT
private slots:
    void simulatedSession();
    void simulatedFault();
    void recording_data();
    void recording();
    void monitorDrainsTheQueue();
    void json();
    void phaseRules();
    void readinessTimeout();
    void randomFramesOnChargingIds();
};

void tst_KvGbtSession::simulatedSession()
{
    KvGbtSession session;
    Log log(session);
    feed(session, KvGbtSimulation::generate());

    QCOMPARE(log.phases, normalPhases);
    QStringList firstSeen;
    for (const QString &code : log.codes) {
        if (!firstSeen.contains(code))
            firstSeen << code;
    }
    QCOMPARE(firstSeen, QString("CHM BHM CRM BRM BCP CTS CML BRO CRO BCL BCS CCS BSM BMV BMT BST "
                                "CST BSD CSD")
                            .split(' '));
    QCOMPARE(log.codes.count("BRM"), 1);
    QCOMPARE(log.codes.count("BCP"), 1);
    QCOMPARE(log.codes.count("BCS"), 32); // 8 s every 250 ms, each by RTS/CTS
    QCOMPARE(log.codes.count("BCL"), 160);
    // Only the two stop events besides the phases: no timeout, no transfer error.
    QCOMPARE(log.others.size(), 2);
    QVERIFY(log.others[0].contains("\"event\":\"stop\",\"code\":\"BST\""));
    QVERIFY(log.others[0].contains("\"soc_reached\":1"));
    QVERIFY(log.others[1].contains("\"event\":\"stop\",\"code\":\"CST\""));
    QVERIFY(log.others[1].contains("\"bms_stopped\":1"));
    QVERIFY(!log.lines.join('\n').contains("malformed"));

    const KvGbtPicture &p = session.picture();
    QCOMPARE(p.phase, KvGbtPhase::Ending);
    QCOMPARE(p.chargerVersion, QStringLiteral("1.1"));
    QCOMPARE(p.bmsVersion, QStringLiteral("1.1"));
    QCOMPARE(p.batteryType, 3);
    QCOMPARE(p.vin, QStringLiteral("LKVRI0000SIM00001"));
    QCOMPARE(p.ratedCapacityAh, 150.0);
    QCOMPARE(p.bmsReady, 0xAA);
    QCOMPARE(p.chargerReady, 0xAA);
    QCOMPARE(p.demandCurrentA, -60.0); // the last demand change
    QCOMPARE(p.chargeMode, 1);
    QVERIFY(qAbs(p.outputCurrentA - -60.0) < 0.2); // the output followed it
    QCOMPARE(p.socPercent, 47.0);
    QCOMPARE(p.maxCellGroup, 2);
    QCOMPARE(p.maxTemperatureC, 35.0);
    QCOMPARE(p.chargerAllowed, 1);
    QCOMPARE(p.bmsAllowed, 1);
    QCOMPARE(p.bst.code, KvGbtCode::BST);
    QCOMPARE(p.cst.code, KvGbtCode::CST);
    QCOMPARE(p.bsd.value("stop_soc_percent"), 48.0);
    QCOMPARE(p.csd.value("energy_kwh"), 5.2);
    QCOMPARE(p.cem.code, KvGbtCode::Unknown);
    QCOMPARE(session.transport().sessionCount(), 0);
}

void tst_KvGbtSession::simulatedFault()
{
    KvGbtSimulation::Options options;
    options.bclStops = true;
    KvGbtSession session;
    Log log(session);
    feed(session, KvGbtSimulation::generate(options));

    QCOMPARE(log.phases, QStringList(normalPhases.mid(0, 4)) << "error");
    const QByteArray timeout = "{\"time\":7.450000,\"event\":\"timeout\",\"code\":\"BCL\"}";
    QCOMPARE(log.others.count(timeout), 1);
    QCOMPARE(log.others.size(), 2); // the timeout and the charger's stop
    QVERIFY(log.others[1].contains("\"code\":\"CST\""));
    QVERIFY(log.others[1].contains("\"fault_stop\":1"));
    // The timeout comes before the charger's CEM that reports the same silence.
    const int at = log.lines.indexOf(timeout);
    QVERIFY(at > 0);
    QVERIFY(log.lines[at + 1].contains("\"code\":\"CCS\""));
    QVERIFY(log.lines[at + 2].contains("\"phase\":\"error\""));
    QVERIFY(log.lines[at + 3].contains("\"code\":\"CEM\""));
    QVERIFY(log.lines[at + 3].contains("\"bcl\":1"));
    QCOMPARE(session.picture().cem.value("bcl"), 1.0);
}

void tst_KvGbtSession::recording_data()
{
    QTest::addColumn<bool>("logReader");
    QTest::newRow("ASC as other tools read it") << true;
    QTest::newRow("ASC as the replay reads it") << false;
}

void tst_KvGbtSession::recording()
{
    QFETCH(bool, logReader);
    const std::vector<KvGbtSimFrame> frames = KvGbtSimulation::generate();
    const QByteArray text = asc(frames);
    if (qEnvironmentVariableIsSet("KAVRI_WRITE_EXAMPLES")) {
        QFile out(examplePath());
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
    }
    // The example in the repository is this session.
    QFile example(examplePath());
    QVERIFY2(example.open(QIODevice::ReadOnly), "examples/charging-session.asc is missing");
    QCOMPARE(example.readAll(), text);
    example.close();

    KvGbtSession direct;
    Log expected(direct);
    feed(direct, frames);

    std::unique_ptr<KvFile> reader;
    if (logReader)
        reader.reset(new KvFileAscLog);
    else
        reader.reset(new ASCFile);
    QVERIFY(reader->open(examplePath()));
    QVERIFY(reader->prepare());
    KvGbtSession replayed;
    Log got(replayed);
    CanObj frame;
    int count = 0;
    while (reader->getFrame(frame)) {
        replayed.feedFrame(qint64(frame.TimeStamp) * 100, frame.ID, frame.Data, frame.DataLen);
        ++count;
    }
    QCOMPARE(count, int(frames.size()));
    QCOMPARE(got.phases, normalPhases);
    QCOMPARE(got.codes, expected.codes);
    // The log reader keeps the microseconds; the replay's reader rounds to single precision.
    if (logReader)
        QCOMPARE(got.lines, expected.lines);
    else
        QCOMPARE(withoutTimes(got.lines), withoutTimes(expected.lines));
}

void tst_KvGbtSession::monitorDrainsTheQueue()
{
    const std::vector<KvGbtSimFrame> frames = KvGbtSimulation::generate();
    KvGbtSession direct;
    Log expected(direct);
    feed(direct, frames);

    KvBuffer buffer;
    KvGbtSession session;
    Log got(session);
    KvGbtMonitor monitor(buffer, session);
    QCOMPARE(monitor.poll(), 0);
    // Adapter stamps start near the top of their range, so the session crosses their wrap.
    const quint32 base = 0xFFFFFFFFu - 20000;
    std::vector<VCI_CAN_OBJ> records;
    for (const KvGbtSimFrame &f : frames) {
        VCI_CAN_OBJ r{};
        r.ID = f.id;
        r.TimeStamp = base + quint32(f.time / 100);
        r.ExternFlag = 1;
        r.DataLen = f.size;
        std::memcpy(r.Data, f.data, 8);
        records.push_back(r);
    }
    VCI_CAN_OBJ standard{};
    standard.ID = 0x123;
    standard.DataLen = 1;
    // Fed in bursts, polled between them as a host's refresh cycle would.
    int polled = 0;
    for (size_t at = 0; at < records.size(); at += 100) {
        const int n = int(std::min<size_t>(100, records.size() - at));
        buffer.addGBT27930Frame(&records[at], n);
        buffer.addGBT27930Frame(&standard, 1);
        polled += monitor.poll();
    }
    QCOMPARE(polled, int(frames.size()));
    QCOMPARE(got.phases, normalPhases);
    QCOMPARE(withoutTimes(got.lines), withoutTimes(expected.lines));
    QCOMPARE(got.lines.last(),
             expected.lines.last()); // times from the first frame, across the wrap

    QVector<VCI_CAN_OBJ> out;
    buffer.addGBT27930Frame(records.data(), 3);
    QCOMPARE(buffer.takeGBT27930Frames(out, 2), 2);
    QCOMPARE(buffer.takeGBT27930Frames(out, 0), 0);
    QCOMPARE(buffer.takeGBT27930Frames(out, 5), 1);
    QCOMPARE(out.size(), 3);
    QCOMPARE(out[2].TimeStamp, records[2].TimeStamp);
}

void tst_KvGbtSession::json()
{
    KvGbtMessage m;
    KvGbtDecoder::decodePayload(KvGbtCode::BMV,
                                reinterpret_cast<const quint8 *>("\x54\x11\x56\x21"), 4, m);
    m.time = 12345678;
    m.channel = 1;
    m.source = 0xF4;
    QCOMPARE(KvGbtJson::message(m),
             QByteArray("{\"time\":12.345678,\"channel\":1,\"code\":\"BMV\",\"pgn\":5376,"
                        "\"source\":244,\"destination\":255,\"fields\":{\"cells\":[{\"voltage_v\":"
                        "3.40,\"group\":1},{\"voltage_v\":3.42,\"group\":2}]}}"));
    KvGbtDecoder::decodePayload(
        KvGbtCode::CRM, reinterpret_cast<const quint8 *>("\xAA\x01\x00\x00\x00\x22\xE9"), 7, m);
    QCOMPARE(KvGbtJson::message(m),
             QByteArray("{\"time\":12.345678,\"channel\":1,\"code\":\"CRM\",\"pgn\":256,"
                        "\"source\":244,\"destination\":255,\"fields\":{\"recognition\":170,"
                        "\"charger_number\":1},\"malformed\":true}"));
    KvGbtDecoder::decodePayload(KvGbtCode::BMT, reinterpret_cast<const quint8 *>("\x4B"), 1, m);
    QVERIFY(KvGbtJson::message(m).contains("\"fields\":{\"temperatures_c\":[25]}"));

    KvGbtEvent e;
    e.time = 3000000;
    e.phase = KvGbtPhase::Charging;
    QCOMPARE(KvGbtJson::event(e),
             QByteArray("{\"time\":3.000000,\"event\":\"phase\",\"phase\":\"charging\"}"));
    e.kind = KvGbtEvent::TpError;
    e.tpError.source = 0xF4;
    e.tpError.destination = 0x56;
    e.tpError.pgn = 0x1100;
    e.tpError.reason = KvJ1939TpError::Abort;
    e.tpError.abortReason = 3;
    QCOMPARE(
        KvGbtJson::event(e),
        QByteArray("{\"time\":3.000000,\"event\":\"tp_error\",\"source\":244,"
                   "\"destination\":86,\"pgn\":4352,\"reason\":\"abort\",\"abort_reason\":3}"));
}

void tst_KvGbtSession::phaseRules()
{
    KvGbtSession session;
    Log log(session);
    const auto send = [&session](qint64 ms, quint32 id, QByteArray data) {
        session.feedFrame(ms * 1000, id, reinterpret_cast<const quint8 *>(data.constData()),
                          data.size());
    };
    send(0, 0x181056F4, QByteArray::fromHex("0F0A881302"));      // BCL: joins in the middle
    send(50, 0x1801F456, QByteArray::fromHex("00010000004242")); // CRM 00: back to recognition
    send(100, 0x1826F456, QByteArray::fromHex("010100"));        // CHM: earlier, stays
    send(150, 0x081E56F4, QByteArray::fromHex("F0F0F0F0"));      // BEM without a timeout: stays
    send(200, 0x081FF456, QByteArray::fromHex("FCF0C4FC"));      // CEM with one: error
    send(250, 0x181056F4, QByteArray::fromHex("0F0A881302"));    // stays in error
    send(300, 0x1826F456, QByteArray::fromHex("010100"));        // CHM after an error: handshake
    QCOMPARE(log.phases, QString("charging recognition error handshake").split(' '));
    QVERIFY(log.others.isEmpty());
}

void tst_KvGbtSession::readinessTimeout()
{
    // BRO not ready for more than 60 s, though it keeps coming: one timeout, and another when
    // it falls silent after its ready one. CRO: silent after 5 s, never ready after 60 s.
    KvGbtSession session;
    Log log(session);
    const quint8 notReady = 0x00;
    const quint8 ready = 0xAA;
    session.feedFrame(0, 0x100AF456, &notReady, 1); // CRO
    for (qint64 ms = 0; ms <= 61000; ms += 250)
        session.feedFrame(ms * 1000, 0x100956F4, &notReady, 1);
    session.feedFrame(62000 * 1000, 0x100956F4, &ready, 1);
    session.advance(200 * 1000000LL);
    QCOMPARE(log.others,
             QList<QByteArray>({"{\"time\":5.000000,\"event\":\"timeout\",\"code\":\"CRO\"}",
                                "{\"time\":60.000000,\"event\":\"timeout\",\"code\":\"BRO\"}",
                                "{\"time\":60.000000,\"event\":\"timeout\",\"code\":\"CRO\"}",
                                "{\"time\":67.000000,\"event\":\"timeout\",\"code\":\"BRO\"}"}));
}

void tst_KvGbtSession::randomFramesOnChargingIds()
{
    // Random payloads of random length on every identifier of the dialogue and of the transport
    // protocol: nothing but clear messages and events, and transfers within their bounds.
    int count = 0;
    const KvGbtMessageInfo *all = KvGbtMessageInfo::all(&count);
    QVector<quint32> ids = {0x1CEC56F4, 0x1CEB56F4, 0x1CECF456, 0x1CEBF456, 0x1CECFFF4, 0x1CEBFFF4};
    for (int i = 0; i < count; ++i) {
        const quint8 from = all[i].fromBms ? 0xF4 : 0x56;
        const quint8 to = all[i].fromBms ? 0x56 : 0xF4;
        ids << (quint32(all[i].priority) << 26 | all[i].pgn << 8 | quint32(to) << 8 | from);
    }
    KvGbtSession session;
    int messages = 0;
    int events = 0;
    session.setMessageHandler([&messages](const KvGbtMessage &m) {
        ++messages;
        QVERIFY(!KvGbtJson::message(m).isEmpty());
    });
    session.setEventHandler([&events](const KvGbtEvent &e) {
        ++events;
        QVERIFY(KvGbtJson::event(e).startsWith("{\"time\":"));
    });
    QRandomGenerator random(27930);
    qint64 time = 0;
    for (int i = 0; i < 100000; ++i) {
        quint8 data[8];
        for (quint8 &b : data)
            b = quint8(random.bounded(256));
        time += random.bounded(20000);
        session.feedFrame(time, ids[random.bounded(ids.size())], data, random.bounded(9));
        QVERIFY(session.transport().bufferedBytes() <=
                KvJ1939Transport::DefaultMaxSessions * KvJ1939Transport::MaxSize);
    }
    QVERIFY(messages > 50000);
    QVERIFY(events > 0);
}

QTEST_APPLESS_MAIN(tst_KvGbtSession)
#include "tst_kvgbtsession.moc"
