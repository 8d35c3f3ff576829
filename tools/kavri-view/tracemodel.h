#ifndef TRACEMODEL_H
#define TRACEMODEL_H

#include "kvidstatistics.h"

#include "growingtablemodel.h"
#include <QtCore/QCache>

#include <deque>

class CanObjStr;

// The trace of one channel as a table: the thirteen display columns of the channel's receive
// buffer plus the identifier's name and a relative time.
//
// The relative time comes from the adapter's stamp (the host's time for sent frames), put on one
// clock by KvIdStatistics: seconds since the first frame seen, or the time since the previous
// frame of the same identifier. Whoever reads every new row (the window's statistics feed)
// hands the times in with appendTimes(); they are kept beside the buffer's rows, newest last.
//
// The buffer may hold tens of thousands of records while frames arrive at full bus load, so the
// model never copies the list: refresh() reads only count() and announces the new rows, and a
// row is turned into texts (getFrame) only when the view asks for it, which it does for the rows
// on screen. Converted rows are kept until the next refresh, since the view asks for one row
// once per column and role.
class TraceModel : public GrowingTableModel
{
    Q_OBJECT
public:
    enum Column {
        Index,
        Relative,
        Id,
        Name,
        Spare1,
        TimeStamp,
        SystemTime,
        Spare2,
        Spare3,
        FrameType,
        FrameFormat,
        DataLen,
        Data,
        Spare4,
        Direction,
        ColumnCount
    };

    enum TimeMode { SinceStart, DeltaPerId };

    explicit TraceModel(QObject *parent = nullptr);
    ~TraceModel() override;

    // Shows another channel's buffer; the rows are read afresh.
    void setChannel(int channel);
    int channel() const { return ch; }
    // Takes up what the buffer stored since the last refresh.
    void refresh();
    // Records converted to texts since the model was made; tells how much work the view caused.
    int conversions() const { return converted; }

    // The times of the rows the buffer stored since the last call, oldest first; when they were
    // read the buffer held `count` rows and had counted `frames` frames.
    void appendTimes(const QVector<KvFrameTime> &times, int count, quint32 frames);
    void clearTimes();
    void setTimeMode(TimeMode mode);
    TimeMode timeMode() const { return relative; }

    // The widest text a column shows, for sizing it: "00 00 00 00 00 00 00 00" for the data.
    static QString widestText(int column);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The text of one column of a record, the name looked up from its identifier.
    static QString columnText(const CanObjStr &record, int column);

private:
    const CanObjStr &record(int row) const;
    QString relativeText(int row) const;

    int ch = 0;
    int lastTotal = 0;
    // Beside the buffer's rows as they were when last read: the last time is that of row
    // timesCount - 1 then; a full list has moved on by the frames counted since.
    std::deque<KvFrameTime> times;
    int timesCount = 0;
    quint32 timesFrames = 0;
    TimeMode relative = SinceStart;
    mutable QCache<int, CanObjStr> cache;
    mutable int converted = 0;
};

#endif // TRACEMODEL_H
