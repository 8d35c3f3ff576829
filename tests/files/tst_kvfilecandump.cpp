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
    void skipsLinesItCannotRead_data();
    void skipsLinesItCannotRead();
    void endsOnAShrunkFile();

private:
    QString write(const QString &name, const QByteArray &content);
    QTemporaryDir dir;
};

QString tst_KvFileCandump::write(const QString &name, const QByteArray &content)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(content);
    return f.fileName();
}

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
        asc = write("source.asc", ascOf(peers::frames()));
    } else {
        const QString in = write("in.log", peers::candumpLog(peers::frames()));
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
}

void tst_KvFileCandump::readsLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, frames);
    KvFileCandump reader;
    QCOMPARE(peers::readAll(reader, write("lines.log", content)), frames);
}

void tst_KvFileCandump::skipsLinesItCannotRead_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("blank") << QByteArray("  \t ");
    QTest::newRow("comment") << QByteArray("# recorded on the test bench");
    QTest::newRow("no interface") << QByteArray("(1.5) 123#11");
    QTest::newRow("no parentheses") << QByteArray("1.5 can0 123#11");
    QTest::newRow("time not a number") << QByteArray("(abc) can0 123#11");
    QTest::newRow("negative time") << QByteArray("(-1.5) can0 123#11");
    QTest::newRow("no #") << QByteArray("(1.5) can0 12311");
    QTest::newRow("id of four digits") << QByteArray("(1.5) can0 1234#11");
    QTest::newRow("id not hex") << QByteArray("(1.5) can0 12G#11");
    QTest::newRow("standard id above 7FF") << QByteArray("(1.5) can0 800#11");
    QTest::newRow("error frame") << QByteArray("(1.5) can0 20000080#0000000000000000");
    QTest::newRow("CAN FD") << QByteArray("(1.5) can0 123##1112233");
    QTest::newRow("odd digit count") << QByteArray("(1.5) can0 123#112");
    QTest::newRow("nine bytes") << QByteArray("(1.5) can0 123#112233445566778899");
    QTest::newRow("data not hex") << QByteArray("(1.5) can0 123#1G");
    QTest::newRow("remote DLC 9") << QByteArray("(1.5) can0 123#R9");
    QTest::newRow("remote with data") << QByteArray("(1.5) can0 123#R11");
    QTest::newRow("raw DLC on fewer bytes") << QByteArray("(1.5) can0 123#11_9");
    QTest::newRow("raw DLC below 9") << QByteArray("(1.5) can0 123#0102030405060708_8");
    QTest::newRow("NUL in the frame") << QByteArray("(1.5) can0 123#1") + '\0';
    QTest::newRow("line too long") << "(1.5) can0 123#11 " + QByteArray(5000, 'A');
}

void tst_KvFileCandump::skipsLinesItCannotRead()
{
    QFETCH(QByteArray, line);
    const QByteArray content = "(1.0) can0 001#11\n" + line + "\n(2.0) can0 002#22\n";
    KvFileCandump reader;
    QCOMPARE(peers::readAll(reader, write("bad.log", content)),
             (QStringList{"1 d 1 1100000000000000 @0", "2 d 1 2200000000000000 @10000"}));
}

void tst_KvFileCandump::endsOnAShrunkFile()
{
    QByteArray content;
    for (int i = 0; i < 1000; ++i)
        content += "(1436509052.249713) can0 123#00\n";
    const QString path = write("shrinks.log", content);
    KvFileCandump reader;
    QVERIFY(reader.open(path));
    QVERIFY(reader.prepare());
    CanObj frame;
    QVERIFY(reader.getFrame(frame));
    QVERIFY(QFile::resize(path, 10));
    int more = 0;
    while (reader.getFrame(frame) && more < 2000)
        ++more;
    QVERIFY(more < 1000); // what was buffered may still come, then the read ends
    CanData batch;
    QVERIFY(!reader.getFrames(batch, 10)); // no batches from this form
}

QTEST_GUILESS_MAIN(tst_KvFileCandump)
#include "tst_kvfilecandump.moc"
