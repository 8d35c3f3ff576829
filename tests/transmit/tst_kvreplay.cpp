#include "kvreplay.h"

#include "kvdevicesession.h"
#include "vci_sim.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>

using ChannelMap = QVector<QPair<int, int>>;
Q_DECLARE_METATYPE(ChannelMap)

namespace {

// `perChannel` frames on can0 and can1 each, `gapUs` apart.
QString writeLog(const QTemporaryDir &dir, int perChannel, qint64 gapUs)
{
    const QString name = dir.filePath(QStringLiteral("two.log"));
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    qint64 t = 0;
    for (int i = 0; i < perChannel; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            f.write(QStringLiteral("(%1.%2) can%3 %4#%5\n")
                        .arg(t / 1000000)
                        .arg(t % 1000000, 6, 10, QLatin1Char('0'))
                        .arg(ch)
                        .arg(0x100 + ch, 3, 16)
                        .arg(i % 256, 2, 16, QLatin1Char('0'))
                        .toLatin1());
            t += gapUs;
        }
    }
    return name;
}

} // namespace

class tst_KvReplay : public QObject
{
    Q_OBJECT
private slots:
    void init() { VSIM_Reset(); }
    void parseChannelMap_data();
    void parseChannelMap();
    void passesAndMap_data();
    void passesAndMap();
    void stopEndsWithoutFurtherPasses();
};

void tst_KvReplay::parseChannelMap_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<ChannelMap>("map");
    QTest::newRow("two entries") << "1=0,2=1" << true << ChannelMap{{1, 0}, {2, 1}};
    QTest::newRow("spaces around numbers") << " 3 = 0 " << true << ChannelMap{{3, 0}};
    QTest::newRow("two channels onto one") << "0=1,1=1" << true << ChannelMap{{0, 1}, {1, 1}};
    QTest::newRow("channel mapped twice") << "1=0,1=2" << false << ChannelMap();
    QTest::newRow("channel beyond 3") << "4=0" << false << ChannelMap();
    QTest::newRow("negative channel") << "-1=0" << false << ChannelMap();
    QTest::newRow("missing side") << "1=" << false << ChannelMap();
    QTest::newRow("empty entry") << "1=0," << false << ChannelMap();
    QTest::newRow("not a number") << "a=b" << false << ChannelMap();
}

void tst_KvReplay::parseChannelMap()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(ChannelMap, map);
    ChannelMap parsed{{9, 9}};
    QString error;
    QCOMPARE(KvReplay::parseChannelMap(text, parsed, error), ok);
    // A refused map leaves the old one and says why.
    QCOMPARE(parsed, ok ? map : ChannelMap({{9, 9}}));
    QCOMPARE(error.isEmpty(), ok);
}

void tst_KvReplay::passesAndMap_data()
{
    QTest::addColumn<ChannelMap>("map");
    QTest::addColumn<int>("loops");
    QTest::addColumn<qint64>("to0");
    QTest::addColumn<qint64>("to1");
    QTest::newRow("no map, one pass: both recording channels onto 0")
        << ChannelMap() << 1 << qint64(40) << qint64(0);
    QTest::newRow("no map, three passes") << ChannelMap() << 3 << qint64(120) << qint64(0);
    QTest::newRow("can1 alone onto 0, twice") << ChannelMap{{1, 0}} << 2 << qint64(40) << qint64(0);
    QTest::newRow("swapped channels")
        << ChannelMap{{0, 1}, {1, 0}} << 1 << qint64(20) << qint64(20);
}

void tst_KvReplay::passesAndMap()
{
    QFETCH(ChannelMap, map);
    QFETCH(int, loops);
    QFETCH(qint64, to0);
    QFETCH(qint64, to1);
    QTemporaryDir dir;
    const QString file = writeLog(dir, 20, 100);
    KvDeviceSession session;
    session.setDevice(4, 0);
    session.addChannel(0, 1000000);
    session.addChannel(1, 1000000);
    QVERIFY2(session.start(), qPrintable(session.errorString()));
    KvReplay replay(session);
    replay.setFileName(file);
    replay.setFormat(QStringLiteral("candump"));
    replay.setChannelMap(map);
    replay.setLoops(loops);
    QSignalSpy passes(&replay, &KvReplay::passStarted);
    QSignalSpy finished(&replay, &KvReplay::finished);
    QVERIFY2(replay.start(), qPrintable(replay.errorString()));
    QVERIFY(finished.wait(10000));
    QCOMPARE(replay.endReason(), KvSendFileThread::EndOfData);
    QCOMPARE(passes.count(), loops);
    QCOMPARE(replay.passesDone(), loops);
    QCOMPARE(replay.sentTo(0), to0);
    QCOMPARE(replay.sentTo(1), to1);
    QCOMPARE(replay.sentFrames(), to0 + to1);
    QCOMPARE(qint64(VSIM_SentTotal(4, 0, 0)), to0);
    QCOMPARE(qint64(VSIM_SentTotal(4, 0, 1)), to1);
}

// Many passes over a file with a long gap: a stop ends the pass within its pause slice and starts
// no other.
void tst_KvReplay::stopEndsWithoutFurtherPasses()
{
    QTemporaryDir dir;
    const QString file = writeLog(dir, 2, 3600 * qint64(1000000));
    KvDeviceSession session;
    session.setDevice(4, 0);
    session.addChannel(0, 1000000);
    QVERIFY2(session.start(), qPrintable(session.errorString()));
    KvReplay replay(session);
    replay.setFileName(file);
    replay.setFormat(QStringLiteral("candump"));
    replay.setLoops(1000);
    QSignalSpy finished(&replay, &KvReplay::finished);
    QVERIFY(replay.start());
    QTRY_VERIFY(VSIM_SentTotal(4, 0, 0) > 0);
    replay.stop();
    QVERIFY(finished.wait(2000));
    QCOMPARE(replay.endReason(), KvSendFileThread::Stopped);
    QCOMPARE(replay.passesDone(), 1);
    QVERIFY(!replay.isRunning());
}

QTEST_MAIN(tst_KvReplay)
#include "tst_kvreplay.moc"
