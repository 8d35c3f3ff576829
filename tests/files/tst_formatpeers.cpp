#include "formatframes.h"
#include "recordingpeers.h"

#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

using namespace formats;

// Other tools read the files our writers make, and we read theirs, frame for frame: python-can's
// readers and writers, and can-utils' log2asc and asc2log. Times are compared to the
// microsecond from the first frame (the peers keep floating-point seconds); error frames by
// their time only, since each tool keeps a different part of them.
namespace {

const char Python[] = "/usr/bin/python3";

QString describePeer(const KvFrame &f, qint64 originNs)
{
    const qint64 us = qRound64(double(f.timeNs - originNs) / 1000.0);
    if (f.error)
        return QStringLiteral("error @%1").arg(us);
    KvFrame g = f;
    g.timeNs = us;
    return describe(g);
}

QStringList describePeer(const QVector<KvFrame> &list, const QString &format)
{
    QStringList texts;
    for (const KvFrame &f : list)
        texts << describePeer(kept(f, format), list.first().timeNs);
    return texts;
}

// One line per message: time, id, extended, remote, error, rx, channel, dlc, data in hex.
const char ReadScript[] = R"(
import sys, can
fmt, path = sys.argv[1], sys.argv[2]
reader = {"asc": can.ASCReader, "candump": can.CanutilsLogReader, "blf": can.BLFReader}[fmt](path)
for m in reader:
    ch = m.channel
    if isinstance(ch, str):
        digits = "".join(c for c in ch if c.isdigit())
        ch = int(digits) if digits else 0
    print("%.6f %d %d %d %d %d %d %d %s" % (m.timestamp, m.arbitration_id, m.is_extended_id,
          m.is_remote_frame, m.is_error_frame, m.is_rx, ch or 0, m.dlc, bytes(m.data).hex()))
)";

const char WriteScript[] = R"(
import sys, can
fmt, path = sys.argv[1], sys.argv[2]
writer = {"asc": can.ASCWriter, "candump": can.CanutilsLogWriter, "blf": can.BLFWriter}[fmt](path)
for line in sys.stdin:
    t, i, x, r, e, rx, ch, dlc, data = line.split()
    writer.on_message_received(can.Message(timestamp=float(t), arbitration_id=int(i),
        is_extended_id=x == "1", is_remote_frame=r == "1", is_error_frame=e == "1",
        is_rx=rx == "1", channel=int(ch), dlc=int(dlc),
        data=None if r == "1" else bytes.fromhex(data[1:])))
writer.stop()
)";

QVector<KvFrame> parsePython(const QByteArray &output)
{
    QVector<KvFrame> list;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.size() < 8)
            continue;
        KvFrame f;
        f.timeNs = qRound64(w[0].toDouble() * 1e6) * 1000;
        f.id = w[1].toUInt();
        f.extended = w[2] == "1";
        f.remote = w[3] == "1";
        f.error = w[4] == "1";
        f.tx = w[5] == "0";
        f.channel = quint8(w[6].toUInt());
        f.dlc = quint8(w[7].toUInt());
        const QByteArray data = QByteArray::fromHex(w.value(8));
        if (!f.remote)
            memcpy(f.data, data.constData(), size_t(qMin(8, data.size())));
        list << f;
    }
    return list;
}

QVector<KvFrame> readOurs(const QString &path, QString *error)
{
    QVector<KvFrame> list;
    std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, {}, error);
    KvFrame f;
    while (reader && reader->read(f) == KvFrameReader::Frame)
        list << f;
    return list;
}

bool writeOurs(const QString &format, const QString &path, const QVector<KvFrame> &list,
               qint64 startNs = 0)
{
    std::unique_ptr<KvFrameWriter> w = KvFormatRegistry::newWriter(format);
    if (!w->open(path, startNs))
        return false;
    for (const KvFrame &f : list)
        w->write(f);
    return w->close();
}

// The error frame is on channel 0, where python-can's ASC writer puts every error frame, and has
// the bus-error class that candump logs give it.
QVector<KvFrame> peerFrames()
{
    return frames();
}

} // namespace

class tst_FormatPeers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pythonCanReadsOurs_data();
    void pythonCanReadsOurs();
    void weReadPythonCans_data();
    void weReadPythonCans();
    void canUtilsConvertOurs();

private:
    QTemporaryDir dir;
    bool havePython = false;
};

void tst_FormatPeers::initTestCase()
{
    havePython = peers::run(Python, {"-c", "import can"}).isEmpty();
}

void tst_FormatPeers::pythonCanReadsOurs_data()
{
    QTest::addColumn<QString>("ours");
    QTest::addColumn<QString>("theirs");
    QTest::newRow("asc for other tools") << "asclog"
                                         << "asc";
    QTest::newRow("our asc") << "asc"
                             << "asc";
    QTest::newRow("candump") << "candump"
                             << "candump";
    QTest::newRow("blf") << "blf"
                         << "blf";
}

void tst_FormatPeers::pythonCanReadsOurs()
{
    if (!havePython)
        QSKIP("python-can is not installed for /usr/bin/python3 (Debian's python3-can)");
    QFETCH(QString, ours);
    QFETCH(QString, theirs);
    const QString path = dir.filePath(QStringLiteral("ours.") + ours);
    const QVector<KvFrame> list = peerFrames();
    QVERIFY(writeOurs(ours, path, list));
    QProcess p;
    p.start(Python, {"-c", ReadScript, theirs, path});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QVector<KvFrame> read = parsePython(p.readAllStandardOutput());
    QVERIFY(!read.isEmpty());
    QStringList texts;
    for (const KvFrame &f : read)
        texts << describePeer(f, read.first().timeNs);
    QCOMPARE(texts, describePeer(list, ours));
}

void tst_FormatPeers::weReadPythonCans_data()
{
    QTest::addColumn<QString>("theirs");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("ours"); // the format detected
    QTest::newRow("asc") << "asc"
                         << "theirs.asc"
                         << "asclog";
    QTest::newRow("candump") << "candump"
                             << "theirs.log"
                             << "candump";
    QTest::newRow("blf") << "blf"
                         << "theirs.blf"
                         << "blf";
}

void tst_FormatPeers::weReadPythonCans()
{
    if (!havePython)
        QSKIP("python-can is not installed for /usr/bin/python3 (Debian's python3-can)");
    QFETCH(QString, theirs);
    QFETCH(QString, file);
    QFETCH(QString, ours);
    const QString path = dir.filePath(file);
    QVector<KvFrame> list = peerFrames();
    QByteArray input;
    for (const KvFrame &f : list) {
        input += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
                     .arg(QStringLiteral("%1.%2")
                              .arg(1000 + f.timeNs / 1000000000)
                              .arg(f.timeNs / 1000 % 1000000, 6, 10, QLatin1Char('0')))
                     .arg(f.id)
                     .arg(f.extended)
                     .arg(f.remote)
                     .arg(f.error)
                     .arg(!f.tx)
                     .arg(f.channel)
                     .arg(f.dlc)
                     .arg(QString::fromLatin1(
                         "x" + QByteArray(reinterpret_cast<const char *>(f.data), f.dlc).toHex()))
                     .toLatin1();
    }
    const QString failure = peers::run(Python, {"-c", WriteScript, theirs, path}, input);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QString error;
    const KvFormat *detected = KvFormatRegistry::detect(path, {}, &error);
    QVERIFY2(detected, qPrintable(error));
    QCOMPARE(detected->name, ours);
    const QVector<KvFrame> read = readOurs(path, &error);
    QStringList texts;
    for (const KvFrame &f : read)
        texts << describePeer(f, read.first().timeNs);
    // They were given microseconds; python-can's candump writer drops a remote frame's length.
    QVector<KvFrame> expected = list;
    for (KvFrame &f : expected) {
        f.timeNs -= f.timeNs % 1000;
        if (f.remote && theirs == QLatin1String("candump"))
            f.dlc = 0;
    }
    QCOMPARE(texts, describePeer(expected, ours));
}

// can-utils turn our candump log into ASC and our ASC into a candump log; we read both.
void tst_FormatPeers::canUtilsConvertOurs()
{
    const QString log2asc = peers::canUtil("log2asc");
    const QString asc2log = peers::canUtil("asc2log");
    if (log2asc.isEmpty() || asc2log.isEmpty())
        QSKIP("can-utils (log2asc, asc2log) are not installed");
    const QVector<KvFrame> list = peerFrames();
    const QString log = dir.filePath(QStringLiteral("ours.log"));
    const QString asc = dir.filePath(QStringLiteral("theirs.asc"));
    // log2asc takes a log that starts at 0 seconds for one without a start.
    QVERIFY(writeOurs(QStringLiteral("candump"), log, list, 1436509052249713000LL));
    QString failure = peers::run(log2asc, {"-I", log, "-O", asc, "can0", "can1", "can2", "can3"});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QString error;
    QVector<KvFrame> read = readOurs(asc, &error);
    QVERIFY2(!read.isEmpty(), qPrintable(error));
    QStringList texts;
    for (const KvFrame &f : read)
        texts << describePeer(f, read.first().timeNs);
    QCOMPARE(texts, describePeer(list, QStringLiteral("asclog")));

    const QString ourAsc = dir.filePath(QStringLiteral("ours.asc"));
    const QString theirLog = dir.filePath(QStringLiteral("theirs.log"));
    QVERIFY(writeOurs(QStringLiteral("asclog"), ourAsc, list));
    failure = peers::run(asc2log, {"-I", ourAsc, "-O", theirLog});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    read = readOurs(theirLog, &error);
    QVERIFY2(!read.isEmpty(), qPrintable(error));
    texts.clear();
    for (const KvFrame &f : read)
        texts << describePeer(f, read.first().timeNs);
    QCOMPARE(texts, describePeer(list, QStringLiteral("asclog")));
}

QTEST_GUILESS_MAIN(tst_FormatPeers)
#include "tst_formatpeers.moc"
