#include "watchmodel.h"

#include "kvbuffer.h"
#include "kvcanobjwatchstr.h"
#include "kvnamemapping.h"

#include <QtGui/QBrush>
#include <QtGui/QFont>

WatchModel::WatchModel(QObject *parent) : GrowingTableModel(ColumnCount, parent), cache(1000) {}

WatchModel::~WatchModel() = default;

void WatchModel::setChannel(int channel)
{
    beginResetModel();
    ch = channel;
    rows = 0;
    cache.clear();
    endResetModel();
    refresh();
}

void WatchModel::refresh()
{
    const int n = KvBuffer::instance(ch).countW();
    cache.clear();
    followRows(n);
}

const KvCanObjWatchStr &WatchModel::record(int row) const
{
    if (KvCanObjWatchStr *cached = cache.object(row))
        return *cached;
    auto *fresh = new KvCanObjWatchStr(KvBuffer::instance(ch).getWatchFrame(row));
    cache.insert(row, fresh);
    return *fresh;
}

QVariant WatchModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows)
        return QVariant();
    const KvCanObjWatchStr &w = record(index.row());
    const int byte =
        index.column() >= Byte0 && index.column() < Direction ? index.column() - Byte0 : -1;
    // The library compares all eight bytes; only those the frame carries are worth a mark.
    const bool changed = byte >= 0 && byte < w.text.dataLen.toInt() && w.changed.size() > byte &&
                         w.changed.testBit(byte);
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Id:
            return w.text.id;
        case Name:
            return w.text.id.isEmpty() ? QString()
                                       : KvNameMapping::getSingleton().find(
                                             w.text.id.trimmed().toUInt(nullptr, 16));
        case Direction:
            return w.text.direction;
        case SystemTime:
            return w.text.systemTime;
        case FrameType:
            return w.text.frameType;
        case FrameFormat:
            return w.text.frameFormat;
        case DataLen:
            return w.text.dataLen;
        default: {
            // "01 A2 FF" -> the bytes the frame carries; columns past its length stay empty.
            const QStringList bytes = w.text.data.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            return byte >= 0 && byte < bytes.size() ? bytes.at(byte) : QString();
        }
        }
    case Qt::BackgroundRole:
        return changed ? QVariant(QBrush(QColor(0xFF, 0xD5, 0x80))) : QVariant();
    case Qt::ForegroundRole:
        return changed ? QVariant(QBrush(QColor(0xA0, 0x20, 0x00))) : QVariant();
    case Qt::FontRole:
        if (changed) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return QVariant();
    case Qt::TextAlignmentRole:
        return byte >= 0 ? QVariant(Qt::AlignCenter) : QVariant();
    default:
        return QVariant();
    }
}

QVariant WatchModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section >= Byte0 && section < Direction)
        return QStringLiteral("D%1").arg(section - Byte0);
    switch (section) {
    case Id:
        return tr("ID");
    case Name:
        return tr("Name");
    case DataLen:
        return tr("Len");
    case Direction:
        return tr("Dir");
    case SystemTime:
        return tr("Host time");
    case FrameType:
        return tr("Type");
    case FrameFormat:
        return tr("Format");
    default:
        return QVariant();
    }
}
