#ifndef SIGNALSMODEL_H
#define SIGNALSMODEL_H

#include "kvsignaldecoder.h"

#include <QtCore/QAbstractTableModel>
#include <QtCore/QVector>

class KvDbcDatabase;

// Every signal of a DBC database as one row with its latest decoded value: message, signal,
// physical value, unit, value-table text, time, raw value and how many frames carried it. The
// first column is a check box that chooses the signal for the plot.
//
// Rows follow the database's signal numbering (message m's signal s is row
// messages()[m].firstSignal + s), so a row number is a signal number everywhere in the window.
// refresh() copies the decoder's latest states and announces only the rows that changed; a
// signal not seen yet shows empty value columns.
class SignalsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Plot, Message, Signal, Value, Unit, Label, Time, Raw, Updates, ColumnCount };

    explicit SignalsModel(QObject *parent = nullptr);

    // Shows the signals of `database` (null: none) and forgets values and choices. The database
    // must outlive the model or be replaced first.
    void setDatabase(const KvDbcDatabase *database);
    // Takes up the decoder's latest values; null leaves every value empty.
    void refresh(const KvSignalDecoder *decoder);

    // The message and the signal within it of a row.
    int messageOf(int row) const { return rowMessage.value(row, -1); }
    int signalOf(int row) const { return row - firstOf(row); }
    KvSignalState state(int row) const { return states.value(row); }

    // Signals chosen for the plot, in row order.
    QVector<int> chosen() const;
    void setChosen(int row, bool on);

    // The message that holds signal number `signal` of `database`, or -1.
    static int messageOfSignal(const KvDbcDatabase &database, int signal);

    // The widest text a column shows, for sizing it.
    static QString widestText(int column);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    void chosenChanged();

private:
    int firstOf(int row) const;
    QString text(int row, int column) const;

    const KvDbcDatabase *db = nullptr;
    QVector<int> rowMessage;       // row -> message index
    QVector<KvSignalState> states; // row -> latest state, as of the last refresh
    QVector<bool> plotted;         // row -> chosen for the plot
};

#endif // SIGNALSMODEL_H
