// The J1939 identifier fields and the transport-protocol reassembler: frames in, messages and
// errors out, time given by the stamps.
#include "kvj1939id.h"
#include "kvj1939transport.h"

#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

namespace {
// What came out, in order: "M <pgn> <src> <dst> <hex payload>" or "E <reason> <pgn> <src> <dst>
// @<ms>", an Abort with " reason <byte>".
class Recorder
{
public:
    explicit Recorder(KvJ1939Transport &tp)
    {
        tp.setMessageHandler([this](const KvJ1939Message &m) {
            if (!m.transported)
                return;
            const QByteArray payload(reinterpret_cast<const char *>(m.data), m.size);
            out << QStringLiteral("M %1 %2 %3 %4")
                       .arg(m.pgn, 0, 16)
                       .arg(m.source, 0, 16)
                       .arg(m.destination, 0, 16)
                       .arg(QString::fromLatin1(payload.toHex(' ')));
        });
        tp.setErrorHandler([this](const KvJ1939TpError &e) {
            out << QStringLiteral("E %1 %2 %3 %4 @%5")
                       .arg(QLatin1String(KvJ1939TpError::reasonName(e.reason)))
                       .arg(e.pgn, 0, 16)
                       .arg(e.source, 0, 16)
                       .arg(e.destination, 0, 16)
                       .arg(e.time / 1000);
            if (e.reason == KvJ1939TpError::Abort)
                out.last() += QStringLiteral(" reason %1").arg(e.abortReason);
        });
    }
    QStringList out;
};

// "<ms> <id> <bytes...>" per frame: "10 1CEB56F4 01 02 03 04 05 06 07 08".
void play(KvJ1939Transport &tp, const QStringList &frames)
{
    for (const QString &line : frames) {
        const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QByteArray data;
        for (int i = 2; i < parts.size(); ++i)
            data.append(char(parts[i].toUInt(nullptr, 16)));
        tp.feed(parts[0].toLongLong() * 1000, parts[1].toUInt(nullptr, 16),
                reinterpret_cast<const quint8 *>(data.constData()), data.size());
    }
}

// The GB/T 27930 BCP (13 bytes) from the BMS to the charger, by RTS/CTS.
const QStringList bcpRtsCts = {
    "0 1CEC56F4 10 0D 00 02 FF 00 06 00", "2 1CECF456 11 02 01 FF FF 00 06 00",
    "4 1CEB56F4 01 A4 01 D0 07 58 02 68", "6 1CEB56F4 02 10 69 90 01 42 0E FF",
    "8 1CECF456 13 0D 00 02 FF 00 06 00"};
const QString bcpMessage = QStringLiteral("M 600 f4 56 a4 01 d0 07 58 02 68 10 69 90 01 42 0e");
} // namespace

class tst_KvJ1939Transport : public QObject
{
    Q_OBJECT
private slots:
    void identifier_data();
    void identifier();
    void sequences_data();
    void sequences();
    void timeoutBoundary();
    void boundedByAnnouncement();
    void randomFramesStayBounded();
};

void tst_KvJ1939Transport::identifier_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<int>("priority");
    QTest::addColumn<quint32>("pgn");
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("destination");
    QTest::newRow("CML charger to BMS") << 0x1808F456u << 6 << 0x0800u << 0x56 << 0xF4;
    QTest::newRow("BEM priority 2") << 0x081E56F4u << 2 << 0x1E00u << 0xF4 << 0x56;
    QTest::newRow("TP.DT to global") << 0x1CEBFF90u << 7 << 0xEB00u << 0x90 << 0xFF;
    QTest::newRow("PDU2 broadcast") << 0x18FEF100u << 6 << 0xFEF1u << 0x00 << 0xFF;
    QTest::newRow("data page set") << 0x0DFE0A01u << 3 << 0x1FE0Au << 0x01 << 0xFF;
    QTest::newRow("PDU1 on data page 1") << 0x1DEF0201u << 7 << 0x1EF00u << 0x01 << 0x02;
}

void tst_KvJ1939Transport::identifier()
{
    QFETCH(quint32, id);
    QFETCH(int, priority);
    QFETCH(quint32, pgn);
    QFETCH(int, source);
    QFETCH(int, destination);
    const KvJ1939Id fields = KvJ1939Id::fromCanId(id);
    QCOMPARE(int(fields.priority), priority);
    QCOMPARE(fields.pgn, pgn);
    QCOMPARE(int(fields.source), source);
    QCOMPARE(int(fields.destination), destination);
    QCOMPARE(fields.canId(), id);
}

void tst_KvJ1939Transport::sequences_data()
{
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<QStringList>("expected");

    // The receive cases of python-can-j1939's test suite (test/test_ecu.py): TTI2, 20 bytes.
    const QString tti2 =
        QStringLiteral("01 02 03 04 05 06 07 01 02 03 04 05 06 07 01 02 03 04 05 06");
    QTest::newRow("python-can-j1939 BAM receive")
        << QStringList{"0 00ECFF01 20 14 00 03 FF B0 FE 00", "50 00EBFF01 01 01 02 03 04 05 06 07",
                       "100 00EBFF01 02 01 02 03 04 05 06 07",
                       "150 00EBFF01 03 01 02 03 04 05 06 FF"}
        << QStringList{"M feb0 1 ff " + tti2};
    QTest::newRow("python-can-j1939 RTS/CTS receive, one packet a CTS")
        << QStringList{"0 00EC0201 10 14 00 03 01 B0 FE 00", "1 1CEC0102 11 01 01 FF FF B0 FE 00",
                       "2 00EB0201 01 01 02 03 04 05 06 07", "3 1CEC0102 11 01 02 FF FF B0 FE 00",
                       "4 00EB0201 02 01 02 03 04 05 06 07", "5 1CEC0102 11 01 03 FF FF B0 FE 00",
                       "6 00EB0201 03 01 02 03 04 05 06 FF", "7 1CEC0102 13 14 00 03 FF B0 FE 00"}
        << QStringList{"M feb0 1 2 " + tti2};
    QTest::newRow("python-can-j1939 RTS/CTS send, PGN DF00")
        << QStringList{"0 18EC9B90 10 14 00 03 01 00 DF 00", "1 1CEC909B 11 01 01 FF FF 00 DF 00",
                       "2 1CEB9B90 01 01 02 03 04 05 06 07", "3 1CEC909B 11 01 02 FF FF 00 DF 00",
                       "4 1CEB9B90 02 01 02 03 04 05 06 07", "5 1CEC909B 11 01 03 FF FF 00 DF 00",
                       "6 1CEB9B90 03 01 02 03 04 05 06 FF", "7 1CEC909B 13 14 00 03 FF 00 DF 00"}
        << QStringList{"M df00 90 9b " + tti2};
    QTest::newRow("GB/T BCP by RTS/CTS") << bcpRtsCts << QStringList{bcpMessage};

    // BAM from F4, BCP from F4 to 56 and a transfer 01 -> 02, packets interleaved.
    QTest::newRow("three transfers interleaved")
        << QStringList{"0 1CECFFF4 20 09 00 02 FF 00 16 00", "1 1CEC56F4 10 0D 00 02 FF 00 06 00",
                       "2 1CEC0201 10 09 00 02 FF 00 EF 00", "3 1CECF456 11 02 01 FF FF 00 06 00",
                       "4 1CEC0102 11 02 01 FF FF 00 EF 00", "5 1CEB56F4 01 A4 01 D0 07 58 02 68",
                       "6 1CEB0201 01 11 12 13 14 15 16 17", "7 1CEBFFF4 01 4B 4C 4D 4E 4F 50 51",
                       "8 1CEB56F4 02 10 69 90 01 42 0E FF", "9 1CEB0201 02 18 19 FF FF FF FF FF",
                       "10 1CEBFFF4 02 52 53 FF FF FF FF FF"}
        << QStringList{bcpMessage, "M ef00 1 2 11 12 13 14 15 16 17 18 19",
                       "M 1600 f4 ff 4b 4c 4d 4e 4f 50 51 52 53"};
    QTest::newRow("CTS asking again for packet 1 (retransmission)")
        << QStringList{"0 1CEC56F4 10 0D 00 02 FF 00 06 00", "2 1CECF456 11 01 01 FF FF 00 06 00",
                       "4 1CEB56F4 01 00 00 00 00 00 00 00", "6 1CECF456 11 02 01 FF FF 00 06 00",
                       "8 1CEB56F4 01 A4 01 D0 07 58 02 68", "10 1CEB56F4 02 10 69 90 01 42 0E FF"}
        << QStringList{bcpMessage};
    QTest::newRow("hold (CTS for 0 packets) then data")
        << QStringList{"0 1CEC56F4 10 0D 00 02 FF 00 06 00", "2 1CECF456 11 00 FF FF FF 00 06 00",
                       "900 1CECF456 11 02 01 FF FF 00 06 00",
                       "902 1CEB56F4 01 A4 01 D0 07 58 02 68",
                       "904 1CEB56F4 02 10 69 90 01 42 0E FF"}
        << QStringList{bcpMessage};

    QTest::newRow("missing packet")
        << QStringList{bcpRtsCts[0], bcpRtsCts[1], "6 1CEB56F4 02 10 69 90 01 42 0E FF"}
        << QStringList{"E sequence 600 f4 56 @6"};
    QTest::newRow("duplicated packet")
        << QStringList{bcpRtsCts[0], bcpRtsCts[1], bcpRtsCts[2], bcpRtsCts[2]}
        << QStringList{"E sequence 600 f4 56 @4"};
    QTest::newRow("sequence number 0")
        << QStringList{"0 1CECFFF4 20 0A 00 02 FF 00 16 00", "5 1CEBFFF4 00 01 02 03 04 05 06 07"}
        << QStringList{"E sequence 1600 f4 ff @5"};
    QTest::newRow("sequence number 255")
        << QStringList{"0 1CECFFF4 20 0A 00 02 FF 00 16 00", "5 1CEBFFF4 FF 01 02 03 04 05 06 07"}
        << QStringList{"E sequence 1600 f4 ff @5"};
    QTest::newRow("data before the CTS")
        << QStringList{bcpRtsCts[0], bcpRtsCts[2]} << QStringList{"E sequence 600 f4 56 @4"};
    QTest::newRow("CTS for packets that do not exist")
        << QStringList{bcpRtsCts[0], "2 1CECF456 11 03 01 FF FF 00 06 00"}
        << QStringList{"E sequence 600 f4 56 @2"};
    QTest::newRow("new RTS during a session")
        << QStringList{bcpRtsCts[0], bcpRtsCts[1], bcpRtsCts[2],
                       "20 1CEC56F4 10 09 00 02 FF 00 11 00"}
        << QStringList{"E restarted 600 f4 56 @20"};
    QTest::newRow("new RTS after the last packet, before the EndOfMsgAck")
        << QStringList{bcpRtsCts[0], bcpRtsCts[1], bcpRtsCts[2], bcpRtsCts[3],
                       "20 1CEC56F4 10 09 00 02 FF 00 11 00"}
        << QStringList{bcpMessage};
    QTest::newRow("abort by the receiver")
        << QStringList{bcpRtsCts[0], "2 1CECF456 FF 03 FF FF FF 00 06 00"}
        << QStringList{"E abort 600 f4 56 @2 reason 3"};
    QTest::newRow("abort by the originator")
        << QStringList{bcpRtsCts[0], bcpRtsCts[1], bcpRtsCts[2],
                       "5 1CEC56F4 FF 01 FF FF FF 00 06 00"}
        << QStringList{"E abort 600 f4 56 @5 reason 1"};
    QTest::newRow("abort for another PGN is not ours")
        << (QStringList{bcpRtsCts[0], "2 1CECF456 FF 03 FF FF FF 00 07 00"} + bcpRtsCts.mid(1))
        << QStringList{bcpMessage};
    QTest::newRow("announced 65535 bytes")
        << QStringList{"0 1CEC56F4 10 FF FF FF FF 00 02 00", "2 1CEB56F4 01 00 00 00 00 00 00 00"}
        << QStringList{"E bad_announcement 200 f4 56 @0"};
    QTest::newRow("announced 0 packets") << QStringList{"0 1CECFFF4 20 0A 00 00 FF 00 16 00"}
                                         << QStringList{"E bad_announcement 1600 f4 ff @0"};
    QTest::newRow("packet count not matching the size")
        << QStringList{"0 1CECFFF4 20 0A 00 05 FF 00 16 00"}
        << QStringList{"E bad_announcement 1600 f4 ff @0"};
    QTest::newRow("RTS to the global address") << QStringList{"0 1CECFFF4 10 0A 00 02 FF 00 16 00"}
                                               << QStringList{"E bad_announcement 1600 f4 ff @0"};
    QTest::newRow("orphan data, CTS and short TP.CM are passed over")
        << QStringList{"0 1CEB56F4 01 00 00 00 00 00 00 00", "1 1CECF456 11 02 01 FF FF 00 06 00",
                       "2 1CEC56F4 10 0D 00"}
        << QStringList{};

    // Each timeout, reported at the moment it expired.
    QTest::newRow("T1 between BAM packets")
        << QStringList{"0 1CECFFF4 20 0A 00 02 FF 00 16 00", "50 1CEBFFF4 01 01 02 03 04 05 06 07",
                       "900 18FF0000 00"}
        << QStringList{"E timeout_t1 1600 f4 ff @800"};
    QTest::newRow("T1 between RTS/CTS packets")
        << QStringList{"0 1CEC56F4 10 15 00 03 FF 00 02 00", "2 1CECF456 11 03 01 FF FF 00 02 00",
                       "4 1CEB56F4 01 01 02 03 04 05 06 07", "2000 18FF0000 00"}
        << QStringList{"E timeout_t1 200 f4 56 @754"};
    QTest::newRow("T2 after a CTS") << QStringList{bcpRtsCts[0], bcpRtsCts[1], "2000 18FF0000 00"}
                                    << QStringList{"E timeout_t2 600 f4 56 @1252"};
    QTest::newRow("T3 after the RTS") << QStringList{bcpRtsCts[0], "2000 18FF0000 00"}
                                      << QStringList{"E timeout_t3 600 f4 56 @1250"};
    QTest::newRow("T3 after the last packet: message, then the missing EndOfMsgAck")
        << QStringList{bcpRtsCts[0], bcpRtsCts[1], bcpRtsCts[2], bcpRtsCts[3], "2000 18FF0000 00"}
        << QStringList{bcpMessage, "E timeout_t3 600 f4 56 @1256"};
    QTest::newRow("T4 in a hold") << QStringList{bcpRtsCts[0], "2 1CECF456 11 00 FF FF FF 00 06 00",
                                                 "2000 18FF0000 00"}
                                  << QStringList{"E timeout_t4 600 f4 56 @1052"};
}

void tst_KvJ1939Transport::sequences()
{
    QFETCH(QStringList, frames);
    QFETCH(QStringList, expected);
    KvJ1939Transport tp;
    Recorder recorder(tp);
    play(tp, frames);
    QCOMPARE(recorder.out, expected);
    // Whatever happened, a transfer that ended holds nothing.
    if (!expected.isEmpty() && frames.last().contains(QLatin1String("18FF0000")))
        QCOMPARE(tp.sessionCount(), 0);
}

void tst_KvJ1939Transport::timeoutBoundary()
{
    // Exactly T1 after the last packet is still in time; a microsecond later is not.
    KvJ1939Transport tp;
    Recorder recorder(tp);
    play(tp, {"0 1CECFFF4 20 0A 00 02 FF 00 16 00"});
    tp.advance(KvJ1939Transport::T1);
    QCOMPARE(recorder.out, QStringList());
    tp.advance(KvJ1939Transport::T1 + 1);
    QCOMPARE(recorder.out, QStringList{"E timeout_t1 1600 f4 ff @750"});
    tp.advance(10 * KvJ1939Transport::T1);
    QCOMPARE(recorder.out.size(), 1);
}

void tst_KvJ1939Transport::boundedByAnnouncement()
{
    // Every source announces the largest transfer: the slots fill, the rest are refused.
    KvJ1939Transport tp(8);
    Recorder recorder(tp);
    for (int source = 0; source < 20; ++source) {
        const quint8 bam[8] = {0x20, 0xF9, 0x06, 0xFF, 0xFF, 0x00, 0x16, 0x00}; // 1785 bytes
        tp.feed(source, 0x1CECFF00u | quint32(source), bam, 8);
    }
    QCOMPARE(tp.sessionCount(), 8);
    QCOMPARE(tp.bufferedBytes(), 8 * KvJ1939Transport::MaxSize);
    QCOMPARE(recorder.out.size(), 12);
    QVERIFY(recorder.out.first().startsWith(QLatin1String("E too_many_sessions 1600 8 ff")));
    tp.advance(10 * KvJ1939Transport::T1);
    QCOMPARE(tp.sessionCount(), 0);
    QCOMPARE(tp.bufferedBytes(), 0);
}

void tst_KvJ1939Transport::randomFramesStayBounded()
{
    // Random traffic on the TP identifiers of both sides: sessions and bytes stay within their
    // bounds, and every transfer that starts also ends (completed or with an error).
    KvJ1939Transport tp;
    int messages = 0;
    int errors = 0;
    tp.setMessageHandler([&messages](const KvJ1939Message &m) {
        messages += m.transported;
        QVERIFY(m.size >= 1 && m.size <= KvJ1939Transport::MaxSize);
    });
    tp.setErrorHandler([&errors](const KvJ1939TpError &) { ++errors; });
    QRandomGenerator random(22);
    const quint32 ids[] = {0x1CEC56F4, 0x1CEB56F4, 0x1CECF456, 0x1CEBF456, 0x1CECFFF4, 0x1CEBFFF4};
    qint64 time = 0;
    for (int i = 0; i < 200000; ++i) {
        quint8 data[8];
        for (quint8 &b : data)
            b = quint8(random.bounded(256));
        if (i % 3 == 0)
            data[0] = quint8(QList<int>{0x10, 0x11, 0x13, 0x20, 0xFF}[random.bounded(5)]);
        time += random.bounded(1000);
        tp.feed(time * 100, ids[random.bounded(6)], data, int(random.bounded(9)));
        QVERIFY(tp.sessionCount() <= KvJ1939Transport::DefaultMaxSessions);
        QVERIFY(tp.bufferedBytes() <= tp.sessionCount() * KvJ1939Transport::MaxSize);
    }
    QVERIFY(errors > 0);
    tp.advance(time * 100 + 10 * KvJ1939Transport::T3);
    QCOMPARE(tp.sessionCount(), 0);
}

QTEST_APPLESS_MAIN(tst_KvJ1939Transport)
#include "tst_kvj1939transport.moc"
