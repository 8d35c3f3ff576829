#include "formatframes.h"
#include "kvformatregistry.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <sys/stat.h>

using namespace formats;

Q_DECLARE_METATYPE(QVector<KvFrame>)

class tst_KvFormatRegistry : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void startTimeSurvives_data();
    void startTimeSurvives();
    void writtenLines_data();
    void writtenLines();
    void detection_data();
    void detection();
    void refusedBeforeOpening();
    void readableAfterEveryFlush_data();
    void readableAfterEveryFlush();
    void fullDiskFailsTheWrite_data();
    void fullDiskFailsTheWrite();
    void badLinesAreSkippedAndCounted_data();
    void badLinesAreSkippedAndCounted();

private:
    QString write(const QString &name, const QByteArray &content);
    QTemporaryDir dir;
};

QString tst_KvFormatRegistry::write(const QString &name, const QByteArray &content)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        return QString();
    return f.fileName();
}

void tst_KvFormatRegistry::roundTrip_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::newRow("csv") << "csv"
                         << "trip.csv";
    QTest::newRow("asc") << "asc"
                         << "trip.asc";
    QTest::newRow("asc for other tools") << "asclog"
                                         << "trip.asc";
    QTest::newRow("candump") << "candump"
                             << "trip.log";
    QTest::newRow("blf") << "blf"
                         << "trip.blf";
    QTest::newRow("candump under another name") << "candump"
                                                << "trip.txt";
}

void tst_KvFormatRegistry::roundTrip()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    const QString path = dir.filePath(file);
    QVector<KvFrame> list = frames();
    if (format == QLatin1String("csv")) // a day's time of day
        list.last().timeNs %= 86400000000000LL;
    {
        std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(format);
        QVERIFY(writer);
        QVERIFY2(writer->open(path), qPrintable(writer->errorString()));
        for (const KvFrame &f : list)
            QVERIFY(writer->write(f));
        QVERIFY(writer->close());
        QCOMPARE(writer->written() + writer->dropped(), qint64(list.size()));
    }
    QString error;
    const KvFormat *detected = nullptr;
    std::unique_ptr<KvFrameReader> reader =
        KvFormatRegistry::openReader(path, {}, &error, &detected);
    QVERIFY2(reader, qPrintable(error));
    QCOMPARE(detected->name, format);
    QCOMPARE(readAll(*reader), describe(list, format));
    QCOMPARE(reader->skipped(), 0);
    QCOMPARE(reader->position(), reader->size());
}

void tst_KvFormatRegistry::startTimeSurvives_data()
{
    // The start is 1436509052.249713623 s; what each format keeps of it.
    QTest::addColumn<QString>("format");
    QTest::addColumn<qint64>("keptNs");
    QTest::newRow("candump: to the nearest microsecond") << "candump" << 1436509052249714000LL;
    QTest::newRow("blf") << "blf" << 1436509052249713623LL;
    QTest::newRow("asc for other tools: the date has milliseconds")
        << "asclog" << 1436509052249000000LL;
}

// The wall-clock time of each frame, not only the time between frames.
void tst_KvFormatRegistry::startTimeSurvives()
{
    QFETCH(QString, format);
    QFETCH(qint64, keptNs);
    const qint64 start = 1436509052249713623LL;
    const QString path = dir.filePath(QStringLiteral("start.") + format);
    std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(format);
    QVERIFY(writer->open(path, start));
    writer->write(frame(0, 0x123, "", 0, 0));
    writer->write(frame(1500000000, 0x124, "", 0, 0));
    QVERIFY(writer->close());
    QString error;
    std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, format, &error);
    QVERIFY2(reader, qPrintable(error));
    KvFrame f;
    for (qint64 offset : {qint64(0), qint64(1500000000)}) {
        QCOMPARE(reader->read(f), KvFrameReader::Frame);
        QCOMPARE(reader->startEpochNs() + f.timeNs, keptNs + offset);
    }
}

// The exact text of frame lines, where a lenient reader would let a misplaced digit or column
// pass: the whole seconds are kept from one line to the next and must follow the time when it
// crosses a second, goes back or grows a digit; numbers are written at fixed widths.
void tst_KvFormatRegistry::writtenLines_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<qint64>("startEpochNs");
    QTest::addColumn<QVector<KvFrame>>("list");
    QTest::addColumn<QByteArray>("lines");
    const QByteArray b = QByteArray::fromHex("0102030405060708");
    QTest::newRow("candump: seconds cross, go back, grow; ids at their widths")
        << "candump" << qint64(0)
        << QVector<KvFrame>{frame(999999000, 0x123, "", 0, 2, "\x11\x22"),
                            frame(1000000000, 0x0, "x", 1, 0),
                            frame(500000000, 0x7FF, "t", 12, 8, b),
                            frame(10000001000, 0x1FFFFFFF, "xr", 0, 3),
                            frame(10000002000, 0x80, "e", 0, 8, QByteArray(8, '\0')),
                            frame(10000003000, 0x5, "", 0, 1, "\xAB")}
        << QByteArray("(0.999999) can0 123#1122\n"
                      "(1.000000) can1 00000000#\n"
                      "(0.500000) can12 7FF#0102030405060708 T\n"
                      "(10.000001) can0 1FFFFFFF#R3\n"
                      "(10.000002) can0 20000080#0000000000000000\n"
                      "(10.000003) can0 005#AB\n");
    QTest::newRow("candump: wall-clock seconds")
        << "candump" << qint64(1436509052249713000)
        << QVector<KvFrame>{frame(0, 0x18DA00F1, "x", 0, 4, b), frame(750287000, 0x1, "", 1, 0)}
        << QByteArray("(1436509052.249713) can0 18DA00F1#01020304\n"
                      "(1436509053.000000) can1 001#\n");
    QTest::newRow("asc for other tools: seconds right-aligned in 11 columns")
        << "asclog" << qint64(0)
        << QVector<KvFrame>{frame(9999999000, 0x123, "", 0, 2, "\x11\x22"),
                            frame(10000000000, 0x1ABCDEF0, "xt", 1, 1, "\xAA"),
                            frame(1000500000000, 0x7DF, "r", 0, 3),
                            frame(12345000000000, 0x1, "", 3, 0),
                            frame(12345000001000, 0x0, "e", 0, 0)}
        << QByteArray("   9.999999 1  123             Rx   d 2 11 22\n"
                      "  10.000000 2  1ABCDEF0x       Tx   d 1 AA\n"
                      "1000.500000 1  7DF             Rx   r 3\n"
                      "12345.000000 4  1               Rx   d 0\n"
                      "12345.000001 1  ErrorFrame\n");
    QTest::newRow("asc") << "asc" << qint64(0)
                         << QVector<KvFrame>{frame(250099000, 0x1ABCDEF0, "x", 0, 1, "\xAA"),
                                             frame(12000000000, 0x7DF, "rt", 1, 2),
                                             frame(12000001000, 0x100, "", 0, 8, b)}
                         << QByteArray("0.250099 1 1ABCDEF0x Rx d 1 AA\n"
                                       "12.000000 2 7DF Tx r 2\n"
                                       "12.000001 1 100 Rx d 8 01 02 03 04 05 06 07 08\n");
    QTest::newRow("csv") << "csv" << qint64(0)
                         << QVector<KvFrame>{frame(3723456789000, 0x1A2, "", 0, 3, "\x11\x22\x33"),
                                             frame(3723456790000, 0x1ABCDEF0, "xrt", 1, 4)}
                         << QByteArray("0,Rx,01:02:03.456.789,0,000001A2,Data,Standard,3,11 22 33\n"
                                       "1,Tx,01:02:03.456.790,1,1ABCDEF0,Remote,Extend,4,\n");
}

void tst_KvFormatRegistry::writtenLines()
{
    QFETCH(QString, format);
    QFETCH(qint64, startEpochNs);
    QFETCH(QVector<KvFrame>, list);
    QFETCH(QByteArray, lines);
    const QString path = dir.filePath(QStringLiteral("lines.") + format);
    std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(format);
    QVERIFY(writer->open(path, startEpochNs));
    for (const KvFrame &f : list)
        QVERIFY(writer->write(f));
    QVERIFY(writer->close());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    // Whole lines: after the header's line end, and the text itself when there is no header.
    QVERIFY2(text.startsWith(lines) || text.contains('\n' + lines), text.constData());
}

void tst_KvFormatRegistry::detection_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("expected"); // format, or the start of the refusal

    QByteArray noise(5000, '\0');
    quint32 x = 12345;
    for (char &c : noise)
        c = char((x = x * 1103515245u + 12345u) >> 24);
    const QByteArray ownAsc = "date Sat Dec 05 10:00:00 2026\nbase hex  timestamps absolute\n"
                              "0.002295 1 123 Rx d 3 CA 18 25\n";
    const QByteArray otherAsc = "date Sat Dec 05 10:00:00.000 AM 2026\n"
                                "base hex  timestamps absolute\ninternal events logged\n"
                                "Begin Triggerblock Sat Dec 05 10:00:00.000 AM 2026\n"
                                "   0.000000 Start of measurement\n"
                                "   0.002295 1  123             Rx   d 3 CA 18 25\n";
    const QByteArray candump = "(1436509052.249713) can0 123#11223344\n";
    const QByteArray csv = "Index,Direction,Time-1,Channel,ID,Type,Format,DLC,Data\n"
                           "0,Rx,10:00:00:010,0,00000123,Data,Standard,4,F4 33 43 32\n";
    QByteArray blf("LOGG\x90\0\0\0", 8);
    blf.append(QByteArray(136, '\0'));

    QTest::newRow("our asc") << "a.asc" << ownAsc << ""
                             << "asc";
    QTest::newRow("other tools' asc") << "a.asc" << otherAsc << ""
                                      << "asclog";
    QTest::newRow("other tools' asc, any name") << "a.txt" << otherAsc << ""
                                                << "asclog";
    QTest::newRow("candump log") << "a.log" << candump << ""
                                 << "candump";
    QTest::newRow("candump log named .asc") << "a.asc" << candump << ""
                                            << "candump";
    QTest::newRow("candump log cut mid-line") << "a.log"
                                              << "9713) can0 12#1\n" + candump + candump << ""
                                              << "candump";
    QTest::newRow("csv") << "a.csv" << csv << ""
                         << "csv";
    QTest::newRow("blf") << "a.blf" << blf << ""
                         << "blf";
    QTest::newRow("bytes named .bin") << "a.bin" << noise << ""
                                      << "bin";
    QTest::newRow("bin asked for") << "a.dat" << noise << "bin"
                                   << "bin";
    QTest::newRow("random bytes named .asc") << "a.asc" << noise << ""
                                             << "not a recording";
    QTest::newRow("random bytes named .blf") << "a.blf" << noise << ""
                                             << "not a recording";
    QTest::newRow("random bytes asked as asc") << "a.asc" << noise << "asc"
                                               << "not a asc";
    QTest::newRow("candump asked as blf") << "a.log" << candump << "blf"
                                          << "not a blf";
    QTest::newRow("csv asked as candump") << "a.csv" << csv << "candump"
                                          << "not a candump";
    QTest::newRow("empty") << "e.asc" << QByteArray() << ""
                           << "the file is empty";
    QTest::newRow("empty asked as bin") << "e.bin" << QByteArray() << "bin"
                                        << "the file is empty";
    QTest::newRow("unknown format") << "a.log" << candump << "mdf"
                                    << "unknown format";
    QTest::newRow("text that is no recording") << "a.asc" << QByteArray("hello\nworld\n") << ""
                                               << "not a recording";
}

void tst_KvFormatRegistry::detection()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, asked);
    QFETCH(QString, expected);
    const QString path = write(file, content);
    QString error;
    const KvFormat *f = KvFormatRegistry::detect(path, asked, &error);
    if (f)
        QCOMPARE(f->name, expected);
    else
        QVERIFY2(error.contains(expected), qPrintable(error));
}

void tst_KvFormatRegistry::refusedBeforeOpening()
{
    const QString fifo = dir.filePath(QStringLiteral("fifo.log"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Opening the FIFO would block this test for ever.
    for (const QString &path : {fifo, dir.path(), QStringLiteral("/dev/zero")}) {
        QString error;
        QVERIFY(!KvFormatRegistry::openReader(path, QStringLiteral("candump"), &error));
        QVERIFY2(error.contains(QLatin1String("not a regular file")), qPrintable(error));
        std::unique_ptr<KvFrameReader> reader(KvFormatRegistry::find("bin")->newReader());
        QVERIFY(!reader->open(path));
    }
    std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(QStringLiteral("blf"));
    QVERIFY(!writer->open(dir.path()));
    QVERIFY(writer->errorString().contains(QLatin1String("not a regular file")));
    QVERIFY(!KvFormatRegistry::newWriter(QStringLiteral("bin")));
}

void tst_KvFormatRegistry::readableAfterEveryFlush_data()
{
    QTest::addColumn<QString>("format");
    for (const KvFormat &f : KvFormatRegistry::formats()) {
        if (f.newWriter)
            QTest::newRow(qPrintable(f.name)) << f.name;
    }
}

// A writer that is never closed (the process died) leaves what it flushed readable.
void tst_KvFormatRegistry::readableAfterEveryFlush()
{
    QFETCH(QString, format);
    const QString path = dir.filePath(QStringLiteral("flushed.") + format);
    std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(format);
    QVERIFY(writer->open(path));
    QVector<KvFrame> list;
    for (int round = 1; round <= 2; ++round) {
        for (int i = 0; i < 3000; ++i) {
            const KvFrame f =
                frame(qint64(list.size()) * 1000000, quint32(i % 0x7FF), "", 0, 2, "\x01\x02");
            list << f;
            QVERIFY(writer->write(f));
        }
        QVERIFY(writer->flush());
        QString error;
        std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, format, &error);
        QVERIFY2(reader, qPrintable(error));
        QCOMPARE(readAll(*reader), describe(list, format));
    }
}

void tst_KvFormatRegistry::fullDiskFailsTheWrite_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<qint64>("limit");
    QTest::newRow("candump, no room at all") << "candump" << qint64(0);
    QTest::newRow("asc, disk fills mid-way") << "asclog" << qint64(100000);
    QTest::newRow("blf, disk fills mid-way") << "blf" << qint64(20000);
    QTest::newRow("csv, disk fills mid-way") << "csv" << qint64(100000);
}

void tst_KvFormatRegistry::fullDiskFailsTheWrite()
{
    QFETCH(QString, format);
    QFETCH(qint64, limit);
    const QString path = dir.filePath(QStringLiteral("full.") + format);
    std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(format);
    writer->setSpaceLimit(limit);
    bool ok = writer->open(path);
    for (int i = 0; ok && i < 1000000; ++i)
        ok = writer->write(
            frame(qint64(i) * 1000, 0x123, "", 0, 8, "\x01\x02\x03\x04\x05\x06\x07\x08"));
    if (ok)
        ok = writer->flush();
    QVERIFY(!ok);
    QVERIFY2(writer->errorString().contains(QLatin1String("No space left")),
             qPrintable(writer->errorString()));
    QVERIFY(!writer->write(frame(0, 1, "", 0, 0)));
    QVERIFY(!writer->close());
    QVERIFY(QFileInfo(path).size() <= limit);
}

void tst_KvFormatRegistry::badLinesAreSkippedAndCounted_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<qint64>("unsupported");
    const QString a = describe(frame(0, 0x123, "", 0, 1, "\x11"));
    const QString b = describe(frame(1000000, 0x124, "", 0, 0));
    QTest::newRow("csv: blank, short and DLC 9 lines; CR only")
        << "csv"
        << QByteArray("Index,Direction,Time-2,Channel,ID,Type,Format,DLC,Data\r"
                      "0,Rx,00:00:00.000.000,0,123,Data,Standard,1,11\r\r"
                      "1,Rx,garbage\r2,Rx,00:00:00.000.500,0,123,Data,Standard,9,11\r"
                      "3,Rx,00:00:00.001.000,0,124,Data,Standard,0,\r")
        << QStringList{a, "skipped", "skipped", b} << qint64(0);
    QTest::newRow("candump: bad lines, an FD frame")
        << "candump"
        << QByteArray("(10.000000) can0 123#11\n(x) can0 1#\n(10.000500) can0 12#11\n"
                      "(10.000600) can0 123##1AABB\n(10.001000) can0 124#\n")
        << QStringList{a, "skipped", "skipped", b} << qint64(1);
    QTest::newRow("asc: a bad frame line, events, an FD line")
        << "asclog"
        << QByteArray("date Sat Dec 05 10:00:00.000 AM 2026\nbase hex  timestamps absolute\n"
                      "   0.000000 1  123 Rx d 1 11\n   0.000100 1  123 Rx d 3 11\n"
                      "   0.000200 Start of measurement\n"
                      "   0.000300 CANFD 1 Rx 123 0 0 1 1 11\n   0.001000 1  124 Rx d 0\n")
        << QStringList{a, "skipped", b} << qint64(1);
}

void tst_KvFormatRegistry::badLinesAreSkippedAndCounted()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    QFETCH(qint64, unsupported);
    const QString path = write(QStringLiteral("bad.") + format, content);
    QString error;
    std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, format, &error);
    QVERIFY2(reader, qPrintable(error));
    QCOMPARE(readAll(*reader), expected);
    QCOMPARE(reader->skipped(), qint64(expected.count(QStringLiteral("skipped"))));
    QCOMPARE(reader->unsupported(), unsupported);
}

QTEST_GUILESS_MAIN(tst_KvFormatRegistry)
#include "tst_kvformatregistry.moc"
