#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QtCore/QTimer>
#include <QtWidgets/QMainWindow>

class DeviceBar;
class KvDeviceSession;
class FilterEditor;
class NameEditor;
class RecordPanel;
class SendPanel;
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
// send, task, filter and transfer pages work on the device bar's channel.
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

private:
    void showChannel(int channel);
    void workOn(int channel);
    void stopSenders();

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
};

#endif // MAINWINDOW_H
