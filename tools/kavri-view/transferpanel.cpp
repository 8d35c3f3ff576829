#include "transferpanel.h"

#include "kvformatregistry.h"

#include "canwritethread.h"
#include "devcan.h"
#include "kvdevicesession.h"
#include "kvreplay.h"
#include "kvsendfirmwarethread.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QVBoxLayout>

TransferPanel::TransferPanel(KvDeviceSession *s, QWidget *parent)
    : QWidget(parent), session(s), replayFile(new QLineEdit), speed(new QDoubleSpinBox),
      loops(new QSpinBox), maxGap(new QDoubleSpinBox), ignoreStamps(new QCheckBox),
      channelMap(new QLineEdit), imageFile(new QLineEdit), replayProgress(new QProgressBar),
      downloadProgress(new QProgressBar), status(new QLabel), replay(new KvReplay(*s))
{
    replayFile->setPlaceholderText(tr("recording (ASC, BLF, candump, CSV, ...)"));
    speed->setRange(0.001, 1000);
    speed->setDecimals(3);
    speed->setValue(1);
    speed->setSuffix(QStringLiteral(" x"));
    speed->setToolTip(tr("Play the recorded gaps this many times faster."));
    loops->setRange(1, 1000000);
    loops->setToolTip(tr("Replay the file this many times."));
    maxGap->setRange(0, 3600);
    maxGap->setDecimals(1);
    maxGap->setValue(10);
    maxGap->setSuffix(tr(" s"));
    maxGap->setToolTip(tr("Longest pause between two frames."));
    ignoreStamps->setText(tr("Back to back"));
    ignoreStamps->setToolTip(tr("Ignore the time stamps: send the frames without pauses."));
    connect(ignoreStamps, &QCheckBox::toggled, maxGap, &QWidget::setDisabled);
    channelMap->setPlaceholderText(tr("all onto the channel, or 1=0,2=1"));
    channelMap->setToolTip(tr("Recording channel onto device channel, both counted from 0 (ASC "
                              "and BLF channel 1 and candump can0 are channel 0); channels "
                              "left out of the map are not replayed."));
    // A long message must not widen the page: it is cut at the page's edge, whole in its tip.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    // One line from the start: an empty label is lower, and its first message would otherwise
    // make the page taller and move the window's splitter.
    status->setFixedHeight(status->fontMetrics().height() + 2);
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
    auto *options = new QGridLayout;
    options->addWidget(new QLabel(tr("Speed")), 0, 0);
    options->addWidget(speed, 0, 1);
    options->addWidget(new QLabel(tr("Passes")), 0, 2);
    options->addWidget(loops, 0, 3);
    options->addWidget(new QLabel(tr("Max gap")), 0, 4);
    options->addWidget(maxGap, 0, 5);
    // Two rows, not three: the lower pages' height decides how much of a small window the
    // trace keeps.
    options->addWidget(ignoreStamps, 1, 0, 1, 2);
    options->addWidget(new QLabel(tr("Map")), 1, 2);
    options->addWidget(channelMap, 1, 3, 1, 3);
    options->setColumnStretch(6, 1);
    grid->addLayout(options, 2, 1, 1, 4);
    row(
        3, tr("Firmware"), imageFile, downloadProgress,
        [this] { startDownload(imageFile->text()); }, [this] { stopDownload(); });
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(status);
    layout->addStretch();

    connect(replay.get(), &KvReplay::progressChanged, replayProgress, &QProgressBar::setValue);
    connect(replay.get(), &KvReplay::passStarted, this, [this](int pass) {
        if (pass > 1)
            report(tr("Replaying %1, pass %2 of %3...")
                       .arg(QFileInfo(replay->fileName()).fileName())
                       .arg(pass)
                       .arg(loops->value()));
    });
    connect(replay.get(), &KvReplay::finished, this, &TransferPanel::replayEnded);

    // A download whose transmit thread went away with the device will not be finished by it.
    connect(session, &KvDeviceSession::stateChanged, this, [this](KvDeviceSession::State state) {
        if (state != KvDeviceSession::Started)
            downloadSent = true;
    });
}

void TransferPanel::saveSettings(QSettings &settings) const
{
    settings.setValue(QStringLiteral("replay/speed"), speed->value());
    settings.setValue(QStringLiteral("replay/passes"), loops->value());
    settings.setValue(QStringLiteral("replay/maxGap"), maxGap->value());
    settings.setValue(QStringLiteral("replay/ignoreStamps"), ignoreStamps->isChecked());
    settings.setValue(QStringLiteral("replay/channelMap"), channelMap->text());
}

void TransferPanel::restoreSettings(const QSettings &settings)
{
    // The boxes bound what comes back: a value edited by hand out of range is clamped by them.
    speed->setValue(settings.value(QStringLiteral("replay/speed"), speed->value()).toDouble());
    loops->setValue(settings.value(QStringLiteral("replay/passes"), loops->value()).toInt());
    maxGap->setValue(settings.value(QStringLiteral("replay/maxGap"), maxGap->value()).toDouble());
    ignoreStamps->setChecked(
        settings.value(QStringLiteral("replay/ignoreStamps"), ignoreStamps->isChecked()).toBool());
    channelMap->setText(settings.value(QStringLiteral("replay/channelMap")).toString());
}

TransferPanel::~TransferPanel()
{
    // The replay's destructor waits for its threads: at most one pause slice.
    replay.reset();
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
    if (!readable(fileName, replayProgress, tr("a recording")) || isReplaying())
        return false;
    QVector<QPair<int, int>> map;
    QString why;
    if (!channelMap->text().trimmed().isEmpty() &&
        !KvReplay::parseChannelMap(channelMap->text(), map, why)) {
        report(tr("Map: %1").arg(why));
        return false;
    }
    replay->setChannel(ch);
    replay->setChannelMap(map);
    for (int target : replay->targetChannels()) {
        if (!DevCan::instance().isStarted(ulong(target))) {
            report(tr("Start channel %1 first.").arg(target));
            return false;
        }
    }
    const QString format = formatOf(fileName, &why);
    if (format.isEmpty()) {
        replayProgress->setValue(0);
        report(why);
        return false;
    }
    // Payload bytes alone take their frame from the Send page; every other format carries its
    // frames and is replayed with its own pacing.
    const bool payloads = format == QLatin1String("bin");
    if (payloads && !map.isEmpty()) {
        report(tr("Map: a binary file has no channels to map."));
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
    if (payloads)
        replay->setFileType(0);
    else
        replay->setFormat(format);
    replay->setFileName(fileName);
    replay->setParameter(task);
    replay->setSpeed(speed->value());
    replay->setLoops(loops->value());
    replay->setMaxGap(ignoreStamps->isChecked() ? 0 : qint64(maxGap->value() * 1000));
    if (!replay->start()) {
        report(replay->errorString());
        return false;
    }
    report(tr("Replaying %1 on channel %2...")
               .arg(QFileInfo(fileName).fileName())
               .arg(map.isEmpty() ? QString::number(ch) : channelMap->text().trimmed()));
    return true;
}

void TransferPanel::replayEnded()
{
    switch (replay->endReason()) {
    case KvSendFileThread::Stopped:
        report(tr("Stopped at %1 %").arg(replayProgress->value()));
        break;
    case KvSendFileThread::NotRun:
    case KvSendFileThread::Refused:
        replayProgress->setValue(0);
        report(tr("Not a recording the replay can read."));
        break;
    case KvSendFileThread::TransmitRefused:
        report(tr("The adapter refused a frame of the replay."));
        break;
    case KvSendFileThread::ReadError:
        report(tr("Stopped at a truncated or broken file (%1 %): %2")
                   .arg(replayProgress->value())
                   .arg(replay->errorString()));
        break;
    case KvSendFileThread::EndOfData:
        replayProgress->setValue(100);
        if (replay->sentFrames() == 0)
            report(tr("Replay finished: no frame to send for these channels."));
        else if (replay->passesDone() > 1)
            report(tr("Replay finished, %1 passes.").arg(replay->passesDone()));
        else
            report(tr("Replay finished."));
        break;
    }
    emit replayFinished();
}

void TransferPanel::stopReplay()
{
    replay->stop();
}

bool TransferPanel::isReplaying() const
{
    return replay->isRunning();
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
