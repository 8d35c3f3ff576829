#include "ascfile.h"
#include "candata.h"
#include "canobj.h"

#include <QtTest>

static const QByteArray Header = "date Mon Jan 1 10:00:00 2024\nbase hex  timestamps absolute\n";
static const QByteArray Sentinel = "9.9 2 7EE Tx r 0\n";

// "stamp id X/- R/- DataLen data"
static QString describe(const CanObj &f)
{
    const QByteArray data(reinterpret_cast<const char *>(f.Data), 8);
    return QStringLiteral("%1 %2 %3 %4 %5 %6")
        .arg(f.TimeStamp)
        .arg(f.ID, 0, 16)
        .arg(f.ExternFlag ? "X" : "-")
        .arg(f.RemoteFlag ? "R" : "-")
        .arg(f.DataLen)
        .arg(QString::fromLatin1(data.toHex()));
}

class TestAscFile : public QObject
{
    Q_OBJECT
private slots:
    void getFrame_data();
    void getFrame();
    void endOfRecording_data();
    void endOfRecording();
    void recording();

private:
    ASCFile *open(const QByteArray &bytes)
    {
        QFile file(dir.filePath(QString::number(++files)));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.close();
        reader.reset(new ASCFile);
        return reader->open(file.fileName()) && reader->prepare() ? reader.get() : nullptr;
    }
    QTemporaryDir dir;
    int files = 0;
    std::unique_ptr<ASCFile> reader;
};

void TestAscFile::getFrame_data()
{
    // Data bytes not written keep ee. An empty frame means the line is skipped and the sentinel
    // line after it is read instead.
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("frame");
    const auto row = [](const char *name, const QByteArray &text, const char *frame) {
        QTest::newRow(name) << text << QString::fromLatin1(frame);
    };
    row("extended data frame", "0.012345 1 1A2B3Cx Rx d 3 01 02 03\n",
        "123 1a2b3c X - 3 01020300eeeeeeee");
    row("standard remote frame", "0.012345 1 123 Rx r 3 01 02 03\n",
        "123 123 - R 3 01020300eeeeeeee");
    row("capital X", "0.012345 1 1A2B3CX Rx d 0\n", "123 0 - - 0 00eeeeeeeeeeeeee");
    row("two spaces shift later fields", "0.5 1 123 Rx d  2 AA BB\n",
        "5000 123 - - 0 02aabb00eeeeeeee");
    row("tabs", "0.5\t1\t123\tRx\td\t1\t42\n", "5000 123 - - 1 4200eeeeeeeeeeee");
    row("nine bytes take eight", "1 1 1 Rx d 8 1 2 3 4 5 6 7 8 9\n",
        "10000 1 - - 8 0102030405060708");
    row("crlf", "1 1 1 Rx d 1 42\r\n", "10000 1 - - 1 4200eeeeeeeeeeee");
    row("fromHex pairs from the end", "1 1 1 Rx d 3 123 G5 zz\n", "10000 1 - - 3 01050000eeeeeeee");
    row("dlc low 8 bits", "1 1 1 Rx d 264 01\n", "10000 1 - - 8 0100eeeeeeeeeeee");
    row("single precision", "0.0003 1 1 Rx d 0\n", "3 1 - - 0 00eeeeeeeeeeeeee"); // double: 2
    row("negative time wraps", "-0.0001 1 1 Rx d 0\n", "4294967295 1 - - 0 00eeeeeeeeeeeeee");
    row("time beyond 32 bits", "500000 1 1 Rx d 0\n", "705032704 1 - - 0 00eeeeeeeeeeeeee");
    row("time out of range", "1e99 1 1 Rx d 0\n", "0 1 - - 0 00eeeeeeeeeeeeee");
    row("non-ASCII space",
        "0.5\xC2\xA0"
        "1 123 Rx d 1 AB\n",
        "5000 123 - - 1 ab00eeeeeeeeeeee");
    row("GBK direction", "0.5 1 123 \xCA\xD5 d 1 AB\n", "5000 123 - - 1 ab00eeeeeeeeeeee");
    row("blank line", "\n", "");
    row("comment line", "// version 7.0\n", "");
    row("event line", "0.000000 Start of measurement\n", "");
    row("empty identifier", "0.1 1  Rx d 1 01\n", "");
    row("empty kind", "0.1 1 123 Rx  1 01\n", "");
    row("dlc above 8", "0.1 1 123 Rx d 9 01\n", "");
    row("over-long line", "0.1 1 123 Rx d 1 01" + QByteArray(5000, ' ') + '\n', "");
}

void TestAscFile::getFrame()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, frame);
    ASCFile *file = open(Header + text + Sentinel);
    QVERIFY(file);
    CanObj record;
    record.TimeFlag = 1;
    record.SendType = 2;
    record.UserData = 3;
    record.UserFlag = record.TailFlag = record.BatchEndFlag = 1;
    std::fill(record.Data, record.Data + 8, quint8(0xEE));
    QVERIFY(file->getFrame(record));
    QCOMPARE(describe(record), frame.isEmpty() ? "99000 7ee - R 0 00eeeeeeeeeeeeee" : frame);
    QCOMPARE(record.TimeFlag + record.SendType + record.UserData, 6u);
    QCOMPARE(record.UserFlag + record.TailFlag + record.BatchEndFlag, 3);
}

void TestAscFile::endOfRecording_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("frames");
    QTest::newRow("end line") << QByteArray(Header + "1 1 1 Rx d 0\nEnd\n" + Sentinel) << 1;
    QTest::newRow("end line first") << QByteArray(Header + "E") << 0;
    QTest::newRow("unreadable lines last") << QByteArray(Header + "1 1 1 Rx d 0\n\n// x\n") << 1;
    QTest::newRow("one header line") << QByteArray("1 1 1 Rx d 0\n") << 0;
    QTest::newRow("empty file") << QByteArray() << 0;
}

void TestAscFile::endOfRecording()
{
    QFETCH(QByteArray, content);
    QFETCH(int, frames);
    ASCFile *file = open(content);
    QVERIFY(file);
    CanObj record;
    for (int i = 0; i < frames; ++i)
        QVERIFY(file->getFrame(record));
    record.ID = 0x555;
    QVERIFY(!file->getFrame(record));
    QVERIFY(file->atEnd());
    QVERIFY(!file->getFrame(record));
    QCOMPARE(record.ID, 0x555u);
}

void TestAscFile::recording()
{
    ASCFile file;
    QVERIFY(file.prepare()); // not open: nothing to skip
    QVERIFY(file.open(QStringLiteral(KAVRI_TEST_DATA "/asc/sample_crlf.asc")));
    QVERIFY(file.prepare());
    const QStringList expected = {
        "123 1a2b3c X - 3 0102030000000000", "1000 7ff - R 0 0002030000000000",
        "15000 123 - - 8 1122334455667788", "20000 18ff50e5 X - 2 aabb004455667788"};
    CanObj record;
    for (const QString &frame : expected) {
        QVERIFY(file.getFrame(record));
        QCOMPARE(describe(record), frame);
    }
    QVERIFY(!file.getFrame(record));
    CanData queue;
    queue.push(record);
    QVERIFY(!file.getFrames(queue, 3)); // batches are not read from this form
    QCOMPARE(queue.size(), 1);
}

QTEST_GUILESS_MAIN(TestAscFile)
#include "tst_ascfile.moc"
