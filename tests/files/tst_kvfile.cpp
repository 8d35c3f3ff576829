#include "ascfile.h"
#include "candata.h"
#include "canobj.h"
#include "kvfilebin.h"
#include "kvfilecsv.h"

#include <QtTest>

#include <memory>

// What all readers share: the base's answers, which files open, and that no input makes a
// reader crash or hang.

static const QString Golden = QStringLiteral(KAVRI_TEST_DATA "/bin/counting_20_bytes.bin");
static const QByteArray CsvLine = "1,Rx,0,0,123,Data,Standard,1,42\n";
static const QByteArray AscLine = "0.5 1 123 Rx d 1 42\n";

// By the replay thread's file types: 0 binary, 1 CSV, 2 ASC.
static KvFile *makeReader(int fileType)
{
    if (fileType == 0)
        return new KvFileBin;
    if (fileType == 1)
        return new KvFileCsv;
    return new ASCFile;
}

class TestKvFile : public QObject
{
    Q_OBJECT
private slots:
    void baseReadsNothing();
    void openRefusals_data();
    void openRefusals();
    void badInput_data();
    void badInput();
    void shrinkingFile_data();
    void shrinkingFile();

private:
    QString write(const QByteArray &bytes)
    {
        QFile file(dir.filePath(QString::number(++files)));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }
    QTemporaryDir dir;
    int files = 0;
};

void TestKvFile::baseReadsNothing()
{
    KvFile file;
    CanObj frame;
    frame.DataLen = 3;
    CanData queue;
    queue.push(frame);
    QVERIFY(!file.open(Golden));
    QVERIFY(!file.isOpen());
    QVERIFY(!file.prepare());
    QVERIFY(!file.getFrames(queue, 3));
    QCOMPARE(queue.size(), 1);
    QVERIFY(!file.getFrame(frame));
    QCOMPARE(frame.DataLen, quint8(3));
    // QFile's own open stays usable beside open(QString).
    file.setFileName(Golden);
    QVERIFY(file.open(QIODevice::ReadOnly));
}

void TestKvFile::openRefusals_data()
{
    QTest::addColumn<int>("fileType");
    QTest::addColumn<QString>("name");
    for (int type = 0; type < 3; ++type) {
        const QByteArray t = " (type " + QByteArray::number(type) + ')';
        QTest::newRow("missing file" + t) << type << QStringLiteral("/nonexistent/x");
        QTest::newRow("empty name" + t) << type << QString();
        QTest::newRow("directory" + t) << type << QDir::tempPath();
        QTest::newRow("endless device" + t) << type << QStringLiteral("/dev/zero");
    }
}

void TestKvFile::openRefusals()
{
    QFETCH(int, fileType);
    QFETCH(QString, name);
    std::unique_ptr<KvFile> reader(makeReader(fileType));
    QVERIFY(!reader->open(name));
    QVERIFY(!reader->isOpen());
    QVERIFY(reader->open(Golden));
    QVERIFY2(!reader->open(Golden), "a reader is opened once");
    QCOMPARE(reader->size(), qint64(20));
}

void TestKvFile::badInput_data()
{
    QTest::addColumn<int>("fileType");
    QTest::addColumn<QByteArray>("content"); // after the header lines
    QTest::addColumn<int>("frames");         // -1: any number
    QByteArray garbage;
    QRandomGenerator random(27);
    for (int i = 0; i < 200000; ++i)
        garbage.append(char(random.bounded(256)));
    const QByteArray endless(3 << 20, ',');
    QTest::newRow("csv: binary garbage") << 1 << garbage << -1;
    QTest::newRow("asc: binary garbage") << 2 << garbage << -1;
    QTest::newRow("csv: endless line") << 1 << QByteArray(endless + '\n' + CsvLine) << 1;
    QTest::newRow("asc: endless line") << 2 << QByteArray(endless + '\n' + AscLine) << 1;
    QTest::newRow("csv: truncated line") << 1 << QByteArray(CsvLine + CsvLine.left(20)) << 1;
    QTest::newRow("asc: truncated line") << 2 << QByteArray(AscLine + AscLine.left(8)) << 1;
    QTest::newRow("csv: nul bytes") << 1 << QByteArray(5000, '\0') << 0;
    QTest::newRow("asc: nul bytes") << 2 << QByteArray(5000, '\0') << 0;
}

void TestKvFile::badInput()
{
    QFETCH(int, fileType);
    QFETCH(QByteArray, content);
    QFETCH(int, frames);
    const QString name = write("No,Dir,Time-2\nheader\n" + content);
    std::unique_ptr<KvFile> reader(makeReader(fileType));
    QVERIFY(reader->open(name));
    QVERIFY(reader->prepare());
    CanObj frame;
    int read = 0;
    for (int calls = 0; !reader->atEnd(); ++calls) {
        QVERIFY(calls <= content.size());
        read += reader->getFrame(frame) ? 1 : 0;
    }
    if (frames >= 0)
        QCOMPARE(read, frames);

    reader.reset(makeReader(fileType));
    QVERIFY(reader->open(name));
    CanData queue;
    for (int calls = 0; reader->getFrames(queue, 7); ++calls)
        QVERIFY(calls <= content.size());
}

void TestKvFile::shrinkingFile_data()
{
    QTest::addColumn<int>("fileType");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("binary") << 0 << QByteArray("12345678").repeated(5000);
    QTest::newRow("csv") << 1 << QByteArray("No,Dir,Time-0\n" + CsvLine.repeated(5000));
    QTest::newRow("asc") << 2 << QByteArray("h\nh\n" + AscLine.repeated(5000));
}

// The file is cut short under an open reader: what was buffered may still come, then the end.
void TestKvFile::shrinkingFile()
{
    QFETCH(int, fileType);
    QFETCH(QByteArray, content);
    const QString name = write(content);
    std::unique_ptr<KvFile> reader(makeReader(fileType));
    QVERIFY(reader->open(name));
    QVERIFY(reader->prepare());
    CanObj frame;
    QVERIFY(reader->getFrame(frame));
    QVERIFY(QFile::resize(name, 30));
    int frames = 0;
    while (reader->getFrame(frame))
        QVERIFY(++frames < 5000);
    QVERIFY(!reader->getFrame(frame));
    CanData queue;
    queue.push(frame);
    for (int calls = 0; reader->getFrames(queue, 3) && !queue.isEmpty(); ++calls)
        QVERIFY(calls < 5000);
}

QTEST_GUILESS_MAIN(TestKvFile)
#include "tst_kvfile.moc"
