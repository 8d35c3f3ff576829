#include "devicebar.h"
#include "mainwindow.h"
#include "ownsettings.h"
#include "recordpanel.h"

#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvrecorder.h"
#include "vci_sim.h"

#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

// The window's Record page: the chooser offers the writable formats, a recording of the started
// channels shows its status in the status bar and ends complete, by Stop or with the session.
class tst_RecordPanel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void chooserOffersWritableFormats();
    void recordsUntilStopped_data();
    void recordsUntilStopped();
};

void tst_RecordPanel::init()
{
    useOwnSettings();
}

void tst_RecordPanel::chooserOffersWritableFormats()
{
    const QString filters = RecordPanel::fileFilters();
    QVERIFY(filters.contains("(*.blf)"));
    QVERIFY(filters.contains("(*.log *.candump)"));
    QVERIFY(!filters.contains("*.bin"));
    QCOMPARE(filters.count(";;"), 4); // blf, candump, csv, asc, asclog
}

void tst_RecordPanel::recordsUntilStopped_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("bySessionStop");
    QTest::newRow("asc, Stop button") << "asc" << false;
    QTest::newRow("blf, the session stops") << "blf" << true;
}

void tst_RecordPanel::recordsUntilStopped()
{
    QFETCH(QString, format);
    QFETCH(bool, bySessionStop);
    VSIM_Reset();
    QTemporaryDir dir;
    const QString path = dir.filePath("window." + format);
    MainWindow w;
    w.deviceBar()->openButton()->click();
    w.deviceBar()->startButton()->click();
    QCOMPARE(w.session()->state(), KvDeviceSession::Started);

    RecordPanel *panel = w.recordPanel();
    panel->setFile(path);
    QVERIFY(panel->setFormat(format));
    QVERIFY2(panel->startRecording(), qPrintable(panel->recorder()->errorString()));
    VCI_CAN_OBJ frames[5] = {};
    for (int i = 0; i < 5; ++i) {
        frames[i].ID = 0x300 + quint32(i);
        frames[i].DataLen = 1;
        frames[i].TimeStamp = 1 + quint32(i);
    }
    QCOMPARE(VSIM_Inject(4, 0, 1, frames, 5), 5u);
    QTRY_COMPARE(panel->recorder()->status().frames, qint64(5));
    QTRY_VERIFY(
        panel->statusLabel()->text().startsWith("Recording window." + format + ": 5 frames"));
    if (bySessionStop)
        w.session()->stop();
    else
        panel->stopRecording();
    QVERIFY(!panel->isRecording());
    QVERIFY2(panel->statusLabel()->text().startsWith("Recorded window." + format + ": 5 frames"),
             qPrintable(panel->statusLabel()->text()));

    QString error;
    std::unique_ptr<KvFrameReader> reader = KvFormatRegistry::openReader(path, format, &error);
    QVERIFY2(reader, qPrintable(error));
    KvFrame f;
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(reader->read(f), KvFrameReader::Frame);
        QCOMPARE(f.id, 0x300u + quint32(i));
        QCOMPARE(int(f.channel), 1);
    }
    QCOMPARE(reader->read(f), KvFrameReader::End);
}

QTEST_MAIN(tst_RecordPanel)
#include "tst_recordpanel.moc"
