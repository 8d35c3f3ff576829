#include "mainwindow.h"

#include "busloadplot.h"
#include "chargingpanel.h"
#include "devcan.h"
#include "devicebar.h"
#include "filtereditor.h"
#include "framesignalsview.h"
#include "idstatisticspanel.h"
#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "kvframesubscription.h"
#include "nameeditor.h"
#include "recordpanel.h"
#include "sendpanel.h"
#include "signalplot.h"
#include "signalsendpanel.h"
#include "signalsmodel.h"
#include "signalspanel.h"
#include "taskpanel.h"
#include "tracemodel.h"
#include "tracepanel.h"
#include "trafficstatus.h"
#include "transferpanel.h"
#include "watchpanel.h"

#include <QtCore/QFileInfo>
#include <QtCore/QItemSelectionModel>
#include <QtCore/QSettings>

#include <algorithm>

#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollArea>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QTableView>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

namespace {

// Buttons as narrow as their text allows: the style's minimum button width alone would make the
// device bar wider than a 1024-pixel window.
void narrowButtons(QWidget *window)
{
    for (QPushButton *b : window->findChildren<QPushButton *>()) {
        if (!b->text().isEmpty())
            b->setMinimumWidth(b->fontMetrics().horizontalAdvance(b->text()) + 24);
    }
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), device(new KvDeviceSession(this)), bar(new DeviceBar(device)),
      tracePanel(new TracePanel), watchPanel(new WatchPanel), sender(new SendPanel),
      tasks(new TaskPanel), filter(new FilterEditor), namesPage(new NameEditor),
      transfers(new TransferPanel(device)), recording(new RecordPanel(device)),
      status(new TrafficStatus(statusBar())), idPage(new IdStatisticsPanel(idStats)),
      loadPlot(new BusLoadPlot), charging(new ChargingPanel), rowsLabel(new QLabel),
      pages(new QTabWidget), views(new QTabWidget), panes(new QSplitter(Qt::Vertical)),
      lower(new QSplitter(Qt::Horizontal)), signalsPage(new SignalsPanel), plot(new SignalPlot),
      frameSignals(new FrameSignalsView), signalSend(new SignalSendPanel),
      traceSplit(new QSplitter(Qt::Horizontal)), mainTabs(new QTabWidget), enlarge(new QToolButton)
{
    setWindowTitle(tr("Kavri View"));
    // The plot sits right after the figures, the dropped-rows note among them.
    statusBar()->addPermanentWidget(loadPlot);
    status->addNote(rowsLabel);
    rowsLabel->hide();

    pages->addTab(sender, tr("Send"));
    pages->addTab(tasks, tr("Tasks"));
    pages->addTab(filter, tr("Filter"));
    pages->addTab(namesPage, tr("Names"));
    pages->addTab(transfers, tr("Replay && firmware"));
    pages->addTab(recording, tr("Record"));
    statusBar()->addPermanentWidget(recording->statusLabel());
    connect(recording, &RecordPanel::failed, this,
            [this](const QString &message) { statusBar()->showMessage(message, 10000); });

    views->addTab(watchPanel, tr("Watch"));
    views->addTab(idPage, tr("Per ID"));
    views->addTab(signalsPage, tr("Signals"));
    connect(charging, &ChargingPanel::failed, this,
            [this](const QString &message) { statusBar()->showMessage(message, 10000); });
    lower->addWidget(views);
    lower->addWidget(pages);
    lower->setStretchFactor(0, 3);
    lower->setStretchFactor(1, 2);
    lower->setSizes({820, 560});
    // The selected frame's signals sit beside the trace, shown while a database is loaded.
    traceSplit->addWidget(tracePanel);
    traceSplit->addWidget(frameSignals);
    traceSplit->setStretchFactor(0, 4);
    traceSplit->setStretchFactor(1, 1);
    traceSplit->setSizes({1000, 400});
    frameSignals->hide();
    // The plot and the charging page want the window's width, and the small window's tab rows
    // beside the pages below have no room left: they share the trace's place.
    mainTabs->addTab(traceSplit, tr("Trace"));
    mainTabs->addTab(plot, tr("Plot"));
    // The charging page's picture, timeline and plots need more height than a small window
    // leaves the trace's place: there it scrolls rather than pushing the window taller.
    auto *chargingScroll = new QScrollArea;
    chargingScroll->setWidget(charging);
    chargingScroll->setWidgetResizable(true);
    chargingScroll->setFrameShape(QFrame::NoFrame);
    mainTabs->addTab(chargingScroll, tr("Charging"));
    mainTabs->setDocumentMode(true);
    // A small window leaves these pages a third of its height; the charging page and the plot
    // are worth the whole of it for a while.
    enlarge->setText(tr("Enlarge"));
    enlarge->setCheckable(true);
    enlarge->setAutoRaise(true);
    enlarge->setToolTip(tr("Give these pages the whole window (or double-click a tab)"));
    mainTabs->setCornerWidget(enlarge, Qt::TopRightCorner);
    connect(enlarge, &QToolButton::toggled, this, &MainWindow::setTopEnlarged);
    connect(mainTabs->tabBar(), &QTabBar::tabBarDoubleClicked, enlarge, &QToolButton::toggle);
    panes->addWidget(mainTabs);
    panes->addWidget(lower);
    panes->setStretchFactor(0, 3);
    panes->setStretchFactor(1, 2);

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(bar);
    layout->addWidget(panes, 1);
    setCentralWidget(central);

    transfers->setStartFrameSource([this](taskObj &task) {
        QString error;
        return sender->task(task, error);
    });
    connect(sender, &SendPanel::addTaskRequested, tasks, &TaskPanel::addTask);
    connect(tracePanel, &TracePanel::channelChanged, this, &MainWindow::showChannel);
    connect(signalsPage, &SignalsPanel::databaseChanged, this, &MainWindow::useDatabase);
    connect(signalsPage, &SignalsPanel::chosenChanged, this, [this] {
        plot->setSignals(signalsPage->model()->chosen());
        plot->refresh(signalsPage->decoder());
    });
    connect(tracePanel->view()->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                frameSignals->showTraceRow(tracePanel->model(), current.row());
            });
    // The frame builder is a tool window: the small window's tab rows have no room left, and
    // it is wanted now and then, beside the Send page it fills.
    builder = new QDialog(this);
    builder->setWindowTitle(tr("Build a frame from signals"));
    auto *builderLayout = new QVBoxLayout(builder);
    builderLayout->addWidget(signalSend);
    builder->resize(460, 360);
    connect(signalsPage, &SignalsPanel::buildFrameRequested, this, [this] {
        builder->show();
        builder->raise();
    });
    connect(signalSend, &SignalSendPanel::frameReady, this,
            [this](const QString &id, const QString &data, bool extended) {
                sender->setFrame(id, data, extended);
                pages->setCurrentWidget(sender);
            });
    connect(bar, &DeviceBar::failed, this,
            [this](const QString &message) { statusBar()->showMessage(message, 10000); });
    connect(device, &KvDeviceSession::aboutToStop, this, &MainWindow::stopSenders);
    connect(device, &KvDeviceSession::stateChanged, this, [this](KvDeviceSession::State state) {
        if (state == KvDeviceSession::Opened)
            workOn(device->channels().value(0));
    });
    workOn(0);
    showChannel(0);
    resize(1440, 900);
    narrowButtons(this);
    restoreSettings();

    connect(&timer, &QTimer::timeout, this, &MainWindow::refresh);
    timer.start(KvBuffer::instance(0).getRefreshCycle());
}

MainWindow::~MainWindow()
{
    saveSettings();
    timer.stop();
    stopSenders();
    device->stop();
}

void MainWindow::workOn(int channel)
{
    sender->setChannel(channel);
    tasks->setChannel(channel);
    filter->setChannel(channel);
    transfers->setChannel(channel);
}

void MainWindow::showChannel(int channel)
{
    watchPanel->setChannel(channel);
    charging->setChannel(channel);
    signalsPage->setChannel(channel);
    // The statistics describe one channel: they start again with its next frames. A refresh
    // cycle at full bus load brings a few thousand; the bound leaves room for a stalled window.
    feed = std::make_unique<KvFrameSubscription>(*device, channel, 1 << 18);
    feedDropped = 0;
    stored = 0;
    lastCount = KvBuffer::instance(channel).count();
    lastFrames = quint32(KvBuffer::instance(channel).frames());
    idStats.clear();
    tracePanel->model()->clearTimes();
    timer.setInterval(KvBuffer::instance(channel).getRefreshCycle());
    refresh();
}

void MainWindow::stopSenders()
{
    sender->stop();
    tasks->stop();
    transfers->stopReplay();
    transfers->stopDownload();
}

void MainWindow::refresh()
{
    const int channel = tracePanel->channel();
    feedStatistics();
    tracePanel->refresh();
    watchPanel->refresh();
    idPage->refresh();
    charging->refresh();
    signalsPage->refresh();
    plot->refresh(signalsPage->decoder());
    const bool running = DevCan::instance().isStarted(ulong(channel));
    status->update(channel, running ? DevCan::instance().maxBaudrate(ulong(channel)) : 0);
    int rates[BusLoadPlot::Channels];
    for (int ch = 0; ch < BusLoadPlot::Channels; ++ch)
        rates[ch] =
            DevCan::instance().isStarted(ulong(ch)) ? DevCan::instance().maxBaudrate(ulong(ch)) : 0;
    loadPlot->sample(rates);
    showDroppedRows();
}

// The one place the statistics and the trace's relative times are fed: the frames the shown
// channel's buffer stored since the last cycle, from the session's fan-out.
void MainWindow::feedStatistics()
{
    KvBuffer &buffer = KvBuffer::instance(tracePanel->channel());
    const int count = buffer.count();
    const quint32 frames = quint32(buffer.frames());
    // An emptied list or reset totals (a wrapping 32-bit counter: a step above half its range is
    // a reset): what was derived from the earlier rows no longer matches the list.
    if (count < lastCount || frames - lastFrames > 0x80000000u) {
        idStats.clear();
        tracePanel->model()->clearTimes();
        stored = 0;
    }
    lastCount = count;
    lastFrames = frames;
    QVector<KvCanObj> records;
    feed->take(records);
    const quint64 dropped = feed->dropped();
    if (dropped != feedDropped) {
        // Times with a hole can no longer be placed beside their rows; they start again.
        tracePanel->model()->clearTimes();
        stored += qint64(dropped - feedDropped);
        feedDropped = dropped;
    }
    stored += records.size();
    QVector<KvFrameTime> times;
    times.reserve(records.size());
    for (const KvCanObj &r : qAsConst(records))
        times << idStats.add(r);
    // The newest time belongs to the newest row the session's reader has handed out: the rows
    // still waiting in the save queue come after it.
    const int waiting = std::min(buffer.countRt(), count);
    tracePanel->model()->appendTimes(times, count - waiting, frames - quint32(waiting));
}

void MainWindow::useDatabase()
{
    const KvDbcDatabase *db = signalsPage->database();
    plot->setDatabase(db);
    plot->setSignals(signalsPage->model()->chosen());
    plot->refresh(signalsPage->decoder());
    frameSignals->setDatabase(db);
    frameSignals->setVisible(db != nullptr);
    // A row chosen before the database came unfolds now, not only on the next choice.
    frameSignals->showTraceRow(tracePanel->model(), tracePanel->view()->currentIndex().row());
    signalSend->setDatabase(db);
}

void MainWindow::showDroppedRows()
{
    const KvBuffer &buffer = KvBuffer::instance(tracePanel->channel());
    const int held = buffer.count();
    const bool dropping = held >= buffer.getMaxCount() && stored > held;
    rowsLabel->setVisible(dropping);
    rowsLabel->setText(dropping ? tr("showing the newest %L1 of %L2").arg(held).arg(stored)
                                : QString());
}

void MainWindow::setTopEnlarged(bool on)
{
    if (on == isTopEnlarged())
        return;
    if (on)
        panesBeforeEnlarged = panes->saveState();
    lower->setVisible(!on);
    if (!on)
        panes->restoreState(panesBeforeEnlarged);
    const QSignalBlocker quiet(enlarge);
    enlarge->setChecked(on);
}

bool MainWindow::isTopEnlarged() const
{
    return lower->isHidden();
}

void MainWindow::saveSettings() const
{
    QSettings s(QStringLiteral("Kavri"), QStringLiteral("kavri-view"));
    s.setValue(QStringLiteral("window/geometry"), saveGeometry());
    s.setValue(QStringLiteral("window/panes"),
               isTopEnlarged() ? panesBeforeEnlarged : panes->saveState());
    s.setValue(QStringLiteral("window/lower"), lower->saveState());
    s.setValue(QStringLiteral("window/trace"), traceSplit->saveState());
    s.setValue(QStringLiteral("trace/header"), tracePanel->headerState());
    s.setValue(QStringLiteral("trace/timeMode"), tracePanel->timeModeBox()->currentIndex());
    s.setValue(QStringLiteral("trace/rowLimit"), tracePanel->rowLimit());
    s.setValue(QStringLiteral("perId/header"), idPage->view()->horizontalHeader()->saveState());
    s.setValue(QStringLiteral("files/replay"), transfers->replayFileName());
    s.setValue(QStringLiteral("files/firmware"), transfers->imageFileName());
    s.setValue(QStringLiteral("files/tasks"), tasks->lastFile());
    charging->saveSettings(s);
    s.setValue(QStringLiteral("files/dbc"), signalsPage->fileName());
    signalsPage->saveSettings(s);
    transfers->saveSettings(s);
    const DeviceConfig c = bar->config();
    s.setValue(QStringLiteral("device/type"), c.type);
    s.setValue(QStringLiteral("device/index"), c.index);
    s.setValue(QStringLiteral("device/channel"), c.channel);
    s.setValue(QStringLiteral("device/bitRate"), c.bitRate);
    s.setValue(QStringLiteral("device/wire"), c.wire);
}

void MainWindow::restoreSettings()
{
    QSettings s(QStringLiteral("Kavri"), QStringLiteral("kavri-view"));
    restoreGeometry(s.value(QStringLiteral("window/geometry")).toByteArray());
    panes->restoreState(s.value(QStringLiteral("window/panes")).toByteArray());
    lower->restoreState(s.value(QStringLiteral("window/lower")).toByteArray());
    traceSplit->restoreState(s.value(QStringLiteral("window/trace")).toByteArray());
    tracePanel->restoreHeaderState(s.value(QStringLiteral("trace/header")).toByteArray());
    tracePanel->timeModeBox()->setCurrentIndex(
        s.value(QStringLiteral("trace/timeMode"), 0).toInt());
    const int limit = s.value(QStringLiteral("trace/rowLimit"), 0).toInt();
    if (limit > 0 && limit != tracePanel->rowLimit())
        tracePanel->setRowLimit(limit);
    idPage->view()->horizontalHeader()->restoreState(
        s.value(QStringLiteral("perId/header")).toByteArray());
    transfers->setReplayFileName(s.value(QStringLiteral("files/replay")).toString());
    transfers->setImageFileName(s.value(QStringLiteral("files/firmware")).toString());
    tasks->setLastFile(s.value(QStringLiteral("files/tasks")).toString());
    charging->restoreSettings(s);
    // The last database comes back with its errors shown; a file gone since is forgotten.
    const QString dbc = s.value(QStringLiteral("files/dbc")).toString();
    if (!dbc.isEmpty() && QFileInfo::exists(dbc)) {
        signalsPage->loadDatabase(dbc);
        signalsPage->restoreSettings(s);
    }
    transfers->restoreSettings(s);
    if (s.contains(QStringLiteral("device/type"))) {
        DeviceConfig c;
        c.type = s.value(QStringLiteral("device/type")).toUInt();
        c.index = s.value(QStringLiteral("device/index")).toUInt();
        c.channel = s.value(QStringLiteral("device/channel")).toUInt();
        c.bitRate = s.value(QStringLiteral("device/bitRate")).toUInt();
        c.wire = s.value(QStringLiteral("device/wire")).toInt();
        bar->setConfig(c);
    }
}
