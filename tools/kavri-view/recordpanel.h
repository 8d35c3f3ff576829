#ifndef RECORDPANEL_H
#define RECORDPANEL_H

#include <QtCore/QTimer>
#include <QtWidgets/QWidget>

#include <memory>

class KvDeviceSession;
class KvRecorder;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Recording the session's started channels into a file: a file chooser whose filters are the
// writable formats of the registry, Record, Pause and Stop. The recording's status (file, frames,
// size, drops, or why it failed) is shown by statusLabel(), which the window puts in its status
// bar, refreshed twice a second.
//
// Decided here: a recording ends when the session stops (its last frames are written first);
// the format is the one chosen in the list, which the chooser's filter sets.
class RecordPanel : public QWidget
{
    Q_OBJECT
public:
    explicit RecordPanel(KvDeviceSession *session, QWidget *parent = nullptr);
    ~RecordPanel() override;

    // "ASC recording (*.asc);;binary logging format (zlib containers) (*.blf);;..."
    static QString fileFilters();

    void setFile(const QString &fileName);
    bool setFormat(const QString &name);
    bool startRecording();
    void stopRecording();
    void setPaused(bool paused);
    bool isRecording() const;
    KvRecorder *recorder() const { return rec.get(); }
    QLabel *statusLabel() const { return label; }
    // Updates the status label from the recorder.
    void refresh();

signals:
    void failed(const QString &message);

private:
    KvDeviceSession *session;
    std::unique_ptr<KvRecorder> rec;
    QLineEdit *file;
    QComboBox *format;
    QPushButton *recordButton;
    QPushButton *pauseButton;
    QPushButton *stopButton;
    QLabel *label;
    QTimer timer;
};

#endif // RECORDPANEL_H
