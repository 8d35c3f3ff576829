#include "idstatisticsmodel.h"

#include "kvidstatistics.h"
#include "kvnamemapping.h"

#include <QtGui/QBrush>
#include <QtGui/QFont>

namespace {

// 0x123 -> "123", extended 0x18FEF100 -> "18FEF100": the digits the frame format allows.
QString idText(const KvIdStatisticsRow &row)
{
    return QStringLiteral("%1").arg(row.id, row.extended ? 8 : 3, 16, QLatin1Char('0')).toUpper();
}

// Seconds as milliseconds with one decimal; empty before the second frame.
QString cycleText(double seconds)
{
    return seconds < 0.0 ? QString() : QString::number(seconds * 1000.0, 'f', 1);
}

} // namespace

IdStatisticsModel::IdStatisticsModel(const KvIdStatistics &s, QObject *parent)
    : GrowingTableModel(ColumnCount, parent), statistics(s)
{
}

void IdStatisticsModel::refresh()
{
    const int n = statistics.rows().size();
    followRows(n);
}

QVariant IdStatisticsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows || index.row() >= statistics.rows().size())
        return QVariant();
    const KvIdStatisticsRow &r = statistics.rows().at(index.row());
    const int column = index.column();
    const int byte = column >= Byte0 ? column - Byte0 : -1;
    const bool carried = byte >= 0 && byte < r.dataLen && !r.remote;
    const bool changed = carried && (r.changed & (1u << byte));
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case Id:
            return idText(r);
        case Name:
            return KvNameMapping::getSingleton().find(r.id);
        case Direction:
            return r.send ? QStringLiteral("Tx") : QStringLiteral("Rx");
        case Count:
            return QString::number(r.count);
        case Rate:
            return QString::number(r.rate, 'f', 1);
        case LastCycle:
            return cycleText(r.lastCycle);
        case MinCycle:
            return cycleText(r.minCycle);
        case MaxCycle:
            return cycleText(r.maxCycle);
        case DataLen:
            return QString::number(r.dataLen);
        default:
            return carried
                       ? QStringLiteral("%1").arg(r.data[byte], 2, 16, QLatin1Char('0')).toUpper()
                       : QString();
        }
    case Qt::UserRole:
        switch (column) {
        case Id:
            return (qulonglong(r.extended) << 32) | r.id;
        case Name:
            return KvNameMapping::getSingleton().find(r.id);
        case Direction:
            return int(r.send);
        case Count:
            return qulonglong(r.count);
        case Rate:
            return r.rate;
        case LastCycle:
            return r.lastCycle;
        case MinCycle:
            return r.minCycle;
        case MaxCycle:
            return r.maxCycle;
        case DataLen:
            return r.dataLen;
        default:
            return carried ? int(r.data[byte]) : -1;
        }
    case Qt::BackgroundRole:
        return changed ? QVariant(QBrush(QColor(0xFF, 0xD5, 0x80))) : QVariant();
    case Qt::FontRole:
        if (changed) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return QVariant();
    case Qt::TextAlignmentRole:
        if (byte >= 0)
            return int(Qt::AlignCenter);
        if (column >= Count && column <= DataLen)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant IdStatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section >= Byte0 && section < ColumnCount)
        return QStringLiteral("D%1").arg(section - Byte0);
    switch (section) {
    case Id:
        return tr("ID");
    case Name:
        return tr("Name");
    case Direction:
        return tr("Dir");
    case Count:
        return tr("Count");
    case Rate:
        return tr("Rate (/s)");
    case LastCycle:
        return tr("Cycle (ms)");
    case MinCycle:
        return tr("Min (ms)");
    case MaxCycle:
        return tr("Max (ms)");
    case DataLen:
        return tr("Len");
    default:
        return QVariant();
    }
}

QString IdStatisticsModel::widestText(int column)
{
    switch (column) {
    case Id:
        return QStringLiteral("00000000");
    case Name:
        return QStringLiteral("MMMMMMMMMMMM");
    case Direction:
        return QStringLiteral("Tx");
    case Count:
        return QStringLiteral("00000000");
    case Rate:
        return QStringLiteral("00000.0");
    case LastCycle:
    case MinCycle:
    case MaxCycle:
        return QStringLiteral("00000.0");
    case DataLen:
        return QStringLiteral("0");
    default:
        return QStringLiteral("00");
    }
}
