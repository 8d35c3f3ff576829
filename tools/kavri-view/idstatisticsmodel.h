#ifndef IDSTATISTICSMODEL_H
#define IDSTATISTICSMODEL_H

#include "growingtablemodel.h"

class KvIdStatistics;

// The per-identifier page's table over the window's KvIdStatistics: one row per identifier with
// its name, direction, count, rate, cycle times and latest data, the bytes that changed in its
// latest frame marked. Qt::UserRole gives each cell as a number (the name as text) so that a
// sorting proxy orders 0x80 before 0x100 and 9 frames before 10.
class IdStatisticsModel : public GrowingTableModel
{
    Q_OBJECT
public:
    enum Column {
        Id,
        Name,
        Direction,
        Count,
        Rate,
        LastCycle,
        MinCycle,
        MaxCycle,
        DataLen,
        Byte0,
        ColumnCount = Byte0 + 8
    };

    explicit IdStatisticsModel(const KvIdStatistics &statistics, QObject *parent = nullptr);

    // Takes up what the statistics learnt since the last refresh.
    void refresh();

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The widest text a column shows, for sizing it.
    static QString widestText(int column);

private:
    const KvIdStatistics &statistics;
};

#endif // IDSTATISTICSMODEL_H
