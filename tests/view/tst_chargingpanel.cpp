// The window's Charging page: a simulated session through the shown channel's GB/T 27930 queue
// on the window's refresh cycle, with and without its fault, and the same session from its
// recording; which channel's queue is switched on; bad recordings; Reset.
#include "chargingpanel.h"
#include "chargingplot.h"
#include "mainwindow.h"
#include "ownsettings.h"
#include "tracepanel.h"

#include "kvbuffer.h"
#include "kvgbtsession.h"
#include "kvgbtsimulation.h"
#include "vci_sim.h"

#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>
#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QTableWidget>

#include <cstring>

namespace {

const QString Example = QStringLiteral(KAVRI_EXAMPLES "/charging-session.asc");

// What a session fed straight from the simulation reports: the truth the page is held to.
struct Expected
{
    QStringList phases;
    QString vin;
};

Expected expectedOf(const std::vector<KvGbtSimFrame> &frames)
{
    Expected e;
    KvGbtSession session;
    session.setEventHandler([&](const KvGbtEvent &event) {
        if (event.kind == KvGbtEvent::Phase)
            e.phases << QStringLiteral("phase ") +
                            QString::fromLatin1(KvGbtMessageInfo::phaseName(event.phase));
    });
    for (const KvGbtSimFrame &f : frames)
        session.feedFrame(f.time, f.id, f.data, f.size);
    e.vin = session.picture().vin;
    return e;
}

// The rows of the timeline's event column that match `prefix`.
QStringList timelineEvents(const ChargingPanel *panel, const QString &prefix)
{
    QStringList found;
    for (int row = 0; row < panel->timeline()->rowCount(); ++row) {
        const QString text = panel->timeline()->item(row, 1)->text();
        if (text.startsWith(prefix))
            found << text;
    }
    return found;
}

// The simulated frames as the receive thread hands them to a buffer's GB/T 27930 queue, with
// adapter stamps, in bursts with a refresh cycle after each.
void playIntoQueue(MainWindow &w, int channel, const std::vector<KvGbtSimFrame> &frames)
{
    std::vector<VCI_CAN_OBJ> records;
    for (const KvGbtSimFrame &f : frames) {
        VCI_CAN_OBJ r{};
        r.ID = f.id;
        r.TimeStamp = quint32(1000 + f.time / 100);
        r.ExternFlag = 1;
        r.DataLen = f.size;
        std::memcpy(r.Data, f.data, 8);
        records.push_back(r);
    }
    KvBuffer &buffer = KvBuffer::instance(channel);
    for (size_t at = 0; at < records.size(); at += 250) {
        buffer.addGBT27930Frame(&records[at], int(std::min<size_t>(250, records.size() - at)));
        w.refresh();
    }
}

} // namespace

class tst_ChargingPanel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void showsTheSession_data();
    void showsTheSession();
    void queueFollowsLiveAndChannel();
    void badRecordingIsRefused_data();
    void badRecordingIsRefused();
    void resetStartsAgain();
};

void tst_ChargingPanel::init()
{
    VSIM_Reset();
    useOwnSettings();
    for (int ch = 0; ch < 4; ++ch) {
        KvBuffer::instance(ch).ClearGBT27930();
        KvBuffer::instance(ch).setGBT27930Run(false);
    }
}

void tst_ChargingPanel::showsTheSession_data()
{
    QTest::addColumn<bool>("fromRecording");
    QTest::addColumn<bool>("fault");
    QTest::newRow("live, complete session") << false << false;
    QTest::newRow("live, BCL stops") << false << true;
    QTest::newRow("recording of the complete session") << true << false;
}

void tst_ChargingPanel::showsTheSession()
{
    QFETCH(bool, fromRecording);
    QFETCH(bool, fault);
    KvGbtSimulation::Options options;
    options.bclStops = fault;
    const std::vector<KvGbtSimFrame> frames = KvGbtSimulation::generate(options);
    const Expected expected = expectedOf(frames);

    MainWindow w;
    ChargingPanel *panel = w.chargingPanel();
    QCOMPARE(w.mainPages()->tabText(w.mainPages()->indexOf(panel->parentWidget()->parentWidget())),
             QStringLiteral("Charging"));
    QVERIFY(panel->isLive());
    if (fromRecording) {
        QVERIFY(panel->openRecording(Example));
        QVERIFY(!panel->isLive());
        QTRY_VERIFY(!panel->isReading()); // the window's own refresh cycle reads on
        QVERIFY2(panel->sourceLabel()->text().startsWith("charging-session.asc:"),
                 qPrintable(panel->sourceLabel()->text()));
    } else {
        playIntoQueue(w, 0, frames);
    }

    QCOMPARE(timelineEvents(panel, "phase "), expected.phases);
    QCOMPARE(timelineEvents(panel, "timeout ").contains("timeout BCL"), fault);
    QVERIFY(!timelineEvents(panel, "stop CST").isEmpty());
    QVERIFY(!expected.vin.isEmpty());
    QVERIFY2(panel->pictureValue("battery").contains(expected.vin),
             qPrintable(panel->pictureValue("battery")));
    QVERIFY2(panel->pictureValue("SOC").contains(" %"), qPrintable(panel->pictureValue("SOC")));
    QCOMPARE("phase " + panel->pictureValue("phase"), expected.phases.last());
    for (ChargingPlot *plot : {panel->voltagePlot(), panel->currentPlot()}) {
        QVERIFY(plot->series(ChargingPlot::Demand)->count() > 10);
        QVERIFY(plot->series(ChargingPlot::Output)->count() > 10);
    }
    // The demand steps from 100 A to 150 A: the current axis spans both.
    QVERIFY(panel->currentPlot()->valueAxis()->min() <= -150);
}

// The buffer copies frames to its GB/T queue only for the page's channel, and only while live.
void tst_ChargingPanel::queueFollowsLiveAndChannel()
{
    {
        MainWindow w;
        ChargingPanel *panel = w.chargingPanel();
        QVERIFY(KvBuffer::instance(0).GBT27930Run());
        w.trace()->setChannel(1);
        QCOMPARE(panel->channel(), 1);
        QVERIFY(!KvBuffer::instance(0).GBT27930Run());
        QVERIFY(KvBuffer::instance(1).GBT27930Run());
        panel->liveBox()->click();
        QVERIFY(!panel->isLive());
        QVERIFY(!KvBuffer::instance(1).GBT27930Run());
        panel->liveBox()->click();
        QVERIFY(KvBuffer::instance(1).GBT27930Run());
        QVERIFY(panel->openRecording(Example));
        QVERIFY(!KvBuffer::instance(1).GBT27930Run());
        panel->setLive(true);
        QVERIFY(panel->recordingFileName().isEmpty());
    }
    // Gone with the window, and the choice is kept for the next one.
    QVERIFY(!KvBuffer::instance(1).GBT27930Run());
    {
        MainWindow w;
        w.chargingPanel()->setLive(false);
    }
    MainWindow w;
    QVERIFY(!w.chargingPanel()->isLive());
    QVERIFY(!KvBuffer::instance(0).GBT27930Run());
}

void tst_ChargingPanel::badRecordingIsRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // written to `name` in a temporary folder
    QTest::newRow("empty path") << QString() << QByteArray();
    QTest::newRow("missing file") << "missing.asc" << QByteArray();
    QTest::newRow("empty file") << "empty.asc" << QByteArray("");
}

void tst_ChargingPanel::badRecordingIsRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    QString path = name.isEmpty() ? QString() : dir.filePath(name);
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    ChargingPanel panel;
    QSignalSpy failed(&panel, &ChargingPanel::failed);
    QVERIFY(!panel.openRecording(path));
    QCOMPARE(failed.count(), 1);
    QVERIFY(!failed.at(0).at(0).toString().isEmpty());
    QCOMPARE(panel.sourceLabel()->text(), failed.at(0).at(0).toString());
    QVERIFY(!panel.isReading());
    QCOMPARE(panel.timeline()->rowCount(), 0);
}

void tst_ChargingPanel::resetStartsAgain()
{
    ChargingPanel panel;
    QVERIFY(panel.openRecording(Example));
    while (panel.isReading())
        panel.refresh();
    QVERIFY(panel.timeline()->rowCount() > 0);
    panel.resetButton()->click();
    QCOMPARE(panel.timeline()->rowCount(), 0);
    QCOMPARE(panel.messageCount(), 0);
    QCOMPARE(panel.pictureValue("phase"), QStringLiteral("--"));
    QCOMPARE(panel.pictureValue("battery"), QStringLiteral("--"));
    QCOMPARE(panel.voltagePlot()->series(ChargingPlot::Demand)->count(), 0);
}

QTEST_MAIN(tst_ChargingPanel)
#include "tst_chargingpanel.moc"
