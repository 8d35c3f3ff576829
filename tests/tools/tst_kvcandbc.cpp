#include "kvcanrun.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

// kvcan dbc as a user runs it: the listing of a database, and a faulty file's errors with their
// lines and a non-zero exit code.
class tst_KvcanDbc : public QObject
{
    Q_OBJECT
private slots:
    void listsMessagesAndSignals();
    void reportsErrorsWithLines();
};

using namespace kvcantest;

void tst_KvcanDbc::listsMessagesAndSignals()
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("db.dbc")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(R"(BU_: Engine
BO_ 2364539904 EEC1: 8 Engine
 SG_ Mux M : 0|8@1+ (1,0) [0|0] "" Engine
 SG_ EngineSpeed m1 : 24|16@1+ (0.125,0) [0|8031.875] "rpm" Engine
 SG_ Gear : 8|4@0+ (1,0) [0|15] "" Engine
BA_DEF_ BO_ "VFrameFormat" ENUM "StandardCAN","ExtendedCAN","reserved","J1939PG";
BA_DEF_ BO_ "GenMsgCycleTime" INT 0 10000;
BA_ "VFrameFormat" BO_ 2364539904 3;
BA_ "GenMsgCycleTime" BO_ 2364539904 20;
VAL_ 2364539904 Gear 0 "P" 3 "D" ;
)");
    f.close();
    const Result r = run({QStringLiteral("dbc"), f.fileName()});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    const QStringList lines = r.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0),
             QStringLiteral("0x0CF00400 EEC1, 8 bytes, extended, J1939 PGN 0xF004, every 20 ms, "
                            "from Engine"));
    QCOMPARE(lines.value(1), QStringLiteral("  Mux 0|8@1+ (1.0,0.0) [0.0|0.0], multiplexer"));
    QCOMPARE(lines.value(2), QStringLiteral("  EngineSpeed 24|16@1+ (0.125,0.0) [0.0|8031.875] "
                                            "rpm, when Mux = 1"));
    QCOMPARE(lines.value(3), QStringLiteral("  Gear 8|4@0+ (1.0,0.0) [0.0|15.0], 0='P' 3='D'"));
    QCOMPARE(lines.value(4), QStringLiteral("1 messages, 3 signals"));
}

void tst_KvcanDbc::reportsErrorsWithLines()
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("bad.dbc")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(
        "BO_ 1 M: 8 X\n SG_ A : 0|0@1+ (1,0) [0|0] \"\" X\n SG_ B : 0|8@1+ (1,0) [0|0] \"\" X\n");
    f.close();
    const Result r = run({QStringLiteral("dbc"), f.fileName()});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("bad.dbc:2: length 0 of signal A")), qPrintable(r.err));
    QVERIFY(r.out.contains(QLatin1String("1 messages, 1 signals")));
    QCOMPARE(run({QStringLiteral("dbc"), dir.filePath(QStringLiteral("none.dbc"))}).code, 1);
    QCOMPARE(run({QStringLiteral("dbc")}).code, 2);
}

QTEST_GUILESS_MAIN(tst_KvcanDbc)
#include "tst_kvcandbc.moc"
