#include "canbusbridge_p.h"

#include "busiothread_p.h"
#include "simboard_p.h"

#include <QtCore/QVariant>
#include <QtSerialBus/QCanBus>
#include <QtSerialBus/QCanBusDevice>
#include <QtSerialBus/QCanBusFrame>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// How long an entry point waits for the I/O thread to take its work, and for a device to connect.
constexpr int CallTimeoutMs = 2000;
constexpr int ConnectTimeoutMs = 3000;
// Frames waiting for VCI_Receive per channel, as in the simulation.
constexpr size_t QueueLimit = 1048576;

// Plugins whose bit rate is set through the device. A socketcan interface gets its bit rate from
// the system (setting it needs privileges the analyser should not have), and the virtual bus has
// none.
bool takesBitRate(const QString &plugin)
{
    return plugin != QLatin1String("socketcan") && plugin != QLatin1String("virtualcan");
}

using simboard::bitRate;
using simboard::channelCount;

// VCI record -> Qt frame; nothing for a record no bus can carry (identifier too long for its
// format, more than 8 bytes). A remote frame carries its length as a payload of that many zeros:
//   ID 0x7DF, RemoteFlag 1, DataLen 3 -> remote request 0x7DF, payload 00 00 00
std::optional<QCanBusFrame> toQtFrame(const VCI_CAN_OBJ &f)
{
    const bool extended = f.ExternFlag == 1;
    if (f.DataLen > 8 || f.ID > (extended ? 0x1FFFFFFFu : 0x7FFu))
        return std::nullopt;
    const bool remote = f.RemoteFlag != 0;
    QCanBusFrame frame(f.ID, remote
                                 ? QByteArray(f.DataLen, '\0')
                                 : QByteArray(reinterpret_cast<const char *>(f.Data), f.DataLen));
    frame.setExtendedFrameFormat(extended);
    if (remote)
        frame.setFrameType(QCanBusFrame::RemoteRequestFrame);
    return frame;
}

// Qt data or remote frame -> VCI record stamped `stamp`; nothing for a frame of more than 8 bytes
// (a flexible-data-rate frame the record cannot hold).
std::optional<VCI_CAN_OBJ> toRecord(const QCanBusFrame &frame, uint32_t stamp)
{
    const QByteArray payload = frame.payload();
    if (payload.size() > 8)
        return std::nullopt;
    VCI_CAN_OBJ r{};
    r.ID = frame.frameId();
    r.TimeStamp = stamp;
    r.TimeFlag = 1;
    r.ExternFlag = frame.hasExtendedFrameFormat() ? 1 : 0;
    r.RemoteFlag = frame.frameType() == QCanBusFrame::RemoteRequestFrame ? 1 : 0;
    r.DataLen = uint8_t(payload.size());
    if (!r.RemoteFlag)
        std::memcpy(r.Data, payload.constData(), size_t(payload.size()));
    return r;
}

// Frames and error frames read from a device, on the I/O thread.
void takeFrames(QCanBusDevice *device, BridgedChannel &c)
{
    const QVector<QCanBusFrame> frames = device->readAllFrames();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (const QCanBusFrame &frame : frames) {
        if (!frame.isValid() || frame.hasLocalEcho())
            continue;
        if (frame.frameType() == QCanBusFrame::ErrorFrame) {
            // Error class in the high half of the code; controller, protocol type and location
            // bytes as detail, the arbitration-lost bit position last.
            const QByteArray p = frame.payload().leftJustified(4, '\0');
            c.errors.push(VCI_ERR_INFO{BridgeErrBusFrame | uint32_t(frame.error()) << 16,
                                       {uint8_t(p[1]), uint8_t(p[2]), uint8_t(p[3])},
                                       uint8_t(p[0])});
            continue;
        }
        if (frame.frameType() != QCanBusFrame::DataFrame &&
            frame.frameType() != QCanBusFrame::RemoteRequestFrame)
            continue;
        const std::optional<VCI_CAN_OBJ> r = toRecord(frame, c.stamp());
        if (!r)
            continue;
        if (c.received.size() < QueueLimit) {
            c.received.push_back(*r);
        } else if (!c.overflowPending) {
            c.errors.push(VCI_ERR_INFO{BridgeErrOverflow, {0, 0, 0}, 0});
            c.overflowPending = true;
        }
    }
}

// Creates and connects the device of a channel, on the I/O thread. False, with an error record,
// when the plugin gives no usable device or refuses to connect at once.
bool connectOnThread(BusIoThread *io, const std::shared_ptr<BridgedChannel> &c, uint32_t rate)
{
    QString why;
    QCanBusDevice *device =
        QCanBus::instance()->createDevice(c->target.plugin, c->target.interface, &why);
    if (!device) {
        c->addError(BridgeErrNoDevice, NoPlugin);
        return false;
    }
    if (device->error() != QCanBusDevice::NoError) {
        delete device;
        c->addError(BridgeErrNoDevice, BadInterface);
        return false;
    }
    device->setParent(io->owner());
    if (takesBitRate(c->target.plugin) && rate > 0)
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(uint(rate)));
    QObject::connect(device, &QCanBusDevice::framesReceived, device,
                     [device, c] { takeFrames(device, *c); });
    QObject::connect(device, &QCanBusDevice::errorOccurred, device,
                     [c](QCanBusDevice::CanBusError e) {
                         if (e == QCanBusDevice::NoError)
                             return;
                         std::lock_guard<std::mutex> lock(c->mutex);
                         c->errors.push(VCI_ERR_INFO{BridgeErrDevice | uint32_t(e), {0, 0, 0}, 0});
                         if (e == QCanBusDevice::ConnectionError && !c->connected)
                             c->connectFailed = true;
                         c->stateChanged.notify_all();
                     });
    QObject::connect(device, &QCanBusDevice::stateChanged, device,
                     [c](QCanBusDevice::CanBusDeviceState state) {
                         std::lock_guard<std::mutex> lock(c->mutex);
                         const bool was = c->connected;
                         c->connected = state == QCanBusDevice::ConnectedState;
                         if (state == QCanBusDevice::UnconnectedState) {
                             if (was && c->started)
                                 c->errors.push(VCI_ERR_INFO{BridgeErrLost, {0, 0, 0}, 0});
                             if (!was)
                                 c->connectFailed = true;
                         }
                         c->stateChanged.notify_all();
                     });
    c->device = device;
    if (device->connectDevice())
        return true;
    // The plugin reported why through errorOccurred; make sure a record says it failed.
    const QCanBusDevice::CanBusError e = device->error();
    QObject::disconnect(device, nullptr, nullptr, nullptr);
    delete device;
    c->device = nullptr;
    c->addError(BridgeErrDevice |
                uint32_t(e == QCanBusDevice::NoError ? QCanBusDevice::ConnectionError : e));
    return false;
}

// The devices by (type, index). Never destroyed: engine threads may still call in while the
// process exits.
struct Registry
{
    std::mutex mutex;
    std::map<uint64_t, std::shared_ptr<BridgedDevice>> devices; // guarded by mutex
};

Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

uint64_t keyOf(uint32_t type, uint32_t index)
{
    return uint64_t(type) << 32 | index;
}

} // namespace

void BridgedChannel::addError(uint32_t code, uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3)
{
    std::lock_guard<std::mutex> lock(mutex);
    errors.push(VCI_ERR_INFO{code, {d0, d1, d2}, d3});
}

// Wraps after about five days, as the simulation's clock does.
uint32_t BridgedChannel::stamp() const
{
    using Tick = std::chrono::duration<int64_t, std::ratio<1, 10000>>;
    const int64_t ticks = std::chrono::duration_cast<Tick>(Clock::now() - origin).count();
    const uint32_t s = uint32_t(ticks);
    return ticks < 1 || s == 0 ? 1 : s;
}

BridgedDevice::BridgedDevice(uint32_t t, uint32_t i, const std::map<uint32_t, BusTarget> &targets)
    : type(t), index(i), channels(channelCount(t))
{
    const Clock::time_point now = Clock::now();
    for (const auto &[ch, target] : targets) {
        if (ch >= channels.size())
            continue;
        channels[ch] = std::make_shared<BridgedChannel>();
        channels[ch]->target = target;
        channels[ch]->origin = now;
    }
}

BridgedDevice::~BridgedDevice() = default;

bool BridgedDevice::opened()
{
    std::lock_guard<std::mutex> lock(mutex);
    return isOpen;
}

std::shared_ptr<BridgedChannel> BridgedDevice::channel(uint32_t ch) const
{
    return ch < channels.size() ? channels[ch] : nullptr;
}

// Checks at open that every mapped channel can get a device, so that a missing plugin or a name
// the plugin rejects fails the open rather than a later start.
uint32_t BridgedDevice::open()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (isOpen)
        return 1;
    bool ok = true;
    for (const auto &c : channels) {
        if (c && !c->target.isValid()) {
            c->addError(BridgeErrNoDevice, NoTarget);
            ok = false;
        }
    }
    if (!ok)
        return 0;
    BusIoThread *io = BusIoThread::get();
    if (!io) {
        for (const auto &c : channels)
            if (c)
                c->addError(BridgeErrNoDevice, NoApplication);
        return 0;
    }
    const bool ran = io->call(
        [&] {
            for (const auto &c : channels) {
                if (!c)
                    continue;
                QString why;
                std::unique_ptr<QCanBusDevice> probe(
                    QCanBus::instance()->createDevice(c->target.plugin, c->target.interface, &why));
                if (!probe || probe->error() != QCanBusDevice::NoError) {
                    c->addError(BridgeErrNoDevice, probe ? BadInterface : NoPlugin);
                    ok = false;
                }
            }
        },
        CallTimeoutMs);
    if (!ran) {
        for (const auto &c : channels)
            if (c)
                c->addError(BridgeErrIoStalled);
        return 0;
    }
    isOpen = ok;
    return ok ? 1 : 0;
}

uint32_t BridgedDevice::close()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        isOpen = false;
    }
    for (const auto &c : channels) {
        if (!c)
            continue;
        disconnect(c);
        std::lock_guard<std::mutex> lock(c->mutex);
        c->initialised = false;
    }
    return 1;
}

void BridgedDevice::disconnect(const std::shared_ptr<BridgedChannel> &c)
{
    if (BusIoThread *io = BusIoThread::running()) {
        io->call(
            [c] {
                if (QCanBusDevice *device = c->device) {
                    c->device = nullptr;
                    QObject::disconnect(device, nullptr, nullptr, nullptr);
                    device->disconnectDevice();
                    delete device;
                }
            },
            CallTimeoutMs);
    }
    std::lock_guard<std::mutex> lock(c->mutex);
    c->started = false;
    c->connected = false;
}

uint32_t BridgedDevice::initCAN(uint32_t ch, const VCI_INIT_CONFIG *config)
{
    const auto c = channel(ch);
    if (!c || !config)
        return 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!isOpen)
            return 0;
    }
    std::lock_guard<std::mutex> lock(c->mutex);
    c->bitRate = bitRate(config->Timing0, config->Timing1);
    c->initialised = true;
    return 1;
}

uint32_t BridgedDevice::startCAN(uint32_t ch)
{
    const auto c = channel(ch);
    if (!c)
        return 0;
    bool lost;
    {
        std::lock_guard<std::mutex> lock(c->mutex);
        if (!c->initialised)
            return 0;
        if (c->started && c->connected)
            return 1;
        lost = c->started;
    }
    if (lost) // a channel that lost its bus starts afresh on a new device
        disconnect(c);
    uint32_t rate;
    {
        std::lock_guard<std::mutex> lock(c->mutex);
        c->connected = false;
        c->connectFailed = false;
        rate = c->bitRate;
    }
    BusIoThread *io = BusIoThread::get();
    if (!io) {
        c->addError(BridgeErrNoDevice, NoApplication);
        return 0;
    }
    bool created = false;
    if (!io->call([&] { created = c->device || connectOnThread(io, c, rate); }, CallTimeoutMs)) {
        c->addError(BridgeErrIoStalled);
        return 0;
    }
    if (!created)
        return 0;
    {
        std::unique_lock<std::mutex> lock(c->mutex);
        c->stateChanged.wait_for(lock, std::chrono::milliseconds(ConnectTimeoutMs),
                                 [&] { return c->connected || c->connectFailed; });
        if (c->connected) {
            c->started = true;
            return 1;
        }
        if (!c->connectFailed)
            c->errors.push(VCI_ERR_INFO{BridgeErrNoConnect, {0, 0, 0}, 0});
    }
    disconnect(c);
    return 0;
}

uint32_t BridgedDevice::resetCAN(uint32_t ch)
{
    const auto c = channel(ch);
    if (!c)
        return 0;
    disconnect(c);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->received.clear();
    return 1;
}

// Frames go out in array order until the device refuses one; the count it took is the result.
uint32_t BridgedDevice::transmit(uint32_t ch, const VCI_CAN_OBJ *frames, uint32_t count)
{
    const auto c = channel(ch);
    if (!c || !frames)
        return 0;
    {
        std::lock_guard<std::mutex> lock(c->mutex);
        if (!c->started)
            return 0;
    }
    BusIoThread *io = BusIoThread::running();
    uint32_t accepted = 0;
    const bool ran = io && io->call(
                               [&] {
                                   if (!c->device)
                                       return;
                                   for (; accepted < count; ++accepted) {
                                       const std::optional<QCanBusFrame> f =
                                           toQtFrame(frames[accepted]);
                                       if (!f || !c->device->writeFrame(*f))
                                           break;
                                   }
                               },
                               CallTimeoutMs);
    if (!ran)
        c->addError(BridgeErrIoStalled);
    return accepted;
}

// Never waits: returns what the I/O thread has queued so far.
uint32_t BridgedDevice::receive(uint32_t ch, VCI_CAN_OBJ *frames, uint32_t capacity)
{
    const auto c = channel(ch);
    if (!c || !frames)
        return 0;
    std::lock_guard<std::mutex> lock(c->mutex);
    if (!c->started)
        return 0;
    const uint32_t n = uint32_t(std::min<size_t>(capacity, c->received.size()));
    std::copy_n(c->received.begin(), n, frames);
    c->received.erase(c->received.begin(), c->received.begin() + n);
    return n;
}

uint32_t BridgedDevice::readErrInfo(uint32_t ch, VCI_ERR_INFO *info)
{
    const auto c = channel(ch);
    if (!c || !info)
        return 0;
    std::lock_guard<std::mutex> lock(c->mutex);
    if (!c->errors.pop(*info))
        return 0;
    // The overflow record may have been one of those dropped: the next overflow is told again.
    if (info->ErrCode == BridgeErrOverflow || info->ErrCode == BridgeErrDropped)
        c->overflowPending = false;
    return 1;
}

uint32_t BridgedDevice::readBoardInfo(VCI_BOARD_INFO *info)
{
    if (!info)
        return 0;
    *info = VCI_BOARD_INFO{};
    info->hw_Version = 0x0100;
    info->fw_Version = 0x0100;
    info->dr_Version = 0x0100;
    info->in_Version = 0x0100;
    info->can_Num = uint8_t(channels.size());
    std::snprintf(info->str_Serial_Num, sizeof info->str_Serial_Num, "QCAN%u-%u", type, index);
    std::snprintf(info->str_hw_Type, sizeof info->str_hw_Type, "Kavri Qt CAN bus bridge");
    return 1;
}

// As in the simulation, the record reflects the mode only: 0 while started and connected, else 1.
uint32_t BridgedDevice::readCANStatus(uint32_t ch, VCI_CAN_STATUS *status)
{
    const auto c = channel(ch);
    if (!c || !status)
        return 0;
    std::lock_guard<std::mutex> lock(c->mutex);
    *status = VCI_CAN_STATUS{};
    status->regMode = c->started && c->connected ? 0 : 1;
    return 1;
}

uint32_t BridgedDevice::getReference(uint32_t ch, uint32_t refType, void *data)
{
    const auto c = channel(ch);
    if (!c || !data)
        return 0;
    std::lock_guard<std::mutex> lock(c->mutex);
    const auto it = c->references.find(refType);
    const uint32_t value = it == c->references.end() ? 0 : it->second;
    std::memcpy(data, &value, sizeof value);
    return 1;
}

uint32_t BridgedDevice::setReference(uint32_t ch, uint32_t refType, const void *data)
{
    const auto c = channel(ch);
    if (!c || !data)
        return 0;
    uint32_t value;
    std::memcpy(&value, data, sizeof value);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->references[refType] = value;
    return 1;
}

uint32_t BridgedDevice::getReceiveNum(uint32_t ch)
{
    const auto c = channel(ch);
    if (!c)
        return 0;
    std::lock_guard<std::mutex> lock(c->mutex);
    return uint32_t(c->received.size());
}

uint32_t BridgedDevice::clearBuffer(uint32_t ch)
{
    const auto c = channel(ch);
    if (!c)
        return 0;
    std::lock_guard<std::mutex> lock(c->mutex);
    c->received.clear();
    return 1;
}

namespace CanBusBridge {

std::optional<uint32_t> openDevice(uint32_t type, uint32_t index)
{
    Registry &r = registry();
    // Opening an open device succeeds; a closed or failed one reads the mapping afresh.
    if (const std::shared_ptr<BridgedDevice> known = find(type, index); known && known->opened())
        return 1;
    const std::map<uint32_t, BusTarget> targets = BusMapping::current().device(type, index);
    if (targets.empty()) {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.devices.erase(keyOf(type, index));
        return std::nullopt;
    }
    auto device = std::make_shared<BridgedDevice>(type, index, targets);
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.devices[keyOf(type, index)] = device;
    }
    return device->open();
}

std::shared_ptr<BridgedDevice> find(uint32_t type, uint32_t index)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto it = r.devices.find(keyOf(type, index));
    return it == r.devices.end() ? nullptr : it->second;
}

std::optional<uint32_t> closeDevice(uint32_t type, uint32_t index)
{
    std::shared_ptr<BridgedDevice> device;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        const auto it = r.devices.find(keyOf(type, index));
        if (it == r.devices.end())
            return std::nullopt;
        device = it->second;
        r.devices.erase(it);
    }
    return device->close();
}

} // namespace CanBusBridge
