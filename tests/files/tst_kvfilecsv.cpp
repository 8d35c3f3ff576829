#include "candata.h"
#include "canobj.h"
#include "kvfilecsv.h"

#include <QtTest>

#include <memory>

static const QByteArray RemoteGbk = "\xD4\xB6\xB3\xCC\xD6\xA1";
static const QByteArray ExtendGbk = "\xC0\xA9\xD5\xB9\xD6\xA1";

// A frame line: the nine columns in order, column 2 the time.
static QByteArray line(const QByteArray &time = "0", const QByteArray &id = "1",
                       const QByteArray &type = "D", const QByteArray &format = "S",
                       const QByteArray &dlc = "1", const QByteArray &data = "42")
{
    return "1,Rx," + time + ",0," + id + ',' + type + ',' + format + ',' + dlc + ',' + data + '\n';
}

// "stamp id RX len data"
static QString describe(const CanObj &f)
{
    return QStringLiteral("%1 %2 %3%4 %5 ")
               .arg(f.TimeStamp)
               .arg(f.ID, 0, 16)
               .arg(f.RemoteFlag ? "R" : "-")
               .arg(f.ExternFlag ? "X" : "-")
               .arg(f.DataLen) +
           QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(f.Data), 8).toHex());
}

// Renames the remote-frame word, as an installed translation may.
class WordTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        return qstrcmp(context, "KvFileCsv") == 0 && RemoteGbk == source ? QStringLiteral("Fern")
                                                                         : QString();
    }
    bool isEmpty() const override { return false; }
};

class TestKvFileCsv : public QObject
{
    Q_OBJECT
private slots:
    void getFrame_data();
    void getFrame();
    void getFrames_data();
    void getFrames();
    void translatedWord();

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

void TestKvFileCsv::getFrame_data()
{
    // What successive calls give until the end of the file, each call on the same record; "no:"
    // marks a false result. The record starts with stamp 777 and data bytes ee, so what a line
    // leaves alone shows. Binary noise is in the bad-input corpus (tst_badinput).
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("frames");
    const auto row = [](const char *name, const QByteArray &content, const QStringList &frames) {
        QTest::newRow(name) << content << frames;
    };
    // Decodes to the same text as the remote word: only a byte comparison tells them apart.
    const QByteArray lookalike = "\xD4\xB6\xFF\xFE\xD6\xA1";
    QVERIFY(QString::fromUtf8(lookalike) == QString::fromUtf8(RemoteGbk));
    QFile golden(QStringLiteral(KAVRI_TEST_DATA "/csv/gbk_mode2_crlf.csv"));
    QVERIFY(golden.open(QIODevice::ReadOnly));

    row("mode 2",
        "No,Dir,Time-2,Ch\n" + line("10:20:30.456.789") + line("00:00:01.5.0") +
            line("10:20:30.456"),
        {"37230456 1 -- 1 42eeeeeeeeeeeeee", "1500 1 -- 1 42eeeeeeeeeeeeee",
         "0 1 -- 1 42eeeeeeeeeeeeee"});
    row("mode 1",
        "a,b,T-1\n" + line("00:00:01:500") + line("23:59:59:999") + line("24:00:00:000") +
            line(" 00:00:01:500"),
        {"1500 1 -- 1 42eeeeeeeeeeeeee", "86399999 1 -- 1 42eeeeeeeeeeeeee",
         "0 1 -- 1 42eeeeeeeeeeeeee", "0 1 -- 1 42eeeeeeeeeeeeee"});
    row("mode 0", "a,b,T-0\n" + line("3E8") + line(" 3e8\t") + line("FFFFFFFF") + line("3G8"),
        {"100 1 -- 1 42eeeeeeeeeeeeee", "100 1 -- 1 42eeeeeeeeeeeeee",
         "429496729 1 -- 1 42eeeeeeeeeeeeee", "0 1 -- 1 42eeeeeeeeeeeeee"});
    row("unknown mode keeps the stamp", "a,b,T-7\n" + line("3E8"), {"777 1 -- 1 42eeeeeeeeeeeeee"});
    row("dashes in the title", "a,b,Time-2-local\n" + line("10:20:30.456.789"),
        {"37230456 1 -- 1 42eeeeeeeeeeeeee"});
    row("header without dash", "a,b,Time\n" + line("3E8"), {"100 1 -- 1 42eeeeeeeeeeeeee"});
    row("header without time column", "a,b\n" + line("3E8"), {"100 1 -- 1 42eeeeeeeeeeeeee"});
    row("empty header", "\n" + line("3E8"), {"100 1 -- 1 42eeeeeeeeeeeeee"});
    row("words",
        "a,b,T-0\n" + line("0", "1A2", "Remote", "Extend") + line("0", "2", RemoteGbk, ExtendGbk) +
            line("0", "3", ExtendGbk, RemoteGbk) + line("0", "4", lookalike, lookalike) +
            line("0", "5", " Remote", "extend"),
        {"0 1a2 RX 1 42eeeeeeeeeeeeee", "0 2 RX 1 42eeeeeeeeeeeeee", "0 3 -- 1 42eeeeeeeeeeeeee",
         "0 4 -- 1 42eeeeeeeeeeeeee", "0 5 -- 1 42eeeeeeeeeeeeee"});
    row("data bytes",
        "a,b,T-0\n" + line("0", "1", "D", "S", "8", "11 22 33") +
            line("0", "1", "D", "S", "8", "1 2 3 4 5 6 7 8 9") +
            line("0", "1", "D", "S", "3", "11  22"),
        {"0 1 -- 8 112233eeeeeeeeee", "0 1 -- 8 0102030405060708", "0 1 -- 3 1100220405060708"});
    static const char nul[] = "a,b,T-0\n1,R\0x,0,0, 1a2 ,D,S,108,AB CD\r\n";
    row("crlf, nul and white space", QByteArray(nul, sizeof nul - 1),
        {"0 1a2 -- 8 abcdeeeeeeeeeeee"});
    row("rejected lines",
        "a,b,T-0\n" + line("0", "1", "D", "S", "9") + "1,Rx,0,0,1,D,S,1\n" + line().chopped(1) +
            ",\n" + "\n" + QByteArray(5000, 'x') + line() + line("0", "2"),
        {"no:777 0 -- 0 eeeeeeeeeeeeeeee", "no:777 0 -- 0 eeeeeeeeeeeeeeee",
         "no:777 0 -- 0 eeeeeeeeeeeeeeee", "no:777 0 -- 0 eeeeeeeeeeeeeeee",
         "no:777 0 -- 0 eeeeeeeeeeeeeeee", "0 2 -- 1 42eeeeeeeeeeeeee"});
    row("gbk recording", golden.readAll(),
        {"37230456 18ff50e5 -X 8 0102030405060708", "37230500 7df R- 0 0002030405060708",
         "37231000 1a2 RX 3 aabbcc0405060708"});
    row("endless line", "a,b,T-0\n" + QByteArray(3 << 20, ',') + '\n' + line(),
        {"no:777 0 -- 0 eeeeeeeeeeeeeeee", "0 1 -- 1 42eeeeeeeeeeeeee"});
    row("truncated last line", "a,b,T-0\n" + line() + line().left(12),
        {"0 1 -- 1 42eeeeeeeeeeeeee", "no:0 1 -- 1 42eeeeeeeeeeeeee"});
    row("nul bytes", "a,b,T-0\n" + QByteArray(5000, '\0'), {"no:777 0 -- 0 eeeeeeeeeeeeeeee"});
    row("CR-only line ends",
        "a,b,T-1,c,d,e,f,g,h\r0,Rx,00:00:01:500,0,123,Data,Std,1,11\r"
        "1,Rx,00:00:01:600,0,124,Data,Std,1,22\r\n",
        {"1500 123 -- 1 11eeeeeeeeeeeeee", "1600 124 -- 1 22eeeeeeeeeeeeee"});
}

void TestKvFileCsv::getFrame()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, frames);
    KvFileCsv *file = open(content);
    QVERIFY(file);
    CanObj record;
    record.TimeStamp = 777;
    record.TimeFlag = record.SendType = 3;
    record.UserData = 9;
    record.UserFlag = record.TailFlag = record.BatchEndFlag = 1;
    std::fill(record.Data, record.Data + 8, quint8(0xEE));
    QStringList read;
    while (!file->atEnd()) {
        QVERIFY(read.size() <= content.size());
        const bool ok = file->getFrame(record);
        read << (ok ? "" : "no:") + describe(record);
    }
    QVERIFY(!file->getFrame(record));
    QCOMPARE(read, frames);
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
    const QByteArray bad = "1,Rx,0,0,9,D,S,1\n";
    const QByteArray bigDlc = line("0", "2", "D", "S", "9");
    const QByteArray words = line("0", "7", RemoteGbk, ExtendGbk);
    QTest::newRow("full then short batch")
        << QByteArrayList{line("0", "1"), line("0", "2"), line("0", "3")} << 2
        << QStringList{"1U 2B", "3UT"};
    QTest::newRow("malformed line uses a place")
        << QByteArrayList{line("0", "1"), bad, line("0", "3")} << 2 << QStringList{"1U", "3UT"};
    QTest::newRow("large dlc uses none")
        << QByteArrayList{line("0", "1"), bigDlc, line("0", "3")} << 2 << QStringList{"1U 3BT"};
    QTest::newRow("malformed first line")
        << QByteArrayList{bad, line("0", "2")} << 2 << QStringList{"2BT"};
    QTest::newRow("gbk words") << QByteArrayList{words} << 3 << QStringList{"7UTRX"};
    QTest::newRow("count 0") << QByteArrayList{line()} << 0 << QStringList{};
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

// Single frames also match the translated word, batches only the recorded ones.
void TestKvFileCsv::translatedWord()
{
    WordTranslator translator;
    QCoreApplication::installTranslator(&translator);
    KvFileCsv *file = open("a,b,T-0\n" + line("0", "1", "Fern") + line("0", "2", RemoteGbk) +
                           line("0", "3", "Fern"));
    QCoreApplication::removeTranslator(&translator);
    QVERIFY(file);
    CanObj frame;
    QVERIFY(file->getFrame(frame));
    QCOMPARE(frame.RemoteFlag, quint8(1));
    QVERIFY(file->getFrame(frame));
    QCOMPARE(frame.RemoteFlag, quint8(1));
    CanData queue;
    QVERIFY(file->getFrames(queue, 1));
    QCOMPARE(queue.at(0).RemoteFlag, quint8(0));
}

QTEST_GUILESS_MAIN(TestKvFileCsv)
#include "tst_kvfilecsv.moc"
