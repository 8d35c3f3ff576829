#include "candata.h"
#include "canobj.h"
#include "kvfilecsv.h"

#include <QtTest>

static const QByteArray RemoteGbk = "\xD4\xB6\xB3\xCC\xD6\xA1";
static const QByteArray ExtendGbk = "\xC0\xA9\xD5\xB9\xD6\xA1";

// A frame line: the nine columns in order, column 2 the time.
static QByteArray line(const QByteArray &id, const QByteArray &type, const QByteArray &format,
                       const QByteArray &dlc, const QByteArray &data, const QByteArray &time = "0")
{
    return "1,Rx," + time + ",0," + id + ',' + type + ',' + format + ',' + dlc + ',' + data + '\n';
}

// "id R/- X/- DataLen data"
static QString describe(const CanObj &f)
{
    const QByteArray data(reinterpret_cast<const char *>(f.Data), 8);
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(f.ID, 0, 16)
        .arg(f.RemoteFlag ? "R" : "-")
        .arg(f.ExternFlag ? "X" : "-")
        .arg(f.DataLen)
        .arg(QString::fromLatin1(data.toHex()));
}

class TestKvFileCsv : public QObject
{
    Q_OBJECT
private slots:
    void timeStamp_data();
    void timeStamp();
    void getFrame_data();
    void getFrame();
    void getFrames_data();
    void getFrames();
    void gbkRecording();

private:
    KvFileCsv *open(const QByteArray &bytes)
    {
        QFile file(dir.filePath(QString::number(++files)));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.close();
        reader.reset(new KvFileCsv);
        return reader->open(file.fileName()) && reader->prepare() ? reader.get() : nullptr;
    }
    QTemporaryDir dir;
    int files = 0;
    std::unique_ptr<KvFileCsv> reader;
};

void TestKvFileCsv::timeStamp_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("time");
    QTest::addColumn<quint32>("stamp"); // 777: not set
    const auto row = [](const char *name, const char *header, const char *time, quint32 stamp) {
        QTest::newRow(name) << QByteArray(header) << QByteArray(time) << stamp;
    };
    row("mode 2 drops the last part", "No,Dir,Time-2,Ch", "10:20:30.456.789", 37230456);
    row("mode 2 short fraction", "No,Dir,Time-2", "00:00:01.5.0", 1500);
    row("mode 2 needs two dots", "No,Dir,Time-2", "10:20:30.456", 0);
    row("mode 1", "No,Dir,Time-1", "00:00:01:500", 1500);
    row("mode 1 last millisecond", "No,Dir,Time-1", "23:59:59:999", 86399999);
    row("mode 1 hour 24", "No,Dir,Time-1", "24:00:00:000", 0);
    row("mode 1 leading space", "No,Dir,Time-1", " 00:00:01:500", 0);
    row("mode 0 count over ten", "No,Dir,Time-0", "3E8", 100);
    row("mode 0 white space", "No,Dir,Time-0", " 3e8\t", 100);
    row("mode 0 largest count", "No,Dir,Time-0", "FFFFFFFF", 429496729);
    row("mode 0 garbage", "No,Dir,Time-0", "3G8", 0);
    row("unknown mode", "No,Dir,Time-7", "3E8", 777);
    row("more dashes in the title", "No,Dir,Time-2-local", "10:20:30.456.789", 37230456);
    row("no dash: mode 0", "No,Dir,Time,Ch", "3E8", 100);
    row("no third column: mode 0", "No,Dir", "3E8", 100);
    row("empty header: mode 0", "", "3E8", 100);
}

void TestKvFileCsv::timeStamp()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, time);
    KvFileCsv *file = open(header + "\r\n" + line("1", "Data", "Standard", "1", "00", time));
    QVERIFY(file);
    CanObj frame;
    frame.TimeStamp = 777;
    QVERIFY(file->getFrame(frame));
    QTEST(frame.TimeStamp, "stamp");
}

void TestKvFileCsv::getFrame_data()
{
    // Untouched data bytes keep ee; an empty frame means the line is rejected.
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("frame");
    const auto row = [](const char *name, const QByteArray &text, const char *frame) {
        QTest::newRow(name) << text << QString::fromLatin1(frame);
    };
    // Decodes to the same text as the remote word: only a byte comparison tells them apart.
    const QByteArray lookalike = "\xD4\xB6\xFF\xFE\xD6\xA1";
    QVERIFY(QString::fromUtf8(lookalike) == QString::fromUtf8(RemoteGbk));

    row("data frame", line("123", "Data", "Standard", "8", "11 22 33 44 55 66 77 88"),
        "123 - - 8 1122334455667788");
    row("english words", line("1A2", "Remote", "Extend", "0", ""), "1a2 R X 0 00eeeeeeeeeeeeee");
    row("gbk words", line("1A2", RemoteGbk, ExtendGbk, "0", ""), "1a2 R X 0 00eeeeeeeeeeeeee");
    row("gbk words swapped", line("1", ExtendGbk, RemoteGbk, "0", ""), "1 - - 0 00eeeeeeeeeeeeee");
    row("lookalike bytes", line("1", lookalike, lookalike, "0", ""), "1 - - 0 00eeeeeeeeeeeeee");
    row("words match exactly", line("1", " Remote", "extend", "0", ""), "1 - - 0 00eeeeeeeeeeeeee");
    row("fewer bytes than dlc", line("7FF", "D", "S", "8", "11 22 33"),
        "7ff - - 8 112233eeeeeeeeee");
    row("nine bytes take eight", line("1", "D", "S", "8", "1 2 3 4 5 6 7 8 9"),
        "1 - - 8 0102030405060708");
    row("double space: empty byte", line("1", "D", "S", "3", "11  22"), "1 - - 3 110022eeeeeeeeee");
    row("byte keeps low 8 bits", line("1", "D", "S", "1", "1FF"), "1 - - 1 ffeeeeeeeeeeeeee");
    row("crlf and white space", line(" 1a2 ", "D", "S", "2", "AB CD").chopped(1) + "\r\n",
        "1a2 - - 2 abcdeeeeeeeeeeee");
    row("unparseable numbers", line("XYZ", "D", "S", "Q", "G1 -1"), "0 - - 0 0000eeeeeeeeeeee");
    row("dlc low 8 bits", line("1", "D", "S", "108", "00"), "1 - - 8 00eeeeeeeeeeeeee");
    row("nul in an unread column", QByteArray("1,R\0x", 5) + line("5", "D", "S", "1", "42").mid(4),
        "5 - - 1 42eeeeeeeeeeeeee");
    row("dlc above 8", line("1", "D", "S", "9", "00"), "");
    row("eight columns", "1,Rx,0,0,1,Data,Standard,1\n", "");
    row("ten columns", line("1", "D", "S", "1", "00").chopped(1) + ",\n", "");
    row("empty line", "\n", "");
    row("over-long line", QByteArray(5000, 'x') + line("1", "D", "S", "1", "00"), "");
}

void TestKvFileCsv::getFrame()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, frame);
    // A remote frame read first: the line must clear what it does not set.
    KvFileCsv *file = open("No,Dir,Time-0\n" + line("555", "Remote", "Extend", "5", "") + text);
    QVERIFY(file);
    CanObj record;
    record.TimeFlag = record.SendType = 3;
    record.UserData = 9;
    record.UserFlag = record.TailFlag = record.BatchEndFlag = 1;
    std::fill(record.Data, record.Data + 8, quint8(0xEE));
    QVERIFY(file->getFrame(record));
    record.Data[0] = 0xEE;
    QCOMPARE(file->getFrame(record), !frame.isEmpty());
    QCOMPARE(describe(record), frame.isEmpty() ? "555 R X 5 eeeeeeeeeeeeeeee" : frame);
    QCOMPARE(record.TimeFlag + record.SendType + record.UserData, 15u);
    QCOMPARE(record.UserFlag + record.TailFlag + record.BatchEndFlag, 3);
}

void TestKvFileCsv::getFrames_data()
{
    // Per call, each frame as its hex ID and U, B, T for UserFlag, BatchEndFlag, TailFlag and
    // R, X for remote and extended. The call after the listed ones returns false.
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("batches");
    const QByteArray eightColumns = "1,Rx,0,0,9,Data,Standard,1\n";
    const auto frame = [](const char *id) { return line(id, "Data", "Standard", "1", "00"); };
    const QByteArray bigDlc = line("2", "Data", "Standard", "9", "");
    QTest::newRow("full then short batch")
        << QByteArrayList{frame("1"), frame("2"), frame("3")} << 2 << QStringList{"1U 2B", "3UT"};
    QTest::newRow("malformed line uses a place")
        << QByteArrayList{frame("1"), eightColumns, frame("3")} << 2 << QStringList{"1U", "3UT"};
    QTest::newRow("large dlc uses none")
        << QByteArrayList{frame("1"), bigDlc, frame("3")} << 2 << QStringList{"1U 3BT"};
    QTest::newRow("malformed first line")
        << QByteArrayList{eightColumns, frame("2")} << 2 << QStringList{"2BT"};
    QTest::newRow("gbk words") << QByteArrayList{line("7", RemoteGbk, ExtendGbk, "0", "")} << 3
                               << QStringList{"7UTRX"};
    QTest::newRow("count 0") << QByteArrayList{frame("1")} << 0 << QStringList{};
    QTest::newRow("no frame lines") << QByteArrayList{} << 2 << QStringList{};
}

void TestKvFileCsv::getFrames()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(int, count);
    QFETCH(QStringList, batches);
    KvFileCsv *file = open("No,Dir,Time-0\n" + lines.join());
    QVERIFY(file);
    CanData queue;
    queue.push(CanObj());
    for (const QString &batch : batches) {
        QVERIFY(file->getFrames(queue, count));
        QStringList frames;
        for (int i = 0; i < queue.size(); ++i) {
            const CanObj &f = queue.at(i);
            frames << QString::number(f.ID, 16) + (f.UserFlag ? "U" : "") +
                          (f.BatchEndFlag ? "B" : "") + (f.TailFlag ? "T" : "") +
                          (f.RemoteFlag ? "R" : "") + (f.ExternFlag ? "X" : "");
        }
        QCOMPARE(frames.join(' '), batch);
    }
    const int before = queue.size();
    QVERIFY(!file->getFrames(queue, count));
    QCOMPARE(queue.size(), before);
}

// A recording as the recorder writes it: GBK text, CR LF, time mode 2.
void TestKvFileCsv::gbkRecording()
{
    KvFileCsv file;
    QVERIFY(!file.prepare());
    QVERIFY(file.open(QStringLiteral(KAVRI_TEST_DATA "/csv/gbk_mode2_crlf.csv")));
    QVERIFY(file.prepare());
    const QStringList expected = {"37230456 18ff50e5 - X 8 0102030405060708",
                                  "37230500 7df R - 0 0002030405060708",
                                  "37231000 1a2 R X 3 aabbcc0405060708"};
    CanObj frame;
    for (const QString &text : expected) {
        QVERIFY(file.getFrame(frame));
        QCOMPARE(QString::number(frame.TimeStamp) + ' ' + describe(frame), text);
    }
    QVERIFY(!file.getFrame(frame));
}

QTEST_GUILESS_MAIN(TestKvFileCsv)
#include "tst_kvfilecsv.moc"
