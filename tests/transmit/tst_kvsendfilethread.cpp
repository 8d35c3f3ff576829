#include "devcan.h"
#include "kvbuffer.h"
#include "kvformatregistry.h"
#include "kvglobalset.h"
#include "kvsendfilethread.h"
#include "simulateddevice.h"
#include "vci_sim.h"

#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <mutex>

class tst_KvSendFileThread : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void sendsEveryFrame_data();
    void sendsEveryFrame();
    void gapsArePaced_data();
    void gapsArePaced();
    void stopDuringALongPauseStillSendsTheFrame_data();
    void stopDuringALongPauseStillSendsTheFrame();
    void filesThatCannotBeReplayed_data();
    void filesThatCannotBeReplayed();
    void refusedFrameEndsTheReplay();
    void badStampsDoNotStallTheReplay_data();
    void badStampsDoNotStallTheReplay();
    void stopEndsALongPauseAtOnce();
    void badLinesAreSkippedAndCounted_data();
    void badLinesAreSkippedAndCounted();
    void unreadableFilesAreReported_data();
    void unreadableFilesAreReported();

private:
    QString write(const QString &name, const QByteArray &content);
    static taskObj templateTask(quint32 id, quint8 ext, int interval = 0);
    // Readies a replay of `content` as file type `type` under the template task's frame.
    void prepare(KvSendFileThread &replay, int type, const QByteArray &content,
                 const taskObj &task = templateTask(0, 0));
    QTemporaryDir dir;
};

// Records progress values with the time each arrived, in the replay thread.
struct Progress
{
    explicit Progress(KvSendFileThread *t)
    {
        clock.start();
        QObject::connect(
            t, &KvSendFileThread::progressValueChanged, t,
            [this](int v) {
                std::lock_guard<std::mutex> l(lock);
                values << v;
                times << clock.elapsed();
            },
            Qt::DirectConnection);
    }
    // Read under the lock the replay thread writes under: a standard mutex, so that the thread
    // checker sees the order even when the replay ended before the test began to wait for it.
    QList<int> valuesNow()
    {
        std::lock_guard<std::mutex> l(lock);
        return values;
    }
    QList<qint64> timesNow()
    {
        std::lock_guard<std::mutex> l(lock);
        return times;
    }
    std::mutex lock;
    QElapsedTimer clock;
    QList<int> values;
    QList<qint64> times;
};

QString tst_KvSendFileThread::write(const QString &name, const QByteArray &content)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(content);
    return f.fileName();
}

taskObj tst_KvSendFileThread::templateTask(quint32 id, quint8 ext, int interval)
{
    taskObj t;
    t.interval = interval;
    CanObj f;
    f.ID = id;
    f.ExternFlag = ext;
    f.SendType = 1;
    CanData burst;
    burst.push(f);
    t.dataList << burst;
    return t;
}

void tst_KvSendFileThread::prepare(KvSendFileThread &replay, int type, const QByteArray &content,
                                   const taskObj &task)
{
    replay.setFileType(type);
    replay.setFileName(write(QStringLiteral("replay-%1.rec").arg(type), content));
    replay.setParameter(task);
}

void tst_KvSendFileThread::init()
{
    QVERIFY(startSimulatedDevice(1));
    KvBuffer::instance(0).reset();
}

// Three frames in the form of file type 1 (CSV), 2 (our own ASC), 3 (ASC as other tools write
// it) or 4 (candump log), at the given seconds: standard data, extended data, standard remote.
static QByteArray recording(int type, const QStringList &seconds)
{
    const char *const csv[] = {"123,Data,Standard,2,11 22", "1A2B3C,Data,Extend,1,33",
                               "7DF,Remote,Standard,4,00"};
    const char *const own[] = {"1 123 Rx d 2 11 22", "1 1A2B3Cx Rx d 1 33", "1 7DF Rx r 4"};
    const char *const asc[] = {"1  123             Rx   d 2 11 22",
                               "1  1A2B3Cx         Rx   d 1 33", "2  7DF             Tx   r 4"};
    const char *const log[] = {"can0 123#1122", "can0 001A2B3C#33 R", "can1 7DF#R4"};
    QByteArray text = type == 1   ? "Index,Dir,Time-1,Ch,ID,Type,Format,DLC,Data\n"
                      : type == 2 ? "header one\nheader two\n"
                      : type == 3 ? "date Fri Jul 10 06:17:32 2015\nbase hex  timestamps absolute\n"
                                  : "";
    for (int i = 0; i < seconds.size(); ++i) {
        const QByteArray t = seconds.at(i).toLatin1();
        if (type == 1) {
            const QTime time = QTime(0, 0).addMSecs(int(t.toDouble() * 1000));
            text += QByteArray::number(i) + ",Rx," + time.toString("hh:mm:ss:zzz").toLatin1() +
                    ",0," + csv[i % 3] + '\n';
        } else {
            text += type == 2   ? t + ' ' + own[i % 3] + '\n'
                    : type == 3 ? "   " + t + ' ' + asc[i % 3] + '\n'
                                : '(' + t + ") " + log[i % 3] + '\n';
        }
    }
    return text;
}

void tst_KvSendFileThread::sendsEveryFrame_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<int>>("progress"); // empty: from 0 to 100, one value per frame
    QTest::addColumn<QStringList>("frames");
    QByteArray counting;
    for (int i = 0; i < 20; ++i)
        counting += char(i + 1);
    // A binary file is cut into data bytes under the task's frame.
    QTest::newRow("empty binary file") << 0 << QByteArray() << QList<int>{0} << QStringList();
    QTest::newRow("20 bytes") << 0 << counting << QList<int>{0, 40, 80, 100}
                              << QStringList{"1234567 xd 8 0102030405060708",
                                             "1234567 xd 8 090a0b0c0d0e0f10",
                                             "1234567 xd 4 11121314"};
    QTest::newRow("16 bytes") << 0 << counting.left(16) << QList<int>{0, 50, 100}
                              << QStringList{"1234567 xd 8 0102030405060708",
                                             "1234567 xd 8 090a0b0c0d0e0f10"};
    const QStringList recorded{"123 d 2 1122", "1a2b3c xd 1 33", "7df r 4"};
    const QStringList seconds{"0.000000", "0.001000", "0.002000"};
    QTest::newRow("CSV") << 1 << recording(1, seconds) << QList<int>() << recorded;
    QTest::newRow("our own ASC") << 2 << recording(2, seconds) << QList<int>() << recorded;
    QTest::newRow("ASC from other tools") << 3 << recording(3, seconds) << QList<int>() << recorded;
    QTest::newRow("candump log") << 4 << recording(4, seconds) << QList<int>() << recorded;
}

void tst_KvSendFileThread::sendsEveryFrame()
{
    QFETCH(int, type);
    QFETCH(QByteArray, content);
    QFETCH(QList<int>, progress);
    QFETCH(QStringList, frames);
    KvSendFileThread replay(0);
    prepare(replay, type, content, templateTask(0x1234567, 1));
    Progress p(&replay);
    QSignalSpy begin(&replay, &KvSendFileThread::begainSend);
    QSignalSpy tail(&replay, &KvSendFileThread::tailSignal);
    QSignalSpy error(&replay, &KvSendFileThread::errorSignal);
    const int countBefore = KvGlobalSet::instance().channelSets[0].sendCount;
    replay.start();
    QVERIFY(replay.wait(10000));

    QCOMPARE(begin.count(), 1);
    QCOMPARE(tail.count(), 1);
    QCOMPARE(error.count(), 0);
    const QList<int> values = p.valuesNow();
    if (progress.isEmpty()) {
        QCOMPARE(values.size(), frames.size() + 1);
        QCOMPARE(values.first(), 0);
        QCOMPARE(values.last(), 100);
    } else {
        QCOMPARE(values, progress);
    }
    VCI_CAN_OBJ sent[8];
    const uint n = VSIM_TakeSent(4, 0, 0, sent, 8);
    QStringList got;
    for (uint i = 0; i < n; ++i) {
        const VCI_CAN_OBJ &f = sent[i];
        QString text = QStringLiteral("%1 %2%3 %4")
                           .arg(f.ID, 0, 16)
                           .arg(f.ExternFlag ? "x" : "")
                           .arg(f.RemoteFlag ? "r" : "d")
                           .arg(f.DataLen);
        if (!f.RemoteFlag)
            text +=
                QLatin1Char(' ') +
                QByteArray(reinterpret_cast<const char *>(f.Data), qMin<int>(f.DataLen, 8)).toHex();
        got << text;
        QCOMPARE(f.SendType, quint8(1)); // the task frame's, which no recording carries
        QCOMPARE(f.TimeStamp, 0u);       // the recording's stamps never reach the adapter
    }
    QCOMPARE(got, frames);
    // The readers of other tools' forms clear what a frame does not carry.
    if (type >= 3)
        QCOMPARE(sent[1].Data[1], quint8(0));
    QCOMPARE(KvGlobalSet::instance().channelSets[0].sendCount - countBefore, frames.size());
    QCOMPARE(KvBuffer::instance(0).frames(), frames.size());
}

void tst_KvSendFileThread::gapsArePaced_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("format"); // set: written by the registry's writer, replayed by it
    QTest::addColumn<QStringList>("seconds");
    QTest::newRow("CSV") << 1 << "" << QStringList{"1.000", "1.250", "1.300"};
    QTest::newRow("ASC from other tools")
        << 3 << "" << QStringList{"1.000000", "1.250000", "1.300000"};
    QTest::newRow("candump log") << 4 << ""
                                 << QStringList{"1436509052.900000", "1436509053.150000",
                                                "1436509053.200000"};
    // 429496.7296 s is 2^32 stamp units: the second gap crosses the wrap of the stamps.
    QTest::newRow("across the wrap of the stamps")
        << 3 << "" << QStringList{"429496.4296", "429496.6796", "429496.7796"};
    QTest::newRow("blf by its stamps") << 0 << "blf" << QStringList{"1.000", "1.250", "1.300"};
}

void tst_KvSendFileThread::gapsArePaced()
{
    QFETCH(int, type);
    QFETCH(QString, format);
    QFETCH(QStringList, seconds);
    KvSendFileThread replay(0);
    if (format.isEmpty()) {
        prepare(replay, type, recording(type, seconds));
    } else {
        const QString path = dir.filePath(QStringLiteral("paced.") + format);
        std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(format);
        QVERIFY(writer->open(path));
        for (const QString &t : seconds) {
            KvFrame f;
            f.timeNs = qRound64(t.toDouble() * 1e9);
            f.id = 0x123;
            f.dlc = 1;
            QVERIFY(writer->write(f));
        }
        QVERIFY(writer->close());
        replay.setFileName(path);
        replay.setFormat(format);
        replay.setParameter(templateTask(0, 0));
    }
    Progress p(&replay);
    replay.start();
    QVERIFY(replay.wait(10000));
    const QList<qint64> times = p.timesNow();
    QCOMPARE(times.size(), 4);
    const qint64 first = times.at(2) - times.at(1);
    const qint64 both = times.at(3) - times.at(1);
    // Order of magnitude only: a pause of 250 ms, then one of 50 ms (100 ms across the wrap).
    // A replay may keep to the recording's schedule rather than to each gap, so a late first
    // frame shortens the second pause: the second is checked as the sum of both.
    const qint64 recorded = qRound64((seconds.at(2).toDouble() - seconds.at(0).toDouble()) * 1000);
    QVERIFY2(first >= 240 && first < 2000, qPrintable(QString::number(first)));
    QVERIFY2(both >= recorded - 10 && both < 3000, qPrintable(QString::number(both)));
    QCOMPARE(replay.sentFrames(), 3);
    QCOMPARE(replay.endReason(), KvSendFileThread::EndOfData);
    VCI_CAN_OBJ sent[3];
    QCOMPARE(VSIM_TakeSent(4, 0, 0, sent, 3), 3u);
    QCOMPARE(sent[0].ID, 0x123u);
}

void tst_KvSendFileThread::stopDuringALongPauseStillSendsTheFrame_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("CSV") << 1;
    QTest::newRow("candump log") << 4;
}

void tst_KvSendFileThread::stopDuringALongPauseStillSendsTheFrame()
{
    QFETCH(int, type);
    KvSendFileThread replay(0);
    prepare(replay, type, recording(type, {"0.0", "600.0", "1200.0"}));
    QSignalSpy tail(&replay, &KvSendFileThread::tailSignal);
    replay.start();
    QTRY_COMPARE(VSIM_SentTotal(4, 0, 0), quint64(1));
    replay.stop();
    QVERIFY(replay.wait(5000));
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(2));
    QCOMPARE(tail.count(), 1);
}

void tst_KvSendFileThread::filesThatCannotBeReplayed_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("errors");
    QTest::newRow("nonexistent binary") << 0 << false << 0;
    QTest::newRow("nonexistent csv") << 1 << false << 0;
    QTest::newRow("nonexistent ASC from other tools") << 3 << false << 0;
    QTest::newRow("nonexistent candump log") << 4 << false << 0;
    QTest::newRow("unknown type") << 7 << true << 1;
}

void tst_KvSendFileThread::filesThatCannotBeReplayed()
{
    QFETCH(int, type);
    QFETCH(bool, exists);
    QFETCH(int, errors);
    KvSendFileThread replay(0);
    prepare(replay, type, "12345678", templateTask(1, 0));
    if (!exists)
        replay.setFileName(dir.filePath("missing"));
    QSignalSpy progress(&replay, &KvSendFileThread::progressValueChanged);
    QSignalSpy begin(&replay, &KvSendFileThread::begainSend);
    QSignalSpy tail(&replay, &KvSendFileThread::tailSignal);
    QSignalSpy error(&replay, &KvSendFileThread::errorSignal);
    replay.start();
    QVERIFY(replay.wait(5000));
    QCOMPARE(progress.count() + begin.count() + tail.count(), 0);
    QCOMPARE(error.count(), errors);
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(0));
}

void tst_KvSendFileThread::refusedFrameEndsTheReplay()
{
    KvSendFileThread replay(0);
    prepare(replay, 0, QByteArray(40, 'x'), taskObj()); // no frame: an all-zero one is used
    QSignalSpy tail(&replay, &KvSendFileThread::tailSignal);
    QSignalSpy error(&replay, &KvSendFileThread::errorSignal);
    const int countBefore = KvGlobalSet::instance().channelSets[0].sendCount;
    VSIM_ForceResult(4, 0, "VCI_Transmit", 0, 1);
    replay.start();
    QVERIFY(replay.wait(5000));
    QCOMPARE(error.count(), 1);
    QCOMPARE(tail.count(), 1);
    QCOMPARE(KvBuffer::instance(0).frames(), 1); // the refused frame is recorded as sent
    QCOMPARE(KvGlobalSet::instance().channelSets[0].sendCount, countBefore);
}

// "(1436509052.900000) can0 123#11" per time, one line each.
static QByteArray candumpLog(const QStringList &seconds)
{
    QByteArray log;
    for (const QString &t : seconds)
        log += "(" + t.toLatin1() + ") can0 123#11\n";
    return log;
}

void tst_KvSendFileThread::badStampsDoNotStallTheReplay_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("format"); // empty: by file type
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("maxGapMs"); // 0: the default
    QTest::addColumn<int>("frames");
    // A step back taken as unsigned would pause for days.
    QTest::newRow("CSV steps back") << 1 << "" << recording(1, {"5.0", "1.0", "1.01"}) << 0ll << 3;
    QTest::newRow("ASC from other tools steps back")
        << 3 << "" << recording(3, {"5.0", "1.0", "1.001"}) << 0ll << 3;
    QTest::newRow("candump log steps before its first frame")
        << 4 << "" << recording(4, {"1436509052.0", "1436509051.0", "1436509051.001"}) << 0ll << 3;
    // Paced from the bad stamp, the last frame would wait 100 seconds.
    const QByteArray stepBack = candumpLog({"100.0", "100.1", "0.5", "100.2"});
    QTest::newRow("one stamp steps back") << 4 << "candump" << stepBack << 10000ll << 4;
    QTest::newRow("one stamp steps back, file type") << 4 << "" << stepBack << 10000ll << 4;
    QTest::newRow("an hour's gap is cut to the maximum gap")
        << 4 << "candump" << candumpLog({"0.0", "3600.0"}) << 100ll << 2;
}

void tst_KvSendFileThread::badStampsDoNotStallTheReplay()
{
    QFETCH(int, type);
    QFETCH(QString, format);
    QFETCH(QByteArray, content);
    QFETCH(qint64, maxGapMs);
    QFETCH(int, frames);
    KvSendFileThread replay(0);
    prepare(replay, type, content);
    replay.setFormat(format);
    if (maxGapMs > 0)
        replay.setMaxGap(maxGapMs);
    replay.start();
    QVERIFY(replay.wait(5000));
    QCOMPARE(replay.sentFrames(), qint64(frames));
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(frames));
}

void tst_KvSendFileThread::stopEndsALongPauseAtOnce()
{
    KvSendFileThread replay(0);
    prepare(replay, 4, candumpLog({"0.0", "600.0"}));
    replay.setFormat(QStringLiteral("candump"));
    replay.setMaxGap(1000000);
    Progress p(&replay);
    replay.start();
    QTRY_COMPARE(p.valuesNow().size(), 2); // the first frame is out, the pause has begun
    QElapsedTimer clock;
    clock.start();
    replay.stop();
    QVERIFY(replay.wait(5000));
    QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(replay.endReason(), KvSendFileThread::Stopped);
}

void tst_KvSendFileThread::badLinesAreSkippedAndCounted_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("content");
    const QByteArray csv = "No.,Dir,Time-1,Ch,ID,Type,Format,DLC,Data\n"
                           "0,Rx,00:00:00:000,0,123,Data,Std,1,11\n\n"
                           "1,Rx,broken\r2,Rx,00:00:00:001,0,124,Data,Std,1,22\r\n"
                           "3,Rx,00:00:00:002,0,125,Data,Std,9,22\n"
                           "4,Rx,00:00:00:003,0,126,Data,Std,1,33\n";
    QTest::newRow("csv, file type") << 1 << "" << csv;
    QTest::newRow("csv, by format") << 1 << "csv" << csv;
    QTest::newRow("candump with an FD frame")
        << 4 << "candump"
        << QByteArray("(1.0) can0 123#11\n(x) can0 1#\n(1.001) can0 124##1AA\n"
                      "(1.002) can0 124#22\nrubbish\n(1.003) can0 126#33\n");
}

void tst_KvSendFileThread::badLinesAreSkippedAndCounted()
{
    QFETCH(int, type);
    QFETCH(QString, format);
    QFETCH(QByteArray, content);
    KvSendFileThread replay(0);
    prepare(replay, type, content);
    replay.setFormat(format);
    QSignalSpy skips(&replay, &KvSendFileThread::skippedSignal);
    replay.start();
    QVERIFY(replay.wait(5000));
    const qint64 expectedSkips = format.isEmpty() ? 3 : format == "csv" ? 2 : 3;
    QCOMPARE(replay.sentFrames(), 3);
    QCOMPARE(replay.skippedLines(), expectedSkips);
    QCOMPARE(skips.count(), int(expectedSkips));
    QCOMPARE(replay.endReason(), KvSendFileThread::EndOfData);
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(3));
}

void tst_KvSendFileThread::unreadableFilesAreReported_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("reason");
    QByteArray noise(5000, 'x');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char(i * 7919 % 251);
    const int refused = KvSendFileThread::Refused;
    QTest::newRow("random bytes as candump") << "candump" << noise << refused;
    QTest::newRow("empty file") << "asc" << QByteArray() << refused;
    QTest::newRow("candump as blf") << "blf" << candumpLog({"1.0"}) << refused;
    QByteArray blf("LOGG\x90\0\0\0", 8);
    blf += QByteArray(136, '\0') + "LOBJ" + QByteArray(4, '\0') +
           QByteArray("\x00\x10\0\0\x0a\0\0\0", 8);
    QTest::newRow("truncated blf") << "blf" << blf << int(KvSendFileThread::ReadError);
}

void tst_KvSendFileThread::unreadableFilesAreReported()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, content);
    QFETCH(int, reason);
    KvSendFileThread replay(0);
    prepare(replay, 4, content);
    replay.setFormat(format);
    QSignalSpy begin(&replay, &KvSendFileThread::begainSend);
    replay.start();
    QVERIFY(replay.wait(5000));
    QCOMPARE(int(replay.endReason()), reason);
    QVERIFY(!replay.errorString().isEmpty());
    QCOMPARE(replay.sentFrames(), 0);
    QCOMPARE(begin.count(), reason == int(KvSendFileThread::Refused) ? 0 : 1);
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(0));
}

QTEST_GUILESS_MAIN(tst_KvSendFileThread)
#include "tst_kvsendfilethread.moc"
