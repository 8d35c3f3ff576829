#ifndef DEVICEBAR_H
#define DEVICEBAR_H

#include <QtWidgets/QWidget>

class KvDeviceSession;
class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

// What the device bar asks for: an adapter, the channel the window works on and its bit rate.
// `wire` >= 0 also starts that channel and wires it to `channel` on the simulated bus, so that
// what one channel sends the other receives.
struct DeviceConfig
{
    uint type = 4;
    uint index = 0;
    uint channel = 0;
    uint bitRate = 500000;
    int wire = 1;
};

// The row of device controls: type, index, channel, bit rate and the wired second channel, and
// the open, start, stop and close buttons. It drives the engine's device session and enables
// only the buttons that make sense in the session's state: Open opens the device, Start starts
// the channels (and wires them on the simulated bus), Stop and Close both shut everything down.
// The defaults are the simulated two-channel adapter with channels 0 and 1 wired at 500 kbit/s.
class DeviceBar : public QWidget
{
    Q_OBJECT
public:
    explicit DeviceBar(KvDeviceSession *session, QWidget *parent = nullptr);

    DeviceConfig config() const;

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
    bool open();
    bool start();

    KvDeviceSession *session;
    DeviceConfig used;
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
