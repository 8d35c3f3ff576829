#include "signalsmodel.h"

#include "kvdbcdatabase.h"
#include "kvdbcformat.h"

#include <algorithm>

SignalsModel::SignalsModel(QObject *parent) : QAbstractTableModel(parent) {}

void SignalsModel::setDatabase(const KvDbcDatabase *database)
{
    beginResetModel();
    db = database;
    rowMessage.clear();
    if (db) {
        rowMessage.reserve(db->signalCount());
        for (int m = 0; m < db->messages().size(); ++m)
            rowMessage.insert(rowMessage.size(), db->messages().at(m).signalList.size(), m);
    }
    states = QVector<KvSignalState>(rowMessage.size());
    plotted = QVector<bool>(rowMessage.size(), false);
    endResetModel();
    emit chosenChanged();
}

void SignalsModel::refresh(const KvSignalDecoder *decoder)
{
    if (!decoder)
        return;
    // Runs of changed rows become one announcement each, so a view repaints little when a few
    // messages arrive and everything in one go when all do.
    int first = -1;
    for (int row = 0; row <= states.size(); ++row) {
        bool changed = false;
        if (row < states.size()) {
            const KvSignalState fresh = decoder->latest(row);
            changed = fresh.updates != states.at(row).updates;
            if (changed)
                states[row] = fresh;
        }
        if (changed && first < 0)
            first = row;
        if (!changed && first >= 0) {
            emit dataChanged(index(first, Value), index(row - 1, Updates), {Qt::DisplayRole});
            first = -1;
        }
    }
}

int SignalsModel::firstOf(int row) const
{
    const int m = messageOf(row);
    return m < 0 || !db ? row : db->messages().at(m).firstSignal;
}

QVector<int> SignalsModel::chosen() const
{
    QVector<int> rows;
    for (int row = 0; row < plotted.size(); ++row) {
        if (plotted.at(row))
            rows << row;
    }
    return rows;
}

void SignalsModel::setChosen(int row, bool on)
{
    if (row < 0 || row >= plotted.size() || plotted.at(row) == on)
        return;
    plotted[row] = on;
    emit dataChanged(index(row, Plot), index(row, Plot), {Qt::CheckStateRole});
    emit chosenChanged();
}

int SignalsModel::messageOfSignal(const KvDbcDatabase &database, int signal)
{
    const QVector<KvDbcMessage> &list = database.messages();
    // The last message starting at or before the signal: a message without signals shares its
    // start with the next one, which comes later and wins.
    auto it = std::upper_bound(list.begin(), list.end(), signal,
                               [](int n, const KvDbcMessage &m) { return n < m.firstSignal; });
    if (signal < 0 || it == list.begin())
        return -1;
    --it;
    return signal - it->firstSignal < it->signalList.size() ? int(it - list.begin()) : -1;
}

QString SignalsModel::widestText(int column)
{
    switch (column) {
    case Plot:
        return QString();
    case Message:
    case Signal:
        return QStringLiteral("AcceleratorPedalPct");
    case Value:
    case Raw:
        return QStringLiteral("-12345.678901");
    case Unit:
        return QStringLiteral("km/h_");
    case Label:
        return QStringLiteral("engine running");
    case Time:
        return QStringLiteral("123456.7890");
    case Updates:
        return QStringLiteral("1234567");
    default:
        return QString();
    }
}

int SignalsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rowMessage.size();
}

int SignalsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString SignalsModel::text(int row, int column) const
{
    const int m = messageOf(row);
    const KvDbcMessage &message = db->messages().at(m);
    const KvDbcSignal &signal = message.signalList.at(signalOf(row));
    const KvSignalState &s = states.at(row);
    const bool seen = s.updates > 0;
    switch (column) {
    case Message:
        return message.name;
    case Signal:
        return signal.name;
    case Unit:
        return signal.unit;
    case Value:
        return seen ? KvDbcFormat::number(s.physical) : QString();
    case Label: {
        KvDbcValue v;
        v.integer = s.integer;
        v.present = seen;
        return db->label(m, signalOf(row), v);
    }
    case Time:
        return seen ? QString::number(s.time, 'f', 4) : QString();
    case Raw:
        if (!seen)
            return QString();
        // An integer's raw value as the bits give it; a float signal's raw value is its number.
        return signal.valueType == KvDbcSignal::Integer ? QString::number(s.integer)
                                                        : KvDbcFormat::number(s.raw);
    case Updates:
        return seen ? QString::number(s.updates) : QString();
    default:
        return QString();
    }
}

QVariant SignalsModel::data(const QModelIndex &index, int role) const
{
    if (!db || !index.isValid() || index.row() >= rowMessage.size())
        return QVariant();
    const int row = index.row();
    if (role == Qt::CheckStateRole && index.column() == Plot)
        return plotted.at(row) ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::DisplayRole)
        return text(row, index.column());
    // Numbers sort as numbers in the page's sorting proxy.
    if (role == Qt::UserRole) {
        const KvSignalState &s = states.at(row);
        switch (index.column()) {
        case Plot:
            return plotted.at(row);
        case Value:
            return s.updates ? QVariant(s.physical) : QVariant();
        case Time:
            return s.time;
        case Raw:
            return s.raw;
        case Updates:
            return s.updates;
        default:
            return text(row, index.column());
        }
    }
    if (role == Qt::TextAlignmentRole && index.column() >= Value && index.column() != Unit &&
        index.column() != Label)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole && index.column() == Signal) {
        const KvDbcSignal &s = db->messages().at(messageOf(row)).signalList.at(signalOf(row));
        return s.comment.isEmpty() ? QVariant() : QVariant(s.comment);
    }
    return QVariant();
}

bool SignalsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != Plot)
        return false;
    setChosen(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags SignalsModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() == Plot)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant SignalsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char *const titles[ColumnCount] = {
        QT_TR_NOOP("Plot"),     QT_TR_NOOP("Message"), QT_TR_NOOP("Signal"),
        QT_TR_NOOP("Value"),    QT_TR_NOOP("Unit"),    QT_TR_NOOP("Label"),
        QT_TR_NOOP("Time (s)"), QT_TR_NOOP("Raw"),     QT_TR_NOOP("Frames")};
    return section >= 0 && section < ColumnCount ? tr(titles[section]) : QVariant();
}
