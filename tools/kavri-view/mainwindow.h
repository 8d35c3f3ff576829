#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "kvidstatistics.h"

#include <QtCore/QTimer>
#include <QtWidgets/QMainWindow>

#include <memory>

class BusLoadPlot;
class ChargingPanel;
class DeviceBar;
class FrameSignalsView;
class KvDeviceSession;
class KvFrameSubscription;
class FilterEditor;
class IdStatisticsPanel;
class QDialog;
class QLabel;
class QSplitter;
class QTabWidget;
class QToolButton;
class NameEditor;
class RecordPanel;
class SendPanel;
class SignalPlot;
class SignalSendPanel;
class SignalsPanel;
class TaskPanel;
class TracePanel;
class TrafficStatus;
class TransferPanel;
class WatchPanel;

// The analyser window: the device bar on top, the trace in the middle, the watch list beside the
// send, task, filter, name and transfer pages below, and the traffic figures in the status bar.
//
// The views follow the receive buffer's refresh cycle: every getRefreshCycle() milliseconds the
// trace, the watch list and the status bar take up what the shown channel's buffer stored. The
// send, task, filter and transfer pages work on the device bar's channel. Beside the watch list
// the per-identifier page shows the shown channel's KvIdStatistics; the status bar adds a live
// plot of every running channel's bus load and says when the buffer's row limit drops rows.
// The charging page follows the shown channel's GB/T 27930 dialogue, or a recording of one.
//
// The statistics and the trace's relative times are fed from a KvFrameSubscription of the shown
// channel: the frames the buffer stored, as the session's reader hands them out, so they see
// exactly the stored frames while the session runs, whatever the row limit keeps.
//
// Signals: the Signals page loads a DBC database and decodes the shown channel's frames on the
// same refresh cycle; the Plot page (a tab beside the trace) draws the signals ticked there; the
// trace's selected row unfolds into its signals beside the trace; the Signals page's "Build
// frame..." opens a tool window that fills the Send page from signal values.
//
// The window keeps its state in QSettings (organisation "Kavri", application "kavri-view"): size,
// splitters, the trace's and the per-ID page's columns, the relative time mode, the row limit,
// the last replay, firmware, task-list and DBC files and the last device settings. It is read when
// the window is made and written when it goes.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // One refresh cycle, as the timer runs it.
    void refresh();

    KvDeviceSession *session() const { return device; }
    DeviceBar *deviceBar() const { return bar; }
    TracePanel *trace() const { return tracePanel; }
    WatchPanel *watch() const { return watchPanel; }
    SendPanel *sendPanel() const { return sender; }
    TaskPanel *taskPanel() const { return tasks; }
    FilterEditor *filterEditor() const { return filter; }
    NameEditor *nameEditor() const { return namesPage; }
    TransferPanel *transferPanel() const { return transfers; }
    RecordPanel *recordPanel() const { return recording; }
    TrafficStatus *traffic() const { return status; }
    IdStatisticsPanel *idStatisticsPanel() const { return idPage; }
    const KvIdStatistics &idStatistics() const { return idStats; }
    BusLoadPlot *busLoadPlot() const { return loadPlot; }
    ChargingPanel *chargingPanel() const { return charging; }
    SignalsPanel *signalsPanel() const { return signalsPage; }
    SignalPlot *signalPlot() const { return plot; }
    FrameSignalsView *frameSignalsView() const { return frameSignals; }
    SignalSendPanel *signalSendPanel() const { return signalSend; }
    // "showing the newest 30,000 of 133,642" while the row limit drops rows, else empty.
    QLabel *rowsStatus() const { return rowsLabel; }
    QTabWidget *lowerPages() const { return pages; }
    QTabWidget *viewPages() const { return views; }
    QTabWidget *mainPages() const { return mainTabs; }
    // The trace, plot and charging pages alone in the window, the pages below hidden: the
    // "Enlarge" button beside their tabs, or a double click on a tab. The layout saved while
    // enlarged is the one it returns to.
    void setTopEnlarged(bool on);
    bool isTopEnlarged() const;
    QToolButton *enlargeButton() const { return enlarge; }

    void saveSettings() const;

private:
    void showChannel(int channel);
    void workOn(int channel);
    void stopSenders();
    void feedStatistics();
    void showDroppedRows();
    void restoreSettings();
    void useDatabase();

    KvDeviceSession *device;
    DeviceBar *bar;
    TracePanel *tracePanel;
    WatchPanel *watchPanel;
    SendPanel *sender;
    TaskPanel *tasks;
    FilterEditor *filter;
    NameEditor *namesPage;
    TransferPanel *transfers;
    RecordPanel *recording;
    TrafficStatus *status;
    QTimer timer;
    KvIdStatistics idStats;
    std::unique_ptr<KvFrameSubscription> feed; // the shown channel's stored frames
    qint64 stored = 0;       // frames the feed delivered or dropped since the list was emptied
    quint64 feedDropped = 0; // the feed's dropped() when last read
    int lastCount = 0;       // the shown buffer's rows and frame total when last read
    quint32 lastFrames = 0;
    IdStatisticsPanel *idPage;
    BusLoadPlot *loadPlot;
    ChargingPanel *charging;
    QLabel *rowsLabel;
    QTabWidget *pages;
    QTabWidget *views;
    QSplitter *panes;
    QSplitter *lower;
    SignalsPanel *signalsPage;
    SignalPlot *plot;
    FrameSignalsView *frameSignals;
    SignalSendPanel *signalSend;
    QDialog *builder; // holds signalSend
    QSplitter *traceSplit;
    QTabWidget *mainTabs; // the trace, the signal plot and the charging page
    QToolButton *enlarge;
    QByteArray panesBeforeEnlarged;
};

#endif // MAINWINDOW_H
