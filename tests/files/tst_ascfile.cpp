#include "ascfile.h"
#include "canobj.h"

#include <QtTest>

static const QByteArray Header = "date Mon Jan 1 10:00:00 2024\nbase hex  timestamps absolute\n";

// "stamp id XR len data"
static QString describe(const CanObj &f)
{
    return QStringLiteral("%1 %2 %3%4 %5 ")
               .arg(f.TimeStamp)
               .arg(f.ID, 0, 16)
               .arg(f.ExternFlag ? "X" : "-")
               .arg(f.RemoteFlag ? "R" : "-")
               .arg(f.DataLen) +
           QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(f.Data), 8).toHex());
}

class TestAscFile : public QObject
{
    Q_OBJECT
private slots:
    void getFrame_data();
    void getFrame();
};

void TestAscFile::getFrame_data()
{
    // What successive calls give until the end of the file, each call on the same record; "no"
    // marks a false result. The record starts with data bytes ee, so what a line leaves alone
    // shows. Binary noise is in the bad-input corpus (tst_badinput).
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("frames");
    const auto row = [](const char *name, const QByteArray &content, const QStringList &frames) {
        QTest::newRow(name) << content << frames;
    };
    QFile golden(QStringLiteral(KAVRI_TEST_DATA "/asc/sample_crlf.asc"));
    QVERIFY(golden.open(QIODevice::ReadOnly));

    row("identifiers and kinds",
        Header + "0.012345 1 1A2B3Cx Rx d 3 01 02 03\n0.012345 1 123 Rx r 3 01 02 03\n" +
            "0.012345 1 1A2B3CX Rx d 0\n",
        {"123 1a2b3c X- 3 01020300eeeeeeee", "123 123 -R 3 01020300eeeeeeee",
         "123 0 -- 0 00020300eeeeeeee"});
    row("separators",
        Header + "0.5 1 123 Rx d  2 AA BB\n0.5\t1\t7\tRx\td\t1\t42\r\n" +
            "0.5\xC2\xA0"
            "1 8 Rx d 1 AB\n0.5 1 9 \xCA\xD5 d 1 CD\n",
        {"5000 123 -- 0 02aabb00eeeeeeee", "5000 7 -- 1 4200bb00eeeeeeee",
         "5000 8 -- 1 ab00bb00eeeeeeee", "5000 9 -- 1 cd00bb00eeeeeeee"});
    row("data bytes",
        Header + "1 1 1 Rx d 8 1 2 3 4 5 6 7 8 9\n1 1 1 Rx d 3 123 G5 zz\n1 1 1 Rx d 2 AA",
        {"10000 1 -- 8 0102030405060708", "10000 1 -- 3 0105000005060708",
         "10000 1 -- 2 aa05000005060708"});
    row("times",
        Header + "0.0003 1 1 Rx d 0\n-0.0001 1 1 Rx d 0\n500000 1 1 Rx d 0\n1e99 1 1 Rx d 0\n",
        {"3 1 -- 0 00eeeeeeeeeeeeee", "4294967295 1 -- 0 00eeeeeeeeeeeeee",
         "705032704 1 -- 0 00eeeeeeeeeeeeee", "0 1 -- 0 00eeeeeeeeeeeeee"});
    row("skipped lines",
        Header + "\n// version 7\n0.0 Start of measurement\n0.1 1  Rx d 1 01\n" +
            "0.1 1 1 Rx  1 01\n0.1 1 1 Rx d 9 01\n0.1 1 1 Rx d 1 01" + QByteArray(5000, ' ') +
            "\n2 1 2 Rx d 264 01\n",
        {"20000 2 -- 8 0100eeeeeeeeeeee"});
    row("end line", Header + "1 1 1 Rx d 0\nEnd\n2 1 1 Rx d 0\n",
        {"10000 1 -- 0 00eeeeeeeeeeeeee", "no"});
    row("unreadable lines last", Header + "1 1 1 Rx d 0\n\n// x\n",
        {"10000 1 -- 0 00eeeeeeeeeeeeee", "no"});
    row("one header line", "1 1 1 Rx d 0\n", {});
    row("empty file", "", {});
    row("recording", golden.readAll(),
        {"123 1a2b3c X- 3 01020300eeeeeeee", "1000 7ff -R 0 00020300eeeeeeee",
         "15000 123 -- 8 1122334455667788", "20000 18ff50e5 X- 2 aabb004455667788", "no"});
    row("endless line", Header + QByteArray(3 << 20, ' ') + "\n1 1 1 Rx d 0\n",
        {"10000 1 -- 0 00eeeeeeeeeeeeee"});
    row("truncated last line", Header + "1 1 1 Rx d 0\n0.5 1 12",
        {"10000 1 -- 0 00eeeeeeeeeeeeee", "no"});
    row("nul bytes", Header + QByteArray(5000, '\0'), {"no"});
    row("CR-only line ends", "date\rbase hex\r0.001 1 123 Rx d 1 11\r0.002 1 124 Rx d 1 22\r",
        {"10 123 -- 1 1100eeeeeeeeeeee", "20 124 -- 1 2200eeeeeeeeeeee"});
}

void TestAscFile::getFrame()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, frames);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(content);
    file.close();
    ASCFile reader;
    QVERIFY(reader.open(file.fileName()));
    QVERIFY(reader.prepare());
    CanObj record;
    record.TimeFlag = 1;
    record.SendType = 2;
    record.UserData = 3;
    record.UserFlag = record.TailFlag = record.BatchEndFlag = 1;
    std::fill(record.Data, record.Data + 8, quint8(0xEE));
    QStringList read;
    while (!reader.atEnd()) {
        QVERIFY(read.size() <= content.size());
        read << (reader.getFrame(record) ? describe(record) : QStringLiteral("no"));
    }
    QVERIFY(!reader.getFrame(record));
    QCOMPARE(read, frames);
    QCOMPARE(record.TimeFlag + record.SendType + record.UserData, 6u);
    QCOMPARE(record.UserFlag + record.TailFlag + record.BatchEndFlag, 3);
}

QTEST_GUILESS_MAIN(TestAscFile)
#include "tst_ascfile.moc"
