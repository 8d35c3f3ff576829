#ifndef CHARGINGPANEL_H
#define CHARGINGPANEL_H

#include "kvgbtsession.h"

#include <QtWidgets/QWidget>

#include <memory>

class ChargingPlot;
class KvFrameReader;
class KvGbtMonitor;
class QCheckBox;
class QLabel;
class QPushButton;
class QSettings;
class QSplitter;
class QTableWidget;

// The Charging page: a GB/T 27930 DC charging session as the shown channel carries it, or as a
// recording holds it. Beside each other: the session picture (phase, versions, battery, limits,
// demand and output, SOC, cells, temperatures, charging-allowed flags, stops, errors and
// statistics, worded as kvcan words them), a timeline of phase changes and events with their
// times, and two plots, voltage and current, of demand (BCL) against output (CCS).
//
// Live: while "Live" is on, the channel's buffer copies its frames to its GB/T 27930 queue
// (GBT27930Run) and every refresh() hands what the queue holds to the session through a
// KvGbtMonitor; the switch goes off again with the page, or when the page moves to another
// channel. "Open recording…" reads a file of any format the registry reads (by its content),
// in slices of ReadSlice frames per refresh so a long file does not freeze the window, and
// turns "Live" off. "Reset" forgets the session and starts a new one from the next frame.
//
// Decided here:
// - moving to another channel or switching "Live" on starts a new session: a picture mixed
//   from two buses, or from a recording and a bus, would describe neither;
// - the timeline keeps the newest MaxEvents events (hostile traffic can make transfer errors
//   without end); the plots bound themselves (ChargingPlot);
// - times are the session's: from the first frame polled when live, the recording's own when
//   read from a file, so they match `kvcan decode --gbt` of the same file.
// Threads: everything runs in the window's thread; the buffer locks its own queue.
class ChargingPanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int ReadSlice = 20000;
    static constexpr int MaxEvents = 5000;

    explicit ChargingPanel(QWidget *parent = nullptr);
    ~ChargingPanel() override;

    void setChannel(int channel);
    int channel() const { return shownChannel; }
    void setLive(bool on);
    bool isLive() const;
    // Starts reading a recording; false, with the reason shown and failed() emitted, when it
    // cannot be opened. The first slice is read at once.
    bool openRecording(const QString &fileName);
    bool isReading() const { return reader != nullptr; }
    // The recording shown; empty while live.
    QString recordingFileName() const { return recording; }
    void reset();
    // One refresh cycle: the next slice of a recording or what the live queue holds, then the
    // picture, the timeline and the plots.
    void refresh();

    void saveSettings(QSettings &settings) const;
    void restoreSettings(const QSettings &settings);

    const KvGbtSession &session() const { return gbt; }
    qint64 messageCount() const { return messages; }
    // The picture's value of a row ("SOC", "battery"), as shown; empty for an unknown row.
    QString pictureValue(const QString &row) const;
    QTableWidget *pictureTable() const { return pictureView; }
    // Two columns: the time in seconds and the event ("phase charging", "timeout BCL").
    QTableWidget *timeline() const { return events; }
    ChargingPlot *voltagePlot() const { return voltage; }
    ChargingPlot *currentPlot() const { return current; }
    QCheckBox *liveBox() const { return live; }
    QPushButton *openButton() const { return openBtn; }
    QPushButton *resetButton() const { return resetBtn; }
    QLabel *sourceLabel() const { return source; }

signals:
    void failed(const QString &message);

private:
    void startSession();
    void readSlice();
    void onMessage(const KvGbtMessage &message);
    void onEvent(const KvGbtEvent &event);
    void showPicture();
    void showSource();

    KvGbtSession gbt;
    std::unique_ptr<KvGbtMonitor> monitor; // while live
    std::unique_ptr<KvFrameReader> reader; // while a recording is read
    QString recording;
    QString lastFile; // where the file dialog opens, kept in the settings
    QString readError;
    int shownChannel = 0;
    qint64 messages = 0;
    bool changed = true;
    QCheckBox *live;
    QPushButton *openBtn;
    QPushButton *resetBtn;
    QLabel *source;
    QTableWidget *pictureView;
    QTableWidget *events;
    ChargingPlot *voltage;
    ChargingPlot *current;
    QSplitter *columns;
};

#endif // CHARGINGPANEL_H
