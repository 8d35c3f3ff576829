#include "kvfileasclog.h"
#include "recordingpeers.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

// The recordings come from an independent writer run at test time, so the reader is held to what
// other tools really write, not to our reading of their format. python-can's ASC files are read
// by the same line parser through the format registry (tst_formatpeers).
class tst_KvFileAscLog : public QObject
{
    Q_OBJECT
private slots:
    void log2asc_data();
    void log2asc();
    void readsLines_data();
    void readsLines();

private:
    QTemporaryDir dir;
};

void tst_KvFileAscLog::log2asc_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("remoteLength");
    QTest::newRow("default") << QStringList() << true;
    QTest::newRow("four decimals") << QStringList{"-4"} << true;
    QTest::newRow("remote frames without DLC") << QStringList{"-r"} << false;
    QTest::newRow("CR LF line ends") << QStringList{"-n"} << true;
}

void tst_KvFileAscLog::log2asc()
{
    QFETCH(QStringList, options);
    QFETCH(bool, remoteLength);
    const QString tool = peers::canUtil("log2asc");
    if (tool.isEmpty())
        QSKIP("log2asc is not installed (Debian package can-utils; scripts/run.sh installs it)");
    const QString in = peers::write(dir, "in.log", peers::candumpLog(peers::frames()));
    const QString out = dir.filePath("log2asc.asc");
    const QString error =
        peers::run(tool, options + QStringList{"-I", in, "-O", out, "can0", "can1"});
    QVERIFY2(error.isEmpty(), qPrintable(error));

    KvFileAscLog reader;
    QCOMPARE(peers::readAll(reader, out), peers::expected(peers::frames(), remoteLength));
}

void tst_KvFileAscLog::readsLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("frames");
    QTest::newRow("our own single-space form")
        << QByteArray("date x\nbase hex timestamps absolute\n0.012345 1 1A2B3Cx Rx d 3 01 02 03\n")
        << QStringList{"1a2b3cx d 3 0102030000000000 @123"};
    QTest::newRow("tabs and padding") << QByteArray("\t 1.5\t2   7ff\tTx  d  2  a b \n")
                                      << QStringList{"7ff d 2 0a0b000000000000 @15000"};
    QTest::newRow("decimal base")
        << QByteArray(
               "base dec timestamps absolute\n 0.5 1 291 Rx d 2 1 255\n 0.6 1 4096x Rx d 0\n")
        << QStringList{"123 d 2 01ff000000000000 @5000", "1000x d 0 0000000000000000 @6000"};
    QTest::newRow("relative times count every event")
        << QByteArray("base hex timestamps relative\n 0.1 1 1 Rx d 0\n 0.05 1 ErrorFrame\n"
                      " 0.025 1 2 Rx d 0\n")
        << QStringList{"1 d 0 0000000000000000 @1000", "2 d 0 0000000000000000 @1750"};
    QTest::newRow("a base line in the middle switches the rest")
        << QByteArray(" 0.1 1 10 Rx d 1 10\nbase dec timestamps absolute\n 0.2 1 10 Rx d 1 10\n")
        << QStringList{"10 d 1 1000000000000000 @1000", "a d 1 0a00000000000000 @2000"};
    QTest::newRow("remote frames with and without DLC, lower and upper case")
        << QByteArray(" 1 1 7DF Rx r 8\n 2 1 7dfX RX R\n 3 1 100 Tx r Length = 5\n")
        << QStringList{"7df r 8 0000000000000000 @10000", "7dfx r 0 0000000000000000 @20000",
                       "100 r 0 0000000000000000 @30000"};
    QTest::newRow("words after the data are ignored")
        << QByteArray(" 0.25 1 123 Rx d 1 42  Length = 228000 BitCount = 118 ID = 291\n")
        << QStringList{"123 d 1 4200000000000000 @2500"};
    QTest::newRow("more than six decimals are truncated")
        << QByteArray(" 0.123456999 1 1 Rx d 0\n") << QStringList{"1 d 0 0000000000000000 @1234"};
    QTest::newRow("stamps keep their low 32 bits")
        << QByteArray(" 429496.7296 1 1 Rx d 0\n 429496.7295 1 2 Rx d 0\n")
        << QStringList{"1 d 0 0000000000000000 @0", "2 d 0 0000000000000000 @4294967295"};
    QTest::newRow("end lines do not end the recording")
        << QByteArray("End TriggerBlock\nBegin Triggerblock\n 1 1 1 Rx d 0\n")
        << QStringList{"1 d 0 0000000000000000 @10000"};
    QTest::newRow("empty file") << QByteArray() << QStringList();

    // Lines the reader cannot use are stepped over, between two it reads.
    const auto skipped = [](const char *name, const QByteArray &line) {
        QTest::newRow(name) << " 1.0 1 1 Rx d 1 11\n" + line + "\n 2.0 1 2 Rx d 1 22\n"
                            << QStringList{"1 d 1 1100000000000000 @10000",
                                           "2 d 1 2200000000000000 @20000"};
    };
    skipped("words", "internal events logged");
    skipped("blank", "   \t ");
    skipped("event", " 0.1 Start of measurement");
    skipped("error frame", " 0.1 1  ErrorFrame");
    skipped("CAN FD", " 0.1 CANFD 1 Rx 12x 0 0 9 12 00 01 02 03 04 05 06 07 08 "
                      "09 0A 0B 0 0 1000 0 0 0 0 0");
    skipped("chip status", " 0.1 CAN 1 Status:chip status error active");
    skipped("statistic", " 0.1 1  Statistic: D 0 R 0 XD 0 XR 0 E 0 O 0");
    skipped("transmit request", " 0.1 1 123 TxRq d 1 00");
    skipped("no kind", " 0.1 1 123 Rx");
    skipped("unknown kind", " 0.1 1 123 Rx x 1 00");
    skipped("no DLC", " 0.1 1 123 Rx d");
    skipped("DLC above 8", " 0.1 1 123 Rx d 9 1 2 3 4 5 6 7 8 9");
    skipped("DLC not a digit", " 0.1 1 123 Rx d A 1 2 3 4 5 6 7 8 9 A");
    skipped("fewer bytes than DLC", " 0.1 1 123 Rx d 3 01 02");
    skipped("byte of three digits", " 0.1 1 123 Rx d 1 100");
    skipped("byte not hex", " 0.1 1 123 Rx d 1 0G");
    skipped("standard id above 7FF", " 0.1 1 800 Rx d 0");
    skipped("extended id above 1FFFFFFF", " 0.1 1 20000000x Rx d 0");
    skipped("id not hex", " 0.1 1 12G Rx d 0");
    skipped("id of nine digits", " 0.1 1 000000123 Rx d 0");
    skipped("channel not a number", " 0.1 A 123 Rx d 0");
    skipped("negative time", " -0.1 1 123 Rx d 0");
    skipped("time with exponent", " 1e3 1 123 Rx d 0");
    skipped("time with two points", " 0.1.2 1 123 Rx d 0");
    skipped("time of thirteen digits", " 1000000000000 1 123 Rx d 0");
    skipped("NUL in a word", QByteArray(" 0.1 1 12") + '\0' + "3 Rx d 0");
    skipped("bytes beyond ASCII", " 0.1 1 123 Rx d 1 \xC2\xA0");
    skipped("line too long", " 0.1 1 123 Rx d 1 00 " + QByteArray(5000, 'A'));
}

void tst_KvFileAscLog::readsLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, frames);
    KvFileAscLog reader;
    QCOMPARE(peers::readAll(reader, peers::write(dir, "lines.asc", content)), frames);
}

QTEST_GUILESS_MAIN(tst_KvFileAscLog)
#include "tst_kvfileasclog.moc"
