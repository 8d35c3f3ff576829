#include "recordpanel.h"

#include "kvdevicesession.h"
#include "kvformatregistry.h"
#include "kvrecorder.h"

#include <QtCore/QFileInfo>
#include <QtCore/QLocale>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>

namespace {

QString filterOf(const KvFormat &f)
{
    QStringList patterns;
    for (const QString &s : f.suffixes)
        patterns << QStringLiteral("*.") + s;
    return QStringLiteral("%1 (%2)").arg(f.description, patterns.join(QLatin1Char(' ')));
}

} // namespace

RecordPanel::RecordPanel(KvDeviceSession *s, QWidget *parent)
    : QWidget(parent), session(s), file(new QLineEdit), format(new QComboBox),
      recordButton(new QPushButton(tr("Record"))), pauseButton(new QPushButton(tr("Pause"))),
      stopButton(new QPushButton(tr("Stop"))), label(new QLabel)
{
    for (const KvFormat &f : KvFormatRegistry::formats()) {
        if (f.newWriter)
            format->addItem(f.description, f.name);
    }
    file->setPlaceholderText(tr("recording file"));
    pauseButton->setCheckable(true);
    auto *browse = new QPushButton(tr("..."));
    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("File")), 0, 0);
    grid->addWidget(file, 0, 1, 1, 3);
    grid->addWidget(browse, 0, 4);
    grid->addWidget(new QLabel(tr("Format")), 1, 0);
    grid->addWidget(format, 1, 1, 1, 4);
    grid->addWidget(recordButton, 2, 1);
    grid->addWidget(pauseButton, 2, 2);
    grid->addWidget(stopButton, 2, 3);
    grid->setRowStretch(3, 1);

    connect(browse, &QPushButton::clicked, this, [this] {
        QString chosen;
        const QString name = QFileDialog::getSaveFileName(this, tr("Record into"), file->text(),
                                                          fileFilters(), &chosen);
        if (name.isEmpty())
            return;
        file->setText(name);
        for (const KvFormat &f : KvFormatRegistry::formats()) {
            if (f.newWriter && filterOf(f) == chosen)
                setFormat(f.name);
        }
    });
    connect(recordButton, &QPushButton::clicked, this, [this] { startRecording(); });
    connect(stopButton, &QPushButton::clicked, this, [this] { stopRecording(); });
    connect(pauseButton, &QPushButton::toggled, this, &RecordPanel::setPaused);
    // The session's last frames reach the recorder during its stop; then the file is closed.
    connect(session, &KvDeviceSession::stateChanged, this, [this](KvDeviceSession::State state) {
        if (state == KvDeviceSession::Closed)
            stopRecording();
    });
    connect(&timer, &QTimer::timeout, this, &RecordPanel::refresh);
    refresh();
}

RecordPanel::~RecordPanel() = default;

QString RecordPanel::fileFilters()
{
    QStringList filters;
    for (const KvFormat &f : KvFormatRegistry::formats()) {
        if (f.newWriter)
            filters << filterOf(f);
    }
    return filters.join(QStringLiteral(";;"));
}

void RecordPanel::setFile(const QString &fileName)
{
    file->setText(fileName);
}

bool RecordPanel::setFormat(const QString &name)
{
    const int i = format->findData(name);
    if (i >= 0)
        format->setCurrentIndex(i);
    return i >= 0;
}

bool RecordPanel::startRecording()
{
    if (isRecording())
        return false;
    rec.reset(new KvRecorder(*session));
    connect(rec.get(), &KvRecorder::errorSignal, this, [this](const QString &reason) {
        refresh();
        emit failed(tr("Recording stopped: %1").arg(reason));
    });
    rec->setFormat(format->currentData().toString());
    rec->setPaused(pauseButton->isChecked());
    const bool ok = rec->start(file->text());
    if (ok)
        timer.start(500);
    refresh();
    return ok;
}

void RecordPanel::stopRecording()
{
    if (rec)
        rec->stop();
    timer.stop();
    refresh();
}

void RecordPanel::setPaused(bool paused)
{
    if (pauseButton->isChecked() != paused)
        pauseButton->setChecked(paused);
    if (rec)
        rec->setPaused(paused);
    refresh();
}

bool RecordPanel::isRecording() const
{
    return rec && rec->isRecording();
}

// "Recording trace.asc: 12034 frames, 402.3 KiB, 0 dropped"
void RecordPanel::refresh()
{
    const bool recording = isRecording();
    recordButton->setEnabled(!recording);
    stopButton->setEnabled(recording);
    if (!rec) {
        label->clear();
        return;
    }
    const KvRecorderStatus s = rec->status();
    const QString what = QStringLiteral("%1: %2 frames, %3, %4 dropped")
                             .arg(QFileInfo(s.file).fileName())
                             .arg(s.frames)
                             .arg(QLocale::c().formattedDataSize(s.bytes, 1))
                             .arg(s.dropped);
    if (!s.error.isEmpty())
        label->setText(tr("Recording failed: %1").arg(s.error));
    else if (recording)
        label->setText((s.paused ? tr("Paused ") : tr("Recording ")) + what);
    else
        label->setText(tr("Recorded ") + what);
}
