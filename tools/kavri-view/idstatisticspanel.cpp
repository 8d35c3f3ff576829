#include "idstatisticspanel.h"

#include "idstatisticsmodel.h"
#include "kvidstatistics.h"
#include "tablesizing.h"

#include <QtCore/QSortFilterProxyModel>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableView>
#include <QtWidgets/QVBoxLayout>

IdStatisticsPanel::IdStatisticsPanel(KvIdStatistics &s, QWidget *parent)
    : QWidget(parent), statistics(s), statsModel(new IdStatisticsModel(s, this)),
      proxy(new QSortFilterProxyModel(this)), table(new QTableView)
{
    proxy->setSourceModel(statsModel);
    proxy->setSortRole(Qt::UserRole);
    table->setModel(proxy);
    table->setSortingEnabled(true);
    table->sortByColumn(IdStatisticsModel::Id, Qt::AscendingOrder);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    setUpTextTable(table, &IdStatisticsModel::widestText);

    auto *clear = new QPushButton(tr("Clear"));
    auto *bar = new QHBoxLayout;
    bar->addWidget(clear);
    bar->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(table);

    connect(clear, &QPushButton::clicked, this, [this] {
        statistics.clear();
        statsModel->refresh();
    });
}

void IdStatisticsPanel::refresh()
{
    statsModel->refresh();
}
