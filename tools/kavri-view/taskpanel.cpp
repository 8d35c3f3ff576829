#include "taskpanel.h"

#include "devcan.h"
#include "kvglobalset.h"
#include "kvnamexmlreader.h"
#include "kvnamexmlwriter.h"
#include "taskthread.h"

#include <QtCore/QSaveFile>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

TaskPanel::TaskPanel(QWidget *parent)
    : QWidget(parent), tasks(new QTableWidget(0, 4)), mode(new QComboBox), status(new QLabel)
{
    tasks->setHorizontalHeaderLabels({tr("Send type"), tr("ID"), tr("Type"), tr("Format")});
    tasks->horizontalHeader()->setStretchLastSection(true);
    tasks->setColumnWidth(0, tasks->fontMetrics().horizontalAdvance(tr("Single Send&Rec")) + 16);
    tasks->setColumnWidth(1,
                          tasks->fontMetrics().horizontalAdvance(QStringLiteral("00000000 ")) + 16);
    tasks->setSelectionBehavior(QAbstractItemView::SelectRows);
    tasks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mode->addItems({tr("Sequential"), tr("Cyclic"), tr("Parallel")});
    // A long message must not widen the page: it is cut at the page's edge, whole in its tip.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto *loadBtn = new QPushButton(tr("Load..."));
    auto *saveBtn = new QPushButton(tr("Save..."));
    auto *removeBtn = new QPushButton(tr("Remove"));
    auto *runBtn = new QPushButton(tr("Run"));
    auto *stopBtn = new QPushButton(tr("Stop"));
    auto *files = new QHBoxLayout;
    files->addWidget(loadBtn);
    files->addWidget(saveBtn);
    files->addWidget(removeBtn);
    files->addStretch();
    auto *running = new QHBoxLayout;
    running->addWidget(mode);
    running->addWidget(runBtn);
    running->addWidget(stopBtn);
    running->addWidget(status, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(files);
    layout->addWidget(tasks);
    layout->addLayout(running);

    const QString filter = tr("Task lists (*.xml);;All files (*)");
    connect(loadBtn, &QPushButton::clicked, this, [this, filter] {
        const QString name = QFileDialog::getOpenFileName(this, tr("Load tasks"), last, filter);
        QString error;
        if (!name.isEmpty() && !load(name, error))
            report(error);
    });
    connect(saveBtn, &QPushButton::clicked, this, [this, filter] {
        const QString name = QFileDialog::getSaveFileName(this, tr("Save tasks"), last, filter);
        QString error;
        if (!name.isEmpty() && !save(name, error))
            report(error);
    });
    connect(removeBtn, &QPushButton::clicked, this, [this] {
        if (tasks->currentRow() >= 0)
            tasks->removeRow(tasks->currentRow());
    });
    connect(runBtn, &QPushButton::clicked, this, &TaskPanel::run);
    connect(stopBtn, &QPushButton::clicked, this, &TaskPanel::stop);
}

TaskPanel::~TaskPanel()
{
    stop();
}

void TaskPanel::setChannel(int channel)
{
    ch = channel;
}

bool TaskPanel::load(const QString &fileName, QString &error)
{
    // The reader opens only a regular file: a FIFO chosen in the dialog would block the window.
    KvNameXmlReader reader(tasks);
    if (!reader.readFile(fileName)) {
        error = tr("Cannot read %1: %2").arg(fileName, reader.errorString());
        return false;
    }
    last = fileName;
    report(tr("%n task(s) in the table.", nullptr, tasks->rowCount()));
    return true;
}

bool TaskPanel::save(const QString &fileName, QString &error)
{
    // Written aside and moved into place, so a failed save leaves the old document whole.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        error = tr("Cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    KvNameXmlWriter writer(tasks);
    if (!writer.writeFile(&file) || !file.commit()) {
        error = tr("Cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    last = fileName;
    report(tr("Saved %1.").arg(fileName));
    return true;
}

void TaskPanel::addTask(const taskObj &task)
{
    KvNameXmlReader(tasks).addItem(task);
}

taskQueue TaskPanel::queue() const
{
    taskQueue q;
    for (int row = 0; row < tasks->rowCount(); ++row) {
        if (const QTableWidgetItem *item = tasks->item(row, 0))
            q.enqueue(item->data(Qt::UserRole).value<taskObj>());
    }
    return q;
}

void TaskPanel::setMode(Mode m)
{
    mode->setCurrentIndex(m);
}

bool TaskPanel::run()
{
    taskQueue q = queue();
    if (q.isEmpty()) {
        report(tr("The table holds no task."));
        return false;
    }
    if (!DevCan::instance().isStarted(ulong(ch))) {
        report(tr("Start channel %1 first.").arg(ch));
        return false;
    }
    if (isRunning()) {
        report(tr("The tasks are still running."));
        return false;
    }
    KvGlobalSet::instance().channelSets[ch].taskMode = mode->currentIndex();
    runner = std::make_unique<taskThread>(ulong(ch));
    refused = false;
    connect(runner.get(), &taskThread::errorSignal, this, [this] { refused = true; });
    connect(runner.get(), &QThread::finished, this, [this] {
        // In the parallel mode the run ends at once and its threads go on sending.
        if (runner && runner->singleTaskCount() > 0) {
            report(tr("%1 tasks running in parallel.").arg(runner->singleTaskCount()));
            return;
        }
        report(refused ? tr("The adapter refused a burst.") : tr("Done."));
        emit runFinished();
    });
    const int count = q.size();
    runner->setTaskQueue(q); // takes the tasks out of q
    runner->setPage(1);
    runner->start();
    report(tr("Running %1 tasks on channel %2...").arg(count).arg(ch));
    return true;
}

void TaskPanel::stop()
{
    if (!runner)
        return;
    const bool parallel = runner->singleTaskCount() > 0;
    runner->stop();
    runner->waitForFinish();
    runner->stopSingleTask();
    if (parallel) {
        report(tr("Stopped."));
        emit runFinished();
    }
}

bool TaskPanel::isRunning() const
{
    return runner && (!runner->isFinished() || runner->singleTaskCount() > 0);
}

QString TaskPanel::statusText() const
{
    return status->text();
}

void TaskPanel::setLastFile(const QString &fileName)
{
    last = fileName;
}

void TaskPanel::report(const QString &message)
{
    status->setText(message);
    status->setToolTip(message);
}
