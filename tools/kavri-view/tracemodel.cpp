#include "tracemodel.h"

#include "canobjstr.h"
#include "kvbuffer.h"
#include "kvnamemapping.h"

#include <QtGui/QBrush>

namespace {

// Rows kept converted between two refreshes: a few screens' worth.
constexpr int CachedRows = 2000;

} // namespace

TraceModel::TraceModel(QObject *parent) : QAbstractTableModel(parent), cache(CachedRows) {}

TraceModel::~TraceModel() = default;

void TraceModel::setChannel(int channel)
{
    beginResetModel();
    ch = channel;
    rows = 0;
    lastTotal = 0;
    cache.clear();
    endResetModel();
    refresh();
}

void TraceModel::refresh()
{
    KvBuffer &buffer = KvBuffer::instance(ch);
    const int n = buffer.count();
    const int total = buffer.frames();
    if (n == rows && total == lastTotal)
        return;
    lastTotal = total;
    // Once the list is full, every stored frame pushes the oldest out, so a position shows
    // another record after each refresh; converted texts are never reused across refreshes.
    cache.clear();
    if (n < rows) { // cleared or reset
        beginResetModel();
        rows = n;
        endResetModel();
        return;
    }
    if (n > rows) {
        beginInsertRows(QModelIndex(), rows, n - 1);
        rows = n;
        endInsertRows();
    }
    if (rows > 0)
        emit dataChanged(index(0, 0), index(rows - 1, ColumnCount - 1), {Qt::DisplayRole});
}

int TraceModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows;
}

int TraceModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const CanObjStr &TraceModel::record(int row) const
{
    if (CanObjStr *cached = cache.object(row))
        return *cached;
    auto *fresh = new CanObjStr(KvBuffer::instance(ch).getFrame(row));
    ++converted;
    cache.insert(row, fresh);
    return *fresh;
}

QString TraceModel::columnText(const CanObjStr &r, int column)
{
    switch (column) {
    case Index:
        return r.index;
    case Id:
        return r.id;
    case Name:
        return r.id.isEmpty()
                   ? QString()
                   : KvNameMapping::getSingleton().find(r.id.trimmed().toUInt(nullptr, 16));
    case Spare1:
        return r.spare1;
    case TimeStamp:
        return r.timeStamp;
    case SystemTime:
        return r.systemTime;
    case Spare2:
        return r.spare2;
    case Spare3:
        return r.spare3;
    case FrameType:
        return r.frameType;
    case FrameFormat:
        return r.frameFormat;
    case DataLen:
        return r.dataLen;
    case Data:
        return r.data;
    case Spare4:
        return r.spare4;
    case Direction:
        return r.direction;
    default:
        return QString();
    }
}

QVariant TraceModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows)
        return QVariant();
    if (role == Qt::DisplayRole)
        return columnText(record(index.row()), index.column());
    if (role == Qt::ForegroundRole && record(index.row()).direction == QLatin1String("Tx"))
        return QBrush(QColor(0x1F, 0x4E, 0x9A)); // sent frames in blue, as in a bus monitor
    return QVariant();
}

QVariant TraceModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    // The spare columns are the application's own; the library leaves them empty.
    static const char *const titles[ColumnCount] = {
        QT_TR_NOOP("Index"), QT_TR_NOOP("ID"),     QT_TR_NOOP("Name"), QT_TR_NOOP("S1"),
        QT_TR_NOOP("Stamp"), QT_TR_NOOP("Time"),   QT_TR_NOOP("S2"),   QT_TR_NOOP("S3"),
        QT_TR_NOOP("Type"),  QT_TR_NOOP("Format"), QT_TR_NOOP("Len"),  QT_TR_NOOP("Data"),
        QT_TR_NOOP("S4"),    QT_TR_NOOP("Dir")};
    return section >= 0 && section < ColumnCount ? tr(titles[section]) : QVariant();
}
