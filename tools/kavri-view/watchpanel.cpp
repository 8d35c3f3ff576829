#include "watchpanel.h"

#include "kvbuffer.h"
#include "kvglobalset.h"
#include "watchmodel.h"

#include <QtGui/QFontDatabase>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableView>
#include <QtWidgets/QVBoxLayout>

WatchPanel::WatchPanel(QWidget *parent)
    : QWidget(parent), watchModel(new WatchModel(this)), table(new QTableView),
      watching(new QCheckBox(tr("Watch")))
{
    KvGlobalSet &settings = KvGlobalSet::instance();
    if (!settings.isWatch())
        settings.onWatch();
    watching->setChecked(true);
    auto *clear = new QPushButton(tr("Clear"));

    table->setModel(watchModel);
    table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    const int digit = table->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[WatchModel::ColumnCount] = {9, 12, 3, 2, 2, 2, 2, 2, 2, 2, 2, 3, 12, 6, 8};
    for (int c = 0; c < WatchModel::ColumnCount; ++c)
        table->setColumnWidth(c, widths[c] * digit + 10);
    table->horizontalHeader()->setStretchLastSection(true);

    auto *bar = new QHBoxLayout;
    bar->addWidget(watching);
    bar->addWidget(clear);
    bar->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(table);

    // The switch is the library's own, shared by all channels; the box follows it.
    connect(watching, &QCheckBox::toggled, this, [](bool on) {
        KvGlobalSet &s = KvGlobalSet::instance();
        if (s.isWatch() != on)
            s.onWatch();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        KvBuffer::instance(watchModel->channel()).clearW();
        watchModel->refresh();
    });
}

void WatchPanel::setChannel(int channel)
{
    watchModel->setChannel(channel);
}

void WatchPanel::refresh()
{
    watchModel->refresh();
}
