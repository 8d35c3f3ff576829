#ifndef SIGNALSPANEL_H
#define SIGNALSPANEL_H

#include <QtWidgets/QWidget>

#include <memory>

class KvDbcDatabase;
class KvSignalDecoder;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSettings;
class QSortFilterProxyModel;
class QTableView;
class SignalsModel;

// The Signals page: "Load DBC..." and "Build frame..." over the table of every signal's latest
// value (SignalsModel behind a filtering, sorting proxy), the count of frames whose identifier the
// database does not know, and the loader's errors with their lines when the file had any.
//
// The page owns the database and a KvSignalDecoder on the shown channel's buffer. While a
// database is loaded the buffer's DBCRun switch is on, so the receive thread queues the
// channel's frames, and every refresh drains the queue; without a database, or on leaving the
// channel, the switch goes off and the queue is emptied, since nothing would take it out.
//
// Decided here:
// - a file with errors stays loaded with what could be read, the errors listed above the table;
//   a file with no message at all loads nothing and keeps the previous database;
// - a new database or channel starts the values, histories and counters afresh; a new channel
//   keeps the signals ticked for the plot.
class SignalsPanel : public QWidget
{
    Q_OBJECT
public:
    explicit SignalsPanel(QWidget *parent = nullptr);
    ~SignalsPanel() override;

    // Loads a DBC file; false when it could not be read or had errors (the errors are shown).
    bool loadDatabase(const QString &fileName);
    QString fileName() const { return file; }
    // The loaded database and its decoder; null before a database is loaded.
    const KvDbcDatabase *database() const { return db.get(); }
    KvSignalDecoder *decoder() const { return signalDecoder.get(); }

    void setChannel(int channel);
    int channel() const { return ch; }
    // One refresh cycle: decodes what the channel queued and shows the latest values.
    void refresh();

    // The signals ticked for the plot, by message and signal name, so that they come back ticked
    // with the database even where an edited file numbers its signals differently.
    void saveSettings(QSettings &settings) const;
    void restoreSettings(const QSettings &settings);

    SignalsModel *model() const { return signalsModel; }
    QSortFilterProxyModel *sorted() const { return proxy; }
    QTableView *view() const { return table; }
    QPushButton *loadButton() const { return load; }
    // Enabled while a database is loaded; asks for the frame builder (buildFrameRequested).
    QPushButton *buildButton() const { return build; }
    QLabel *unknownLabel() const { return unknown; }
    QPlainTextEdit *errorView() const { return errors; }

signals:
    // A new database is in place (the plot and the frame view follow it).
    void databaseChanged();
    // The signals ticked for the plot changed.
    void chosenChanged();
    void buildFrameRequested();

private:
    void startDecoder();
    void stopDecoder();

    int ch = 0;
    QString file;
    // The decoder refers to the database: it goes first and comes after.
    std::unique_ptr<KvDbcDatabase> db;
    std::unique_ptr<KvSignalDecoder> signalDecoder;
    SignalsModel *signalsModel;
    QSortFilterProxyModel *proxy;
    QTableView *table;
    QPushButton *load;
    QPushButton *build;
    QLabel *fileLabel;
    QLineEdit *filter;
    QLabel *unknown;
    QPlainTextEdit *errors;
};

#endif // SIGNALSPANEL_H
