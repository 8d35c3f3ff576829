#include "watchpanel.h"

#include "kvbuffer.h"
#include "kvglobalset.h"
#include "tablesizing.h"
#include "watchmodel.h"

#include <QtWidgets/QCheckBox>
#include <QtWidgets/QHBoxLayout>
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
    setUpTextTable(table, [](int column) {
        if (column >= WatchModel::Byte0 && column < WatchModel::Direction)
            return QStringLiteral("00");
        switch (column) {
        case WatchModel::Id:
            return QStringLiteral("00000000 ");
        case WatchModel::Name:
            return QStringLiteral("MMMMMMMMMMMM");
        case WatchModel::DataLen:
            return QStringLiteral("0");
        case WatchModel::Direction:
            return QStringLiteral("Tx");
        case WatchModel::SystemTime:
            return QStringLiteral("00:00:00:000");
        case WatchModel::FrameType:
            return QStringLiteral("Remote");
        default:
            return QStringLiteral("Standard");
        }
    });

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
