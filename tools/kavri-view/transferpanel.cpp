#include "transferpanel.h"

#include "kvformatregistry.h"

#include "canwritethread.h"
#include "devcan.h"
#include "kvdevicesession.h"
#include "kvsendfilethread.h"
#include "kvsendfirmwarethread.h"

#include <QtCore/QFile>
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
    // A long message must not widen the page: it is cut at the page's edge, whole in its tip.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
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
            const QString name = QFileDialog::getOpenFileName(this, tr("Choose a file"),
                                                              QFileInfo(file->text()).path());
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

QString TransferPanel::formatOf(const QString &fileName, QString *error)
{
    const KvFormat *format = KvFormatRegistry::detect(fileName, QString(), error);
    return format ? format->name : QString();
}

bool TransferPanel::channelStarted()
{
    if (DevCan::instance().isStarted(ulong(ch)))
        return true;
    status->setText(tr("Start channel %1 first.").arg(ch));
    return false;
}

bool TransferPanel::readable(const QString &fileName, QProgressBar *bar, const QString &what)
{
    if (fileName.trimmed().isEmpty()) {
        report(tr("Choose %1 first.").arg(what));
        return false;
    }
    bar->setValue(0);
    const QFileInfo info(fileName);
    QFile file(fileName);
    if (!info.exists()) {
        report(tr("%1 does not exist.").arg(fileName));
        return false;
    }
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        report(tr("Cannot read %1: %2")
                   .arg(fileName, info.isFile() ? file.errorString() : tr("not a file")));
        return false;
    }
    return true;
}

void TransferPanel::report(const QString &message)
{
    status->setText(message);
    status->setToolTip(message);
}

QString TransferPanel::statusText() const
{
    return status->text();
}

bool TransferPanel::startReplay(const QString &fileName)
{
    if (!readable(fileName, replayProgress, tr("a recording")) || !channelStarted() ||
        isReplaying())
        return false;
    QString why;
    const QString format = formatOf(fileName, &why);
    if (format.isEmpty()) {
        replayProgress->setValue(0);
        report(why);
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
    // Payload bytes alone take their frame from the Send page; every other format carries its
    // frames and is replayed with its own pacing.
    if (format == QLatin1String("bin"))
        replay->setFileType(0);
    else
        replay->setFormat(format);
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
        report(tr("The adapter refused a frame of the replay."));
    });
    connect(replay.get(), &QThread::finished, this, [this] {
        if (replayStopped) {
            report(tr("Stopped at %1 %").arg(replayProgress->value()));
        } else if (!replayBegan) {
            replayProgress->setValue(0);
            report(tr("Not a recording the replay can read."));
        } else if (!replayRefused) {
            replayProgress->setValue(100);
            report(tr("Replay finished."));
        }
        emit replayFinished();
    });
    replay->start();
    report(tr("Replaying %1 on channel %2...").arg(QFileInfo(fileName).fileName()).arg(ch));
    return true;
}

void TransferPanel::stopReplay()
{
    if (isReplaying()) {
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
    if (!readable(fileName, downloadProgress, tr("a firmware image")) || !channelStarted() ||
        isDownloading())
        return false;
    CanWriteThread *writer = session->writer(ch);
    if (!writer) {
        report(tr("Channel %1 has no transmit thread.").arg(ch));
        return false;
    }
    imageFile->setText(fileName);
    downloadProgress->setValue(0);
    downloadSent = false;
    downloadStopped = false;
    download = std::make_unique<KvSendFirmwareThread>(ulong(ch));
    download->setFileName(fileName);
    connect(download.get(), &KvSendFirmwareThread::progressValueChanged, downloadProgress,
            &QProgressBar::setValue);
    // The finish command carries the tail mark: the download is on the wire once it is sent. A
    // stopped download still sends its closing commands.
    disconnect(tailConnection);
    tailConnection = connect(writer, &CanWriteThread::tailSignal, this, [this] {
        if (downloadSent)
            return;
        downloadSent = true;
        if (!downloadStopped)
            report(tr("Firmware download sent."));
        emit downloadFinished();
    });
    download->start();
    report(tr("Downloading %1 on channel %2...").arg(QFileInfo(fileName).fileName()).arg(ch));
    return true;
}

void TransferPanel::stopDownload()
{
    if (!isDownloading())
        return;
    if (download)
        download->stop();
    if (download)
        download->waitForFinish();
    downloadStopped = true;
    report(tr("Stopped at %1 %").arg(downloadProgress->value()));
}

QString TransferPanel::replayFileName() const
{
    return replayFile->text();
}

void TransferPanel::setReplayFileName(const QString &fileName)
{
    replayFile->setText(fileName);
}

QString TransferPanel::imageFileName() const
{
    return imageFile->text();
}

void TransferPanel::setImageFileName(const QString &fileName)
{
    imageFile->setText(fileName);
}

bool TransferPanel::isDownloading() const
{
    return (download && !download->isFinished()) || !downloadSent;
}
