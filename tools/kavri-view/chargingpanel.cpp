#include "chargingpanel.h"

#include "chargingplot.h"
#include "chargingtext.h"
#include "kvbuffer.h"
#include "kvformatregistry.h"
#include "kvframereader.h"
#include "kvgbtmonitor.h"

#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QVBoxLayout>

namespace {

// A read-only table of text rows, as compact as the font allows.
QTableWidget *textTable(const QStringList &titles)
{
    auto *table = new QTableWidget(0, titles.size());
    table->setHorizontalHeaderLabels(titles);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setMinimumSize(120, 60);
    return table;
}

QTableWidgetItem *item(const QString &text)
{
    auto *i = new QTableWidgetItem(text);
    i->setToolTip(text);
    return i;
}

// "Recordings (*.asc *.csv ...);;All files (*)": what the registry reads, told by content
// anyway, so "All files" is offered too.
QString recordingFilter()
{
    QStringList patterns;
    for (const KvFormat &f : KvFormatRegistry::formats())
        for (const QString &suffix : f.suffixes)
            patterns << QStringLiteral("*.") + suffix;
    patterns.removeDuplicates();
    return ChargingPanel::tr("Recordings (%1);;All files (*)").arg(patterns.join(' '));
}

} // namespace

ChargingPanel::ChargingPanel(QWidget *parent)
    : QWidget(parent), live(new QCheckBox(tr("Live"))),
      openBtn(new QPushButton(tr("Open recording…"))), resetBtn(new QPushButton(tr("Reset"))),
      source(new QLabel), pictureView(textTable({tr("Item"), tr("Value")})),
      events(textTable({tr("Time (s)"), tr("Event")})),
      voltage(new ChargingPlot(tr("Voltage"), QStringLiteral("V"))),
      current(new ChargingPlot(tr("Current"), QStringLiteral("A"))),
      columns(new QSplitter(Qt::Horizontal))
{
    live->setToolTip(tr("Decode the shown channel's charging dialogue as it arrives"));
    resetBtn->setToolTip(tr("Forget the session and start a new one"));
    // A long file name or error must not widen the page.
    source->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pictureView->horizontalHeader()->hide();

    auto *bar = new QHBoxLayout;
    bar->addWidget(live);
    bar->addWidget(openBtn);
    bar->addWidget(resetBtn);
    bar->addWidget(source, 1);

    auto *left = new QSplitter(Qt::Vertical);
    left->addWidget(pictureView);
    left->addWidget(events);
    left->setStretchFactor(0, 3);
    left->setStretchFactor(1, 2);
    auto *right = new QSplitter(Qt::Vertical);
    right->addWidget(voltage);
    right->addWidget(current);
    columns->addWidget(left);
    columns->addWidget(right);
    // The picture's texts need the room more than the plots, which scale to what they get.
    columns->setStretchFactor(0, 3);
    columns->setStretchFactor(1, 2);
    columns->setSizes({600, 400});
    for (QSplitter *s : {left, right, columns})
        s->setChildrenCollapsible(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(columns, 1);

    gbt.setMessageHandler([this](const KvGbtMessage &m) { onMessage(m); });
    gbt.setEventHandler([this](const KvGbtEvent &e) { onEvent(e); });
    connect(live, &QCheckBox::toggled, this, &ChargingPanel::setLive);
    connect(resetBtn, &QPushButton::clicked, this, &ChargingPanel::reset);
    connect(openBtn, &QPushButton::clicked, this, [this] {
        const QString name = QFileDialog::getOpenFileName(
            this, tr("Open a charging recording"), QFileInfo(lastFile).path(), recordingFilter());
        if (!name.isEmpty())
            openRecording(name);
    });
    startSession();
    refresh();
}

ChargingPanel::~ChargingPanel()
{
    if (monitor)
        KvBuffer::instance(shownChannel).setGBT27930Run(false);
}

void ChargingPanel::setChannel(int channel)
{
    if (channel == shownChannel)
        return;
    const bool wasLive = isLive();
    setLive(false);
    shownChannel = channel;
    if (wasLive)
        setLive(true);
    showSource();
}

bool ChargingPanel::isLive() const
{
    return monitor != nullptr;
}

void ChargingPanel::setLive(bool on)
{
    if (live->isChecked() != on) {
        live->setChecked(on); // comes back here through toggled()
        return;
    }
    if (isLive() == on)
        return;
    KvBuffer &buffer = KvBuffer::instance(shownChannel);
    if (on) {
        reader.reset();
        recording.clear();
        // Frames queued before this moment belong to no session shown here.
        buffer.ClearGBT27930();
        buffer.setGBT27930Run(true);
        startSession();
        monitor = std::make_unique<KvGbtMonitor>(buffer, gbt);
    } else {
        buffer.setGBT27930Run(false);
        monitor.reset();
    }
    changed = true;
    refresh();
}

bool ChargingPanel::openRecording(const QString &fileName)
{
    QString error;
    std::unique_ptr<KvFrameReader> opened =
        fileName.trimmed().isEmpty() ? nullptr
                                     : KvFormatRegistry::openReader(fileName, QString(), &error);
    if (!opened) {
        if (error.isEmpty())
            error = tr("No recording chosen");
        source->setText(error);
        source->setToolTip(error);
        emit failed(error);
        return false;
    }
    setLive(false);
    startSession();
    reader = std::move(opened);
    recording = fileName;
    lastFile = fileName;
    refresh();
    return true;
}

void ChargingPanel::reset()
{
    reader.reset();
    startSession();
    if (monitor) {
        // The monitor counts time from the first frame it polls: a new one starts at 0.
        KvBuffer &buffer = KvBuffer::instance(shownChannel);
        buffer.ClearGBT27930();
        monitor = std::make_unique<KvGbtMonitor>(buffer, gbt);
    }
    refresh();
}

void ChargingPanel::startSession()
{
    gbt.reset();
    gbt.setChannel(shownChannel);
    messages = 0;
    readError.clear();
    events->setRowCount(0);
    voltage->clear();
    current->clear();
    changed = true;
}

void ChargingPanel::refresh()
{
    if (reader)
        readSlice();
    else if (monitor)
        monitor->poll();
    if (!changed)
        return;
    changed = false;
    voltage->flush();
    current->flush();
    showPicture();
    showSource();
}

void ChargingPanel::readSlice()
{
    KvFrame f;
    for (int n = 0; n < ReadSlice; ++n) {
        const KvFrameReader::Result r = reader->read(f);
        if (r == KvFrameReader::End || r == KvFrameReader::Error) {
            if (r == KvFrameReader::Error) {
                readError = reader->errorString();
                emit failed(readError);
            }
            reader.reset();
            changed = true;
            return;
        }
        // The dialogue is 29-bit data frames only; what else a recording holds is not for it.
        if (r != KvFrameReader::Frame || f.error || f.remote || !f.extended)
            continue;
        gbt.setChannel(f.channel);
        gbt.feedFrame(f.timeNs / 1000, f.id, f.data, f.dlc);
    }
    changed = true;
}

void ChargingPanel::onMessage(const KvGbtMessage &m)
{
    ++messages;
    changed = true;
    const double seconds = double(m.time) / 1e6;
    if (m.code == KvGbtCode::BCL) {
        voltage->add(ChargingPlot::Demand, seconds, m.value("voltage_demand_v"));
        current->add(ChargingPlot::Demand, seconds, m.value("current_demand_a"));
    } else if (m.code == KvGbtCode::CCS) {
        voltage->add(ChargingPlot::Output, seconds, m.value("output_voltage_v"));
        current->add(ChargingPlot::Output, seconds, m.value("output_current_a"));
    }
}

void ChargingPanel::onEvent(const KvGbtEvent &e)
{
    changed = true;
    if (events->rowCount() >= MaxEvents)
        events->removeRow(0);
    const int row = events->rowCount();
    events->insertRow(row);
    QTableWidgetItem *time = item(chargingtext::seconds(e.time).trimmed());
    time->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QTableWidgetItem *text = item(chargingtext::eventText(e));
    // What went wrong stands out from the phases and stops.
    if (e.kind == KvGbtEvent::Timeout || e.kind == KvGbtEvent::TpError)
        text->setForeground(QColor(0xB0, 0x20, 0x20));
    events->setItem(row, 0, time);
    events->setItem(row, 1, text);
    events->scrollToBottom();
}

void ChargingPanel::showPicture()
{
    const QVector<chargingtext::Row> rows = chargingtext::pictureRows(gbt.picture());
    pictureView->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        QTableWidgetItem *name = pictureView->item(r, 0);
        if (!name || name->text() != rows.at(r).first)
            pictureView->setItem(r, 0, item(rows.at(r).first));
        QTableWidgetItem *value = pictureView->item(r, 1);
        if (!value || value->text() != rows.at(r).second)
            pictureView->setItem(r, 1, item(rows.at(r).second));
    }
}

void ChargingPanel::showSource()
{
    QString text;
    const QString name = QFileInfo(recording).fileName();
    if (reader)
        text = tr("Reading %1: %L2 messages").arg(name).arg(messages);
    else if (!recording.isEmpty())
        text = readError.isEmpty()
                   ? tr("%1: %L2 messages").arg(name).arg(messages)
                   : tr("%1: %L2 messages, then %3").arg(name).arg(messages).arg(readError);
    else if (monitor)
        text = tr("CAN%1 live: %L2 messages").arg(shownChannel).arg(messages);
    else
        text = tr("Not live: switch Live on or open a recording");
    source->setText(text);
    source->setToolTip(text);
}

QString ChargingPanel::pictureValue(const QString &row) const
{
    for (int r = 0; r < pictureView->rowCount(); ++r) {
        if (pictureView->item(r, 0) && pictureView->item(r, 0)->text() == row)
            return pictureView->item(r, 1) ? pictureView->item(r, 1)->text() : QString();
    }
    return QString();
}

void ChargingPanel::saveSettings(QSettings &settings) const
{
    settings.setValue(QStringLiteral("charging/live"), live->isChecked());
    settings.setValue(QStringLiteral("charging/columns"), columns->saveState());
    settings.setValue(QStringLiteral("files/charging"), lastFile);
}

void ChargingPanel::restoreSettings(const QSettings &settings)
{
    columns->restoreState(settings.value(QStringLiteral("charging/columns")).toByteArray());
    // The last recording's folder is where the file dialog opens; the file itself is opened on
    // request only.
    lastFile = settings.value(QStringLiteral("files/charging")).toString();
    setLive(settings.value(QStringLiteral("charging/live"), true).toBool());
}
