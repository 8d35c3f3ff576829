#include "devicesession.h"

#include "bittimings.h"
#include "canreadthread.h"
#include "canwritethread.h"
#include "devcan.h"
#include "vci_sim.h"

DeviceSession::DeviceSession(QObject *parent) : QObject(parent) {}

DeviceSession::~DeviceSession()
{
    close();
}

bool DeviceSession::timingForBitRate(uint bitRate, quint8 &timing0, quint8 &timing1)
{
    return bittimings::timingFor(bitRate, timing0, timing1);
}

QVector<uint> DeviceSession::bitRates()
{
    QVector<uint> rates;
    for (const bittimings::RateTiming &r : bittimings::Rates)
        rates << r.rate;
    return rates;
}

QVector<uint> DeviceSession::channels() const
{
    QVector<uint> list{used.channel};
    if (used.wire >= 0 && uint(used.wire) != used.channel)
        list << uint(used.wire);
    return list;
}

CanWriteThread *DeviceSession::writer(uint channel) const
{
    const int i = channels().indexOf(channel);
    return i >= 0 && i < writers.size() ? writers.at(i) : nullptr;
}

bool DeviceSession::open(const DeviceConfig &config)
{
    if (current != Closed)
        return fail(tr("The device is already open."));
    DevCan &dev = DevCan::instance();
    if (!dev.isLoaded())
        return fail(tr("No adapter library (libControlCAN.so) beside the executable."));
    quint8 t0, t1;
    if (config.channel > 3 || config.wire > 3 || !timingForBitRate(config.bitRate, t0, t1))
        return fail(tr("Bad channel or bit rate."));
    if (dev.openDevice(config.type, config.index, 0) != 1)
        return fail(tr("Cannot open device type %1, index %2.").arg(config.type).arg(config.index));
    used = config;
    setState(Opened);
    return true;
}

bool DeviceSession::start()
{
    if (current != Opened)
        return fail(tr("Open the device first."));
    DevCan &dev = DevCan::instance();
    VCI_INIT_CONFIG init{};
    init.AccMask = 0xFFFFFFFF;
    timingForBitRate(used.bitRate, init.Timing0, init.Timing1);
    // Initialised afresh on every start: a reset channel needs it before it starts again.
    for (uint ch : channels()) {
        if (dev.initCAN(ch, &init) != 1 || dev.StartCAN(ch) != 1)
            return fail(
                tr("Cannot start channel %1; the device has %2.").arg(ch).arg(dev.getChannels()));
    }
    if (channels().size() > 1) {
        // The simulated bus: wired channels hear each other, at the pace of the real bit rate.
        VSIM_Connect(used.type, used.index, used.channel, used.type, used.index, uint(used.wire));
        VSIM_SetBusTiming(1);
    }
    for (uint ch : channels()) {
        readers << new CanReadThread(ch);
        writers << new CanWriteThread(ch);
    }
    for (CanReadThread *t : qAsConst(readers))
        t->start();
    for (CanWriteThread *t : qAsConst(writers))
        t->start();
    setState(Started);
    return true;
}

void DeviceSession::stop()
{
    if (current != Started)
        return;
    emit aboutToStop();
    for (CanWriteThread *t : qAsConst(writers))
        t->stop();
    for (CanReadThread *t : qAsConst(readers))
        t->stop();
    for (CanWriteThread *t : qAsConst(writers))
        t->waitForFinish();
    for (CanReadThread *t : qAsConst(readers))
        t->waitForFinish();
    qDeleteAll(writers);
    qDeleteAll(readers);
    writers.clear();
    readers.clear();
    for (uint ch : channels())
        DevCan::instance().ResetCAN(ch);
    setState(Opened);
}

void DeviceSession::close()
{
    if (current == Closed)
        return;
    stop();
    DevCan::instance().closeDevice();
    setState(Closed);
}

bool DeviceSession::fail(const QString &message)
{
    error = message;
    return false;
}

void DeviceSession::setState(State state)
{
    current = state;
    emit stateChanged(state);
}
