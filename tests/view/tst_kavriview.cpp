#include "busloadplot.h"
#include "devicebar.h"
#include "filtereditor.h"
#include "idstatisticsmodel.h"
#include "idstatisticspanel.h"
#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvframesubscription.h"
#include "mainwindow.h"
#include "nameeditor.h"
#include "ownsettings.h"
#include "sendpanel.h"
#include "signalplot.h"
#include "signalsmodel.h"
#include "signalspanel.h"
#include "taskpanel.h"
#include "tracemodel.h"
#include "tracepanel.h"
#include "trafficstatus.h"
#include "transferpanel.h"
#include "watchmodel.h"
#include "watchpanel.h"

#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "kvidfiltermannger.h"
#include "kvnamemapping.h"
#include "kvreplay.h"
#include "vci_sim.h"

#include <QtCharts/QLineSeries>
#include <QtCore/QFile>
#include <QtCore/QSettings>
#include <QtCore/QSortFilterProxyModel>
#include <QtCore/QTemporaryDir>
#include <QtCore/QXmlStreamReader>
#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QTableView>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QToolButton>

namespace {

const QString Examples = QStringLiteral(KAVRI_EXAMPLES);

// The "TaskObj" elements of a task-list document, each as its attributes by name, in order.
QList<QMap<QString, QString>> documentTasks(const QString &fileName)
{
    QList<QMap<QString, QString>> tasks;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return tasks;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("TaskObj")) {
            QMap<QString, QString> attributes;
            for (const QXmlStreamAttribute &a : xml.attributes())
                attributes.insert(a.name().toString(), a.value().toString());
            tasks << attributes;
        }
    }
    return tasks;
}

QStringList rowTexts(const QTableWidget *table, int row)
{
    QStringList texts;
    for (int c = 0; c < table->columnCount(); ++c)
        texts << (table->item(row, c) ? table->item(row, c)->text() : QString());
    return texts;
}

int traceRowOf(const TraceModel *model, const QString &idText)
{
    for (int row = model->rowCount() - 1; row >= 0; --row)
        if (model->index(row, TraceModel::Id).data().toString() == idText)
            return row;
    return -1;
}

int watchRowOf(const WatchModel *model, const QString &idText)
{
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, WatchModel::Id).data().toString() == idText)
            return row;
    return -1;
}

// Widgets squeezed below what they need to show themselves whole, as "class 'text' w x h".
QStringList clippedWidgets(const QWidget *top)
{
    QStringList clipped;
    for (const QWidget *w : top->findChildren<QWidget *>()) {
        const bool control =
            qobject_cast<const QLabel *>(w) || qobject_cast<const QAbstractButton *>(w) ||
            qobject_cast<const QComboBox *>(w) || qobject_cast<const QLineEdit *>(w) ||
            qobject_cast<const QAbstractSpinBox *>(w);
        // Status texts may be cut on purpose (their whole text is in the tip).
        const bool elidable = w->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored;
        // The editor inside a spin box or combo box is sized by its box.
        const bool inner = qobject_cast<const QAbstractSpinBox *>(w->parentWidget()) ||
                           qobject_cast<const QComboBox *>(w->parentWidget());
        if (!control || !w->isVisible() || elidable || inner)
            continue;
        // What a layout keeps: an explicit minimum, else the widget's own hint.
        const QSize hint = w->minimumSizeHint();
        const QSize need(w->minimumWidth() > 0 ? w->minimumWidth() : hint.width(),
                         w->minimumHeight() > 0 ? w->minimumHeight() : hint.height());
        if (w->width() < need.width() || w->height() < need.height())
            clipped << QStringLiteral("%1 '%2' %3x%4 < %5x%6")
                           .arg(QString::fromLatin1(w->metaObject()->className()),
                                w->property("text").toString())
                           .arg(w->width())
                           .arg(w->height())
                           .arg(need.width())
                           .arg(need.height());
    }
    return clipped;
}

// A recording of `count` frames 20 ms apart, long enough to be stopped on its way.
QString writeLongRecording(const QTemporaryDir &dir, int count)
{
    const QString name = dir.filePath(QStringLiteral("long.asc"));
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return QString();
    QTextStream out(&file);
    out << "date Sat Dec 5 10:00:00 2026\nbase hex timestamps absolute\n";
    for (int i = 0; i < count; ++i)
        out << QString::asprintf("%.6f 1 123 Rx d 2 %02X 00\n", 0.02 * i, i & 0xFF);
    return name;
}

VCI_CAN_OBJ standardFrame(quint32 id, quint8 first)
{
    VCI_CAN_OBJ f{};
    f.ID = id;
    f.TimeStamp = 1;
    f.DataLen = 2;
    f.Data[0] = first;
    return f;
}

// The window's own session on the simulated adapter of `type`, running `channels`: the per-ID
// page and the relative times take the frames the session hands out.
bool startSession(MainWindow &w, quint32 type, const QVector<int> &channels)
{
    KvDeviceSession *session = w.session();
    session->setDevice(type, 0);
    for (int ch : channels)
        session->addChannel(ch, 500000);
    return session->start();
}

// Frames received on `channel` of the simulated adapter, and the window refreshed until its
// statistics counted `total` frames.
bool receive(MainWindow &w, quint32 type, int channel, const QVector<VCI_CAN_OBJ> &frames,
             quint64 total)
{
    VSIM_Inject(type, 0, quint32(channel), frames.constData(), quint32(frames.size()));
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        w.refresh();
        quint64 counted = 0;
        for (const KvIdStatisticsRow &r : w.idStatistics().rows())
            counted += r.count;
        if (counted >= total)
            return counted == total;
        if (clock.elapsed() > 5000)
            return false;
        QTest::qWait(10);
    }
}

} // namespace

class tst_KavriView : public QObject
{
    Q_OBJECT

private:
    void checkLayout(MainWindow &w);

private slots:
    void init();
    void windowShowsTraffic();
    void traceConvertsOnlyShownRows();
    void taskTableRoundTrip_data();
    void taskTableRoundTrip();
    void filterEditorApplies_data();
    void filterEditorApplies();
    void busLoad_data();
    void busLoad();
    void sendPanelBuildsTask_data();
    void sendPanelBuildsTask();
    void watchMarksCarriedBytes();
    void pauseMovesWithChannel();
    void replayFollowsContent_data();
    void replayFollowsContent();
    void nameEditorApplies();
    void traceColumnsFitTheirTexts();
    void relativeTimesAndIdPage_data();
    void relativeTimesAndIdPage();
    void droppedRowsAreReported();
    void transferRefusesBadFiles_data();
    void transferRefusesBadFiles();
    void stoppedReplaySaysWhere();
    void layoutFitsSmallWindow();
    void replayControls_data();
    void replayControls();
    void stopAndCloseStayResponsive();
    void screenshots();
    void windowStateIsKept();
};

void tst_KavriView::init()
{
    VSIM_Reset();
    useOwnSettings();
    for (int ch = 0; ch < 4; ++ch) {
        KvBuffer::instance(ch).setMaxCount(30000);
        KvBuffer::instance(ch).reset();
        KvChannelSet &set = KvGlobalSet::instance().channelSets[ch];
        set.receiveCount = 0;
        set.sendCount = 0;
    }
}

// The whole window on the simulated two-channel adapter: a basic send, a firmware download, an
// ASC replay and a cyclic task list on channel 0, shown as received on channel 1.
void tst_KavriView::windowShowsTraffic()
{
    KvNameMapping::getSingleton().add(0x123, QStringLiteral("BrakePedal"));
    KvNameMapping::getSingleton().add(0x2A0, QStringLiteral("WheelSpeed"));
    MainWindow w;
    w.resize(1440, 900);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // The defaults are the simulated two-channel adapter with its channels wired together.
    QVERIFY(!w.deviceBar()->startButton()->isEnabled());
    w.deviceBar()->openButton()->click();
    QCOMPARE(w.session()->state(), KvDeviceSession::Opened);
    w.deviceBar()->startButton()->click();
    QCOMPARE(w.session()->state(), KvDeviceSession::Started);
    QVERIFY(!w.deviceBar()->openButton()->isEnabled());
    w.trace()->setChannel(1);

    // Basic send: 10 bursts of 2 frames, data byte 2 counting up.
    SendPanel *send = w.sendPanel();
    send->setFrame(QStringLiteral("2A0"), QStringLiteral("10 20 30 40"));
    send->setRepeat(2, 0, 10, false, 2);
    QSignalSpy sent(send, &SendPanel::sendFinished);
    QVERIFY(send->send());
    QVERIFY(sent.wait(10000));
    QCOMPARE(send->statusText(), QStringLiteral("Done."));

    TransferPanel *transfers = w.transferPanel();
    QSignalSpy downloaded(transfers, &TransferPanel::downloadFinished);
    QVERIFY(transfers->startDownload(Examples + "/firmware.bin"));
    QVERIFY(downloaded.wait(20000));
    QCOMPARE(transfers->downloadBar()->value(), 100);
    QSignalSpy replayed(transfers, &TransferPanel::replayFinished);
    QVERIFY(transfers->startReplay(Examples + "/recording.asc"));
    QVERIFY(replayed.wait(20000));
    QCOMPARE(transfers->replayBar()->value(), 100);

    TaskPanel *tasks = w.taskPanel();
    QString error;
    QVERIFY2(tasks->load(Examples + "/tasks.xml", error), qPrintable(error));
    tasks->setMode(TaskPanel::Cyclic);
    QVERIFY(tasks->run());
    w.findChild<QTabWidget *>()->setCurrentWidget(tasks);

    // The views fill on the refresh cycle while the tasks run; the newest row stays in sight.
    KvBuffer &rx = KvBuffer::instance(1);
    TraceModel *trace = w.trace()->model();
    QTRY_VERIFY_WITH_TIMEOUT(trace->rowCount() > 300 && w.traffic()->load() > 0.0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(traceRowOf(trace, QStringLiteral("00000100 ")) >= 0, 10000);
    const QScrollBar *scroll = w.trace()->view()->verticalScrollBar();
    QCOMPARE(scroll->value(), scroll->maximum());
    w.viewPages()->setCurrentWidget(w.idStatisticsPanel());
    QTRY_VERIFY_WITH_TIMEOUT(w.idStatisticsPanel()->model()->rowCount() > 3, 10000);
    // Both wired channels run, so the load plot draws both.
    QVERIFY(w.busLoadPlot()->series(0)->isVisible() && w.busLoadPlot()->series(1)->isVisible());
    QVERIFY(!w.busLoadPlot()->series(2)->isVisible());
    QVERIFY(w.busLoadPlot()->series(1)->count() > 1);
    QVERIFY(w.busLoadPlot()->load(1) > 0.0);

    // Paused: the buffer goes on recording, the trace stands still until resumed.
    w.trace()->pauseButton()->click();
    QVERIFY(rx.getLooking());
    const int shown = trace->rowCount();
    QTRY_VERIFY_WITH_TIMEOUT(rx.count() > shown + 5, 10000);
    w.refresh();
    QCOMPARE(trace->rowCount(), shown);
    w.trace()->pauseButton()->click();
    QVERIFY(!rx.getLooking());

    tasks->stop();
    QVERIFY(!tasks->isRunning());
    // Everything channel 0 put on the wire has reached channel 1's buffer.
    QTRY_COMPARE_WITH_TIMEOUT(quint64(rx.frames()), VSIM_SentTotal(4, 0, 0), 10000);
    // ... and the session has handed every stored frame to the window's statistics.
    const auto counted = [&w] {
        w.refresh();
        quint64 n = 0;
        for (const KvIdStatisticsRow &r : w.idStatistics().rows())
            n += r.count;
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(counted(), quint64(rx.count()), 10000);

    // The counters agree with the buffers and the adapter.
    const KvChannelSet &set0 = KvGlobalSet::instance().channelSets[0];
    const KvChannelSet &set1 = KvGlobalSet::instance().channelSets[1];
    QCOMPARE(quint64(KvBuffer::instance(0).frames()), VSIM_SentTotal(4, 0, 0));
    QCOMPARE(set1.receiveCount.load(), rx.frames());
    // The download went through the pipe, the rest through the sending threads' own counts:
    // start, 250 image frames, end, 3 digest frames and finish.
    QCOMPARE(quint64(set0.sendCount.load()) + 1 + 250 + 1 + 3 + 1, VSIM_SentTotal(4, 0, 0));
    auto label = [&w](TrafficStatus::Field f) { return w.traffic()->label(f)->text(); };
    QCOMPARE(QStringList({label(TrafficStatus::Frames), label(TrafficStatus::Bits),
                          label(TrafficStatus::Received), label(TrafficStatus::Sent)}),
             QStringList({QStringLiteral("Frames: %1").arg(rx.frames()),
                          QStringLiteral("Bits: %1").arg(rx.size()),
                          QStringLiteral("Received: %1").arg(set1.receiveCount.load()),
                          QStringLiteral("Sent: 0")}));

    // The trace shows the buffer's rows, newest last, with names.
    QCOMPARE(trace->rowCount(), rx.count());
    const CanObjStr newest = rx.getFrame(rx.count() - 1);
    auto traceText = [trace](int row, int column) {
        return trace->index(row, column).data().toString();
    };
    const int last = trace->rowCount() - 1;
    QCOMPARE(
        QStringList({traceText(last, TraceModel::Index), traceText(last, TraceModel::Id),
                     traceText(last, TraceModel::Data), traceText(last, TraceModel::Direction)}),
        QStringList({newest.index, newest.id, newest.data, QStringLiteral("Rx")}));
    // Each row's relative time lies its stamp difference after the row before.
    for (int row = 1; row < trace->rowCount(); ++row) {
        const double step = traceText(row, TraceModel::Relative).toDouble() -
                            traceText(row - 1, TraceModel::Relative).toDouble();
        const double stamps = (traceText(row, TraceModel::TimeStamp).toUInt(nullptr, 16) -
                               traceText(row - 1, TraceModel::TimeStamp).toUInt(nullptr, 16)) /
                              10000.0;
        QVERIFY2(qAbs(step - stamps) < 1e-3, qPrintable(QString::number(row)));
    }
    const int named = traceRowOf(trace, QStringLiteral("00000123 "));
    QVERIFY(named >= 0);
    QCOMPARE(traceText(named, TraceModel::Name), QStringLiteral("BrakePedal"));

    // The watch list: data byte 2 of 0x2A0 counted up to its last value (how changed bytes
    // are marked is watchMarksCarriedBytes' business).
    WatchModel *watch = w.watch()->model();
    QCOMPARE(watch->rowCount(), rx.countW());
    // The per-ID page counted every frame the buffer stored (nothing was dropped yet).
    const KvIdStatistics &stats = w.idStatistics();
    QCOMPARE(counted(), quint64(rx.count()));
    QCOMPARE(stats.rows().size(), rx.countW());
    const int perId = stats.indexOf(0x2A0, false);
    QVERIFY(perId >= 0);
    QCOMPARE(stats.rows().at(perId).count, quint64(20));
    const int row = watchRowOf(watch, QStringLiteral("000002A0 "));
    QVERIFY(row >= 0);
    auto watchText = [watch, row](int column) {
        return watch->index(row, column).data().toString();
    };
    QCOMPARE(QStringList({watchText(WatchModel::Name), watchText(WatchModel::Byte0),
                          watchText(WatchModel::Byte0 + 1), watchText(WatchModel::Byte0 + 4)}),
             QStringList({"WheelSpeed", "10", "29", ""}));
    QVERIFY(watch->index(row, WatchModel::Byte0 + 1).data(Qt::BackgroundRole).isValid());

    w.deviceBar()->stopButton()->click();
    QCOMPARE(w.session()->state(), KvDeviceSession::Closed);
    QVERIFY(w.deviceBar()->openButton()->isEnabled());
}

// A full buffer at full speed: the trace shows the newest rows and converts only those on screen.
void tst_KavriView::traceConvertsOnlyShownRows()
{
    KvBuffer &buffer = KvBuffer::instance(2);
    const int max = buffer.getMaxCount();
    QVector<VCI_CAN_OBJ> frames;
    for (int i = 0; i < max; ++i)
        frames << standardFrame(quint32(i % 0x7FF), quint8(i));
    buffer.addFrame(frames.data(), frames.size(), false);

    TracePanel panel;
    panel.resize(900, 400);
    panel.setChannel(2);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const TraceModel *model = panel.model();
    QCOMPARE(model->rowCount(), max);

    for (int round = 0; round < 3; ++round) {
        // The list is full: each new frame pushes the oldest out.
        VCI_CAN_OBJ newest = standardFrame(0x7AB, quint8(round));
        buffer.addFrame(&newest, 1, false);
        const int before = model->conversions();
        panel.refresh();
        panel.grab(); // paints the rows on screen
        const int converted = model->conversions() - before;
        QVERIFY2(converted > 0 && converted < 100, qPrintable(QString::number(converted)));
        QCOMPARE(model->rowCount(), max);
        const QModelIndex last = model->index(max - 1, TraceModel::Id);
        QCOMPARE(last.data().toString(), QStringLiteral("000007AB "));
        QCOMPARE(model->index(max - 1, TraceModel::Index).data().toString(),
                 QString::number(max - 1));
    }
    buffer.clear();
    panel.refresh();
    QCOMPARE(model->rowCount(), 0);
}

void tst_KavriView::taskTableRoundTrip_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("example task list") << Examples + "/tasks.xml";
    QTest::newRow("tasks added from the send panel") << QString();
}

// Loading a document into the table and saving it back gives the same document; loading the
// saved one gives the same rows.
void tst_KavriView::taskTableRoundTrip()
{
    QFETCH(QString, source);
    QTemporaryDir dir;
    QString error;
    TaskPanel panel;
    if (source.isEmpty()) {
        SendPanel send;
        taskObj task;
        send.setFrame(QStringLiteral("1ABCDEF0"), QStringLiteral("01 02"), true, false);
        send.setRepeat(3, 50, 4, true, 8);
        QVERIFY(send.task(task, error));
        panel.addTask(task);
        send.setFrame(QStringLiteral("7FF"), QString(), false, true);
        send.setRepeat(1, 0, 1);
        QVERIFY(send.task(task, error));
        panel.addTask(task);
        source = dir.filePath(QStringLiteral("source.xml"));
        QVERIFY2(panel.save(source, error), qPrintable(error));
        panel.table()->setRowCount(0);
    }
    const QList<QMap<QString, QString>> original = documentTasks(source);
    QVERIFY(!original.isEmpty());

    QVERIFY2(panel.load(source, error), qPrintable(error));
    QCOMPARE(panel.table()->rowCount(), original.size());
    const QString saved = dir.filePath(QStringLiteral("saved.xml"));
    QVERIFY2(panel.save(saved, error), qPrintable(error));
    QCOMPARE(documentTasks(saved), original);

    TaskPanel again;
    QVERIFY2(again.load(saved, error), qPrintable(error));
    QCOMPARE(again.table()->rowCount(), panel.table()->rowCount());
    for (int row = 0; row < panel.table()->rowCount(); ++row)
        QCOMPARE(rowTexts(again.table(), row), rowTexts(panel.table(), row));
}

void tst_KavriView::filterEditorApplies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<QList<uint>>("passing");
    QTest::addColumn<QList<uint>>("dropped");
    auto row = [](const char *name, int mode, const char *start, const char *end, bool applied,
                  QList<uint> passing, QList<uint> dropped) {
        QTest::newRow(name) << mode << QString(start) << QString(end) << applied << passing
                            << dropped;
    };
    row("not-receive range drops both ends", 1, "100", "1FF", true, {0xFF, 0x200}, {0x100, 0x1FF});
    row("only-receive range keeps both ends, 0x prefix", 2, "0x100", "0x1ff", true, {0x100, 0x1FF},
        {0xFF, 0x200});
    row("no filter passes everything", 0, "0", "FFFFFFFF", true, {0, 0x7FF, 0x1FFFFFFF}, {});
    row("bad end is refused, filter unchanged", 1, "100", "xyz", false, {0x100, 0x7FF}, {});
}

void tst_KavriView::filterEditorApplies()
{
    QFETCH(int, mode);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(bool, applied);
    QFETCH(QList<uint>, passing);
    QFETCH(QList<uint>, dropped);

    KvIdFilterMannger &filter = KvIdFilterMannger::instance(3);
    filter.setFilterMode(0);
    filter.clearNotReceive();
    filter.clearOnlyReceive();
    FilterEditor editor;
    editor.setChannel(3);
    editor.setMode(mode);
    editor.addRange(mode == 2 ? FilterEditor::OnlyReceive : FilterEditor::NotReceive, 0, 0);
    // The row just added gets the texts under test, as a user would type them.
    QTableWidget *table =
        editor.rangeTable(mode == 2 ? FilterEditor::OnlyReceive : FilterEditor::NotReceive);
    table->item(0, 0)->setText(start);
    table->item(0, 1)->setText(end);
    QCOMPARE(editor.apply(), applied);
    QCOMPARE(filter.getFilterMode(), applied ? mode : 0);
    for (uint id : passing)
        QVERIFY2(filter.isValid(id), qPrintable(QString::number(id, 16)));
    for (uint id : dropped)
        QVERIFY2(!filter.isValid(id), qPrintable(QString::number(id, 16)));

    // Another editor shows what the manager now holds.
    FilterEditor shown;
    shown.setChannel(3);
    const QTableWidget *list =
        shown.rangeTable(mode == 2 ? FilterEditor::OnlyReceive : FilterEditor::NotReceive);
    QCOMPARE(list->rowCount(), applied ? 1 : 0);
}

void tst_KavriView::busLoad_data()
{
    QTest::addColumn<quint32>("bits");
    QTest::addColumn<qint64>("msecs");
    QTest::addColumn<int>("bitRate");
    QTest::addColumn<double>("load");
    QTest::newRow("half of 500k") << 250000u << qint64(1000) << 500000 << 50.0;
    QTest::newRow("a quarter over half a second") << 125000u << qint64(500) << 1000000 << 25.0;
    QTest::newRow("never above 100") << 900000u << qint64(1000) << 500000 << 100.0;
    QTest::newRow("no channel running") << 1000u << qint64(1000) << 0 << 0.0;
    QTest::newRow("no time passed") << 1000u << qint64(0) << 500000 << 0.0;
}

void tst_KavriView::busLoad()
{
    QFETCH(quint32, bits);
    QFETCH(qint64, msecs);
    QFETCH(int, bitRate);
    QFETCH(double, load);
    QCOMPARE(TrafficStatus::busLoad(bits, msecs, bitRate), load);
}

void tst_KavriView::sendPanelBuildsTask_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<uint>("frameId");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    auto row = [](const char *name, const char *id, const char *data, bool extended, bool remote,
                  uint frameId, const QByteArray &bytes = QByteArray(), const char *error = "") {
        QTest::newRow(name) << QString(id) << QString(data) << extended << remote << (frameId != 0)
                            << frameId << bytes << QString(error);
    };
    row("standard, bytes with blanks", "123", "11 22 33", false, false, 0x123, "\x11\x22\x33");
    row("extended, packed bytes", "1ABCDEF0", "0102", true, false, 0x1ABCDEF0, "\x01\x02");
    row("remote frame without data", "7DF", "", false, true, 0x7DF);
    row("standard ID above 7FF", "800", "", false, false, 0, {},
        "ID: 800 is above 7FF, the largest standard ID.");
    row("extended ID above 1FFFFFFF", "20000000", "", true, false, 0, {},
        "ID: 20000000 is above 1FFFFFFF, the largest extended ID.");
    row("ID not hexadecimal", "GG", "", false, false, 0, {}, "ID: GG is not hexadecimal");
    row("empty ID", "", "", false, false, 0, {},
        "ID: empty; type a hexadecimal identifier such as 123.");
    row("data not hexadecimal", "123", "11 ZZ", false, false, 0, {},
        "Data: 11 ZZ is not hexadecimal.");
    row("half a byte", "123", "1 2 3", false, false, 0, {},
        "Data: 1 2 3 has half a byte; write each byte as two digits.");
    row("nine bytes", "123", "11 22 33 44 55 66 77 88 99", false, false, 0, {},
        "Data: 9 bytes; a frame carries at most 8.");
}

void tst_KavriView::sendPanelBuildsTask()
{
    QFETCH(QString, id);
    QFETCH(QString, data);
    QFETCH(bool, extended);
    QFETCH(bool, remote);
    QFETCH(bool, valid);
    QFETCH(uint, frameId);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);

    SendPanel panel;
    panel.setFrame(id, data, extended, remote);
    panel.setRepeat(7, 15, 3, true, 2);
    taskObj task;
    QString message;
    QCOMPARE(panel.task(task, message), valid);
    QCOMPARE(message, error);
    if (!valid)
        return;
    QCOMPARE(task.size(), 1);
    QCOMPARE(task.at(0).size(), 1);
    const CanObj frame = task.at(0).at(0);
    QCOMPARE(QVariantList({frame.ID, frame.ExternFlag, frame.RemoteFlag,
                           QByteArray(reinterpret_cast<const char *>(frame.Data), frame.DataLen)}),
             QVariantList({frameId, quint8(extended), quint8(remote), bytes}));
    QCOMPARE(
        QVariantList({task.frames, task.interval, task.times, task.idIncrease, task.dataIncrease}),
        QVariantList({7, 15, 3, 1, 2}));
}

// Bytes past a frame's length are compared by the library too; the view marks only the carried
// ones.
void tst_KavriView::watchMarksCarriedBytes()
{
    KvGlobalSet &settings = KvGlobalSet::instance();
    if (!settings.isWatch())
        settings.onWatch();
    KvBuffer &buffer = KvBuffer::instance(3);
    VCI_CAN_OBJ first = standardFrame(0x55, 0x01);
    first.Data[1] = 0x02;
    VCI_CAN_OBJ second = first;
    second.Data[1] = 0x03;
    second.Data[5] = 0x09; // beyond DataLen 2
    buffer.addFrame(&first, 1, false);
    buffer.addFrame(&second, 1, false);

    WatchModel model;
    model.setChannel(3);
    QCOMPARE(model.rowCount(), 1);
    QVERIFY(buffer.getWatchFrame(0).changed.testBit(5));
    QCOMPARE(model.index(0, WatchModel::Byte0 + 1).data().toString(), QStringLiteral("03"));
    QVERIFY(model.index(0, WatchModel::Byte0 + 1).data(Qt::BackgroundRole).isValid());
    QVERIFY(model.index(0, WatchModel::Byte0 + 1).data(Qt::ForegroundRole).isValid());
    QVERIFY(!model.index(0, WatchModel::Byte0).data(Qt::BackgroundRole).isValid());
    QVERIFY(!model.index(0, WatchModel::Byte0 + 5).data(Qt::BackgroundRole).isValid());

    VCI_CAN_OBJ other = standardFrame(0x66, 0x01);
    buffer.addFrame(&other, 1, false);
    model.refresh();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.index(1, WatchModel::Id).data().toString(), QStringLiteral("00000066 "));
    buffer.clearW();
    model.refresh();
    QCOMPARE(model.rowCount(), 0);
}

// "Pause" is the view's state: it follows the view to another channel's buffer.
void tst_KavriView::pauseMovesWithChannel()
{
    TracePanel panel;
    QCOMPARE(panel.channel(), 0);
    panel.pauseButton()->click();
    QVERIFY(KvBuffer::instance(0).getLooking());
    QSignalSpy changed(&panel, &TracePanel::channelChanged);
    panel.setChannel(2);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!KvBuffer::instance(0).getLooking());
    QVERIFY(KvBuffer::instance(2).getLooking());
    panel.pauseButton()->click();
    QVERIFY(!KvBuffer::instance(2).getLooking());
}

void tst_KavriView::replayFollowsContent_data()
{
    // Each file is named to mislead: the content decides which reader replays it.
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("name");
    QTest::newRow("ASC as other tools write it") << "asclog"
                                                 << "pycan.txt";
    QTest::newRow("candump log named .asc") << "candump"
                                            << "dump.asc";
    QTest::newRow("BLF") << "blf"
                         << "trace.bin";
}

// Recordings of other tools replayed from the Replay page reach the wired channel frame for
// frame, whatever their names say.
void tst_KavriView::replayFollowsContent()
{
    QFETCH(QString, format);
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    {
        std::unique_ptr<KvFrameWriter> writer = KvFormatRegistry::newWriter(format);
        QVERIFY(writer && writer->open(path));
        for (int i = 0; i < 5; ++i) {
            KvFrame f;
            f.timeNs = qint64(i) * 2000000;
            f.id = i == 4 ? 0x18FEF100 : 0x100 + quint32(i);
            f.extended = i == 4;
            f.dlc = quint8(i + 1);
            f.data[0] = quint8(0xA0 + i);
            QVERIFY(writer->write(f));
        }
        QVERIFY(writer->close());
    }
    QString error;
    QCOMPARE(TransferPanel::formatOf(path, &error), format);

    KvDeviceSession session;
    session.addChannel(0, 500000);
    session.addChannel(1, 500000);
    QVERIFY2(session.start(), qPrintable(session.errorString()));
    QVERIFY(session.wire(0, 1));
    KvFrameSubscription heard(session, 1);
    TransferPanel panel(&session);
    QSignalSpy finished(&panel, &TransferPanel::replayFinished);
    QVERIFY2(panel.startReplay(path), qPrintable(panel.statusText()));
    QVERIFY(finished.wait(10000));
    QCOMPARE(panel.statusText(), QStringLiteral("Replay finished."));
    QVector<KvCanObj> frames;
    QTRY_VERIFY_WITH_TIMEOUT((heard.take(frames), frames.size() >= 5), 5000);
    QCOMPARE(frames.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(frames.at(i).frame.ID, i == 4 ? 0x18FEF100u : 0x100u + i);
        QCOMPARE(int(frames.at(i).frame.ExternFlag), i == 4 ? 1 : 0);
        QCOMPARE(int(frames.at(i).frame.DataLen), i + 1);
        QCOMPARE(int(frames.at(i).frame.Data[0]), 0xA0 + i);
    }
    session.stop();

    // Bytes that are no recording are refused with the registry's reason, before any replay.
    const QString text = dir.filePath("notes.asc");
    QFile f(text);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("shopping list\nmilk\n");
    f.close();
    QVERIFY(TransferPanel::formatOf(text, &error).isEmpty());
    QVERIFY(!error.isEmpty());
}

// "Apply" replaces the names with the table's rows; a bad row changes nothing.
void tst_KavriView::nameEditorApplies()
{
    KvNameMapping &mapping = KvNameMapping::getSingleton();
    mapping.clear();
    mapping.add(0x10, QStringLiteral("Old"));
    NameEditor editor;
    QCOMPARE(editor.table()->rowCount(), 1);
    editor.table()->setRowCount(0);
    editor.addName(0x18FEF100, QStringLiteral("VehicleSpeed"));
    editor.addName(0x7DF, QStringLiteral("DiagRequest"));
    QVERIFY(editor.apply());
    QCOMPARE(mapping.size(), 2);
    QCOMPARE(mapping.find(0x18FEF100), QStringLiteral("VehicleSpeed"));
    QVERIFY(mapping.find(0x10).isEmpty());

    editor.addName(0, QStringLiteral("Broken"));
    editor.table()->item(2, 0)->setText(QStringLiteral("xyz"));
    QVERIFY(!editor.apply());
    QCOMPARE(mapping.size(), 2);
    QCOMPARE(mapping.find(0x7DF), QStringLiteral("DiagRequest"));
}

// Every column is as wide as its widest text, all eight data bytes included; the spare columns
// start hidden and come back from the header's menu.
void tst_KavriView::traceColumnsFitTheirTexts()
{
    TracePanel panel;
    const QTableView *view = panel.view();
    const QFontMetrics metrics = view->fontMetrics();
    for (int c = 0; c < TraceModel::ColumnCount; ++c)
        QVERIFY2(view->columnWidth(c) >= metrics.horizontalAdvance(TraceModel::widestText(c)),
                 qPrintable(QString::number(c)));
    QVERIFY(!view->horizontalHeader()->stretchLastSection());
    QCOMPARE(panel.model()->headerData(TraceModel::Data, Qt::Horizontal).toString(),
             QStringLiteral("D0 D1 D2 D3 D4 D5 D6 D7"));
    for (int c : {TraceModel::Spare1, TraceModel::Spare2, TraceModel::Spare3, TraceModel::Spare4})
        QVERIFY(view->isColumnHidden(c));

    QMenu *menu = panel.columnMenu();
    QCOMPARE(menu->actions().size(), int(TraceModel::ColumnCount));
    QVERIFY(!menu->actions().at(TraceModel::Spare1)->isChecked());
    QVERIFY(menu->actions().at(TraceModel::Data)->isChecked());
    menu->actions().at(TraceModel::Spare1)->trigger();
    menu->actions().at(TraceModel::TimeStamp)->trigger();
    QVERIFY(!view->isColumnHidden(TraceModel::Spare1));
    QVERIFY(view->isColumnHidden(TraceModel::TimeStamp));

    // A full eight-byte frame reads whole in its column.
    VCI_CAN_OBJ full = standardFrame(0x123, 0x11);
    full.DataLen = 8;
    memset(full.Data, 0xEE, 8);
    KvBuffer::instance(0).addFrame(&full, 1, false);
    panel.refresh();
    const QString data = panel.model()->index(0, TraceModel::Data).data().toString();
    QCOMPARE(data, QStringLiteral("EE EE EE EE EE EE EE EE"));
    QVERIFY(view->columnWidth(TraceModel::Data) >= metrics.horizontalAdvance(data));
}

void tst_KavriView::relativeTimesAndIdPage_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("times");
    QTest::newRow("seconds since start")
        << int(TraceModel::SinceStart) << QStringList{"0.0000", "1.0000", "1.5000", "3.0000"};
    QTest::newRow("cycle per identifier")
        << int(TraceModel::DeltaPerId) << QStringList{"", "1.0000", "", "2.0000"};
}

// Stamped frames on channel 2: the trace's relative time and the per-ID page follow the stamps.
void tst_KavriView::relativeTimesAndIdPage()
{
    QFETCH(int, mode);
    QFETCH(QStringList, times);
    KvNameMapping::getSingleton().add(0x10, QStringLiteral("Engine"));
    MainWindow w;
    QVERIFY2(startSession(w, 14, {2}), qPrintable(w.session()->errorString()));
    w.trace()->setChannel(2);
    w.trace()->timeModeBox()->setCurrentIndex(mode);
    const struct
    {
        quint32 id;
        quint32 stamp;
        quint8 first;
    } stamped[] = {{0x10, 10000, 1}, {0x10, 20000, 1}, {0x20, 25000, 7}, {0x10, 40000, 3}};
    QVector<VCI_CAN_OBJ> frames;
    for (const auto &f : stamped) {
        frames << standardFrame(f.id, f.first);
        frames.last().TimeStamp = f.stamp;
    }
    QVERIFY(receive(w, 14, 2, frames, 4));
    const TraceModel *trace = w.trace()->model();
    QStringList shown;
    for (int row = 0; row < trace->rowCount(); ++row)
        shown << trace->index(row, TraceModel::Relative).data().toString();
    QCOMPARE(shown, times);

    // Sorted by count, most first: 0x10 (3 frames, cycles 1 and 2 s, D0 changed) then 0x20.
    QSortFilterProxyModel *page = w.idStatisticsPanel()->sorted();
    page->sort(IdStatisticsModel::Count, Qt::DescendingOrder);
    QCOMPARE(page->rowCount(), 2);
    auto text = [page](int row, int column) { return page->index(row, column).data().toString(); };
    using M = IdStatisticsModel;
    QCOMPARE(QStringList({text(0, M::Id), text(0, M::Name), text(0, M::Count),
                          text(0, M::LastCycle), text(0, M::MinCycle), text(0, M::MaxCycle),
                          text(0, M::Byte0), text(0, M::Byte0 + 1), text(0, M::Byte0 + 2)}),
             QStringList({"010", "Engine", "3", "2000.0", "1000.0", "2000.0", "03", "00", ""}));
    QVERIFY(page->index(0, M::Byte0).data(Qt::BackgroundRole).isValid());
    QVERIFY(!page->index(0, M::Byte0 + 1).data(Qt::BackgroundRole).isValid());
    QCOMPARE(QStringList({text(1, M::Id), text(1, M::Count), text(1, M::LastCycle)}),
             QStringList({"020", "1", ""}));
    QCOMPARE(page->headerData(M::Byte0 + 7, Qt::Horizontal).toString(), QStringLiteral("D7"));
    QCOMPARE(w.watch()->model()->headerData(WatchModel::Byte0, Qt::Horizontal).toString(),
             QStringLiteral("D0"));
    KvNameMapping::getSingleton().clear();
}

// A row limit of 100 with 250 frames stored: the status bar says what the trace leaves out.
void tst_KavriView::droppedRowsAreReported()
{
    MainWindow w;
    QVERIFY2(startSession(w, 14, {3}), qPrintable(w.session()->errorString()));
    w.trace()->setChannel(3);
    w.trace()->setRowLimit(100);
    QCOMPARE(KvBuffer::instance(3).getMaxCount(), 100);
    QCOMPARE(KvBuffer::instance(0).getMaxCount(), 100);
    w.refresh();
    QVERIFY(w.rowsStatus()->isHidden());
    quint64 total = 0;
    for (int batch : {80, 80, 90}) {
        total += quint64(batch);
        QVERIFY(receive(w, 14, 3, QVector<VCI_CAN_OBJ>(batch, standardFrame(0x300, 1)), total));
    }
    QCOMPARE(w.trace()->model()->rowCount(), 100);
    QVERIFY(!w.rowsStatus()->isHidden());
    QCOMPARE(w.rowsStatus()->text(), QStringLiteral("showing the newest %1 of %2")
                                         .arg(QLocale().toString(100), QLocale().toString(250)));
    QCOMPARE(w.idStatistics().rows().at(0).count, quint64(250));
}

void tst_KavriView::transferRefusesBadFiles_data()
{
    QTest::addColumn<bool>("replay");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("map");
    const QString missing = QStringLiteral("/nonexistent/recording.asc");
    const QString folder = QStringLiteral(KAVRI_EXAMPLES);
    QTest::newRow("replay, empty path") << true << "  "
                                        << "Choose a recording first." << 37 << "";
    QTest::newRow("replay, missing file")
        << true << missing << missing + " does not exist." << 0 << "";
    QTest::newRow("replay, a folder")
        << true << folder << "Cannot read " + folder + ": not a file" << 0 << "";
    QTest::newRow("download, empty path") << false << ""
                                          << "Choose a firmware image first." << 37 << "";
    QTest::newRow("download, missing file")
        << false << missing << missing + " does not exist." << 0 << "";
    QTest::newRow("replay, map beyond the channels")
        << true << Examples + "/recording.asc"
        << "Map: bad channel map entry '1=4': expected FROM=TO with channels 0 to 3, as in 1=0,2=1"
        << 0 << "1=0, 1=4";
    QTest::newRow("replay, channel mapped twice")
        << true << Examples + "/recording.asc"
        << "Map: channel 1 is mapped twice" << 0 << "1=0,1=1";
}

// Bad paths are refused with the reason, before the channel is even asked about.
void tst_KavriView::transferRefusesBadFiles()
{
    QFETCH(bool, replay);
    QFETCH(QString, file);
    QFETCH(QString, message);
    QFETCH(int, bar);
    QFETCH(QString, map);
    KvDeviceSession session;
    TransferPanel panel(&session);
    panel.channelMapEdit()->setText(map);
    QProgressBar *progress = replay ? panel.replayBar() : panel.downloadBar();
    progress->setValue(37);
    QVERIFY(!(replay ? panel.startReplay(file) : panel.startDownload(file)));
    QCOMPARE(panel.statusText(), message);
    QCOMPARE(progress->value(), bar);
}

// A replay stopped on its way says where it stopped and keeps its bar there.
void tst_KavriView::stoppedReplaySaysWhere()
{
    QTemporaryDir dir;
    const QString recording = writeLongRecording(dir, 5000);
    KvDeviceSession session;
    session.addChannel(0, 500000);
    session.addChannel(1, 500000);
    QVERIFY2(session.start(), qPrintable(session.errorString()));
    // At the bus's own pace the replay takes about a second, time enough to stop it on its way.
    QVERIFY(session.wire(0, 1) && session.setSimulatedBusTiming(true));
    TransferPanel panel(&session);
    QSignalSpy finished(&panel, &TransferPanel::replayFinished);
    QVERIFY(panel.startReplay(recording));
    QTRY_VERIFY_WITH_TIMEOUT(panel.replayBar()->value() >= 5, 10000);
    panel.stopReplay();
    QVERIFY(finished.count() == 1 || finished.wait(5000));
    const int at = panel.replayBar()->value();
    QVERIFY2(at > 0 && at < 100, qPrintable(QString::number(at)));
    QCOMPARE(panel.statusText(), QStringLiteral("Stopped at %1 %").arg(at));
    session.stop();
}

// At 1024 x 700 every control of every page shows whole, and a long message moves nothing.
void tst_KavriView::layoutFitsSmallWindow()
{
    MainWindow w;
    w.resize(1024, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE(w.size(), QSize(1024, 700));
    // The widest status bar: rows being dropped.
    w.trace()->setRowLimit(100);
    QVERIFY2(startSession(w, 4, {0}), qPrintable(w.session()->errorString()));
    QVERIFY(receive(w, 4, 0, QVector<VCI_CAN_OBJ>(300, standardFrame(0x300, 1)), 300));
    QVERIFY(!w.rowsStatus()->isHidden());
    checkLayout(w);
}

// Every control of every page shows whole at the window's size, and a long message moves nothing.
void tst_KavriView::checkLayout(MainWindow &w)
{
    const QSize size = w.size();
    for (QTabWidget *tabs : {w.mainPages(), w.viewPages(), w.lowerPages()}) {
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QTRY_COMPARE(w.size(), size);
            QTRY_VERIFY_WITH_TIMEOUT(clippedWidgets(&w).isEmpty(), 1000);
            const QStringList clipped = clippedWidgets(&w);
            QVERIFY2(clipped.isEmpty(), qPrintable(tabs->tabText(i) + ": " + clipped.join("; ")));
        }
    }
    QCoreApplication::processEvents(); // the last page's layout settles before it is measured
    const QList<QSplitter *> splitters = w.findChildren<QSplitter *>();
    QList<QList<int>> sizes;
    for (const QSplitter *s : splitters)
        sizes << s->sizes();
    const QString longPath = QStringLiteral("/nonexistent/") + QString(300, QLatin1Char('x'));
    w.transferPanel()->startReplay(longPath);
    w.sendPanel()->setFrame(QString(8, QLatin1Char('G')), QString());
    w.sendPanel()->send();
    w.statusBar()->showMessage(QString(400, QLatin1Char('y')));
    QCoreApplication::processEvents();
    QCOMPARE(w.size(), size);
    for (int i = 0; i < splitters.size(); ++i)
        QCOMPARE(splitters.at(i)->sizes(), sizes.at(i));
}

void tst_KavriView::replayControls_data()
{
    QTest::addColumn<QString>("map");
    QTest::addColumn<int>("passes");
    QTest::addColumn<double>("speed");
    QTest::addColumn<bool>("backToBack");
    QTest::addColumn<qint64>("gapUs");
    QTest::addColumn<int>("onWire1");
    QTest::addColumn<int>("onWire3");
    // The recording: 6 frames each on can0 (ID 100) and can1 (ID 101), alternating, `gapUs`
    // apart. Channels 0-1 and 2-3 are wired; the mapped channel's wire partner receives.
    QTest::newRow("no map: all onto the working channel")
        << "" << 1 << 1.0 << true << qint64(1000) << 12 << 0;
    QTest::newRow("can1 alone onto channel 2")
        << "1=2" << 1 << 1.0 << true << qint64(1000) << 0 << 6;
    QTest::newRow("both mapped, crossed")
        << "0=2, 1=0" << 1 << 1.0 << true << qint64(1000) << 6 << 6;
    QTest::newRow("three passes") << "1=0" << 3 << 1.0 << true << qint64(1000) << 18 << 0;
    // Without the speed, 11 gaps of 5 s would outlast the wait.
    QTest::newRow("1000 times faster") << "" << 1 << 1000.0 << false << qint64(5000000) << 12 << 0;
    // Gaps of an hour: only ignoring the time stamps ends this within the wait.
    QTest::newRow("time stamps ignored")
        << "0=2" << 2 << 1.0 << true << qint64(3600000000) << 0 << 12;
}

// The Replay page's controls on a four-channel adapter: the frames arrive where the map sends
// them, as often as the passes say, at the speed asked for.
void tst_KavriView::replayControls()
{
    QFETCH(QString, map);
    QFETCH(int, passes);
    QFETCH(double, speed);
    QFETCH(bool, backToBack);
    QFETCH(qint64, gapUs);
    QFETCH(int, onWire1);
    QFETCH(int, onWire3);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("two.log"));
    QFile log(path);
    QVERIFY(log.open(QIODevice::WriteOnly));
    for (int i = 0; i < 12; ++i)
        log.write(QStringLiteral("(%1.%2) can%3 10%3#%4\n")
                      .arg(1000 + gapUs * i / 1000000)
                      .arg(gapUs * i % 1000000, 6, 10, QLatin1Char('0'))
                      .arg(i % 2)
                      .arg(i, 2, 16, QLatin1Char('0'))
                      .toLatin1());
    log.close();

    MainWindow w;
    QVERIFY2(startSession(w, 14, {0, 1, 2, 3}), qPrintable(w.session()->errorString()));
    QVERIFY(w.session()->wire(0, 1) && w.session()->wire(2, 3));
    KvFrameSubscription wire1(*w.session(), 1);
    KvFrameSubscription wire3(*w.session(), 3);
    TransferPanel *page = w.transferPanel();
    page->channelMapEdit()->setText(map);
    page->loopBox()->setValue(passes);
    page->speedBox()->setValue(speed);
    page->ignoreTimeStampsBox()->setChecked(backToBack);
    QSignalSpy finished(page, &TransferPanel::replayFinished);
    QVERIFY2(page->startReplay(path), qPrintable(page->statusText()));
    QVERIFY(finished.wait(8000));
    QVERIFY2(page->replayBar()->value() == 100, qPrintable(page->statusText()));
    QCOMPARE(page->replayer()->passesDone(), passes);
    QVector<KvCanObj> heard1, heard3;
    QTRY_VERIFY((wire1.take(heard1), wire3.take(heard3),
                 heard1.size() >= onWire1 && heard3.size() >= onWire3));
    QCOMPARE(heard1.size(), onWire1);
    QCOMPARE(heard3.size(), onWire3);
    // Each channel carries the identifiers of the recording channels mapped onto it alone.
    QVector<QPair<int, int>> plan{{0, 0}, {1, 0}};
    QString error;
    if (!map.isEmpty())
        QVERIFY(KvReplay::parseChannelMap(map, plan, error));
    QSet<quint32> ids1, ids3, want1, want3;
    for (const KvCanObj &r : qAsConst(heard1))
        ids1 << r.frame.ID;
    for (const KvCanObj &r : qAsConst(heard3))
        ids3 << r.frame.ID;
    for (const auto &p : qAsConst(plan))
        (p.second == 0 ? want1 : want3) << 0x100u + quint32(p.first);
    QCOMPARE(ids1, onWire1 ? want1 : QSet<quint32>());
    QCOMPARE(ids3, onWire3 ? want3 : QSet<quint32>());
}

// A task waiting out a 10-minute interval and a replay in an hour-long gap: Stop and closing
// the window leave the interface responsive.
void tst_KavriView::stopAndCloseStayResponsive()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gaps.log"));
    QFile log(path);
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("(1000.000000) can0 100#01\n(4600.000000) can0 100#02\n");
    log.close();

    auto *w = new MainWindow;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->deviceBar()->openButton()->click();
    w->deviceBar()->startButton()->click();
    QCOMPARE(w->session()->state(), KvDeviceSession::Started);
    taskObj slow;
    CanObj frame;
    frame.ID = 0x7AB;
    CanData burst;
    burst.push(frame);
    slow.dataList << burst;
    slow.frames = 1;
    slow.times = 3;
    slow.interval = 600000;
    w->taskPanel()->addTask(slow);
    QVERIFY(w->taskPanel()->run());
    w->transferPanel()->maxGapBox()->setValue(3600);
    QVERIFY2(w->transferPanel()->startReplay(path), qPrintable(w->transferPanel()->statusText()));
    // The task's first frame is out and it waits its interval; the replay waits its hour.
    QTRY_VERIFY(w->transferPanel()->replayBar()->value() > 0);

    // A timer shot set before each step fires within the bound: nothing held the event loop.
    QElapsedTimer clock;
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    clock.start();
    w->taskPanel()->stop();
    w->transferPanel()->stopReplay();
    QTRY_VERIFY_WITH_TIMEOUT(fired && !w->transferPanel()->isReplaying(), 1000);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!w->taskPanel()->isRunning());
    QVERIFY(w->transferPanel()->statusText().startsWith(QStringLiteral("Stopped at")));

    // The device bar's Stop takes the session down with both running.
    auto runBoth = [&] {
        QVERIFY2(w->taskPanel()->run(), qPrintable(w->taskPanel()->statusText()));
        QVERIFY2(w->transferPanel()->startReplay(path),
                 qPrintable(w->transferPanel()->statusText()));
        QTRY_VERIFY(w->transferPanel()->replayBar()->value() > 0);
    };
    runBoth();
    if (QTest::currentTestFailed())
        return;
    fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    clock.restart();
    w->deviceBar()->stopButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(fired, 1000);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(w->session()->state(), KvDeviceSession::Closed);
    QVERIFY(!w->transferPanel()->isReplaying() && !w->taskPanel()->isRunning());

    // And closing the window with both running.
    w->deviceBar()->openButton()->click();
    w->deviceBar()->startButton()->click();
    QCOMPARE(w->session()->state(), KvDeviceSession::Started);
    runBoth();
    if (QTest::currentTestFailed())
        return;
    clock.restart();
    w->close();
    delete w;
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

// With KAVRI_SCREENSHOT_DIR set, the window with traffic at 1024 x 700 and 1440 x 900 is
// written there as kavri-view-1024x700.png and kavri-view-1440x900.png. Either way every control
// shows whole at both sizes.
void tst_KavriView::screenshots()
{
    const QString folder = qEnvironmentVariable("KAVRI_SCREENSHOT_DIR");
    KvNameMapping::getSingleton().add(0x18FEF100, QStringLiteral("EngineSpeed"));
    KvNameMapping::getSingleton().add(0x0C4, QStringLiteral("BrakePedal"));
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.deviceBar()->openButton()->click();
    w.deviceBar()->startButton()->click();
    QCOMPARE(w.session()->state(), KvDeviceSession::Started);
    w.trace()->setChannel(1);
    // A few identifiers on channel 0, wired to the shown channel 1, each at its own cycle.
    const struct
    {
        quint32 id;
        int interval;
        quint8 len;
    } cyclic[] = {{0x0C4, 10, 4}, {0x18FEF100, 20, 8}, {0x3E8, 50, 2}, {0x7DF, 100, 8}};
    for (const auto &c : cyclic) {
        taskObj task;
        CanObj frame;
        frame.ID = c.id;
        frame.ExternFlag = c.id > 0x7FF;
        frame.DataLen = c.len;
        for (int b = 0; b < c.len; ++b)
            frame.Data[b] = quint8(0x11 * (b + 1));
        CanData burst;
        burst.push(frame);
        task.dataList << burst;
        task.frames = 1;
        task.times = 1; // per cycle
        task.interval = c.interval;
        task.dataIncrease = 1;
        w.taskPanel()->addTask(task);
    }
    w.taskPanel()->setMode(TaskPanel::Parallel);
    QVERIFY2(w.taskPanel()->run(), qPrintable(w.taskPanel()->statusText()));
    w.viewPages()->setCurrentWidget(w.idStatisticsPanel());
    QTRY_VERIFY_WITH_TIMEOUT(w.idStatisticsPanel()->model()->rowCount() == 4, 10000);
    // The example database describes this traffic: engine speed and brake pressure are plotted.
    QVERIFY(w.signalsPanel()->loadDatabase(QStringLiteral(KAVRI_EXAMPLES "/demo.dbc")));
    const SignalsModel *signalRows = w.signalsPanel()->model();
    QVector<int> plotted;
    for (int row = 0; row < signalRows->rowCount(); ++row) {
        const QString name = signalRows->index(row, SignalsModel::Signal).data().toString();
        if (name == QLatin1String("EngSpeed") || name == QLatin1String("Pressure")) {
            w.signalsPanel()->model()->setChosen(row, true);
            plotted << row;
        }
    }
    QCOMPARE(plotted.size(), 2);

    for (const QSize size : {QSize(1024, 700), QSize(1440, 900)}) {
        w.resize(size);
        QTRY_COMPARE(w.size(), size);
        // The small window shows the trace, the large one the plot of the same traffic.
        const bool large = size.width() > 1024;
        w.mainPages()->setCurrentWidget(large ? static_cast<QWidget *>(w.signalPlot())
                                              : w.mainPages()->widget(0));
        if (large) {
            for (int signal : plotted)
                QTRY_VERIFY_WITH_TIMEOUT(w.signalPlot()->series(signal) &&
                                             w.signalPlot()->series(signal)->count() > 50,
                                         10000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(w.busLoadPlot()->series(1)->count() > 5, 10000);
        // Rows get their relative times once the session has handed their frames out. While the
        // traffic goes on, the newest row is often a cycle ahead of that, the more so under a
        // sanitizer: a recent row must have its time, the newest one is waited for a while.
        const TraceModel *trace = w.trace()->model();
        const auto timed = [&](int back) {
            w.refresh();
            const int last = trace->rowCount() - 1;
            for (int row = last; row >= 0 && row >= last - back; --row) {
                if (!trace->index(row, TraceModel::Relative).data().toString().isEmpty())
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(timed(50), 10000);
        if (!QTest::qWaitFor([&] { return timed(0); }, 3000))
            qInfo("the newest row is still without its relative time");
        // The figures come from the window's own refresh cycle, not from the calls above.
        QTRY_VERIFY_WITH_TIMEOUT(w.traffic()->load() > 0.5, 5000);
        QVERIFY2(clippedWidgets(&w).isEmpty(), qPrintable(clippedWidgets(&w).join("; ")));
        if (!folder.isEmpty()) {
            const QString file = QDir(folder).filePath(
                QStringLiteral("kavri-view-%1x%2.png").arg(size.width()).arg(size.height()));
            QVERIFY2(w.grab().save(file), qPrintable(file));
        }
    }
    w.taskPanel()->stop();
    checkLayout(w);
    KvNameMapping::getSingleton().clear();
}

// Size, splitters, columns, time mode, last files and the last device outlive the window.
void tst_KavriView::windowStateIsKept()
{
    QList<int> panes;
    {
        MainWindow w;
        w.resize(1100, 760);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *split = w.findChild<QSplitter *>();
        split->setSizes({200, 400});
        panes = split->sizes();
        // Enlarged, the pages below give up their place; closed enlarged, the window keeps the
        // layout from before.
        QTest::mouseDClick(w.mainPages()->tabBar(), Qt::LeftButton, {},
                           w.mainPages()->tabBar()->tabRect(0).center());
        QVERIFY(w.isTopEnlarged() && w.enlargeButton()->isChecked());
        QTRY_VERIFY(w.mainPages()->height() > 600);
        w.enlargeButton()->click();
        QVERIFY(!w.isTopEnlarged());
        QTRY_COMPARE(split->sizes(), panes);
        w.enlargeButton()->click();
        w.transferPanel()->speedBox()->setValue(2.5);
        w.transferPanel()->loopBox()->setValue(3);
        w.transferPanel()->ignoreTimeStampsBox()->setChecked(true);
        w.transferPanel()->channelMapEdit()->setText("1=0");
        w.trace()->setColumnShown(TraceModel::Spare2, true);
        w.trace()->setColumnShown(TraceModel::TimeStamp, false);
        w.trace()->timeModeBox()->setCurrentIndex(TraceModel::DeltaPerId);
        w.transferPanel()->setReplayFileName(QStringLiteral("/data/drive.asc"));
        w.transferPanel()->setImageFileName(QStringLiteral("/data/node.bin"));
        DeviceConfig device;
        device.type = 14;
        device.channel = 2;
        device.wire = 3;
        device.bitRate = 250000;
        w.deviceBar()->setConfig(device);
    }
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), QSize(1100, 760));
    QVERIFY(!w.isTopEnlarged());
    QCOMPARE(w.findChild<QSplitter *>()->sizes(), panes);
    TransferPanel *replay = w.transferPanel();
    QCOMPARE(replay->speedBox()->value(), 2.5);
    QCOMPARE(replay->loopBox()->value(), 3);
    QVERIFY(replay->ignoreTimeStampsBox()->isChecked());
    QCOMPARE(replay->channelMapEdit()->text(), QString("1=0"));
    QVERIFY(!w.trace()->view()->isColumnHidden(TraceModel::Spare2));
    QVERIFY(w.trace()->view()->isColumnHidden(TraceModel::TimeStamp));
    QVERIFY(w.trace()->view()->isColumnHidden(TraceModel::Spare1));
    QCOMPARE(w.trace()->model()->timeMode(), TraceModel::DeltaPerId);
    QCOMPARE(w.transferPanel()->replayFileName(), QStringLiteral("/data/drive.asc"));
    QCOMPARE(w.transferPanel()->imageFileName(), QStringLiteral("/data/node.bin"));
    const DeviceConfig device = w.deviceBar()->config();
    QCOMPARE(QVector<uint>({device.type, device.channel, uint(device.wire), device.bitRate}),
             QVector<uint>({14, 2, 3, 250000}));
}

QTEST_MAIN(tst_KavriView)
#include "tst_kavriview.moc"
