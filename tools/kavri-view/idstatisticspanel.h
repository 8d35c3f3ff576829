#ifndef IDSTATISTICSPANEL_H
#define IDSTATISTICSPANEL_H

#include <QtWidgets/QWidget>

class IdStatisticsModel;
class KvIdStatistics;
class QSortFilterProxyModel;
class QTableView;

// The per-identifier page: the table of IdStatisticsModel behind a sorting proxy (a click on a
// title sorts by it, numbers as numbers) and a "Clear" button that forgets the statistics.
class IdStatisticsPanel : public QWidget
{
    Q_OBJECT
public:
    explicit IdStatisticsPanel(KvIdStatistics &statistics, QWidget *parent = nullptr);

    // One refresh cycle.
    void refresh();

    IdStatisticsModel *model() const { return statsModel; }
    QSortFilterProxyModel *sorted() const { return proxy; }
    QTableView *view() const { return table; }

private:
    KvIdStatistics &statistics;
    IdStatisticsModel *statsModel;
    QSortFilterProxyModel *proxy;
    QTableView *table;
};

#endif // IDSTATISTICSPANEL_H
