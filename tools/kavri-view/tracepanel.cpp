#include "tracepanel.h"

#include "kvbuffer.h"
#include "tablesizing.h"
#include "tracemodel.h"

#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QTableView>
#include <QtWidgets/QVBoxLayout>

#include <iterator>

TracePanel::TracePanel(QWidget *parent)
    : QWidget(parent), traceModel(new TraceModel(this)), table(new QTableView),
      channelBox(new QComboBox), follow(new QCheckBox(tr("Follow"))),
      pause(new QPushButton(tr("Pause"))), timeBox(new QComboBox), limitBox(new QSpinBox)
{
    timeBox->addItem(tr("Time since start"), TraceModel::SinceStart);
    timeBox->addItem(tr("Cycle per ID"), TraceModel::DeltaPerId);
    timeBox->setToolTip(tr("What the relative time column shows, from the adapter's stamps"));
    limitBox->setRange(100, 1000000);
    limitBox->setSingleStep(10000);
    limitBox->setGroupSeparatorShown(true);
    limitBox->setValue(KvBuffer::instance(0).getMaxCount());
    limitBox->setToolTip(tr("Rows each channel keeps; changing it empties the trace"));
    for (int ch = 0; ch < 4; ++ch)
        channelBox->addItem(tr("Channel %1").arg(ch), ch);
    follow->setChecked(true);
    pause->setCheckable(true);
    auto *clear = new QPushButton(tr("Clear"));

    table->setModel(traceModel);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setAlternatingRowColors(true);
    setUpTextTable(table, &TraceModel::widestText);
    QHeaderView *header = table->horizontalHeader();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    for (int c : {TraceModel::Spare1, TraceModel::Spare2, TraceModel::Spare3, TraceModel::Spare4})
        table->setColumnHidden(c, true);
    // What is read most comes first: time, identifier, direction, length and data, then the
    // frame's kind and the raw stamps.
    const int order[] = {TraceModel::Index,     TraceModel::Relative,  TraceModel::Id,
                         TraceModel::Name,      TraceModel::Direction, TraceModel::DataLen,
                         TraceModel::Data,      TraceModel::FrameType, TraceModel::FrameFormat,
                         TraceModel::TimeStamp, TraceModel::SystemTime};
    for (int visual = 0; visual < int(std::size(order)); ++visual)
        header->moveSection(header->visualIndex(order[visual]), visual);

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(tr("Trace")));
    bar->addWidget(channelBox);
    bar->addWidget(follow);
    bar->addWidget(pause);
    bar->addWidget(clear);
    bar->addWidget(timeBox);
    bar->addStretch();
    bar->addWidget(new QLabel(tr("Rows")));
    bar->addWidget(limitBox);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(table);

    connect(channelBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int i) { setChannel(i); });
    connect(pause, &QPushButton::toggled, this, &TracePanel::setPaused);
    connect(header, &QHeaderView::customContextMenuRequested, this, &TracePanel::showHeaderMenu);
    connect(timeBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        traceModel->setTimeMode(TraceModel::TimeMode(timeBox->currentData().toInt()));
    });
    connect(limitBox, &QSpinBox::editingFinished, this, [this] { setRowLimit(limitBox->value()); });
    connect(clear, &QPushButton::clicked, this, [this] {
        KvBuffer::instance(channel()).clear();
        traceModel->refresh();
    });
}

TracePanel::~TracePanel()
{
    KvBuffer::instance(channel()).setLooking(false);
}

int TracePanel::channel() const
{
    return traceModel->channel();
}

void TracePanel::setChannel(int ch)
{
    if (ch == channel())
        return;
    // The paused state belongs to the view, so it moves with it to the other buffer.
    KvBuffer::instance(channel()).setLooking(false);
    KvBuffer::instance(ch).setLooking(pause->isChecked());
    traceModel->setChannel(ch);
    channelBox->setCurrentIndex(ch); // comes back here and returns at once
    emit channelChanged(ch);
}

void TracePanel::setPaused(bool paused)
{
    KvBuffer::instance(channel()).setLooking(paused);
    pause->setText(paused ? tr("Resume") : tr("Pause"));
}

void TracePanel::refresh()
{
    if (KvBuffer::instance(channel()).getLooking())
        return;
    traceModel->refresh();
    if (follow->isChecked())
        table->scrollToBottom();
}

void TracePanel::setRowLimit(int rows)
{
    limitBox->setValue(rows);
    for (int ch = 0; ch < 4; ++ch)
        KvBuffer::instance(ch).setMaxCount(limitBox->value());
    traceModel->refresh();
}

int TracePanel::rowLimit() const
{
    return KvBuffer::instance(channel()).getMaxCount();
}

void TracePanel::setColumnShown(int column, bool shown)
{
    table->setColumnHidden(column, !shown);
}

QByteArray TracePanel::headerState() const
{
    return table->horizontalHeader()->saveState();
}

bool TracePanel::restoreHeaderState(const QByteArray &state)
{
    return table->horizontalHeader()->restoreState(state);
}

QMenu *TracePanel::columnMenu()
{
    auto *menu = new QMenu(this);
    for (int c = 0; c < TraceModel::ColumnCount; ++c) {
        QAction *action = menu->addAction(traceModel->headerData(c, Qt::Horizontal).toString());
        action->setCheckable(true);
        action->setChecked(!table->isColumnHidden(c));
        connect(action, &QAction::toggled, this, [this, c](bool on) { setColumnShown(c, on); });
    }
    return menu;
}

void TracePanel::showHeaderMenu(const QPoint &at)
{
    QMenu *menu = columnMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(table->horizontalHeader()->viewport()->mapToGlobal(at));
}
