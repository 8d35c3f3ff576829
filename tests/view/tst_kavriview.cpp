#include "devicebar.h"
#include "filtereditor.h"
#include "kvdevicesession.h"
#include "mainwindow.h"
#include "nameeditor.h"
#include "sendpanel.h"
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
#include "vci_sim.h"

#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QXmlStreamReader>
#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QTableView>
#include <QtWidgets/QTableWidget>

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

VCI_CAN_OBJ standardFrame(quint32 id, quint8 first)
{
    VCI_CAN_OBJ f{};
    f.ID = id;
    f.TimeStamp = 1;
    f.DataLen = 2;
    f.Data[0] = first;
    return f;
}

} // namespace

class tst_KavriView : public QObject
{
    Q_OBJECT

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
    void replayFileType_data();
    void replayFileType();
    void nameEditorApplies();
};

void tst_KavriView::init()
{
    VSIM_Reset();
    for (int ch = 0; ch < 4; ++ch) {
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
    const QString shot = QStringLiteral(KAVRIVIEW_SCREENSHOT);
    QVERIFY2(w.grab().save(shot), qPrintable(shot));

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
    w.refresh();

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
    const int named = traceRowOf(trace, QStringLiteral("00000123 "));
    QVERIFY(named >= 0);
    QCOMPARE(traceText(named, TraceModel::Name), QStringLiteral("BrakePedal"));

    // The watch list: data byte 2 of 0x2A0 counted up to its last value (how changed bytes
    // are marked is watchMarksCarriedBytes' business).
    WatchModel *watch = w.watch()->model();
    QCOMPARE(watch->rowCount(), rx.countW());
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
    auto row = [](const char *name, const char *id, const char *data, bool extended, bool remote,
                  uint frameId = 0, const QByteArray &bytes = QByteArray()) {
        QTest::newRow(name) << QString(id) << QString(data) << extended << remote << (frameId != 0)
                            << frameId << bytes;
    };
    row("standard, bytes with blanks", "123", "11 22 33", false, false, 0x123, "\x11\x22\x33");
    row("extended, packed bytes", "1ABCDEF0", "0102", true, false, 0x1ABCDEF0, "\x01\x02");
    row("remote frame without data", "7DF", "", false, true, 0x7DF);
    row("standard ID above 7FF", "800", "", false, false);
    row("extended ID above 1FFFFFFF", "20000000", "", true, false);
    row("ID not hexadecimal", "12G", "", false, false);
    row("half a byte", "123", "1 2 3", false, false);
    row("nine bytes", "123", "11 22 33 44 55 66 77 88 99", false, false);
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

    SendPanel panel;
    panel.setFrame(id, data, extended, remote);
    panel.setRepeat(7, 15, 3, true, 2);
    taskObj task;
    QString error;
    QCOMPARE(panel.task(task, error), valid);
    QCOMPARE(error.isEmpty(), valid);
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

void tst_KavriView::replayFileType_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::newRow("ASC") << "/x/recording.asc" << 2;
    QTest::newRow("CSV in capitals") << "RECORDING.CSV" << 1;
    QTest::newRow("binary image") << "frames.bin" << 0;
    QTest::newRow("no suffix") << "frames" << 0;
}

void tst_KavriView::replayFileType()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QCOMPARE(TransferPanel::fileTypeOf(name), type);
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

QTEST_MAIN(tst_KavriView)
#include "tst_kavriview.moc"
