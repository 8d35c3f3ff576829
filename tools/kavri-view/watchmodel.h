#ifndef WATCHMODEL_H
#define WATCHMODEL_H

#include "growingtablemodel.h"
#include <QtCore/QCache>

class KvCanObjWatchStr;

// The watch list of one channel: one row per identifier with its latest frame, the data bytes in
// columns of their own. A byte whose `changed` bit is set (it differed between two frames of its
// identifier at least once) is highlighted, so the signals that move stand out from those that
// do not. Only the bytes the frame carries are marked: past its length a byte means nothing, even
// when the library saw it differ. Rows are read lazily, as in the trace.
class WatchModel : public GrowingTableModel
{
    Q_OBJECT
public:
    // The data bytes come right after the identifier, where the eye looks for what changes.
    enum Column {
        Id,
        Name,
        DataLen,
        Byte0,
        Direction = Byte0 + 8,
        SystemTime,
        FrameType,
        FrameFormat,
        ColumnCount
    };

    explicit WatchModel(QObject *parent = nullptr);
    ~WatchModel() override;

    void setChannel(int channel);
    int channel() const { return ch; }
    void refresh();

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const KvCanObjWatchStr &record(int row) const;

    int ch = 0;
    mutable QCache<int, KvCanObjWatchStr> cache;
};

#endif // WATCHMODEL_H
