#include "formatframes.h"
#include "kvformatregistry.h"

#include <QtCore/QDateTime>
#include <QtCore/QTemporaryDir>
#include <QtCore/QtEndian>
#include <QtTest/QtTest>

#include <zlib.h>

using namespace formats;

namespace {

QByteArray le(quint64 v, int bytes)
{
    QByteArray b(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        b[i] = char(v >> (8 * i));
    return b;
}

// One object: base header, a version 1 or 2 header, the body, padding of size % 4.
QByteArray object(quint32 type, const QByteArray &body, quint64 stamp = 0, quint32 flags = 2,
                  int version = 1, qint64 statedSize = -1)
{
    const int headerSize = version == 2 ? 40 : 32;
    const quint32 size = quint32(statedSize >= 0 ? statedSize : headerSize + body.size());
    QByteArray o = "LOBJ" + le(quint64(headerSize), 2) + le(quint64(version), 2) + le(size, 4) +
                   le(type, 4) + le(flags, 4);
    o += version == 2 ? le(0, 4) : le(0, 4);
    o += le(stamp, 8);
    if (version == 2)
        o += le(0, 8);
    o += body;
    return o + QByteArray(int(size % 4), '\0');
}

QByteArray canBody(int channel, quint8 flags, int dlc, quint32 id, const QByteArray &data)
{
    return le(quint64(channel), 2) + char(flags) + char(dlc) + le(id, 4) +
           data.leftJustified(8, '\0', true);
}

QByteArray deflate(const QByteArray &data)
{
    uLongf room = compressBound(uLong(data.size()));
    QByteArray out(int(room), '\0');
    compress(reinterpret_cast<Bytef *>(out.data()), &room,
             reinterpret_cast<const Bytef *>(data.constData()), uLong(data.size()));
    out.resize(int(room));
    return out;
}

// A log container of `objects`, stored (method 0) or deflated (2).
QByteArray container(const QByteArray &objects, int method = 2, qint64 stated = -1,
                     const QByteArray &packedOverride = QByteArray())
{
    const QByteArray packed = !packedOverride.isNull() ? packedOverride
                              : method == 2            ? deflate(objects)
                                                       : objects;
    const quint32 size = quint32(32 + packed.size());
    QByteArray c = "LOBJ" + le(16, 2) + le(1, 2) + le(size, 4) + le(10, 4);
    c += le(quint64(method), 2) + QByteArray(6, '\0') +
         le(quint64(stated >= 0 ? stated : objects.size()), 4) + QByteArray(4, '\0');
    return c + packed + QByteArray(int(size % 4), '\0');
}

QByteArray blfFile(const QByteArray &body)
{
    QByteArray h = "LOGG" + le(144, 4);
    h += QByteArray(136, '\0');
    return h + body;
}

const QByteArray Msg1 = object(1, canBody(1, 0, 2, 0x123, "\x11\x22"), 1000);
const QByteArray Msg2 = object(1, canBody(2, 0x81, 3, 0x80000456u, ""), 2000);

} // namespace

class tst_KvBlf : public QObject
{
    Q_OBJECT
private slots:
    void reads_data();
    void reads();
    void badFiles_data();
    void badFiles();
    void writerContainersAndHeader();

private:
    QTemporaryDir dir;
};

void tst_KvBlf::reads_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<qint64>("unsupported");
    const QString a = describe(frame(1000, 0x123, "", 0, 2, "\x11\x22"));
    const QString b = describe(frame(2000, 0x456, "xrt", 1, 3));
    const QByteArray both = Msg1 + Msg2;
    QTest::newRow("deflated container") << blfFile(container(both)) << QStringList{a, b} << 0ll;
    QTest::newRow("stored container") << blfFile(container(both, 0)) << QStringList{a, b} << 0ll;
    QTest::newRow("object split across containers")
        << blfFile(container(both.left(40)) + container(both.mid(40), 0)) << QStringList{a, b}
        << 0ll;
    // From the third container on, the next one is inflated on a second thread.
    const QByteArray big = object(65, QByteArray(6000, 'q'));
    QTest::newRow("objects split across containers inflated ahead")
        << blfFile(container(Msg1) + container(both.left(40)) + container(both.mid(40)) +
                   container(big.left(5000)) + container(big.mid(5000) + Msg1) + container(Msg2))
        << QStringList{a, a, b, a, b} << 0ll;
    QTest::newRow("stamps in 10 us") << blfFile(container(object(1, canBody(1, 0, 0, 1, ""), 7, 1)))
                                     << QStringList{describe(frame(70000, 1, "", 0, 0))} << 0ll;
    QTest::newRow("object header version 2, CAN message type 86")
        << blfFile(container(object(86, canBody(4, 0, 1, 5, "\x99") + QByteArray(8, 'z'), 9, 2, 2)))
        << QStringList{describe(frame(9, 5, "", 3, 1, "\x99"))} << 0ll;
    QTest::newRow("error frame")
        << blfFile(container(object(73,
                                    le(1, 2) + le(0, 2) + le(0, 4) + QByteArray("\0\0\x08\0", 4) +
                                        le(0, 4) + le(0x80, 4) + le(0, 4) + QByteArray(8, '\x05'),
                                    30)))
        << QStringList{describe(frame(30, 0x80, "e", 0, 8, QByteArray(8, '\x05')))} << 0ll;
    QTest::newRow("CAN FD objects counted, unknown types stepped over")
        << blfFile(container(Msg1 + object(100, QByteArray(84, '\0')) +
                             object(101, QByteArray(40, '\0')) + object(65, "abc") + Msg2) +
                   object(5, "top-level object"))
        << QStringList{a, b} << 2ll;
    QTest::newRow("short CAN object skipped")
        << blfFile(container(object(1, "abc") + Msg1)) << QStringList{"skipped", a} << 0ll;
    QTest::newRow("no objects") << blfFile(QByteArray()) << QStringList{} << 0ll;
}

void tst_KvBlf::reads()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);
    QFETCH(qint64, unsupported);
    QFile f(dir.filePath(QStringLiteral("r.blf")));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
    f.close();
    QString error;
    std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(f.fileName(), {}, &error);
    QVERIFY2(reader, qPrintable(error));
    QCOMPARE(readAll(*reader), expected);
    QCOMPARE(reader->unsupported(), unsupported);
}

void tst_KvBlf::badFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("framesFirst");
    QTest::addColumn<QString>("error");
    const QByteArray good = blfFile(container(Msg1 + Msg2));
    QTest::newRow("inner object of size 0")
        << blfFile(container(Msg1 + object(1, "", 0, 2, 1, 0))) << 1 << "object of 0 bytes";
    QTest::newRow("inner object of huge size")
        << blfFile(container(Msg1 + object(1, "", 0, 2, 1, 0x7FFFFFFF))) << 1
        << "object of 2147483647 bytes";
    QTest::newRow("top object of size 0")
        << blfFile(object(1, "", 0, 2, 1, 0)) << 0 << "object of 0 bytes";
    QTest::newRow("top object of negative-looking size")
        << blfFile(object(1, "", 0, 2, 1, 0xFFFFFFF0)) << 0 << "runs past the end";
    QTest::newRow("top object past the end")
        << good.left(good.size() - 8) << 0 << "runs past the end";
    QTest::newRow("inner object past the end of the file")
        << blfFile(container((Msg1 + Msg2).left(60))) << 1 << "runs past the end";
    const QByteArray two = container(Msg1) + container(Msg2);
    QTest::newRow("broken stream inflated ahead")
        << blfFile(two + container(Msg1, 2, -1, QByteArray(40, 'x'))) << 2 << "does not inflate";
    QTest::newRow("garbage read ahead")
        << blfFile(two + "garbage garbage garbage") << 2 << "no object";
    QTest::newRow("cut object, end read ahead")
        << blfFile(container(Msg1) + container(Msg2 + Msg1.left(20))) << 2 << "runs past the end";
    QTest::newRow("stream that does not inflate")
        << blfFile(container(Msg1, 2, -1, QByteArray(40, 'x'))) << 0 << "does not inflate";
    QByteArray badSum = deflate(Msg1 + Msg2);
    badSum[badSum.size() - 1] = char(badSum.at(badSum.size() - 1) ^ 1); // Adler-32's last byte
    QTest::newRow("stream whose check sum fails")
        << blfFile(container(Msg1 + Msg2, 2, -1, badSum)) << 0 << "does not inflate";
    QTest::newRow("stream beyond its stated size")
        << blfFile(container(Msg1 + Msg2, 2, 50)) << 0 << "does not inflate";
    QTest::newRow("container claiming 4 GiB")
        << blfFile(container(Msg1, 2, 0xFFFFFFF0)) << 0 << "claims";
    QTest::newRow("unknown packing") << blfFile(container(Msg1, 7)) << 0 << "unknown method";
    QTest::newRow("garbage after the header")
        << blfFile("garbage garbage garbage") << 0 << "no object at offset 144";
    QTest::newRow("header size beyond the file")
        << QByteArray("LOGG\xFF\xFF\0\0", 8) + QByteArray(80, '\0') << -1 << "BLF header";
    QTest::newRow("truncated header")
        << QByteArray("LOGG\x90\0\0\0", 8) + QByteArray(10, '\0') << -1 << "no LOGG header";
}

void tst_KvBlf::badFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(int, framesFirst);
    QFETCH(QString, error);
    QFile f(dir.filePath(QStringLiteral("bad.blf")));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
    f.close();
    std::unique_ptr<KvFrameReader> reader(KvFormatRegistry::find("blf")->newReader());
    if (framesFirst < 0) {
        QVERIFY(!reader->open(f.fileName()));
        QVERIFY2(reader->errorString().contains(error), qPrintable(reader->errorString()));
        return;
    }
    QVERIFY(reader->open(f.fileName()));
    const QStringList texts = readAll(*reader);
    QCOMPARE(texts.size(), framesFirst + 1);
    QVERIFY2(texts.last().contains(error), qPrintable(texts.last()));
    KvFrame again;
    QCOMPARE(reader->read(again), KvFrameReader::Error);
}

void tst_KvBlf::writerContainersAndHeader()
{
    const QString path = dir.filePath(QStringLiteral("w.blf"));
    const qint64 start =
        QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 890)).toMSecsSinceEpoch() * 1000000;
    const int count = 20000;
    std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(QStringLiteral("blf"));
    QVERIFY(writer->open(path, start));
    for (int i = 0; i < count; ++i)
        QVERIFY(
            writer->write(frame(qint64(i) * 1000000, quint32(i & 0x7FF), "", 0, 8, "12345678")));
    QVERIFY(writer->close());

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    const char *h = all.constData();
    QCOMPARE(qFromLittleEndian<quint64>(h + 16), quint64(all.size()));
    QCOMPARE(qFromLittleEndian<quint32>(h + 32), quint32(count));
    const auto systemTime = [h](int at) {
        return QDateTime(
            QDate(qFromLittleEndian<quint16>(h + at), qFromLittleEndian<quint16>(h + at + 2),
                  qFromLittleEndian<quint16>(h + at + 6)),
            QTime(qFromLittleEndian<quint16>(h + at + 8), qFromLittleEndian<quint16>(h + at + 10),
                  qFromLittleEndian<quint16>(h + at + 12),
                  qFromLittleEndian<quint16>(h + at + 14)));
    };
    QCOMPARE(systemTime(40), QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 890)));
    QCOMPARE(systemTime(56), QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 890)).addMSecs(count - 1));
    int containers = 0;
    for (int at = 144; at < all.size();) {
        QCOMPARE(all.mid(at, 4), QByteArray("LOBJ"));
        const quint32 size = qFromLittleEndian<quint32>(h + at + 8);
        QCOMPARE(qFromLittleEndian<quint32>(h + at + 12), 10u);
        QVERIFY(qFromLittleEndian<quint32>(h + at + 24) <= 128u * 1024);
        at += int(size + size % 4);
        ++containers;
    }
    QVERIFY(containers >= count * 48 / (128 * 1024));

    // Read back whole, and dropped part-way while the next container is still inflating.
    for (const int stopAfter : {count, 6000}) {
        QString error;
        std::unique_ptr<KvFrameReader> reader =
            KvFormatRegistry::openReader(path, QStringLiteral("blf"), &error);
        QVERIFY2(reader, qPrintable(error));
        KvFrame f;
        int n = 0;
        while (n < stopAfter && reader->read(f) == KvFrameReader::Frame) {
            QCOMPARE(f.timeNs, qint64(n) * 1000000);
            QCOMPARE(f.id, quint32(n & 0x7FF));
            ++n;
        }
        QCOMPARE(n, stopAfter);
        if (n == count)
            QCOMPARE(reader->read(f), KvFrameReader::End);
    }
}

QTEST_GUILESS_MAIN(tst_KvBlf)
#include "tst_kvblf.moc"
