#include "tracemodel.h"

#include "canobjstr.h"
#include "kvbuffer.h"
#include "kvnamemapping.h"

#include <QtGui/QBrush>
#include <QtGui/QFontDatabase>

namespace {

// Rows kept converted between two refreshes: a few screens' worth.
constexpr int CachedRows = 2000;

} // namespace

TraceModel::TraceModel(QObject *parent) : GrowingTableModel(ColumnCount, parent), cache(CachedRows)
{
}

TraceModel::~TraceModel() = default;

void TraceModel::setChannel(int channel)
{
    beginResetModel();
    ch = channel;
    rows = 0;
    lastTotal = 0;
    cache.clear();
    times.clear();
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
    followRows(n, {Qt::DisplayRole});
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

void TraceModel::appendTimes(const QVector<KvFrameTime> &fresh, int count, quint32 frames)
{
    times.insert(times.end(), fresh.begin(), fresh.end());
    while (times.size() > size_t(std::max(0, count)))
        times.pop_front();
    timesCount = count;
    timesFrames = frames;
}

void TraceModel::clearTimes()
{
    times.clear();
    timesCount = 0;
}

void TraceModel::setTimeMode(TimeMode mode)
{
    relative = mode;
    emit headerDataChanged(Qt::Horizontal, Relative, Relative);
    if (rows > 0)
        emit dataChanged(index(0, Relative), index(rows - 1, Relative), {Qt::DisplayRole});
}

QString TraceModel::relativeText(int row) const
{
    // Frames stored since the times were read are not among them; in a full list each of them
    // moved the older rows one place up.
    const KvBuffer &buffer = KvBuffer::instance(ch);
    const int held = buffer.count();
    const qint64 moved =
        held >= buffer.getMaxCount() ? qint64(quint32(buffer.frames()) - timesFrames) : 0;
    const qint64 i = row + moved - (timesCount - qint64(times.size()));
    if (i < 0 || i >= qint64(times.size()))
        return QString();
    const KvFrameTime &t = times[size_t(i)];
    const double value = relative == SinceStart ? t.time : t.delta;
    return value < 0.0 ? QString() : QString::number(value, 'f', 4);
}

QString TraceModel::widestText(int column)
{
    switch (column) {
    case Index:
        return QStringLiteral("000000");
    case Relative:
        return QStringLiteral("00000.0000");
    case Id:
        return QStringLiteral("00000000 ");
    case Name:
        return QStringLiteral("MMMMMMMMMMMM");
    case TimeStamp:
        return QStringLiteral("0xFFFFFFFF");
    case SystemTime:
        return QStringLiteral("00:00:00:000");
    case FrameType:
        return QStringLiteral("Remote");
    case FrameFormat:
        return QStringLiteral("Standard");
    case DataLen:
        return QStringLiteral("0");
    case Data:
        return QStringLiteral("00 00 00 00 00 00 00 00");
    case Direction:
        return QStringLiteral("Tx");
    default:
        return QString();
    }
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
    if (role == Qt::DisplayRole && index.column() == Relative)
        return relativeText(index.row());
    if (role == Qt::DisplayRole)
        return columnText(record(index.row()), index.column());
    if (role == Qt::TextAlignmentRole && index.column() == Relative)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ForegroundRole && record(index.row()).direction == QLatin1String("Tx"))
        return QBrush(QColor(0x1F, 0x4E, 0x9A)); // sent frames in blue, as in a bus monitor
    return QVariant();
}

QVariant TraceModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    // The byte positions sit over the bytes, in the data's own fixed font.
    if (section == Data && role == Qt::FontRole)
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == Relative)
        return relative == SinceStart ? tr("Time (s)") : tr("Cycle (s)");
    // The spare columns are the application's own; the library leaves them empty.
    static const char *const titles[ColumnCount] = {QT_TR_NOOP("Index"),
                                                    nullptr,
                                                    QT_TR_NOOP("ID"),
                                                    QT_TR_NOOP("Name"),
                                                    QT_TR_NOOP("S1"),
                                                    QT_TR_NOOP("Stamp"),
                                                    QT_TR_NOOP("Host time"),
                                                    QT_TR_NOOP("S2"),
                                                    QT_TR_NOOP("S3"),
                                                    QT_TR_NOOP("Type"),
                                                    QT_TR_NOOP("Format"),
                                                    QT_TR_NOOP("Len"),
                                                    QT_TR_NOOP("D0 D1 D2 D3 D4 D5 D6 D7"),
                                                    QT_TR_NOOP("S4"),
                                                    QT_TR_NOOP("Dir")};
    return section >= 0 && section < ColumnCount ? tr(titles[section]) : QVariant();
}
