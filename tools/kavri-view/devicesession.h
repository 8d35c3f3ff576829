#ifndef DEVICESESSION_H
#define DEVICESESSION_H

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QVector>

class CanReadThread;
class CanWriteThread;

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

// The adapter and the worker threads of the used channels, in the order the engine wants them:
// open the device; initialise and start the channels and one receive and one transmit thread
// each; stop the threads and reset the channels; close the device. Every step reports failure
// through its result and errorString(); nothing is thrown.
class DeviceSession : public QObject
{
    Q_OBJECT
public:
    enum State { Closed, Opened, Started };

    explicit DeviceSession(QObject *parent = nullptr);
    ~DeviceSession() override;

    bool open(const DeviceConfig &config);
    bool start();
    void stop();
    void close();

    State state() const { return current; }
    const DeviceConfig &config() const { return used; }
    // The channels started by start(): the working channel, then the wired one.
    QVector<uint> channels() const;
    // The transmit thread of a started channel, or null.
    CanWriteThread *writer(uint channel) const;
    QString errorString() const { return error; }

    // The bus-timing bytes of the adapter's 16 MHz clock for a common bit rate; false when the
    // rate is not one of them.
    static bool timingForBitRate(uint bitRate, quint8 &timing0, quint8 &timing1);
    static QVector<uint> bitRates();

signals:
    void stateChanged(DeviceSession::State state);
    // The channels are about to stop: whoever sends on them stops first.
    void aboutToStop();

private:
    bool fail(const QString &message);
    void setState(State state);

    DeviceConfig used;
    State current = Closed;
    QString error;
    QVector<CanReadThread *> readers;
    QVector<CanWriteThread *> writers;
};

#endif // DEVICESESSION_H
