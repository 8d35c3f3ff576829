#ifndef KVDEVICESESSION_H
#define KVDEVICESESSION_H

#include "kavri_global.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QVector>

#include <memory>
#include <mutex>

class CanReadThread;
class CanWriteThread;
class DevCan;
class KvFrameSubscription;
class KvThread;
namespace kavri {
namespace detail {
class SessionReader;
class SimControl;
} // namespace detail
} // namespace kavri

// What status() tells about one channel of a session.
struct KvChannelStatus
{
    int channel = -1;
    bool started = false;      // the adapter reports the channel started
    quint32 bitRate = 0;       // bit/s, from the channel's timing bytes
    quint32 frames = 0;        // frames offered to the channel's buffer (a total that wraps)
    quint32 bits = 0;          // their bus bits (a total that wraps)
    double busLoad = 0.0;      // percent of the bit rate since the previous status() of the channel
    int received = 0;          // the channel's receive count in the global settings
    int sent = 0;              // the channel's send count in the global settings
    quint64 adapterErrors = 0; // error records the adapter reported while the session ran
    QString lastError;         // the session's own latest failure on the channel (start, refused
                               // transmit), else the latest adapter error; empty if none
};

// One opened adapter and the channels a host works on, brought up and shut down in one place.
//
// The host names the device and its channels, each with a bit rate, and calls start():
//
//     KvDeviceSession session;                    // over DevCan::instance()
//     session.setDevice(4, 0);
//     session.addChannel(0, 500000);
//     session.addChannel(1, 500000);
//     if (!session.start())
//         qWarning() << session.errorString();    // "cannot start channel 1: ..."
//     session.wire(0, 1);                         // simulated adapter only
//     ...
//     session.stop();                             // or let the destructor do it
//
// start() opens the device (unless open() did already), initialises and starts every channel and
// gives each a receive thread and a transmit thread. It is all or nothing: when the device does
// not open or a channel does not start, the channels already started are reset, the device is
// closed, the session is Closed again and errorString() names the step that failed and why.
//
// stop() is one call, in this order:
//   1. aboutToStop() is emitted, then the senders registered with addSender() are stopped and
//      waited for (the replay, firmware and task threads a host runs on the session's channels);
//   2. the transmit and receive threads are stopped and waited for;
//   3. the session's reader hands the frames still queued to the subscriptions and ends;
//   4. ResetCAN for every channel, then CloseDevice.
// Each thread ends within one of its polls (50 ms for a receive thread), so stop() is bounded by
// the slowest registered sender. A second stop() does nothing; the destructor calls stop().
//
// Frames for many consumers: see KvFrameSubscription. While a channel has subscriptions, the
// session's reader thread is the only reader of that channel's real-time save queue.
//
// While the session runs it also reads the used channels' error logs (KvBuffer::getErrorData)
// for status(); those records are then counted there instead of left in the log.
//
// The simulated adapter: wire() and setSimulatedBusTiming() look the simulator's control
// functions up at run time in the adapter library the device manager loaded. With the maker's
// library they fail with "the adapter library has no simulator control (VSIM_Connect)" and change
// nothing. Channels bridged to a Qt CAN bus (KAVRI_CANBUS) need neither.
//
// Threads: every member is called from the thread that owns the session, except status(), which
// any thread may call (`statusLock` guards the load bookkeeping). The worker threads belong to
// the session from start() to stop(); reader() and writer() are null outside that time.
//
// Decided here:
//   - start() on a started session fails ("already started"); open() on an open one succeeds.
//   - Bit rates are those of bitRates(); another rate fails at addChannel().
//   - A failed start() leaves the device closed even when open() had opened it.
//   - stop() of an Opened session closes the device; of a Closed one does nothing.
//   - A transmit the adapter refused shows in status() as "the adapter refused a transmit".
class KAVRI_EXPORT KvDeviceSession : public QObject
{
    Q_OBJECT
public:
    enum State { Closed, Opened, Started };
    Q_ENUM(State)

    // Over the process's device manager, DevCan::instance().
    explicit KvDeviceSession(QObject *parent = nullptr);
    explicit KvDeviceSession(DevCan &device, QObject *parent = nullptr);
    ~KvDeviceSession() override;

    // Setup, while Closed; false otherwise. A channel is 0 to 3, once each.
    bool setDevice(quint32 type, quint32 index);
    bool addChannel(int channel, quint32 bitRate);
    bool clearChannels();
    quint32 deviceType() const { return type; }
    quint32 deviceIndex() const { return index; }
    QVector<int> channels() const;
    quint32 bitRate(int channel) const;

    bool open();
    bool start();
    void stop();
    State state() const { return current; }
    bool isStarted() const { return current == Started; }
    QString errorString() const { return error; }

    DevCan &device() const { return dev; }
    CanReadThread *reader(int channel) const;
    CanWriteThread *writer(int channel) const;

    // A thread that sends on the session's channels; stop() stops it first. A sender destroyed
    // before the stop is skipped.
    void addSender(KvThread *sender);
    void removeSender(KvThread *sender);

    // Simulated adapter only: wire two channels of the device to one bus; bus timing on or off.
    bool wire(int channelA, int channelB);
    bool setSimulatedBusTiming(bool on);

    KvChannelStatus status(int channel);

    // The bit rates the adapter's 16 MHz clock makes at a sample point near 87.5 %, and their
    // timing bytes: 500000 -> (0x00, 0x1C), 1000000 -> (0x00, 0x14), 125000 -> (0x03, 0x1C).
    static QVector<quint32> bitRates();
    static bool timingForBitRate(quint32 bitRate, quint8 &timing0, quint8 &timing1);

signals:
    void stateChanged(KvDeviceSession::State state);
    // stop() is about to stop the channels: whoever sends on them stops now.
    void aboutToStop();

private:
    friend class KvFrameSubscription;
    struct Channel
    {
        int number = 0;
        quint32 bitRate = 0;
        CanReadThread *reader = nullptr;
        CanWriteThread *writer = nullptr;
    };

    bool openDevice(bool &opened);
    bool fail(const QString &message);
    void setState(State state);
    void undoStart(int started);
    const Channel *find(int channel) const;
    void setLastError(int channel, const QString &reason);

    DevCan &dev;
    quint32 type = 4;
    quint32 index = 0;
    QVector<Channel> used;
    State current = Closed;
    QString error;
    QVector<QPointer<KvThread>> senders;
    const std::shared_ptr<kavri::detail::SessionReader> frameReader;
    const std::unique_ptr<kavri::detail::SimControl> sim;

    // Guarded by statusLock: status() may be called from any thread, the transmit threads report
    // refusals from theirs.
    struct Load
    {
        quint32 bits = 0;
        QElapsedTimer clock;
        QString lastError;
    };
    std::mutex statusLock;
    Load loads[4];
};

#endif // KVDEVICESESSION_H
