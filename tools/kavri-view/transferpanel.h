#ifndef TRANSFERPANEL_H
#define TRANSFERPANEL_H

#include "taskobj.h"

#include <QtWidgets/QWidget>

#include <functional>
#include <memory>

class KvDeviceSession;
class KvReplay;
class KvSendFirmwareThread;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;
class QLineEdit;
class QProgressBar;
class QSettings;

// File transfers on the working channel, each with a progress bar: replaying a recording (any
// format the registry tells by its content) and downloading a firmware image. The replay
// sends straight to the adapter; the download goes through the channel's transmit pipe, so its
// end is the transmit thread's tailSignal after the finish command.
//
// The replay runs a KvReplay with the page's settings: speed factor, passes, the longest pause
// (or none: time stamps ignored) and a channel map ("1=0,2=1": recording channel onto device
// channel; empty, every channel onto the working channel). A bad field is named in the status
// ("Map: ..."), and nothing starts. Stop only asks the replay to end; the page says where it
// stopped once it has, so the window never waits on a pause.
//
// The replay reports progress per frame as the reader's position in the file, so lines after the
// last frame (an ASC file's closing lines) keep it below 100 %; a replay that ends by itself,
// neither stopped nor refused, has read everything the reader could and shows 100 %. A stopped
// replay or download keeps its bar and says "Stopped at 37 %". An empty path is refused before
// anything starts; a missing or unreadable file is named with the reason and resets the bar.
class TransferPanel : public QWidget
{
    Q_OBJECT
public:
    explicit TransferPanel(KvDeviceSession *session, QWidget *parent = nullptr);
    ~TransferPanel() override;

    void setChannel(int channel);
    // Supplies the frame a binary recording is replayed under (its ID and flags); without it, an
    // all-zero standard frame.
    void setStartFrameSource(std::function<bool(taskObj &)> source);

    // The recording's format by its content, as the format registry tells it ("asclog" for a
    // python-can ASC named .txt, "candump" for a log named .asc); empty with `error` set when
    // the content is no recording.
    static QString formatOf(const QString &fileName, QString *error);

    bool startReplay(const QString &fileName);
    void stopReplay();
    bool isReplaying() const;
    bool startDownload(const QString &fileName);
    void stopDownload();
    bool isDownloading() const;

    QString replayFileName() const;
    void setReplayFileName(const QString &fileName);
    QString imageFileName() const;
    void setImageFileName(const QString &fileName);
    QString statusText() const;

    // The replay's options (speed, passes, longest pause, time stamps ignored, channel map), kept
    // between runs of the window.
    void saveSettings(QSettings &settings) const;
    void restoreSettings(const QSettings &settings);

    QProgressBar *replayBar() const { return replayProgress; }
    QDoubleSpinBox *speedBox() const { return speed; }
    QSpinBox *loopBox() const { return loops; }
    QDoubleSpinBox *maxGapBox() const { return maxGap; }
    QCheckBox *ignoreTimeStampsBox() const { return ignoreStamps; }
    QLineEdit *channelMapEdit() const { return channelMap; }
    KvReplay *replayer() const { return replay.get(); }
    QProgressBar *downloadBar() const { return downloadProgress; }

signals:
    void replayFinished();
    void downloadFinished();

private:
    bool channelStarted();
    void replayEnded();
    // False, with the reason shown, for an empty path or a file that cannot be read; `what`
    // names the file's kind ("a recording").
    bool readable(const QString &fileName, QProgressBar *bar, const QString &what);
    void report(const QString &message);

    KvDeviceSession *session;
    int ch = 0;
    std::function<bool(taskObj &)> startFrame;
    QLineEdit *replayFile;
    QDoubleSpinBox *speed;
    QSpinBox *loops;
    QDoubleSpinBox *maxGap;
    QCheckBox *ignoreStamps;
    QLineEdit *channelMap;
    QLineEdit *imageFile;
    QProgressBar *replayProgress;
    QProgressBar *downloadProgress;
    QLabel *status;
    std::unique_ptr<KvReplay> replay;
    std::unique_ptr<KvSendFirmwareThread> download;
    bool downloadSent = true;
    bool downloadStopped = false;
    QMetaObject::Connection tailConnection;
};

#endif // TRANSFERPANEL_H
