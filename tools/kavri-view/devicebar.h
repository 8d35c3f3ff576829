#ifndef DEVICEBAR_H
#define DEVICEBAR_H

#include "devicesession.h"

#include <QtWidgets/QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

// The row of device controls: type, index, channel, bit rate and the wired second channel, and
// the open, start, stop and close buttons. It drives a DeviceSession and enables only the
// buttons that make sense in the session's state. The defaults are the simulated two-channel
// adapter with channels 0 and 1 wired at 500 kbit/s.
class DeviceBar : public QWidget
{
    Q_OBJECT
public:
    explicit DeviceBar(DeviceSession *session, QWidget *parent = nullptr);

    DeviceConfig config() const;
    // Shows `config` in the controls (a type or bit rate the bar does not offer is left as it
    // is); used to bring back the last device.
    void setConfig(const DeviceConfig &config);

    QPushButton *openButton() const { return openBtn; }
    QPushButton *startButton() const { return startBtn; }
    QPushButton *stopButton() const { return stopBtn; }
    QPushButton *closeButton() const { return closeBtn; }

signals:
    // A step failed; the text says why.
    void failed(const QString &message);

private:
    void updateButtons();
    void run(bool ok);

    DeviceSession *session;
    QComboBox *type;
    QSpinBox *index;
    QSpinBox *channel;
    QComboBox *bitRate;
    QCheckBox *wire;
    QSpinBox *wireChannel;
    QPushButton *openBtn;
    QPushButton *startBtn;
    QPushButton *stopBtn;
    QPushButton *closeBtn;
};

#endif // DEVICEBAR_H
