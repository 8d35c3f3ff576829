#include "ascfile.h"
#include "candata.h"
#include "canobj.h"
#include "kvcommon.h"
#include "kvfilebin.h"
#include "kvfilecsv.h"
#include "kvformatregistry.h"
#include "kvnamexmlreader.h"

#include <QtTest/QtTest>
#include <QtWidgets/QTableWidget>

#include <functional>
#include <memory>

// Every reader over every file of the bad-input corpus (tests/badinput/corpus) and over a few
// files too large to keep in the repository, made here: each must end with a defined result in
// bounded time and memory. A reader that never says "end" is caught by the cap on frames (no
// file yields more frames than it has bytes), a crash or overrun by the sanitizer pass.
#if defined(__SANITIZE_ADDRESS__)
#define KAVRI_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVRI_ASAN 1
#endif
#endif

namespace {

using ReaderFactory = std::function<KvFile *()>;

struct Reading
{
    qint64 frames = 0;
    bool ended = false; // the reader said "no more" before the cap
    QByteArray digest;  // of every frame read, to prove two readings agree
};

Reading readAll(KvFile &file, const QString &name, qint64 cap)
{
    Reading r;
    if (!file.open(name) || !file.prepare())
        return r;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    CanObj frame;
    while (r.frames <= cap) {
        if (!file.getFrame(frame)) {
            // A text reader skips a line it cannot use and says false only at the end; the
            // binary one only at the end.
            if (file.atEnd()) {
                r.ended = true;
                break;
            }
            ++r.frames; // a skipped line counts towards the cap
            continue;
        }
        if (frame.DataLen > 8)
            return Reading();
        hash.addData(reinterpret_cast<const char *>(&frame.ID), sizeof frame.ID);
        hash.addData(reinterpret_cast<const char *>(frame.Data), 8);
        hash.addData(reinterpret_cast<const char *>(&frame.DataLen), 1);
        ++r.frames;
    }
    r.digest = hash.result();
    return r;
}

qint64 peakResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

QByteArray deepXml(int depth)
{
    return "<?xml version=\"1.0\"?>\n<xml version=\"1.0\">" + QByteArray("<a>").repeated(depth) +
           "<TaskObj Frames=\"1\" Times=\"1\" ID=\"1\"/>" + QByteArray("</a>").repeated(depth) +
           "</xml>\n";
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void frameReaders_data();
    void frameReaders();
    void formatReaders_data();
    void formatReaders();
    void taskList_data();
    void taskList();
    void helpersOverEveryLine();

private:
    QStringList corpus() const;
    QTemporaryDir made;
};

void TestBadInput::initTestCase()
{
    QVERIFY(made.isValid());
    auto write = [this](const char *name, const QByteArray &bytes) {
        QFile file(made.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    };
    // One 16 MB line without an end: the text readers must not keep it whole.
    write("oversized_line.csv", "No,Dir,Time-2,Ch,ID,Type,Format,DLC,Data\n" +
                                    QByteArray(16 << 20, '1') + ",Rx,1,0,1,Data,Standard,1,01");
    // 200,000 short lines: a long file read in bounded memory.
    write("many_lines.asc", "h\nh\n" + QByteArray("0.1 1 123 Rx d 1 01\n").repeated(200000));
    write("oversized_line.log", "(1.0) can0 123#" + QByteArray(16 << 20, '1'));
    write("deep.xml", deepXml(100000));
    write("deep_unclosed.xml", deepXml(100000).left(300000));
}

QStringList TestBadInput::corpus() const
{
    QStringList names;
    for (const QString &dir : {QStringLiteral(KAVRI_BADINPUT), made.path()}) {
        const QDir d(dir);
        for (const QString &f : d.entryList(QDir::Files, QDir::Name))
            names << d.filePath(f);
    }
    return names;
}

void TestBadInput::frameReaders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("reader");
    const char *readers[] = {"binary", "CSV", "ASC"};
    for (const QString &name : corpus()) {
        for (int r = 0; r < 3; ++r)
            QTest::addRow("%s %s", readers[r], qPrintable(QFileInfo(name).fileName())) << name << r;
    }
}

void TestBadInput::frameReaders()
{
    QFETCH(QString, name);
    QFETCH(int, reader);
    const ReaderFactory make[] = {[] { return new KvFileBin; }, [] { return new KvFileCsv; },
                                  [] { return new ASCFile; }};
    const qint64 size = QFileInfo(name).size();
    const qint64 peakBefore = peakResidentKb();

    std::unique_ptr<KvFile> first(make[reader]());
    const Reading a = readAll(*first, name, size + 2);
    QVERIFY2(a.ended, "the reader did not reach the end (or gave a frame of more than 8 bytes)");
    if (reader == 0)
        QCOMPARE(a.frames, (size + 7) / 8);
    // The same file gives the same frames from a fresh reader.
    std::unique_ptr<KvFile> second(make[reader]());
    const Reading b = readAll(*second, name, size + 2);
    QCOMPARE(b.frames, a.frames);
    QCOMPARE(b.digest, a.digest);
    // The end stays the end.
    CanObj frame;
    QVERIFY(!second->getFrame(frame));

    // Batches from the readers that have them end too, each within its count.
    if (reader != 2) {
        std::unique_ptr<KvFile> batches(make[reader]());
        QVERIFY(batches->open(name) && batches->prepare());
        CanData batch;
        batch.push(CanObj());
        qint64 calls = 0;
        while (batches->getFrames(batch, 7) && !batch.isEmpty() && calls <= size + 1) {
            QVERIFY(batch.size() <= 7);
            ++calls;
        }
        QVERIFY(calls <= size + 1);
    }
    // Memory stays within a small multiple of one line's limit, whatever the file. (Under
    // AddressSanitizer freed blocks stay in its quarantine on purpose: no bound to check.)
#ifndef KAVRI_ASAN
    QVERIFY2(peakResidentKb() - peakBefore < 64 * 1024,
             qPrintable(QStringLiteral("peak grew by %1 kB").arg(peakResidentKb() - peakBefore)));
#else
    Q_UNUSED(peakBefore)
#endif
}

void TestBadInput::formatReaders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("format");
    for (const QString &name : corpus()) {
        for (const KvFormat &f : KvFormatRegistry::formats())
            QTest::addRow("%s %s", qPrintable(f.name), qPrintable(QFileInfo(name).fileName()))
                << name << f.name;
    }
}

// Every reader of the registry over every file, whatever its content (the content check is
// passed by), ends with End or Error in bounded reads and memory; detection gives a format or a
// message.
void TestBadInput::formatReaders()
{
    QFETCH(QString, name);
    QFETCH(QString, format);
    const qint64 peakBefore = peakResidentKb();
    QString error;
    const KvFormat *detected = KvFormatRegistry::detect(name, QString(), &error);
    QVERIFY(detected || !error.isEmpty());

    std::unique_ptr<KvFrameReader> reader(KvFormatRegistry::find(format)->newReader());
    if (!reader->open(name)) {
        QVERIFY(!reader->errorString().isEmpty());
        return;
    }
    // A BLF frame takes 32 bytes of a container, which inflates to at most 16 MiB.
    const qint64 cap = QFileInfo(name).size() + (16 << 20) / 32 * 64 + 2;
    qint64 reads = 0;
    KvFrame frame;
    KvFrameReader::Result r = KvFrameReader::Frame;
    qint64 lastPosition = 0;
    while (reads++ < cap) {
        r = reader->read(frame);
        if (r == KvFrameReader::End || r == KvFrameReader::Error)
            break;
        QVERIFY(frame.dlc <= 8);
        QVERIFY(reader->position() >= lastPosition);
        lastPosition = reader->position();
    }
    QVERIFY2(r == KvFrameReader::End || r == KvFrameReader::Error, "the reader never ended");
    if (r == KvFrameReader::Error)
        QVERIFY(!reader->errorString().isEmpty());
    QCOMPARE(reader->read(frame), r); // the end stays the end
#ifndef KAVRI_ASAN
    QVERIFY2(peakResidentKb() - peakBefore < 64 * 1024,
             qPrintable(QStringLiteral("peak grew by %1 kB").arg(peakResidentKb() - peakBefore)));
#else
    Q_UNUSED(peakBefore)
#endif
}

void TestBadInput::taskList_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("rows");
    auto row = [](const char *file, bool readable, int rows,
                  const QString &dir = QStringLiteral(KAVRI_BADINPUT)) {
        QTest::newRow(file) << QDir(dir).filePath(QLatin1String(file)) << readable << rows;
    };
    row("xml_truncated.xml", false, 1);
    row("xml_empty.xml", false, 0);
    row("xml_not_xml.xml", false, 0);
    row("xml_utf16.xml", true, 1);
    row("xml_wrong_encoding.xml", false, 0);
    row("xml_unknown_encoding.xml", false, 0);
    row("xml_huge_numbers.xml", true, 1);
    row("xml_laughs.xml", false, 0);
    row("xml_mismatched.xml", false, 1); // the task is read before the bad end tag
    row("xml_wrong_root.xml", false, 0);
    row("binary_noise.dat", false, 0);
    row("csv_utf16.csv", false, 0);
    row("deep.xml", true, 0, made.path());
    row("deep_unclosed.xml", false, 0, made.path());
}

void TestBadInput::taskList()
{
    QFETCH(QString, name);
    QFETCH(bool, readable);
    QFETCH(int, rows);
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QTableWidget table;
    KvNameXmlReader reader(&table);
    QCOMPARE(reader.readFile(&file), readable);
    QCOMPARE(table.rowCount(), rows);
    if (!readable)
        QVERIFY(reader.errorString().contains(QLatin1String("Line ")));
    for (int r = 0; r < table.rowCount(); ++r) {
        const taskObj task = table.item(r, 0)->data(Qt::UserRole).value<taskObj>();
        int frames = 0;
        for (const CanData &burst : task.dataList)
            frames += burst.size();
        QVERIFY(frames >= 1 && frames <= 1000);
    }
}

// The text helpers get every line of every corpus file as the application would hand them
// texts from a table cell: defined results, no reads past the text they are given.
void TestBadInput::helpersOverEveryLine()
{
    for (const QString &name : corpus()) {
        if (QFileInfo(name).size() > (1 << 20))
            continue;
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QString text =
                kavri::gSettleTime(QStringLiteral("Rx"), QString::fromLatin1(line), 12345);
            QVERIFY2(text.size() >= 11 && text.size() <= 14, qPrintable(text));
            QByteArray bytes = line.left(47);
            const int count = (bytes.size() + 1) / 3;
            if (count < 1)
                continue;
            std::vector<unsigned char> out(size_t(count), 0xAA);
            const int result = kavri::strtodata(reinterpret_cast<unsigned char *>(bytes.data()),
                                                out.data(), count, 1);
            QVERIFY(result == 0 || result == 1);
        }
    }
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
