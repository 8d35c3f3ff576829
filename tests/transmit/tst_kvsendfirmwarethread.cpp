#include "canwritethread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvpipe.h"
#include "kvsendfirmwarethread.h"
#include "simulateddevice.h"
#include "vci_sim.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <atomic>

// Sanitizer builds keep shadow memory and quarantined blocks on purpose, and run this test's
// 64 MiB image many times slower: its memory bound is checked in the normal build only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kavriSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kavriSanitizer = true;
#else
constexpr bool kavriSanitizer = false;
#endif
#else
constexpr bool kavriSanitizer = false;
#endif

#include <sys/resource.h>
#include <sys/stat.h>

class tst_KvSendFirmwareThread : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void frameSequenceOnTheWire_data();
    void frameSequenceOnTheWire();
    void stopWhileThePipeIsFullStillEnds();
    void unreadableImageIsRefused_data();
    void unreadableImageIsRefused();
    void refusedTransmitEndsTheDownload();
    void largeImageStreamsInBoundedMemory();

private:
    QString image(const QByteArray &content);
    // Runs a download through channel 0's transmit thread and returns what reached the adapter.
    QVector<VCI_CAN_OBJ> download(const QString &file, QList<int> *progress = nullptr);
    QTemporaryDir dir;
};

QString tst_KvSendFirmwareThread::image(const QByteArray &content)
{
    QFile f(dir.filePath(QStringLiteral("fw-%1.bin").arg(content.size())));
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(content);
    return f.fileName();
}

void tst_KvSendFirmwareThread::init()
{
    QVERIFY(startSimulatedDevice(1));
    KvPipe::instance(0).clear();
    KvBuffer::instance(0).reset();
}

void tst_KvSendFirmwareThread::cleanup()
{
    KvPipe::instance(0).clear();
}

QVector<VCI_CAN_OBJ> tst_KvSendFirmwareThread::download(const QString &file, QList<int> *progress)
{
    CanWriteThread writer(0);
    // Set from the writer's thread: polled while it runs, so it must be an atomic (a spy's list
    // may only be read once its emitter has finished).
    std::atomic<bool> tail{false};
    connect(&writer, &CanWriteThread::tailSignal, [&tail] { tail = true; });
    KvSendFirmwareThread flash(0);
    flash.setFileName(file);
    QSignalSpy values(&flash, &KvSendFirmwareThread::progressValueChanged);
    writer.start();
    flash.start();
    // QVERIFY cannot return from a function with a value: check the outcome through the frames.
    flash.wait(60000);
    for (int i = 0; i < 6000 && !tail; ++i)
        QTest::qWait(10);
    writer.stop();
    writer.waitForFinish();
    if (progress)
        for (const QList<QVariant> &v : values)
            *progress << v.at(0).toInt();
    QVector<VCI_CAN_OBJ> sent(int(VSIM_SentTotal(4, 0, 0)));
    VSIM_TakeSent(4, 0, 0, sent.data(), uint(sent.size()));
    return sent;
}

void tst_KvSendFirmwareThread::frameSequenceOnTheWire_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("progress"); // empty: not checked
    QTest::addColumn<bool>("timedBus");
    QTest::newRow("empty") << 0 << QList<int>{0} << false;
    QTest::newRow("20 bytes") << 20 << QList<int>{0, 100} << false;
    QTest::newRow("48 bytes") << 48 << QList<int>{0, 50, 100} << false;
    QTest::newRow("1000 bytes") << 1000 << QList<int>() << false;
    // The adapter takes each burst at the bus's pace: the pipe stays full and the download
    // sleeps until it has drained to its refill mark, again and again.
    QTest::newRow("1000 bytes on a timed bus") << 1000 << QList<int>() << true;
}

void tst_KvSendFirmwareThread::frameSequenceOnTheWire()
{
    QFETCH(int, size);
    QFETCH(QList<int>, progress);
    QFETCH(bool, timedBus);
    VSIM_SetBusTiming(timedBus ? 1 : 0);
    QByteArray content;
    for (int i = 0; i < size; ++i)
        content += char(i * 7 + 3);
    QList<int> values;
    const QVector<VCI_CAN_OBJ> sent = download(image(content), &values);
    VSIM_SetBusTiming(0);
    if (!progress.isEmpty())
        QCOMPARE(values, progress);

    // Start, the image, end, digest and finish, all standard; 'r' marks a remote frame.
    QByteArray kinds, payload[5]; // by kind, 0x110 to 0x114
    for (const VCI_CAN_OBJ &f : sent) {
        const quint32 kind = f.ID - 0x110;
        QVERIFY2(kind < 5 && !f.ExternFlag, qPrintable(QString::number(f.ID, 16)));
        kinds += QByteArray::number(kind) + (f.RemoteFlag ? "r" : "");
        payload[kind].append(reinterpret_cast<const char *>(f.Data), f.DataLen);
    }
    QCOMPARE(kinds, "0r" + QByteArray((size + 7) / 8, '1') + "2r3334r");
    QCOMPARE(payload[1], content);
    QCOMPARE(payload[3], QCryptographicHash::hash(content, QCryptographicHash::Sha1));
    QCOMPARE(sent[sent.size() - 2].DataLen, quint8(4)); // the digest's 20 bytes as 8, 8, 4
}

void tst_KvSendFirmwareThread::stopWhileThePipeIsFullStillEnds()
{
    // No transmit thread: the pipe fills and the download waits on it.
    KvSendFirmwareThread flash(0);
    flash.setFileName(image(QByteArray(10000, 'y')));
    flash.start();
    QTRY_VERIFY(KvPipe::instance(0).count() > 10);
    flash.stop();
    QVERIFY(flash.wait(5000));
    KvPipe &pipe = KvPipe::instance(0);
    QCOMPARE(pipe.count(), 1 + 10 + 3); // start, ten image bursts, end, digest, finish
    for (int i = 0; i < 11; ++i)
        pipe.pop();
    QCOMPARE(pipe.pop().at(0).ID, 0x112u);
    const CanData digest = pipe.pop();
    QCOMPARE(digest.size(), 3);
    QCOMPARE(digest.at(0).ID, 0x113u);
    const CanData finish = pipe.pop();
    QCOMPARE(finish.at(0).ID, 0x114u);
    QCOMPARE(finish.at(0).TailFlag, quint8(1));
}

void tst_KvSendFirmwareThread::unreadableImageIsRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << dir.filePath("missing.bin");
    QTest::newRow("folder") << dir.path();
    QTest::newRow("/dev/null") << QStringLiteral("/dev/null");
    QTest::newRow("/dev/zero, which never ends") << QStringLiteral("/dev/zero");
    // Opening a FIFO blocks until a writer comes, and none will.
    const QString fifo = dir.filePath("fifo");
    if (mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0)
        QTest::newRow("FIFO") << fifo;
}

void tst_KvSendFirmwareThread::unreadableImageIsRefused()
{
    QFETCH(QString, path);
    KvSendFirmwareThread flash(0);
    flash.setFileName(path);
    QSignalSpy progress(&flash, &KvSendFirmwareThread::progressValueChanged);
    QSignalSpy error(&flash, &KvSendFirmwareThread::errorSignal);
    flash.start();
    QVERIFY(flash.wait(5000));
    QVERIFY(KvPipe::instance(0).isEmpty());
    QCOMPARE(progress.count(), 0);
    QCOMPARE(error.count(), 1);
}

void tst_KvSendFirmwareThread::refusedTransmitEndsTheDownload()
{
    // The adapter refuses every transmit: the transmit thread ends on the start command and no
    // one makes room in the pipe any more.
    VSIM_ForceResult(4, 0, "VCI_Transmit", 0, -1);
    CanWriteThread writer(0);
    QSignalSpy writerError(&writer, &CanWriteThread::errorSignal);
    KvSendFirmwareThread flash(0);
    flash.setFileName(image(QByteArray(100000, 'z')));
    QSignalSpy error(&flash, &KvSendFirmwareThread::errorSignal);
    writer.start();
    flash.start();
    QVERIFY(flash.wait(5000));
    QVERIFY(writer.wait(5000));
    QCOMPARE(writerError.count(), 1);
    QCOMPARE(error.count(), 1);
    // The download stopped at the pipe's mark; no end or finish command followed.
    QVERIFY(KvPipe::instance(0).count() <= 11);
}

static long maxRssKiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void tst_KvSendFirmwareThread::largeImageStreamsInBoundedMemory()
{
    if (kavriSanitizer)
        QSKIP("memory bound checked in the normal build");
    const qint64 size = 64ll << 20;
    QFile f(dir.filePath("large.bin"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(size)); // sparse: costs no disk and no memory to make
    f.close();

    CanWriteThread writer(0);
    writer.setHideSendFrame(true);
    QSignalSpy tail(&writer, &CanWriteThread::tailSignal);
    KvSendFirmwareThread flash(0);
    flash.setFileName(f.fileName());
    const long before = maxRssKiB();
    writer.start();
    flash.start();
    int maxQueued = 0;
    while (!flash.wait(1))
        maxQueued = qMax(maxQueued, KvPipe::instance(0).count());
    QTRY_COMPARE_WITH_TIMEOUT(tail.count(), 1, 60000);
    writer.stop();
    writer.waitForFinish();
    QVERIFY2(maxQueued <= 14, qPrintable(QString::number(maxQueued))); // 11 bursts + the end
    QCOMPARE(VSIM_SentTotal(4, 0, 0), quint64(size / 8 + 6));
    // The adapter's own log keeps at most a million frames (24 MiB); the image is not held.
    const long grownKiB = maxRssKiB() - before;
    QVERIFY2(grownKiB < 48 * 1024, qPrintable(QString::number(grownKiB)));
}

QTEST_GUILESS_MAIN(tst_KvSendFirmwareThread)
#include "tst_kvsendfirmwarethread.moc"
