#include "tracepanel.h"

#include "kvbuffer.h"
#include "tracemodel.h"

#include <QtGui/QFontDatabase>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableView>
#include <QtWidgets/QVBoxLayout>

TracePanel::TracePanel(QWidget *parent)
    : QWidget(parent), traceModel(new TraceModel(this)), table(new QTableView),
      channelBox(new QComboBox), follow(new QCheckBox(tr("Follow"))),
      pause(new QPushButton(tr("Pause")))
{
    for (int ch = 0; ch < 4; ++ch)
        channelBox->addItem(tr("Channel %1").arg(ch), ch);
    follow->setChecked(true);
    pause->setCheckable(true);
    auto *clear = new QPushButton(tr("Clear"));

    table->setModel(traceModel);
    table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    // Fixed row heights and column widths: sizing to contents would convert every record.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    const int digit = table->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[TraceModel::ColumnCount] = {5, 9, 12, 2, 7, 12, 2, 2, 6, 8, 3, 21, 2, 3};
    for (int c = 0; c < TraceModel::ColumnCount; ++c)
        table->setColumnWidth(c, widths[c] * digit + 12);
    table->horizontalHeader()->setStretchLastSection(true);

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(tr("Trace")));
    bar->addWidget(channelBox);
    bar->addWidget(follow);
    bar->addWidget(pause);
    bar->addWidget(clear);
    bar->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(table);

    connect(channelBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int i) { setChannel(i); });
    connect(pause, &QPushButton::toggled, this, &TracePanel::setPaused);
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
