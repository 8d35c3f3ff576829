#include "devcan.h"
#include "kvbuffer.h"
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

    void binaryFrames_data();
    void binaryFrames();
    void csvGapsArePaced();
    void csvStepBackGivesNoPause();
    void stopDuringALongPauseStillSendsTheFrame();
    void ascSendsEveryLine();
    void stampedFormatsSendEveryFrame_data();
    void stampedFormatsSendEveryFrame();
    void stampedGapsArePaced_data();
    void stampedGapsArePaced();
    void stampedStepBackGivesNoPause_data();
    void stampedStepBackGivesNoPause();
    void stopDuringAStampedPause();
    void filesThatCannotBeReplayed_data();
    void filesThatCannotBeReplayed();
    void refusedFrameEndsTheReplay();

private:
    QString write(const QString &name, const QByteArray &content);
    static taskObj templateTask(quint32 id, quint8 ext, int interval = 0);
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

void tst_KvSendFileThread::init()
{
    QVERIFY(startSimulatedDevice(1));
    KvBuffer::instance(0).reset();
}

void tst_KvSendFileThread::binaryFrames_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<QList<int>>("lengths");
    QTest::newRow("empty file") << 0 << QList<int>{0} << QList<int>{};
    QTest::newRow("20 bytes") << 20 << QList<int>{0, 40, 80, 100} << QList<int>{8, 8, 4};
    QTest::newRow("16 bytes") << 16 << QList<int>{0, 50, 100} << QList<int>{8, 8};
}

void tst_KvSendFileThread::binaryFrames()
{
    QFETCH(int, bytes);
    QFETCH(QList<int>, progress);
    QFETCH(QList<int>, lengths);
    QByteArray content;
    for (int i = 0; i < bytes; ++i)
        content += char(i + 1);
    KvSendFileThread replay(0);
    replay.setFileType(0);
    replay.setFileName(write("image.bin", content));
    replay.setParameter(templateTask(0x1234567, 1));
    Progress p(&replay);
    QSignalSpy begin(&replay, &KvSendFileThread::begainSend);
    QSignalSpy tail(&replay, &KvSendFileThread::tailSignal);
    QSignalSpy error(&replay, &KvSendFileThread::errorSignal);
    const int countBefore = KvGlobalSet::instance().channelSets[0].sendCount;
    replay.start();
    QVERIFY(replay.wait(10000));

    QCOMPARE(p.valuesNow(), progress);
    QCOMPARE(begin.count(), 1);
    QCOMPARE(tail.count(), 1);
    QCOMPARE(error.count(), 0);
    VCI_CAN_OBJ sent[8];
    QCOMPARE(VSIM_TakeSent(4, 0, 0, sent, 8), uint(lengths.size()));
    for (int i = 0; i < lengths.size(); ++i) {
        QCOMPARE(int(sent[i].DataLen), lengths.at(i));
        QCOMPARE(sent[i].ID, 0x1234567u);
        QCOMPARE(sent[i].ExternFlag, quint8(1));
        QCOMPARE(sent[i].SendType, quint8(1));
        QCOMPARE(sent[i].Data[0], quint8(i * 8 + 1));
    }
    QCOMPARE(KvGlobalSet::instance().channelSets[0].sendCount - countBefore, lengths.size());
    QCOMPARE(KvBuffer::instance(0).frames(), lengths.size());
}

static QByteArray csv(const QStringList &times)
{
    QByteArray text = "Index,Dir,Time-1,Ch,ID,Type,Format,DLC,Data\n";
    for (int i = 0; i < times.size(); ++i)
        text += QStringLiteral("%1,Rx,%2,0,123,Data,Standard,1,%3\n")
                    .arg(i)
                    .arg(times.at(i))
                    .arg(i + 1)
                    .toLatin1();
    return text;
}

void tst_KvSendFileThread::csvGapsArePaced()
{
    KvSendFileThread replay(0);
    replay.setFileType(1);
    replay.setFileName(write("gaps.csv", csv({"00:00:01:000", "00:00:01:250", "00:00:01:300"})));
    replay.setParameter(templateTask(0, 0));
    Progress p(&replay);
    replay.start();
    QVERIFY(replay.wait(10000));
    const QList<qint64> times = p.timesNow();
    QCOMPARE(times.size(), 4);
    const qint64 first = times.at(2) - times.at(1);
    const qint64 second = times.at(3) - times.at(2);
    // Order of magnitude only: a pause of 250 ms, then one of 50 ms.
    QVERIFY2(first >= 240 && first < 2000, qPrintable(QString::number(first)));
    QVERIFY2(second >= 40 && second < 1000, qPrintable(QString::number(second)));
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(3));
}

void tst_KvSendFileThread::csvStepBackGivesNoPause()
{
    KvSendFileThread replay(0);
    replay.setFileType(1);
    replay.setFileName(write("back.csv", csv({"00:00:05:000", "00:00:01:000", "00:00:01:010"})));
    replay.setParameter(templateTask(0, 0));
    replay.start();
    QVERIFY(replay.wait(5000)); // an unsigned step back would pause for weeks
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(3));
}

void tst_KvSendFileThread::stopDuringALongPauseStillSendsTheFrame()
{
    KvSendFileThread replay(0);
    replay.setFileType(1);
    replay.setFileName(write("long.csv", csv({"00:00:00:000", "00:10:00:000", "00:20:00:000"})));
    replay.setParameter(templateTask(0, 0));
    QSignalSpy tail(&replay, &KvSendFileThread::tailSignal);
    replay.start();
    QTRY_COMPARE(VSIM_SentTotal(4, 0, 0), quint64(1));
    replay.stop();
    QVERIFY(replay.wait(5000));
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(2));
    QCOMPARE(tail.count(), 1);
}

void tst_KvSendFileThread::ascSendsEveryLine()
{
    const QByteArray asc = "header one\nheader two\n"
                           "0.001000 1 123 Rx d 2 11 22\n"
                           "0.002000 1 1A2B3Cx Rx d 1 33\n"
                           "0.003000 1 7DF Rx r 0\n"
                           "End TriggerBlock\n";
    KvSendFileThread replay(0);
    replay.setFileType(2);
    replay.setFileName(write("trace.asc", asc));
    replay.setParameter(templateTask(0, 0));
    replay.start();
    QVERIFY(replay.wait(10000));
    VCI_CAN_OBJ sent[4];
    QCOMPARE(VSIM_TakeSent(4, 0, 0, sent, 4), 3u);
    QCOMPARE(sent[0].ID, 0x123u);
    QCOMPARE(sent[0].Data[1], quint8(0x22));
    QCOMPARE(sent[1].ID, 0x1A2B3Cu);
    QCOMPARE(sent[1].ExternFlag, quint8(1));
    QCOMPARE(sent[2].RemoteFlag, quint8(1));
    QCOMPARE(sent[2].TimeStamp, 0u); // the recording's stamps never reach the adapter
}

// Three frames in the form of file type 3 (ASC as other tools write it) or 4 (candump log), at
// the given seconds: standard data, extended data, standard remote.
static QByteArray stamped(int type, const QStringList &seconds)
{
    QByteArray text =
        type == 3 ? "date Fri Jul 10 06:17:32 2015\nbase hex  timestamps absolute\n" : "";
    const char *const asc[] = {"1  123             Rx   d 2 11 22",
                               "1  1A2B3Cx         Rx   d 1 33", "2  7DF             Tx   r 4"};
    const char *const log[] = {"can0 123#1122", "can0 001A2B3C#33 R", "can1 7DF#R4"};
    for (int i = 0; i < seconds.size(); ++i) {
        const QByteArray t = seconds.at(i).toLatin1();
        text +=
            type == 3 ? "   " + t + ' ' + asc[i % 3] + '\n' : '(' + t + ") " + log[i % 3] + '\n';
    }
    return text;
}

void tst_KvSendFileThread::stampedFormatsSendEveryFrame_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("ASC from other tools") << 3;
    QTest::newRow("candump log") << 4;
}

void tst_KvSendFileThread::stampedFormatsSendEveryFrame()
{
    QFETCH(int, type);
    KvSendFileThread replay(0);
    replay.setFileType(type);
    replay.setFileName(write("frames.rec", stamped(type, {"0.000000", "0.001000", "0.002000"})));
    replay.setParameter(templateTask(0x555, 1));
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
    QCOMPARE(p.values.size(), 4);
    QCOMPARE(p.values.first(), 0);
    QCOMPARE(p.values.last(), 100);
    VCI_CAN_OBJ sent[4];
    QCOMPARE(VSIM_TakeSent(4, 0, 0, sent, 4), 3u);
    QCOMPARE(sent[0].ID, 0x123u);
    QCOMPARE(sent[0].ExternFlag, quint8(0));
    QCOMPARE(sent[0].DataLen, quint8(2));
    QCOMPARE(sent[0].Data[1], quint8(0x22));
    QCOMPARE(sent[0].SendType, quint8(1)); // the task frame's, which no recording carries
    QCOMPARE(sent[1].ID, 0x1A2B3Cu);
    QCOMPARE(sent[1].ExternFlag, quint8(1));
    QCOMPARE(sent[1].DataLen, quint8(1));
    QCOMPARE(sent[1].Data[1], quint8(0)); // nothing of the frame before stays
    QCOMPARE(sent[2].ID, 0x7DFu);
    QCOMPARE(sent[2].RemoteFlag, quint8(1));
    QCOMPARE(sent[2].DataLen, quint8(4));
    QCOMPARE(sent[2].TimeStamp, 0u);
    QCOMPARE(KvGlobalSet::instance().channelSets[0].sendCount - countBefore, 3);
    QCOMPARE(KvBuffer::instance(0).frames(), 3);
}

void tst_KvSendFileThread::stampedGapsArePaced_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("seconds");
    QTest::newRow("ASC from other tools") << 3 << QStringList{"1.000000", "1.250000", "1.300000"};
    QTest::newRow("candump log") << 4
                                 << QStringList{"1436509052.900000", "1436509053.150000",
                                                "1436509053.200000"};
    // 429496.7296 s is 2^32 stamp units: the second gap crosses the wrap of the stamps.
    QTest::newRow("across the wrap of the stamps")
        << 3 << QStringList{"429496.4296", "429496.6796", "429496.7796"};
}

void tst_KvSendFileThread::stampedGapsArePaced()
{
    QFETCH(int, type);
    QFETCH(QStringList, seconds);
    KvSendFileThread replay(0);
    replay.setFileType(type);
    replay.setFileName(write("gaps.rec", stamped(type, seconds)));
    replay.setParameter(templateTask(0, 0));
    Progress p(&replay);
    replay.start();
    QVERIFY(replay.wait(10000));
    QCOMPARE(p.times.size(), 4);
    const qint64 first = p.times.at(2) - p.times.at(1);
    const qint64 second = p.times.at(3) - p.times.at(2);
    // Order of magnitude only: a pause of 250 ms, then one of 50 ms (100 ms across the wrap).
    QVERIFY2(first >= 240 && first < 2000, qPrintable(QString::number(first)));
    QVERIFY2(second >= 40 && second < 1000, qPrintable(QString::number(second)));
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(3));
}

void tst_KvSendFileThread::stampedStepBackGivesNoPause_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("seconds");
    QTest::newRow("ASC from other tools") << 3 << QStringList{"5.0", "1.0", "1.001"};
    QTest::newRow("candump log before its first frame")
        << 4 << QStringList{"1436509052.0", "1436509051.0", "1436509051.001"};
}

void tst_KvSendFileThread::stampedStepBackGivesNoPause()
{
    QFETCH(int, type);
    QFETCH(QStringList, seconds);
    KvSendFileThread replay(0);
    replay.setFileType(type);
    replay.setFileName(write("back.rec", stamped(type, seconds)));
    replay.setParameter(templateTask(0, 0));
    replay.start();
    QVERIFY(replay.wait(5000)); // an unsigned step back would pause for days
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(3));
}

void tst_KvSendFileThread::stopDuringAStampedPause()
{
    KvSendFileThread replay(0);
    replay.setFileType(4);
    replay.setFileName(write("long.log", stamped(4, {"0.0", "600.0", "1200.0"})));
    replay.setParameter(templateTask(0, 0));
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
    replay.setFileType(type);
    replay.setFileName(exists ? write("any.bin", "12345678") : dir.filePath("missing"));
    replay.setParameter(templateTask(1, 0));
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
    replay.setFileType(0);
    replay.setFileName(write("img.bin", QByteArray(40, 'x')));
    replay.setParameter(taskObj()); // no frame: an all-zero one is used
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

QTEST_GUILESS_MAIN(tst_KvSendFileThread)
#include "tst_kvsendfilethread.moc"
