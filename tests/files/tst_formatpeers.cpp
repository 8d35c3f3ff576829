#include "formatframes.h"
#include "recordingpeers.h"

#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

using namespace formats;

// Other tools read the files our writers make, and we read theirs, frame for frame: python-can's
// readers and writers, and can-utils' log2asc and asc2log. Times are compared to the
// microsecond from the first frame (the peers keep floating-point seconds); error frames by
// their time only, since each tool keeps a different part of them. The shared frames' error
// frame is on channel 0, where python-can's ASC writer puts every error frame, and has the
// bus-error class that candump logs give it.
namespace {

// One text per frame, its time in microseconds from the list's first frame, with what `format`
// keeps of it (none: as it is).
QStringList describePeer(const QVector<KvFrame> &list, const QString &format = {})
{
    QStringList texts;
    for (const KvFrame &f : list) {
        KvFrame g = format.isEmpty() ? f : kept(f, format);
        const qint64 us = qRound64(double(g.timeNs - list.first().timeNs) / 1000.0);
        g.timeNs = us;
        texts << (g.error ? QStringLiteral("error @%1").arg(us) : describe(g));
    }
    return texts;
}

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
    havePython = havePythonCan();
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
    const QVector<KvFrame> list = frames();
    QVERIFY(writeOurs(ours, path, list));
    QString error;
    const QVector<KvFrame> read = readByPython(theirs, path, &error);
    QVERIFY2(!read.isEmpty(), qPrintable(error));
    QCOMPARE(describePeer(read), describePeer(list, ours));
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
    QVector<KvFrame> list = frames();
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
    QVERIFY2(!read.isEmpty(), qPrintable(error));
    // They were given microseconds; python-can's candump writer drops a remote frame's length.
    QVector<KvFrame> expected = list;
    for (KvFrame &f : expected) {
        f.timeNs -= f.timeNs % 1000;
        if (f.remote && theirs == QLatin1String("candump"))
            f.dlc = 0;
    }
    QCOMPARE(describePeer(read), describePeer(expected, ours));
}

// can-utils turn our candump log into ASC and our ASC into a candump log; we read both.
void tst_FormatPeers::canUtilsConvertOurs()
{
    const QString log2asc = peers::canUtil("log2asc");
    const QString asc2log = peers::canUtil("asc2log");
    if (log2asc.isEmpty() || asc2log.isEmpty())
        QSKIP("can-utils (log2asc, asc2log) are not installed");
    const QVector<KvFrame> list = frames();
    const QString log = dir.filePath(QStringLiteral("ours.log"));
    const QString asc = dir.filePath(QStringLiteral("theirs.asc"));
    // log2asc takes a log that starts at 0 seconds for one without a start.
    QVERIFY(writeOurs(QStringLiteral("candump"), log, list, 1436509052249713000LL));
    QString failure = peers::run(log2asc, {"-I", log, "-O", asc, "can0", "can1", "can2", "can3"});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QString error;
    QVector<KvFrame> read = readOurs(asc, &error);
    QVERIFY2(!read.isEmpty(), qPrintable(error));
    QCOMPARE(describePeer(read), describePeer(list, QStringLiteral("asclog")));

    const QString ourAsc = dir.filePath(QStringLiteral("ours.asc"));
    const QString theirLog = dir.filePath(QStringLiteral("theirs.log"));
    QVERIFY(writeOurs(QStringLiteral("asclog"), ourAsc, list));
    failure = peers::run(asc2log, {"-I", ourAsc, "-O", theirLog});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    read = readOurs(theirLog, &error);
    QVERIFY2(!read.isEmpty(), qPrintable(error));
    QCOMPARE(describePeer(read), describePeer(list, QStringLiteral("asclog")));
}

QTEST_GUILESS_MAIN(tst_FormatPeers)
#include "tst_formatpeers.moc"
