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
    void textFormatsSendEveryFrame_data();
    void textFormatsSendEveryFrame();
    void gapsArePaced_data();
    void gapsArePaced();
    void stepBackGivesNoPause_data();
    void stepBackGivesNoPause();
    void stopDuringALongPauseStillSendsTheFrame_data();
    void stopDuringALongPauseStillSendsTheFrame();
    void filesThatCannotBeReplayed_data();
    void filesThatCannotBeReplayed();
    void refusedFrameEndsTheReplay();

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
    prepare(replay, 0, content, templateTask(0x1234567, 1));
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

void tst_KvSendFileThread::textFormatsSendEveryFrame_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("CSV") << 1;
    QTest::newRow("our own ASC") << 2;
    QTest::newRow("ASC from other tools") << 3;
    QTest::newRow("candump log") << 4;
}

void tst_KvSendFileThread::textFormatsSendEveryFrame()
{
    QFETCH(int, type);
    KvSendFileThread replay(0);
    prepare(replay, type, recording(type, {"0.000000", "0.001000", "0.002000"}),
            templateTask(0x555, 1));
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
    const QList<int> progress = p.valuesNow();
    QCOMPARE(progress.size(), 4);
    QCOMPARE(progress.first(), 0);
    QCOMPARE(progress.last(), 100);
    VCI_CAN_OBJ sent[4];
    QCOMPARE(VSIM_TakeSent(4, 0, 0, sent, 4), 3u);
    const auto frame = [&sent](int i) {
        return QStringLiteral("%1 %2%3 %4 %5")
            .arg(sent[i].ID, 0, 16)
            .arg(sent[i].ExternFlag ? "x" : "")
            .arg(sent[i].RemoteFlag ? "r" : "d")
            .arg(sent[i].DataLen)
            .arg(sent[i].Data[0], 2, 16, QLatin1Char('0'));
    };
    QCOMPARE(QStringList({frame(0), frame(1), frame(2)}),
             QStringList({"123 d 2 11", "1a2b3c xd 1 33", "7df r 4 00"}));
    QCOMPARE(sent[0].Data[1], quint8(0x22));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(sent[i].SendType, quint8(1)); // the task frame's, which no recording carries
        QCOMPARE(sent[i].TimeStamp, 0u);       // the recording's stamps never reach the adapter
    }
    // The readers of other tools' forms clear what a frame does not carry.
    if (type >= 3)
        QCOMPARE(sent[1].Data[1], quint8(0));
    QCOMPARE(KvGlobalSet::instance().channelSets[0].sendCount - countBefore, 3);
    QCOMPARE(KvBuffer::instance(0).frames(), 3);
}

void tst_KvSendFileThread::gapsArePaced_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("seconds");
    QTest::newRow("CSV") << 1 << QStringList{"1.000", "1.250", "1.300"};
    QTest::newRow("ASC from other tools") << 3 << QStringList{"1.000000", "1.250000", "1.300000"};
    QTest::newRow("candump log") << 4
                                 << QStringList{"1436509052.900000", "1436509053.150000",
                                                "1436509053.200000"};
    // 429496.7296 s is 2^32 stamp units: the second gap crosses the wrap of the stamps.
    QTest::newRow("across the wrap of the stamps")
        << 3 << QStringList{"429496.4296", "429496.6796", "429496.7796"};
}

void tst_KvSendFileThread::gapsArePaced()
{
    QFETCH(int, type);
    QFETCH(QStringList, seconds);
    KvSendFileThread replay(0);
    prepare(replay, type, recording(type, seconds));
    Progress p(&replay);
    replay.start();
    QVERIFY(replay.wait(10000));
    const QList<qint64> times = p.timesNow();
    QCOMPARE(times.size(), 4);
    const qint64 first = times.at(2) - times.at(1);
    const qint64 second = times.at(3) - times.at(2);
    // Order of magnitude only: a pause of 250 ms, then one of 50 ms (100 ms across the wrap).
    QVERIFY2(first >= 240 && first < 2000, qPrintable(QString::number(first)));
    QVERIFY2(second >= 40 && second < 1000, qPrintable(QString::number(second)));
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(3));
}

void tst_KvSendFileThread::stepBackGivesNoPause_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("seconds");
    QTest::newRow("CSV") << 1 << QStringList{"5.0", "1.0", "1.01"};
    QTest::newRow("ASC from other tools") << 3 << QStringList{"5.0", "1.0", "1.001"};
    QTest::newRow("candump log before its first frame")
        << 4 << QStringList{"1436509052.0", "1436509051.0", "1436509051.001"};
}

void tst_KvSendFileThread::stepBackGivesNoPause()
{
    QFETCH(int, type);
    QFETCH(QStringList, seconds);
    KvSendFileThread replay(0);
    prepare(replay, type, recording(type, seconds));
    replay.start();
    QVERIFY(replay.wait(5000)); // an unsigned step back would pause for days
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(3));
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

QTEST_GUILESS_MAIN(tst_KvSendFileThread)
#include "tst_kvsendfilethread.moc"
