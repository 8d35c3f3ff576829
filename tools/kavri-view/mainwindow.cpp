#include "mainwindow.h"

#include "devcan.h"
#include "devicebar.h"
#include "filtereditor.h"
#include "kvbuffer.h"
#include "kvdevicesession.h"
#include "nameeditor.h"
#include "recordpanel.h"
#include "sendpanel.h"
#include "taskpanel.h"
#include "tracepanel.h"
#include "trafficstatus.h"
#include "transferpanel.h"
#include "watchpanel.h"

#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QVBoxLayout>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), device(new KvDeviceSession(this)), bar(new DeviceBar(device)),
      tracePanel(new TracePanel), watchPanel(new WatchPanel), sender(new SendPanel),
      tasks(new TaskPanel), filter(new FilterEditor), namesPage(new NameEditor),
      transfers(new TransferPanel(device)), recording(new RecordPanel(device)),
      status(new TrafficStatus(statusBar()))
{
    setWindowTitle(tr("Kavri View"));

    auto *pages = new QTabWidget;
    pages->addTab(sender, tr("Send"));
    pages->addTab(tasks, tr("Tasks"));
    pages->addTab(filter, tr("Filter"));
    pages->addTab(namesPage, tr("Names"));
    pages->addTab(transfers, tr("Replay && firmware"));
    pages->addTab(recording, tr("Record"));
    statusBar()->addPermanentWidget(recording->statusLabel());
    connect(recording, &RecordPanel::failed, this,
            [this](const QString &message) { statusBar()->showMessage(message, 10000); });

    auto *lower = new QSplitter(Qt::Horizontal);
    lower->addWidget(watchPanel);
    lower->addWidget(pages);
    lower->setStretchFactor(0, 3);
    lower->setStretchFactor(1, 2);
    lower->setSizes({820, 560});
    auto *panes = new QSplitter(Qt::Vertical);
    panes->addWidget(tracePanel);
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
    connect(bar, &DeviceBar::failed, this,
            [this](const QString &message) { statusBar()->showMessage(message, 10000); });
    connect(device, &KvDeviceSession::aboutToStop, this, &MainWindow::stopSenders);
    connect(device, &KvDeviceSession::stateChanged, this, [this](KvDeviceSession::State state) {
        if (state == KvDeviceSession::Opened)
            workOn(device->channels().value(0));
    });
    workOn(0);
    showChannel(0);

    connect(&timer, &QTimer::timeout, this, &MainWindow::refresh);
    timer.start(KvBuffer::instance(0).getRefreshCycle());
}

MainWindow::~MainWindow()
{
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
    tracePanel->refresh();
    watchPanel->refresh();
    const bool running = DevCan::instance().isStarted(ulong(channel));
    status->update(channel, running ? DevCan::instance().maxBaudrate(ulong(channel)) : 0);
}
