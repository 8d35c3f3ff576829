#include "kvdevicesession.h"

#include "canreadthread.h"
#include "canwritethread.h"
#include "devcan.h"
#include "kvbuffer.h"
#include "kvglobalset.h"
#include "sessionreader_p.h"
#include "simcontrol_p.h"

namespace {

struct RateTiming
{
    quint32 rate;
    quint8 timing0;
    quint8 timing1;
};

// 16 MHz clock, sample point near 87.5 %.
constexpr RateTiming Rates[] = {
    {1000000, 0x00, 0x14}, {800000, 0x00, 0x16}, {500000, 0x00, 0x1C}, {250000, 0x01, 0x1C},
    {125000, 0x03, 0x1C},  {100000, 0x04, 0x1C}, {50000, 0x09, 0x1C},  {20000, 0x18, 0x1C},
    {10000, 0x31, 0x1C},   {5000, 0xBF, 0xFF},
};

QString adapterError(const VCI_ERR_INFO &info)
{
    return QStringLiteral("adapter error 0x%1").arg(info.ErrCode, 4, 16, QLatin1Char('0'));
}

} // namespace

KvDeviceSession::KvDeviceSession(QObject *parent) : KvDeviceSession(DevCan::instance(), parent) {}

KvDeviceSession::KvDeviceSession(DevCan &device, QObject *parent)
    : QObject(parent), dev(device), frameReader(std::make_shared<kavri::detail::SessionReader>()),
      sim(new kavri::detail::SimControl)
{
}

KvDeviceSession::~KvDeviceSession()
{
    stop();
}

QVector<quint32> KvDeviceSession::bitRates()
{
    QVector<quint32> rates;
    for (const RateTiming &r : Rates)
        rates << r.rate;
    return rates;
}

bool KvDeviceSession::timingForBitRate(quint32 bitRate, quint8 &timing0, quint8 &timing1)
{
    for (const RateTiming &r : Rates) {
        if (r.rate == bitRate) {
            timing0 = r.timing0;
            timing1 = r.timing1;
            return true;
        }
    }
    return false;
}

bool KvDeviceSession::setDevice(quint32 devType, quint32 devIndex)
{
    if (current != Closed)
        return fail(QStringLiteral("the device is open; stop the session first"));
    type = devType;
    index = devIndex;
    return true;
}

bool KvDeviceSession::addChannel(int channel, quint32 rate)
{
    quint8 t0, t1;
    if (current != Closed)
        return fail(QStringLiteral("the device is open; stop the session first"));
    if (!KvGlobalSet::isChannel(channel) || find(channel))
        return fail(QStringLiteral("bad channel %1: channels are 0 to 3, each once").arg(channel));
    if (!timingForBitRate(rate, t0, t1))
        return fail(QStringLiteral("unsupported bit rate %1").arg(rate));
    Channel c;
    c.number = channel;
    c.bitRate = rate;
    used << c;
    return true;
}

bool KvDeviceSession::clearChannels()
{
    if (current != Closed)
        return fail(QStringLiteral("the device is open; stop the session first"));
    used.clear();
    return true;
}

QVector<int> KvDeviceSession::channels() const
{
    QVector<int> list;
    for (const Channel &c : used)
        list << c.number;
    return list;
}

quint32 KvDeviceSession::bitRate(int channel) const
{
    const Channel *c = find(channel);
    return c ? c->bitRate : 0;
}

const KvDeviceSession::Channel *KvDeviceSession::find(int channel) const
{
    for (const Channel &c : used) {
        if (c.number == channel)
            return &c;
    }
    return nullptr;
}

CanReadThread *KvDeviceSession::reader(int channel) const
{
    const Channel *c = find(channel);
    return c ? c->reader : nullptr;
}

CanWriteThread *KvDeviceSession::writer(int channel) const
{
    const Channel *c = find(channel);
    return c ? c->writer : nullptr;
}

bool KvDeviceSession::open()
{
    bool opened = false;
    return openDevice(opened);
}

bool KvDeviceSession::openDevice(bool &opened)
{
    opened = false;
    if (current != Closed)
        return true;
    if (!dev.isLoaded())
        return fail(QStringLiteral("no adapter library (libControlCAN.so) beside the executable"));
    if (dev.openDevice(type, index, 0) != 1) {
        // The device manager keeps nothing of a device that failed to open; its adapter may
        // still say why (a bridged bus that is missing, for one).
        const quint32 oldType = quint32(dev.getDevType()), oldIndex = quint32(dev.getDevIndex());
        dev.setDevType(type);
        dev.setDevIndex(index);
        VCI_ERR_INFO info{};
        const bool why =
            dev.readErrInfo(used.isEmpty() ? 0 : ulong(used.first().number), &info) == 1;
        dev.setDevType(oldType);
        dev.setDevIndex(oldIndex);
        return fail(
            QStringLiteral("cannot open device type %1 index %2%3")
                .arg(type)
                .arg(index)
                .arg(
                    why ? QStringLiteral(" (error 0x%1)").arg(info.ErrCode, 4, 16, QLatin1Char('0'))
                        : QString()));
    }
    opened = true;
    setState(Opened);
    return true;
}

bool KvDeviceSession::start()
{
    if (current == Started)
        return fail(QStringLiteral("the session is already started"));
    if (used.isEmpty())
        return fail(QStringLiteral("no channel to start"));
    bool opened = false;
    if (!openDevice(opened))
        return false;
    for (int i = 0; i < used.size(); ++i) {
        const Channel &c = used.at(i);
        VCI_INIT_CONFIG config{};
        config.AccMask = 0xFFFFFFFF;
        timingForBitRate(c.bitRate, config.Timing0, config.Timing1);
        QString why;
        if (ulong(c.number) >= dev.getChannels())
            why =
                QStringLiteral("device type %1 has %2 channel(s)").arg(type).arg(dev.getChannels());
        else if (dev.initCAN(ulong(c.number), &config) != 1)
            why = QStringLiteral("the adapter refused InitCAN");
        else if (dev.StartCAN(ulong(c.number)) != 1)
            why = QStringLiteral("the adapter refused StartCAN");
        if (!why.isEmpty()) {
            const QString message =
                QStringLiteral("cannot start channel %1: %2").arg(c.number).arg(why);
            undoStart(i);
            setLastError(c.number, message);
            return fail(message);
        }
    }
    {
        const std::lock_guard<std::mutex> locker(statusLock);
        for (Load &l : loads) {
            l.lastError.clear();
            l.clock.invalidate();
        }
    }
    frameReader->start(channels());
    for (Channel &c : used) {
        c.reader = new CanReadThread(ulong(c.number));
        c.writer = new CanWriteThread(ulong(c.number));
        const int number = c.number;
        connect(
            c.writer, &CanWriteThread::errorSignal, c.writer,
            [this, number] {
                setLastError(number, QStringLiteral("the adapter refused a transmit"));
            },
            Qt::DirectConnection);
    }
    for (const Channel &c : qAsConst(used))
        c.reader->start();
    for (const Channel &c : qAsConst(used))
        c.writer->start();
    setState(Started);
    return true;
}

void KvDeviceSession::undoStart(int started)
{
    for (int i = 0; i < started; ++i)
        dev.ResetCAN(ulong(used.at(i).number));
    dev.closeDevice();
    setState(Closed);
}

void KvDeviceSession::stop()
{
    if (current == Closed)
        return;
    if (current == Started) {
        emit aboutToStop();
        for (const QPointer<KvThread> &t : qAsConst(senders)) {
            if (t)
                t->stop();
        }
        for (const QPointer<KvThread> &t : qAsConst(senders)) {
            if (t)
                t->waitForFinish();
        }
        for (const Channel &c : qAsConst(used)) {
            c.writer->stop();
            c.reader->stop();
        }
        for (const Channel &c : qAsConst(used)) {
            c.writer->waitForFinish();
            c.reader->waitForFinish();
        }
        frameReader->stop();
        for (Channel &c : used) {
            delete c.writer;
            delete c.reader;
            c.writer = nullptr;
            c.reader = nullptr;
        }
        for (const Channel &c : qAsConst(used))
            dev.ResetCAN(ulong(c.number));
    }
    dev.closeDevice();
    setState(Closed);
}

void KvDeviceSession::addSender(KvThread *sender)
{
    if (sender && !senders.contains(sender))
        senders << sender;
}

void KvDeviceSession::removeSender(KvThread *sender)
{
    senders.removeAll(sender);
    senders.removeAll(nullptr);
}

bool KvDeviceSession::wire(int channelA, int channelB)
{
    if (!KvGlobalSet::isChannel(channelA) || !KvGlobalSet::isChannel(channelB))
        return fail(QStringLiteral("bad channel to wire: channels are 0 to 3"));
    QString why;
    if (!sim->connect(type, index, quint32(channelA), quint32(channelB), why))
        return fail(why);
    return true;
}

bool KvDeviceSession::setSimulatedBusTiming(bool on)
{
    QString why;
    if (!sim->setBusTiming(on, why))
        return fail(why);
    return true;
}

KvChannelStatus KvDeviceSession::status(int channel)
{
    KvChannelStatus s;
    if (!KvGlobalSet::isChannel(channel))
        return s;
    s.channel = channel;
    s.started = dev.isStarted(ulong(channel));
    s.bitRate = quint32(dev.maxBaudrate(ulong(channel)));
    KvBuffer &buffer = KvBuffer::instance(channel);
    s.frames = quint32(buffer.frames());
    s.bits = quint32(buffer.size());
    const KvChannelSet &set = KvGlobalSet::instance().channelSets[channel];
    s.received = set.receiveCount;
    s.sent = set.sendCount;
    const kavri::detail::SessionReader::ErrorLog log = frameReader->errors(channel);
    s.adapterErrors = log.count;
    const std::lock_guard<std::mutex> locker(statusLock);
    Load &l = loads[channel];
    if (l.clock.isValid() && s.started && s.bitRate > 0) {
        const qint64 msecs = l.clock.elapsed();
        // Differences of the wrapping 32-bit total stay right across a wrap.
        if (msecs > 0)
            s.busLoad =
                qMin(100.0, 100.0 * (s.bits - l.bits) * 1000.0 / (double(msecs) * s.bitRate));
    }
    l.bits = s.bits;
    l.clock.start();
    s.lastError = l.lastError;
    if (s.lastError.isEmpty() && log.count > 0)
        s.lastError = adapterError(log.last);
    return s;
}

void KvDeviceSession::setLastError(int channel, const QString &reason)
{
    if (!KvGlobalSet::isChannel(channel))
        return;
    const std::lock_guard<std::mutex> locker(statusLock);
    loads[channel].lastError = reason;
}

bool KvDeviceSession::fail(const QString &message)
{
    error = message;
    return false;
}

void KvDeviceSession::setState(State state)
{
    if (state == current)
        return;
    current = state;
    emit stateChanged(state);
}
