#ifndef SIGNALSENDPANEL_H
#define SIGNALSENDPANEL_H

#include <QtWidgets/QWidget>

class KvDbcDatabase;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

// A frame built from signal values: pick a message of the database, type physical values (or
// value-table names) for its signals, and "Fill Send page" encodes them into the message's
// identifier, format and data bytes and hands those to the Send page.
//
// Decided here:
// - a signal left empty is not written: its bits stay 0 (raw 0, which is the offset in
//   physical terms), so a user sets only what matters;
// - a multiplexed signal given without its selector sets the selector to a value that selects
//   it, as the database's encoder does;
// - a value that is neither a number nor a name of the signal's table, or out of the signal's
//   reach, is refused with the encoder's reason and nothing is filled.
class SignalSendPanel : public QWidget
{
    Q_OBJECT
public:
    enum Column { Signal, Value, Unit, Hint, ColumnCount };

    explicit SignalSendPanel(QWidget *parent = nullptr);

    // Null: no database; the page empties.
    void setDatabase(const KvDbcDatabase *database);
    // Chooses a message by name; false when the database has none of that name.
    bool setMessage(const QString &name);
    // Types a value into a signal's cell; false for an unknown signal.
    bool setValue(const QString &signal, const QString &value);

    // Encodes the form and emits frameReady(); false, with the reason shown, when it cannot.
    bool fill();
    QString statusText() const;

    QComboBox *messageBox() const { return messages; }
    QTableWidget *table() const { return signalTable; }
    QPushButton *fillButton() const { return fillBtn; }

signals:
    // A frame for the Send page: "0AA" (hexadecimal ID), "00 00 10 27 40 1F 00 00".
    void frameReady(const QString &id, const QString &data, bool extended);

private:
    void showMessage();
    int messageIndex() const;

    const KvDbcDatabase *db = nullptr;
    QComboBox *messages;
    QTableWidget *signalTable;
    QPushButton *fillBtn;
    QLabel *status;
};

#endif // SIGNALSENDPANEL_H
