#include "ascfile.h"
#include "candata.h"
#include "canobj.h"
#include "kvfileasclog.h"
#include "kvfilebin.h"
#include "kvfilecandump.h"
#include "kvfilecsv.h"

#include <QtTest>

#include <functional>
#include <memory>

// The golden file holds the bytes 01 02 ... 14; hex of count of them from index `from`.
static QByteArray counting(int from, int count)
{
    QByteArray bytes;
    for (int i = from; i < from + count; ++i)
        bytes.append(char(i + 1));
    return bytes.toHex();
}

// Every field the reader must keep differs from a fresh frame's.
static CanObj templateFrame()
{
    CanObj frame;
    frame.ID = 0x1ABCDE;
    frame.ExternFlag = frame.RemoteFlag = frame.TailFlag = 1;
    frame.SendType = 2;
    frame.TimeStamp = 55;
    frame.UserData = 7;
    std::fill(frame.Data, frame.Data + 8, quint8(0xEE));
    return frame;
}

static bool keptTemplate(const CanObj &f)
{
    const CanObj t = templateFrame();
    return f.ID == t.ID && f.ExternFlag == t.ExternFlag && f.RemoteFlag == t.RemoteFlag &&
           f.SendType == t.SendType && f.TimeStamp == t.TimeStamp && f.UserData == t.UserData &&
           f.TailFlag == t.TailFlag;
}

class TestKvFileBin : public QObject
{
    Q_OBJECT
private slots:
    void openRefusals_data();
    void openRefusals();
    void getFrame();
    void getFrames_data();
    void getFrames();
    void shrinkingFile_data();
    void shrinkingFile();

private:
    const QString golden = QStringLiteral(KAVRI_TEST_DATA "/bin/counting_20_bytes.bin");
};

void TestKvFileBin::openRefusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing file") << QStringLiteral("/nonexistent/x");
    QTest::newRow("empty name") << QString();
    QTest::newRow("directory") << QDir::tempPath();
    QTest::newRow("endless device") << QStringLiteral("/dev/zero");
}

void TestKvFileBin::openRefusals()
{
    QFETCH(QString, name);
    KvFileBin file;
    QVERIFY(!file.open(name));
    QVERIFY(!file.isOpen());
    QVERIFY(file.open(golden));
    QVERIFY2(!file.open(golden), "a reader is opened once");
}

void TestKvFileBin::getFrame()
{
    KvFileBin file;
    QVERIFY(file.open(golden));
    QVERIFY(file.prepare());
    CanObj frame = templateFrame();
    // Bytes beyond the short record's DataLen keep what the record before left there.
    for (const QByteArray &data :
         {counting(0, 8), counting(8, 8), counting(16, 4) + counting(12, 4)}) {
        QVERIFY(file.getFrame(frame));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(frame.Data), 8).toHex(), data);
    }
    QCOMPARE(frame.DataLen, quint8(4));
    QVERIFY(!file.getFrame(frame));
    QCOMPARE(frame.DataLen, quint8(0));
    QVERIFY(keptTemplate(frame));
}

void TestKvFileBin::getFrames_data()
{
    // Per call, each frame as DataLen plus U for UserFlag and B for BatchEndFlag.
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("batches");
    QTest::newRow("batch ends early") << 16 << 3 << QStringList{"8U 8", ""};
    QTest::newRow("full batch, then the rest") << 20 << 2 << QStringList{"8U 8B", "4U", ""};
    QTest::newRow("short record ends a full batch") << 20 << 3 << QStringList{"8U 8 4B", ""};
    QTest::newRow("one frame a batch") << 9 << 1 << QStringList{"8UB", "1UB", ""};
    QTest::newRow("count 0") << 16 << 0 << QStringList{""};
    QTest::newRow("no template") << 16 << 2 << QStringList{}; // nothing to send under: false
}

void TestKvFileBin::getFrames()
{
    QFETCH(int, size);
    QFETCH(int, count);
    QFETCH(QStringList, batches);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(QByteArray::fromHex(counting(0, size)));
    file.close();
    KvFileBin reader;
    QVERIFY(reader.open(file.fileName()));
    CanData queue;
    if (!batches.isEmpty())
        queue.push(templateFrame());
    int offset = 0;
    for (const QString &batch : batches) {
        QVERIFY(reader.getFrames(queue, count)); // the last batch is the next one's template
        QStringList frames;
        for (int i = 0; i < queue.size(); ++i) {
            const CanObj &f = queue.at(i);
            frames << QString::number(f.DataLen) + (f.UserFlag ? "U" : "") +
                          (f.BatchEndFlag ? "B" : "");
            const QByteArray data(reinterpret_cast<const char *>(f.Data), 8);
            QCOMPARE(data, QByteArray::fromHex(counting(offset, f.DataLen)).leftJustified(8, '\0'));
            QVERIFY(keptTemplate(f));
            offset += f.DataLen;
        }
        QCOMPARE(frames.join(' '), batch);
    }
    if (batches.isEmpty()) {
        QVERIFY(!reader.getFrames(queue, count));
        QCOMPARE(reader.pos(), qint64(0));
    }
}

void TestKvFileBin::shrinkingFile_data()
{
    // Shared by all readers: a file cut short under an open reader ends, without a crash.
    QTest::addColumn<int>("fileType"); // as the replay thread numbers them
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("binary") << 0 << QByteArray("12345678").repeated(5000);
    QTest::newRow("csv") << 1
                         << QByteArray("a,b,T-0\n" +
                                       QByteArray("1,R,0,0,1,D,S,1,42\n").repeated(5000));
    QTest::newRow("asc") << 2
                         << QByteArray("h\nh\n" + QByteArray("0.5 1 1 Rx d 1 42\n").repeated(5000));
    QTest::newRow("asc from other tools")
        << 3
        << QByteArray("base hex timestamps absolute\n" +
                      QByteArray(" 0.1 1 123 Rx d 1 00\n").repeated(5000));
    QTest::newRow("candump log") << 4
                                 << QByteArray("(1436509052.249713) can0 123#00\n").repeated(5000);
}

void TestKvFileBin::shrinkingFile()
{
    QFETCH(int, fileType);
    QFETCH(QByteArray, content);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(content);
    file.close();
    const std::function<KvFile *()> make[] = {
        [] { return new KvFileBin; }, [] { return new KvFileCsv; }, [] { return new ASCFile; },
        [] { return new KvFileAscLog; }, [] { return new KvFileCandump; }};
    std::unique_ptr<KvFile> reader(make[fileType]());
    QVERIFY(reader->open(file.fileName()));
    QVERIFY(reader->prepare());
    CanObj frame;
    QVERIFY(reader->getFrame(frame));
    QVERIFY(QFile::resize(file.fileName(), 30));
    for (int frames = 0; reader->getFrame(frame);) // what was buffered may still come
        QVERIFY(++frames < 5000);
    QVERIFY(!reader->getFrame(frame));
    CanData queue;
    queue.push(frame);
    if (fileType >= 2) { // the ASC forms and candump logs give no batches, and leave the queue
        QVERIFY(!reader->getFrames(queue, 3));
        QCOMPARE(queue.size(), 1);
    }
    for (int calls = 0; reader->getFrames(queue, 3) && !queue.isEmpty();)
        QVERIFY(++calls < 5000);
}

QTEST_GUILESS_MAIN(TestKvFileBin)
#include "tst_kvfilebin.moc"
