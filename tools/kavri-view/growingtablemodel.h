#ifndef GROWINGTABLEMODEL_H
#define GROWINGTABLEMODEL_H

#include <QtCore/QAbstractTableModel>

// A table over a list that only grows until it is emptied (a buffer's rows, its watch list, the
// per-identifier statistics): each refresh announces the new rows and the change of the old
// ones, and resets the view only when the list got shorter.
class GrowingTableModel : public QAbstractTableModel
{
public:
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : rows;
    }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : columns;
    }

protected:
    GrowingTableModel(int columnCount, QObject *parent)
        : QAbstractTableModel(parent), columns(columnCount)
    {
    }

    // Follows the list to `n` rows. Every row already shown may hold newer data; the view only
    // re-reads those in sight.
    void followRows(int n, const QVector<int> &roles = QVector<int>())
    {
        if (n < rows) {
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
            emit dataChanged(index(0, 0), index(rows - 1, columns - 1), roles);
    }

    int rows = 0;

private:
    const int columns;
};

#endif // GROWINGTABLEMODEL_H
