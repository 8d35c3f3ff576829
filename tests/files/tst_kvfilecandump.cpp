#include "kvfilecandump.h"
#include "recordingpeers.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

// The logs are written at test time by can-utils' asc2log, an independent writer of the form.
class tst_KvFileCandump : public QObject
{
    Q_OBJECT
private slots:
    void asc2log_data();
    void asc2log();
    void readsLines_data();
    void readsLines();

private:
    QTemporaryDir dir;
};

// ASC text in the form other tools write, for asc2log to convert: hand-padded like theirs, with
// a header, an error frame and a CAN FD frame in between.
static QByteArray ascOf(const QList<peers::Frame> &frames)
{
    QByteArray asc = "date Fri Jul 10 06:17:32 2015\nbase hex  timestamps absolute\n"
                     "internal events logged\nBegin Triggerblock Fri Jul 10 06:17:32 2015\n"
                     "   0.000000 Start of measurement\n";
    for (int i = 0; i < frames.size(); ++i) {
        const peers::Frame &f = frames.at(i);
        const QString time = QStringLiteral("%1.%2")
                                 .arg(f.offsetUs / 1000000, 4)
                                 .arg(f.offsetUs % 1000000, 6, 10, QLatin1Char('0'));
        QString id = QString::number(f.id, 16).toUpper() + (f.extended ? "x" : "");
        QString line = QStringLiteral("%1 %2  %3 Rx   ").arg(time).arg(f.channel + 1).arg(id, -15);
        if (f.remote) {
            line += QStringLiteral("r %1").arg(f.dlc);
        } else {
            line += QStringLiteral("d %1").arg(f.dlc);
            for (char byte : f.data)
                line += QStringLiteral(" %1").arg(quint8(byte), 2, 16, QLatin1Char('0')).toUpper();
        }
        asc += line.toLatin1() + '\n';
        if (i == 2) {
            asc += time.toLatin1() + " 1  ErrorFrame\n";
            asc += time.toLatin1() + " CANFD   1 Rx        123                                   "
                                     "1 0 3  3 11 22 33   130000  130     3000 0 0 0 0 0\n";
        }
    }
    return asc + "End TriggerBlock\n";
}

void tst_KvFileCandump::asc2log_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("from padded ASC") << "padded";
    QTest::newRow("from log2asc's ASC") << "log2asc";
}

void tst_KvFileCandump::asc2log()
{
    QFETCH(QString, source);
    const QString asc2log = peers::canUtil("asc2log");
    const QString log2asc = peers::canUtil("log2asc");
    if (asc2log.isEmpty() || log2asc.isEmpty())
        QSKIP("asc2log and log2asc are not installed (Debian package can-utils; scripts/run.sh "
              "installs it)");
    QString asc = dir.filePath("source.asc");
    if (source == "padded") {
        asc = peers::write(dir, "source.asc", ascOf(peers::frames()));
    } else {
        const QString in = peers::write(dir, "in.log", peers::candumpLog(peers::frames()));
        const QString error = peers::run(log2asc, {"-I", in, "-O", asc, "can0", "can1"});
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    const QString out = dir.filePath("asc2log.log");
    const QString error = peers::run(asc2log, {"-I", asc, "-O", out});
    QVERIFY2(error.isEmpty(), qPrintable(error));

    KvFileCandump reader;
    QCOMPARE(peers::readAll(reader, out), peers::expected(peers::frames()));
}

void tst_KvFileCandump::readsLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("frames");
    QTest::newRow("the forms candump writes")
        << QByteArray("(1436509052.249713) can0 12345678#DEADBEEF\n"
                      "(1436509052.449847) can0 123#R\n"
                      "(1436509052.549847) vcan1 7DF#R3 R\n"
                      "(1436509052.649847) can0 000#\n")
        << QStringList{"12345678x d 4 deadbeef00000000 @0", "123 r 0 0000000000000000 @2001",
                       "7df r 3 0000000000000000 @3001", "0 d 0 0000000000000000 @4001"};
    QTest::newRow("points between bytes, lower case, raw DLC")
        << QByteArray("(0.000100) can0 1ab#11.22.aa\n"
                      "(0.000200) can0 00000001#0102030405060708_F\n")
        << QStringList{"1ab d 3 1122aa0000000000 @0", "1x d 8 0102030405060708 @1"};
    QTest::newRow("a step back wraps below 2^32")
        << QByteArray("(10.0) can0 001#\n(9.9999) can0 002#\n")
        << QStringList{"1 d 0 0000000000000000 @0", "2 d 0 0000000000000000 @4294967295"};
    QTest::newRow("CR LF and blank lines")
        << QByteArray("\r\n(1.5) can0 001#01\r\n\r\n(2.5) can0 002#02\r\n")
        << QStringList{"1 d 1 0100000000000000 @0", "2 d 1 0200000000000000 @10000"};
    QTest::newRow("empty file") << QByteArray() << QStringList();

    // Lines the reader cannot use are stepped over, between two it reads.
    const auto skipped = [](const char *name, const QByteArray &line) {
        QTest::newRow(name) << "(1.0) can0 001#11\n" + line + "\n(2.0) can0 002#22\n"
                            << QStringList{"1 d 1 1100000000000000 @0",
                                           "2 d 1 2200000000000000 @10000"};
    };
    skipped("blank", "  \t ");
    skipped("comment", "# recorded on the test bench");
    skipped("no interface", "(1.5) 123#11");
    skipped("no parentheses", "1.5 can0 123#11");
    skipped("time not a number", "(abc) can0 123#11");
    skipped("negative time", "(-1.5) can0 123#11");
    skipped("no #", "(1.5) can0 12311");
    skipped("id of four digits", "(1.5) can0 1234#11");
    skipped("id not hex", "(1.5) can0 12G#11");
    skipped("standard id above 7FF", "(1.5) can0 800#11");
    skipped("error frame", "(1.5) can0 20000080#0000000000000000");
    skipped("CAN FD", "(1.5) can0 123##1112233");
    skipped("odd digit count", "(1.5) can0 123#112");
    skipped("nine bytes", "(1.5) can0 123#112233445566778899");
    skipped("data not hex", "(1.5) can0 123#1G");
    skipped("remote DLC 9", "(1.5) can0 123#R9");
    skipped("remote with data", "(1.5) can0 123#R11");
    skipped("raw DLC on fewer bytes", "(1.5) can0 123#11_9");
    skipped("raw DLC below 9", "(1.5) can0 123#0102030405060708_8");
    skipped("NUL in the frame", QByteArray("(1.5) can0 123#1") + '\0');
    skipped("line too long", "(1.5) can0 123#11 " + QByteArray(5000, 'A'));
}

void tst_KvFileCandump::readsLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, frames);
    KvFileCandump reader;
    QCOMPARE(peers::readAll(reader, peers::write(dir, "lines.log", content)), frames);
}

QTEST_GUILESS_MAIN(tst_KvFileCandump)
#include "tst_kvfilecandump.moc"
