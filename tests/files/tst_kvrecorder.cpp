#include "formatframes.h"

#include "candata.h"
#include "canobj.h"
#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvglobalset.h"
#include "kvpipe.h"
#include "kvrecordclock_p.h"
#include "kvrecorder.h"
#include "vci_sim.h"

#include <QtCore/QDateTime>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(KvCanObj)

// The recorder on four wired simulated channels: what the simulator put on the bus is what the
// files hold, read back by our readers and python-can's; rotation; failures that keep what was
// written.
namespace {

const quint32 Type = 14; // four channels

// One line per frame, the part every format keeps: channel, direction, identifier, kind, bytes.
QString describe(int channel, bool tx, quint32 id, bool extended, bool remote, int dlc,
                 const quint8 *data)
{
    const QByteArray bytes = remote ? QByteArray() : QByteArray((const char *)data, dlc);
    return QStringLiteral("ch%1 %2 %3%4%5 %6 %7")
        .arg(channel)
        .arg(tx ? "Tx" : "Rx")
        .arg(id, 0, 16)
        .arg(extended ? "x" : "")
        .arg(remote ? "r" : "")
        .arg(dlc)
        .arg(QString::fromLatin1(bytes.toHex()));
}

// Standard, extended and remote frames of every length 0 to 8, different on each channel.
CanData framesFor(int channel, int rounds)
{
    CanData data;
    for (int r = 0; r < rounds; ++r) {
        for (int dlc = 0; dlc <= 8; ++dlc) {
            for (int kind = 0; kind < 4; ++kind) {
                CanObj f;
                f.ExternFlag = kind & 1;
                f.RemoteFlag = kind >> 1;
                f.ID = (f.ExternFlag ? 0x1ABC0000u : 0x100u) + quint32(channel * 0x40 + dlc);
                f.DataLen = quint8(dlc);
                for (int i = 0; i < dlc; ++i)
                    f.Data[i] = quint8(r * 16 + i + channel);
                data.push(f);
            }
        }
    }
    return data;
}

// What each channel of the simulator sent, as the recording should show it: every sent frame as
// Tx on its channel and as Rx on the channel wired to it. Sorted per channel and direction,
// since the file interleaves channels by time.
QMap<QString, QStringList> simulatorSaw(const QVector<QPair<int, int>> &wires)
{
    QMap<QString, QStringList> saw;
    for (const auto &w : wires) {
        for (int side = 0; side < 2; ++side) {
            const int from = side ? w.second : w.first, to = side ? w.first : w.second;
            QVector<VCI_CAN_OBJ> sent(100000);
            sent.resize(int(VSIM_TakeSent(Type, 0, quint32(from), sent.data(), 100000)));
            for (const VCI_CAN_OBJ &f : sent) {
                for (const bool tx : {true, false})
                    saw[QStringLiteral("%1 %2").arg(tx ? from : to).arg(tx ? "Tx" : "Rx")]
                        << describe(tx ? from : to, tx, f.ID, f.ExternFlag, f.RemoteFlag, f.DataLen,
                                    f.Data);
            }
        }
    }
    return saw;
}

QMap<QString, QStringList> byChannel(const QVector<KvFrame> &frames)
{
    QMap<QString, QStringList> got;
    for (const KvFrame &f : frames)
        got[QStringLiteral("%1 %2").arg(f.channel).arg(f.tx ? "Tx" : "Rx")]
            << describe(f.channel, f.tx, f.id, f.extended, f.remote, f.dlc, f.data);
    return got;
}

KvCanObj record(bool send, quint32 stamp, int h, int m, int s, int ms)
{
    KvCanObj r;
    r.send = send;
    r.frame.TimeStamp = stamp;
    r.hour = h;
    r.minute = m;
    r.second = s;
    r.msec = ms;
    return r;
}

quint32 inject(int channel, int count)
{
    QVector<VCI_CAN_OBJ> frames(count);
    for (int i = 0; i < count; ++i) {
        frames[i].ID = quint32(i) & 0x7FF; // standard identifiers, as an adapter delivers them
        frames[i].DataLen = 8;
        frames[i].TimeStamp = 1 + quint32(i);
    }
    return VSIM_Inject(Type, 0, quint32(channel), frames.constData(), quint32(count));
}

} // namespace

class tst_KvRecorder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void clock_data();
    void clock();
    void recordsWhatTheBusCarried_data();
    void recordsWhatTheBusCarried();
    void rotation_data();
    void rotation();
    void refusedAtStart_data();
    void refusedAtStart();
    void diskFills_data();
    void diskFills();
    void dropsAreCountedAndNoted();

private:
    bool startFourChannels(KvDeviceSession &session);
    QTemporaryDir dir;
    bool havePython = false;
};

void tst_KvRecorder::initTestCase()
{
    havePython = formats::havePythonCan();
}

void tst_KvRecorder::init()
{
    VSIM_Reset();
    for (int ch = 0; ch < 4; ++ch) {
        KvBuffer::instance(ch).reset();
        KvPipe::instance(ch).clear();
        KvGlobalSet::instance().channelSets[ch].receiveCount = 0;
    }
}

bool tst_KvRecorder::startFourChannels(KvDeviceSession &session)
{
    session.setDevice(Type, 0);
    for (int ch = 0; ch < 4; ++ch)
        session.addChannel(ch, 1000000);
    return session.start() && session.wire(0, 1) && session.wire(2, 3);
}

void tst_KvRecorder::clock_data()
{
    QTest::addColumn<QVector<KvCanObj>>("records");
    QTest::addColumn<QVector<qint64>>("ms"); // expected times in ms since the start 10:00:00.000
    QTest::newRow("sent frames at host time")
        << QVector<KvCanObj>{record(true, 0, 10, 0, 1, 250), record(true, 0, 10, 0, 2, 7)}
        << QVector<qint64>{1250, 2007};
    QTest::newRow("received frames anchored on the first, spaced by the adapter")
        << QVector<KvCanObj>{record(false, 50000, 10, 0, 1, 250),
                             record(false, 50123, 10, 0, 1, 250), record(true, 0, 10, 0, 2, 0)}
        << QVector<qint64>{1250, 1262, 2000};
    QTest::newRow("adapter stamp wraps")
        << QVector<KvCanObj>{record(false, 0xFFFFFF00u, 10, 0, 0, 0),
                             record(false, 0x100u, 10, 0, 0, 0)}
        << QVector<qint64>{0, 0}; // 512 units later, 51.2 ms: checked below
    QTest::newRow("midnight passes")
        << QVector<KvCanObj>{record(true, 0, 23, 59, 59, 0), record(true, 0, 0, 0, 1, 0)}
        << QVector<qint64>{50399000, 50401000};
    QTest::newRow("host clock steps back an hour: held")
        << QVector<KvCanObj>{record(true, 0, 11, 0, 0, 0), record(true, 0, 10, 0, 5, 0)}
        << QVector<qint64>{3600000, 3600000};
    QTest::newRow("frame from before the start is at 0")
        << QVector<KvCanObj>{record(true, 0, 9, 59, 59, 999)} << QVector<qint64>{0};
}

void tst_KvRecorder::clock()
{
    QFETCH(QVector<KvCanObj>, records);
    QFETCH(QVector<qint64>, ms);
    kavri::detail::RecordClock clock(10 * 3600 * 1000);
    QVector<qint64> got;
    QVector<qint64> ns;
    for (const KvCanObj &r : records) {
        ns << clock.timeNs(r);
        got << ns.last() / 1000000;
    }
    if (QTest::currentDataTag() == QLatin1String("adapter stamp wraps"))
        QCOMPARE(ns[1] - ns[0], qint64(0x200) * 100000);
    else
        QCOMPARE(got, ms);
}

void tst_KvRecorder::recordsWhatTheBusCarried_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("python"); // python-can's reader, empty for none
    QTest::addColumn<bool>("perChannel");
    QTest::newRow("asc") << "asc"
                         << "trace.asc"
                         << "asc" << false;
    QTest::newRow("asc as other tools write it") << "asclog"
                                                 << "other.asc"
                                                 << "asc" << false;
    QTest::newRow("blf") << "blf"
                         << "trace.blf"
                         << "blf" << false;
    QTest::newRow("candump") << "candump"
                             << "trace.log"
                             << "candump" << false;
    QTest::newRow("csv") << "csv"
                         << "trace.csv"
                         << "" << false;
    QTest::newRow("blf, a file per channel") << "blf"
                                             << "split.blf"
                                             << "blf" << true;
}

void tst_KvRecorder::recordsWhatTheBusCarried()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    QFETCH(QString, python);
    QFETCH(bool, perChannel);

    KvDeviceSession session;
    QVERIFY2(startFourChannels(session), qPrintable(session.errorString()));
    KvRecorder recorder(session);
    recorder.setFormat(format);
    recorder.setFilePerChannel(perChannel);
    const QString path = dir.filePath(file);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QVERIFY2(recorder.start(path), qPrintable(recorder.errorString()));

    qint64 expected = 0;
    for (int ch = 0; ch < 4; ++ch) {
        const CanData frames = framesFor(ch, 3);
        expected += 2 * frames.size(); // Tx here, Rx on the wired channel
        KvPipe::instance(ch).push(frames);
    }
    QTRY_COMPARE_WITH_TIMEOUT(recorder.status().frames, expected, 20000);
    session.stop();
    recorder.stop();
    const KvRecorderStatus status = recorder.status();
    QVERIFY(!status.recording);
    QCOMPARE(status.dropped, quint64(0));
    QVERIFY(status.error.isEmpty());
    QCOMPARE(recorder.files().size(), perChannel ? 4 : 1);

    const QMap<QString, QStringList> saw = simulatorSaw({{0, 1}, {2, 3}});
    QVector<KvFrame> ours, theirs;
    for (const QString &f : recorder.files()) {
        QString error;
        qint64 epochNs = 0;
        const QVector<KvFrame> frames = formats::readOurs(f, &error, &epochNs);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        ours += frames;
        for (int i = 0; i < frames.size(); ++i) {
            const qint64 t = frames[i].timeNs, before = i > 0 ? frames[i - 1].timeNs : 0;
            QVERIFY2(t >= before && t < 60000000000, qPrintable(QString::number(t - before)));
        }
        if (format == "asc" || format == "asclog" || format == "blf")
            QVERIFY(qAbs(epochNs / 1000000 - before) < 60000);
        if (!python.isEmpty() && havePython) {
            theirs += formats::readByPython(python, f, &error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
        }
    }
    QCOMPARE(byChannel(ours), saw);
    if (python.isEmpty())
        return;
    if (!havePython)
        QSKIP("python-can is not installed for /usr/bin/python3 (Debian's python3-can)");
    QCOMPARE(byChannel(theirs), saw);
}

void tst_KvRecorder::rotation_data()
{
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<qint64>("maxMs");
    QTest::addColumn<int>("minFiles");
    // 400 ASC lines of about 40 bytes; frames 0.5 s apart on the adapter's clock over 3.5 s.
    QTest::newRow("by size") << qint64(4000) << qint64(0) << 3;
    QTest::newRow("by time") << qint64(0) << qint64(1000) << 3;
}

void tst_KvRecorder::rotation()
{
    QFETCH(qint64, maxBytes);
    QFETCH(qint64, maxMs);
    QFETCH(int, minFiles);

    KvDeviceSession session;
    QVERIFY(startFourChannels(session));
    KvRecorder recorder(session);
    recorder.setChannels({1});
    recorder.setMaxFileSize(maxBytes);
    recorder.setMaxFileTime(maxMs);
    QVERIFY(recorder.start(dir.filePath(QStringLiteral("rot%1.asc").arg(maxMs))));
    const int frames = 400;
    // 400 frames on the adapter's clock over 3.5 s, in steps: size rotation is between batches.
    for (int i = 0; i < frames; i += 40) {
        QVector<VCI_CAN_OBJ> step(40);
        for (int k = 0; k < 40; ++k) {
            step[k].ID = quint32(i + k);
            step[k].DataLen = 8;
            step[k].TimeStamp = 1 + quint32(i + k) * 87;
        }
        QCOMPARE(VSIM_Inject(Type, 0, 1, step.constData(), 40), 40u);
        QTRY_COMPARE(recorder.status().frames, qint64(i + 40));
    }
    recorder.stop();
    session.stop();

    const QStringList files = recorder.files();
    QVERIFY2(files.size() >= minFiles, qPrintable(files.join(' ')));
    QVector<quint32> ids;
    for (int i = 0; i < files.size(); ++i) {
        QVERIFY(files[i].endsWith(QStringLiteral("-%1.asc").arg(i + 1, 4, 10, QChar('0'))));
        QString error;
        const QVector<KvFrame> list = formats::readOurs(files[i], &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!list.isEmpty());
        for (const KvFrame &f : list) {
            ids << f.id;
            QVERIFY(f.timeNs >= 0);
            if (maxMs > 0)
                QVERIFY2(f.timeNs < maxMs * 1000000, qPrintable(QString::number(f.timeNs)));
        }
    }
    QCOMPARE(ids.size(), frames);
    for (int i = 0; i < frames; ++i)
        QCOMPARE(ids[i], quint32(i));
}

void tst_KvRecorder::refusedAtStart_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << "missing/x.asc"
                                    << ""
                                    << "missing/x.asc: ";
    QTest::newRow("a folder") << "folder.asc"
                              << ""
                              << "folder.asc: not a regular file";
    QTest::newRow("read-only format") << "x.bin"
                                      << ""
                                      << "no writable format for ";
    QTest::newRow("unknown format") << "x.asc"
                                    << "mp3"
                                    << "no writable format for ";
}

void tst_KvRecorder::refusedAtStart()
{
    QFETCH(QString, path);
    QFETCH(QString, format);
    QFETCH(QString, reason);
    QDir(dir.path()).mkpath(QStringLiteral("folder.asc"));
    KvDeviceSession session;
    QVERIFY(startFourChannels(session));
    KvRecorder recorder(session);
    recorder.setFormat(format);
    QSignalSpy errors(&recorder, &KvRecorder::errorSignal);
    QVERIFY(!recorder.start(dir.filePath(path)));
    QVERIFY2(recorder.errorString().contains(reason), qPrintable(recorder.errorString()));
    QCOMPARE(errors.count(), 1);
    QVERIFY(!recorder.isRecording());
    // The session runs on.
    QCOMPARE(inject(0, 5), 5u);
    QTRY_COMPARE(session.status(0).received, 5);
}

void tst_KvRecorder::diskFills_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("rlimit"); // a real file-size limit, else the writer's fault hook
    QTest::addColumn<QString>("reason");
    QTest::newRow("asc, space limit") << "full.asc" << false << "No space left on device";
    QTest::newRow("blf, space limit") << "full.blf" << false << "No space left on device";
    QTest::newRow("candump, file-size limit") << "full.log" << true << "File too large";
}

void tst_KvRecorder::diskFills()
{
    QFETCH(QString, file);
    QFETCH(bool, rlimit);
    QFETCH(QString, reason);

    KvDeviceSession session;
    QVERIFY(startFourChannels(session));
    KvRecorder recorder(session);
    recorder.setChannels({0});
    rlimit64 saved{};
    if (rlimit) {
        // The kernel refuses writes beyond the limit (EFBIG) instead of killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit64(RLIMIT_FSIZE, &saved);
        rlimit64 small = saved;
        small.rlim_cur = 8192;
        QCOMPARE(setrlimit64(RLIMIT_FSIZE, &small), 0);
    } else {
        recorder.setSpaceLimit(8192);
    }
    QSignalSpy errors(&recorder, &KvRecorder::errorSignal);
    QSignalSpy finished(&recorder, &KvRecorder::finished);
    QVERIFY(recorder.start(dir.filePath(file)));
    // Many more frames than fit, in steps, so that some reach the file before it is full.
    // A BLF file grows a container at a time, at the recorder's flushes: each step waits until
    // the file has grown.
    quint32 injected = 0;
    for (int i = 0; i < 100 && recorder.isRecording(); ++i) {
        const qint64 bytes = recorder.status().bytes;
        injected += inject(0, 200);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.status().bytes > bytes || !recorder.isRecording(), 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 20000);
    recorder.stop(); // joins the thread: the spies are safe to read now
    if (rlimit)
        setrlimit64(RLIMIT_FSIZE, &saved);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(finished.count(), 1);
    QVERIFY2(errors.at(0).at(0).toString().contains(reason), qPrintable(recorder.errorString()));
    QCOMPARE(recorder.status().error, recorder.errorString());

    // What reached the file reads back: frames 0, 1, 2, ... in order, fewer than were sent.
    QString error;
    const QVector<KvFrame> list = formats::readOurs(dir.filePath(file), &error);
    QVERIFY(!list.isEmpty());
    for (int i = 0; i < list.size(); ++i)
        QCOMPARE(list[i].id, quint32(i % 200));
    QVERIFY(QFileInfo(dir.filePath(file)).size() <= 8192);

    // The channels go on receiving without the recorder (once the last step has arrived).
    QTRY_COMPARE(session.status(0).received, int(injected));
    inject(0, 10);
    QTRY_COMPARE(session.status(0).received, int(injected) + 10);
}

void tst_KvRecorder::dropsAreCountedAndNoted()
{
    KvDeviceSession session;
    QVERIFY(startFourChannels(session));
    KvRecorder recorder(session);
    recorder.setChannels({2});
    recorder.setBound(10);
    recorder.setPaused(false);
    const QString path = dir.filePath(QStringLiteral("drops.asc"));
    QVERIFY(recorder.start(path));
    // One adapter read delivers up to its whole batch at once: beyond 10 frames, the rest drop.
    QCOMPARE(inject(2, 3000), 3000u);
    QTRY_COMPARE(session.status(2).received, 3000);
    session.stop();
    recorder.stop();
    const KvRecorderStatus status = recorder.status();
    QVERIFY(status.dropped > 0);
    QCOMPARE(quint64(status.frames) + status.dropped, quint64(3000));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    quint64 noted = 0;
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith("// ch3: ")) {
            QVERIFY(line.endsWith(" frames dropped"));
            noted += line.split(' ').at(2).toULongLong();
        }
    }
    QCOMPARE(noted, status.dropped);
    QString error;
    QCOMPARE(formats::readOurs(path, &error).size(), int(status.frames));
    QVERIFY(error.isEmpty());
}

QTEST_MAIN(tst_KvRecorder)
#include "tst_kvrecorder.moc"
