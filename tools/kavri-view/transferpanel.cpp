#include "transferpanel.h"

#include "canwritethread.h"
#include "devcan.h"
#include "kvdevicesession.h"
#include "kvsendfilethread.h"
#include "kvsendfirmwarethread.h"

#include <QtCore/QFileInfo>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>

TransferPanel::TransferPanel(KvDeviceSession *s, QWidget *parent)
    : QWidget(parent), session(s), replayFile(new QLineEdit), imageFile(new QLineEdit),
      replayProgress(new QProgressBar), downloadProgress(new QProgressBar), status(new QLabel)
{
    replayFile->setPlaceholderText(tr("recording (.asc, .csv or binary)"));
    imageFile->setPlaceholderText(tr("firmware image"));
    for (QProgressBar *bar : {replayProgress, downloadProgress}) {
        bar->setRange(0, 100);
        bar->setValue(0);
    }

    auto *grid = new QGridLayout;
    auto row = [&](int r, const QString &title, QLineEdit *file, QProgressBar *bar,
                   const std::function<void()> &startFn, const std::function<void()> &stopFn) {
        auto *browse = new QPushButton(tr("..."));
        auto *startBtn = new QPushButton(tr("Start"));
        auto *stopBtn = new QPushButton(tr("Stop"));
        grid->addWidget(new QLabel(title), r, 0);
        grid->addWidget(file, r, 1);
        grid->addWidget(browse, r, 2);
        grid->addWidget(startBtn, r, 3);
        grid->addWidget(stopBtn, r, 4);
        grid->addWidget(bar, r + 1, 1, 1, 4);
        connect(browse, &QPushButton::clicked, this, [this, file] {
            const QString name = QFileDialog::getOpenFileName(this, tr("Choose a file"));
            if (!name.isEmpty())
                file->setText(name);
        });
        connect(startBtn, &QPushButton::clicked, this, startFn);
        connect(stopBtn, &QPushButton::clicked, this, stopFn);
    };
    row(
        0, tr("Replay"), replayFile, replayProgress, [this] { startReplay(replayFile->text()); },
        [this] { stopReplay(); });
    row(
        2, tr("Firmware"), imageFile, downloadProgress,
        [this] { startDownload(imageFile->text()); }, [this] { stopDownload(); });
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(status);
    layout->addStretch();

    // A download whose transmit thread went away with the device will not be finished by it.
    connect(session, &KvDeviceSession::stateChanged, this, [this](KvDeviceSession::State state) {
        if (state != KvDeviceSession::Started)
            downloadSent = true;
    });
}

TransferPanel::~TransferPanel()
{
    stopReplay();
    stopDownload();
}

void TransferPanel::setChannel(int channel)
{
    ch = channel;
}

void TransferPanel::setStartFrameSource(std::function<bool(taskObj &)> source)
{
    startFrame = std::move(source);
}

int TransferPanel::fileTypeOf(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("asc"))
        return 2;
    if (suffix == QLatin1String("csv"))
        return 1;
    return 0;
}

bool TransferPanel::channelStarted()
{
    if (DevCan::instance().isStarted(ulong(ch)))
        return true;
    status->setText(tr("Start channel %1 first.").arg(ch));
    return false;
}

bool TransferPanel::startReplay(const QString &fileName)
{
    if (!channelStarted() || isReplaying())
        return false;
    if (!QFileInfo(fileName).isReadable()) {
        status->setText(tr("Cannot read %1.").arg(fileName));
        return false;
    }
    taskObj task;
    if (!startFrame || !startFrame(task)) {
        CanData burst;
        burst.push(CanObj());
        task.dataList << burst;
    }
    replayFile->setText(fileName);
    replayProgress->setValue(0);
    replay = std::make_unique<KvSendFileThread>(ulong(ch));
    replay->setFileType(fileTypeOf(fileName));
    replay->setFileName(fileName);
    replay->setParameter(task);
    connect(replay.get(), &KvSendFileThread::progressValueChanged, replayProgress,
            &QProgressBar::setValue);
    replayBegan = false;
    replayStopped = false;
    replayRefused = false;
    connect(replay.get(), &KvSendFileThread::begainSend, this, [this] { replayBegan = true; });
    connect(replay.get(), &KvSendFileThread::errorSignal, this, [this] {
        replayRefused = true;
        status->setText(tr("The adapter refused a frame of the replay."));
    });
    connect(replay.get(), &QThread::finished, this, [this] {
        if (!replayBegan) {
            status->setText(tr("Not a recording the replay can read."));
        } else if (!replayStopped && !replayRefused) {
            replayProgress->setValue(100);
            status->setText(tr("Replay finished."));
        }
        emit replayFinished();
    });
    replay->start();
    status->setText(
        tr("Replaying %1 on channel %2...").arg(QFileInfo(fileName).fileName()).arg(ch));
    return true;
}

void TransferPanel::stopReplay()
{
    if (replay) {
        replayStopped = true;
        replay->stop();
        replay->waitForFinish();
    }
}

bool TransferPanel::isReplaying() const
{
    return replay && !replay->isFinished();
}

bool TransferPanel::startDownload(const QString &fileName)
{
    if (!channelStarted() || isDownloading())
        return false;
    CanWriteThread *writer = session->writer(ch);
    if (!writer || !QFileInfo(fileName).isReadable()) {
        status->setText(tr("Cannot read %1.").arg(fileName));
        return false;
    }
    imageFile->setText(fileName);
    downloadProgress->setValue(0);
    downloadSent = false;
    download = std::make_unique<KvSendFirmwareThread>(ulong(ch));
    download->setFileName(fileName);
    connect(download.get(), &KvSendFirmwareThread::progressValueChanged, downloadProgress,
            &QProgressBar::setValue);
    // The finish command carries the tail mark: the download is on the wire once it is sent.
    disconnect(tailConnection);
    tailConnection = connect(writer, &CanWriteThread::tailSignal, this, [this] {
        if (downloadSent)
            return;
        downloadSent = true;
        status->setText(tr("Firmware download sent."));
        emit downloadFinished();
    });
    download->start();
    status->setText(
        tr("Downloading %1 on channel %2...").arg(QFileInfo(fileName).fileName()).arg(ch));
    return true;
}

void TransferPanel::stopDownload()
{
    if (download) {
        download->stop();
        download->waitForFinish();
    }
}

bool TransferPanel::isDownloading() const
{
    return (download && !download->isFinished()) || !downloadSent;
}
