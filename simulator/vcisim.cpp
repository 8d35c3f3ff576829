// The simulated adapter library: the fourteen VCI entry points over an in-memory world of
// devices and channels, plus the VSIM_* control interface that tests and tools use to play the
// other nodes on the bus and to inject faults.
//
// A device that the user maps to Qt CAN bus interfaces (see busmapping_p.h) is served by the
// bridge instead: every entry point asks the bridge first and simulates only the devices it does
// not hold. The control interface sees simulated devices only.
//
// Locking, in the order locks may nest (never two of one level at once):
//   1. the registry lock: finds the current world and a device in it, held for a map look-up;
//   2. Device::mutex: device and controller state, forced results;
//   3. Channel::txMutex: the transmit side (sent log, call log, wiring, wire time);
//   4. Channel::rxMutex: the receive side (waiting frames, error records).
// A transmit holds its own channel's txMutex while it takes each wired channel's rxMutex in turn,
// so the sent log and every receiver see one channel's frames in the same order. Nothing sleeps
// while holding a lock.

#include "vci_sim.h"

#include "canbusbridge_p.h"
#include "simboard_p.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Frames waiting for VCI_Receive, and frames kept for VSIM_TakeSent, per channel.
constexpr size_t QueueLimit = 1048576;
constexpr uint32_t OverflowErrCode = 1;

// The entry points, in the order the engine resolves them; an index into the per-world call
// counts and the per-device forced results.
enum Ep {
    OpenDevice,
    CloseDevice,
    InitCAN,
    ReadBoardInfo,
    ReadErrInfo,
    ReadCANStatus,
    GetReference,
    SetReference,
    GetReceiveNum,
    ClearBuffer,
    StartCAN,
    ResetCAN,
    Transmit,
    Receive,
    EpCount
};
constexpr const char *EpNames[EpCount] = {
    "VCI_OpenDevice",    "VCI_CloseDevice",   "VCI_InitCAN",      "VCI_ReadBoardInfo",
    "VCI_ReadErrInfo",   "VCI_ReadCANStatus", "VCI_GetReference", "VCI_SetReference",
    "VCI_GetReceiveNum", "VCI_ClearBuffer",   "VCI_StartCAN",     "VCI_ResetCAN",
    "VCI_Transmit",      "VCI_Receive"};

std::optional<Ep> epByName(const char *name)
{
    for (int i = 0; name && i < EpCount; ++i)
        if (std::strcmp(name, EpNames[i]) == 0)
            return Ep(i);
    return std::nullopt;
}

using simboard::bitRate;
using simboard::channelCount;

// Bus bits of a frame as the receive buffer counts them: standard 44, extended 64, plus 8 per
// data byte of a data frame.
uint64_t frameBits(const VCI_CAN_OBJ &f)
{
    const uint64_t header = f.ExternFlag == 1 ? 64 : 44;
    return f.RemoteFlag ? header : header + 8u * f.DataLen;
}

struct ErrorRecord
{
    VCI_ERR_INFO info;
    int repeat;    // reports left; -1 = every call until reset
    bool overflow; // the one record a receive-queue overflow raises
};

struct Device;

struct Channel
{
    Device *device = nullptr;

    // Controller state, guarded by Device::mutex.
    bool initialised = false;
    bool started = false;
    VCI_INIT_CONFIG config{};
    uint32_t bitRate = 0; // 0 until initialised: such a channel is never paced
    std::map<uint32_t, uint32_t> references;

    // Transmit side, guarded by txMutex.
    std::mutex txMutex;
    std::deque<VCI_CAN_OBJ> sent;
    uint64_t sentTotal = 0;
    std::deque<uint32_t> transmitCalls;
    std::vector<Channel *> wired;
    Clock::time_point wireBusyUntil{};

    // Receive side, guarded by rxMutex.
    std::mutex rxMutex;
    std::deque<VCI_CAN_OBJ> waiting;
    std::deque<ErrorRecord> errors;
    bool overflowPending = false;
};

struct Forced
{
    uint32_t result = 0;
    int times = 0; // calls left; -1 = until reset, 0 = not forced
};

struct Device
{
    explicit Device(uint32_t type) : channels(channelCount(type))
    {
        for (Channel &c : channels)
            c.device = this;
    }

    Channel *channel(uint32_t ch) { return ch < channels.size() ? &channels[ch] : nullptr; }

    // Device clock in 0.1 ms units at `t`; never 0, because the engine reads a 0 stamp as a
    // frame it sent itself. Read without a lock by other devices' transmits, hence atomic.
    uint32_t clockAt(Clock::time_point t) const
    {
        using Tick = std::chrono::duration<int64_t, std::ratio<1, 10000>>;
        const auto elapsed = t.time_since_epoch() - Clock::duration(clockOrigin.load());
        const int64_t ticks = std::chrono::duration_cast<Tick>(elapsed).count();
        const uint32_t stamp = uint32_t(ticks); // wraps after about five days, as hardware does
        return ticks < 1 || stamp == 0 ? 1 : stamp;
    }

    // Takes one use of a forced result. Caller holds `mutex`.
    std::optional<uint32_t> takeForced(Ep ep)
    {
        Forced &f = forced[ep];
        if (f.times == 0)
            return std::nullopt;
        if (f.times > 0)
            --f.times;
        return f.result;
    }

    std::mutex mutex;
    bool open = false;
    std::array<Forced, EpCount> forced{};
    // Counts from first sight of the device until it is opened, then from the opening.
    std::atomic<Clock::rep> clockOrigin{Clock::now().time_since_epoch().count()};
    std::deque<Channel> channels; // a deque: channels hold mutexes and never move
};

// Everything VSIM_Reset forgets. A reset swaps in a new world; calls still running in the old
// one (a transmit asleep on the wire, say) finish there harmlessly and keep it alive until then.
struct World
{
    std::unordered_map<uint64_t, std::unique_ptr<Device>> devices; // guarded by the registry lock
    std::array<std::atomic<uint32_t>, EpCount> calls{};
    std::atomic<bool> busTiming{false};
};

struct Registry
{
    std::mutex mutex;
    std::shared_ptr<World> world = std::make_shared<World>();
};

// Never destroyed: engine singletons may still call in while the process exits.
Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

// A device of the current world, with the world kept alive for as long as the caller needs it.
// Every (type, index) pair names a device; it is created on first sight.
struct DeviceRef
{
    std::shared_ptr<World> world;
    Device *device;
};

DeviceRef findDevice(uint32_t type, uint32_t index)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::unique_ptr<Device> &d = r.world->devices[uint64_t(type) << 32 | index];
    if (!d)
        d = std::make_unique<Device>(type);
    return {r.world, d.get()};
}

Channel *findChannel(uint32_t type, uint32_t index, uint32_t ch, DeviceRef &ref)
{
    ref = findDevice(type, index);
    return ref.device->channel(ch);
}

// The prologue of every entry point: counts the call over all devices, finds the device and
// takes a forced result when one is set.
struct Entry
{
    DeviceRef ref;
    std::optional<uint32_t> forced;
    Device &dev() const { return *ref.device; }
};

Entry enter(Ep ep, uint32_t type, uint32_t index)
{
    Entry e{findDevice(type, index), std::nullopt};
    e.ref.world->calls[ep].fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(e.dev().mutex);
    e.forced = e.dev().takeForced(ep);
    return e;
}

// Queues frames on a channel's receive side, stamped by `stampOf(i)` where the given stamp is
// 0 (or always when `restamp`). Beyond the queue limit new frames are dropped and one overflow
// record is raised until it has been read. Returns the number queued.
template <typename StampOf>
uint32_t enqueue(Channel &c, const VCI_CAN_OBJ *frames, uint32_t n, bool restamp, StampOf stampOf)
{
    std::lock_guard<std::mutex> lock(c.rxMutex);
    const uint32_t room = uint32_t(std::min<size_t>(n, QueueLimit - c.waiting.size()));
    for (uint32_t i = 0; i < room; ++i) {
        VCI_CAN_OBJ f = frames[i];
        if (restamp || f.TimeStamp == 0)
            f.TimeStamp = stampOf(i);
        c.waiting.push_back(f);
    }
    if (room < n && !c.overflowPending) {
        c.errors.push_back({{OverflowErrCode, {0, 0, 0}, 0}, 1, true});
        c.overflowPending = true;
    }
    return room;
}

// Keeps the newest QueueLimit entries of a log.
template <typename T> void trimLog(std::deque<T> &log)
{
    if (log.size() > QueueLimit)
        log.erase(log.begin(), log.begin() + (log.size() - QueueLimit));
}

// Takes up to `capacity` entries from the front of a queue into `out`.
template <typename T> uint32_t takeFront(std::deque<T> &queue, T *out, uint32_t capacity)
{
    if (!out)
        return 0;
    const uint32_t n = uint32_t(std::min<size_t>(capacity, queue.size()));
    std::copy_n(queue.begin(), n, out);
    queue.erase(queue.begin(), queue.begin() + n);
    return n;
}

// Accepts the first `n` frames of a VCI_Transmit call on `c` (`count` frames were offered):
// paces them on the wire when bus timing is on, logs them and delivers a stamped copy to every
// wired channel.
void transmit(World &world, Channel &c, uint32_t bitRate, const VCI_CAN_OBJ *frames, uint32_t count,
              uint32_t n)
{
    const bool paced = world.busTiming.load() && bitRate > 0 && n > 0;
    // When each frame has left the wire: unpaced, all now; paced, one after another from when
    // the wire falls idle, so back-to-back calls queue behind each other.
    const Clock::time_point now = Clock::now();
    std::vector<Clock::time_point> leftWire(n, now);
    {
        std::lock_guard<std::mutex> lock(c.txMutex);
        c.transmitCalls.push_back(count);
        trimLog(c.transmitCalls);
        if (paced) {
            const Clock::time_point start = std::max(now, c.wireBusyUntil);
            uint64_t bits = 0;
            for (uint32_t i = 0; i < n; ++i) {
                bits += frameBits(frames[i]);
                leftWire[i] = start + std::chrono::nanoseconds(bits * 1000000000u / bitRate);
            }
            c.wireBusyUntil = leftWire.back();
        }
    }
    if (n == 0)
        return;
    if (paced)
        std::this_thread::sleep_until(leftWire.back());

    std::lock_guard<std::mutex> lock(c.txMutex);
    c.sent.insert(c.sent.end(), frames, frames + n);
    trimLog(c.sent);
    c.sentTotal += n;
    for (Channel *peer : c.wired) {
        const Device &receiver = *peer->device;
        enqueue(*peer, frames, n, true, [&](uint32_t i) { return receiver.clockAt(leftWire[i]); });
    }
}

} // namespace

extern "C" {

uint32_t VCI_OpenDevice(uint32_t devType, uint32_t devIndex, uint32_t)
{
    if (const std::optional<uint32_t> bridged = CanBusBridge::openDevice(devType, devIndex))
        return *bridged;
    Entry e = enter(OpenDevice, devType, devIndex);
    if (e.forced)
        return *e.forced;
    std::lock_guard<std::mutex> lock(e.dev().mutex);
    if (!e.dev().open) {
        e.dev().open = true;
        e.dev().clockOrigin = Clock::now().time_since_epoch().count();
    }
    return 1;
}

// Closing stops and forgets every channel's controller state, as unplugging would; waiting and
// logged frames stay until VSIM_Reset.
uint32_t VCI_CloseDevice(uint32_t devType, uint32_t devIndex)
{
    if (const std::optional<uint32_t> bridged = CanBusBridge::closeDevice(devType, devIndex))
        return *bridged;
    Entry e = enter(CloseDevice, devType, devIndex);
    if (e.forced)
        return *e.forced;
    std::lock_guard<std::mutex> lock(e.dev().mutex);
    e.dev().open = false;
    for (Channel &c : e.dev().channels)
        c.initialised = c.started = false;
    return 1;
}

uint32_t VCI_InitCAN(uint32_t devType, uint32_t devIndex, uint32_t channel, PVCI_INIT_CONFIG config)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->initCAN(channel, config);
    Entry e = enter(InitCAN, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    std::lock_guard<std::mutex> lock(e.dev().mutex);
    if (!c || !config || !e.dev().open)
        return 0;
    c->config = *config;
    c->bitRate = bitRate(config->Timing0, config->Timing1);
    c->initialised = true;
    return 1;
}

uint32_t VCI_ReadBoardInfo(uint32_t devType, uint32_t devIndex, PVCI_BOARD_INFO info)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->readBoardInfo(info);
    Entry e = enter(ReadBoardInfo, devType, devIndex);
    if (e.forced)
        return *e.forced;
    if (!info)
        return 0;
    *info = VCI_BOARD_INFO{};
    info->hw_Version = 0x0100;
    info->fw_Version = 0x0100;
    info->dr_Version = 0x0100;
    info->in_Version = 0x0100;
    info->can_Num = uint8_t(e.dev().channels.size());
    std::snprintf(info->str_Serial_Num, sizeof info->str_Serial_Num, "VSIM%u-%u", devType,
                  devIndex);
    std::snprintf(info->str_hw_Type, sizeof info->str_hw_Type, "Kavri simulated CAN");
    return 1;
}

uint32_t VCI_ReadErrInfo(uint32_t devType, uint32_t devIndex, uint32_t channel, PVCI_ERR_INFO info)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->readErrInfo(channel, info);
    Entry e = enter(ReadErrInfo, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    if (!c || !info)
        return 0;
    std::lock_guard<std::mutex> lock(c->rxMutex);
    if (c->errors.empty())
        return 0;
    ErrorRecord &r = c->errors.front();
    *info = r.info;
    if (r.repeat > 0 && --r.repeat == 0) {
        if (r.overflow)
            c->overflowPending = false;
        c->errors.pop_front();
    }
    return 1;
}

// The status record reflects the controller's mode only: 1 while stopped, 0 while started.
uint32_t VCI_ReadCANStatus(uint32_t devType, uint32_t devIndex, uint32_t channel,
                           PVCI_CAN_STATUS status)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->readCANStatus(channel, status);
    Entry e = enter(ReadCANStatus, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    if (!c || !status)
        return 0;
    std::lock_guard<std::mutex> lock(e.dev().mutex);
    *status = VCI_CAN_STATUS{};
    status->regMode = c->started ? 0 : 1;
    return 1;
}

// References are kept as one 32-bit value per (channel, reference type); never set reads 0.
uint32_t VCI_GetReference(uint32_t devType, uint32_t devIndex, uint32_t channel, uint32_t refType,
                          void *data)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->getReference(channel, refType, data);
    Entry e = enter(GetReference, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    if (!c || !data)
        return 0;
    std::lock_guard<std::mutex> lock(e.dev().mutex);
    const auto it = c->references.find(refType);
    const uint32_t value = it == c->references.end() ? 0 : it->second;
    std::memcpy(data, &value, sizeof value);
    return 1;
}

uint32_t VCI_SetReference(uint32_t devType, uint32_t devIndex, uint32_t channel, uint32_t refType,
                          void *data)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->setReference(channel, refType, data);
    Entry e = enter(SetReference, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    if (!c || !data)
        return 0;
    uint32_t value;
    std::memcpy(&value, data, sizeof value);
    std::lock_guard<std::mutex> lock(e.dev().mutex);
    c->references[refType] = value;
    return 1;
}

uint32_t VCI_GetReceiveNum(uint32_t devType, uint32_t devIndex, uint32_t channel)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->getReceiveNum(channel);
    Entry e = enter(GetReceiveNum, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    if (!c)
        return 0;
    std::lock_guard<std::mutex> lock(c->rxMutex);
    return uint32_t(c->waiting.size());
}

uint32_t VCI_ClearBuffer(uint32_t devType, uint32_t devIndex, uint32_t channel)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->clearBuffer(channel);
    Entry e = enter(ClearBuffer, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    if (!c)
        return 0;
    std::lock_guard<std::mutex> lock(c->rxMutex);
    c->waiting.clear();
    return 1;
}

uint32_t VCI_StartCAN(uint32_t devType, uint32_t devIndex, uint32_t channel)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->startCAN(channel);
    Entry e = enter(StartCAN, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    std::lock_guard<std::mutex> lock(e.dev().mutex);
    if (!c || !c->initialised)
        return 0;
    c->started = true;
    return 1;
}

uint32_t VCI_ResetCAN(uint32_t devType, uint32_t devIndex, uint32_t channel)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->resetCAN(channel);
    Entry e = enter(ResetCAN, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    if (!c)
        return 0;
    {
        std::lock_guard<std::mutex> lock(e.dev().mutex);
        c->started = false;
    }
    std::lock_guard<std::mutex> lock(c->rxMutex);
    c->waiting.clear();
    return 1;
}

// A forced result k accepts the first min(k, count) frames whatever the channel's state, as a
// partly accepted transmit would; the call itself is logged for every valid channel.
uint32_t VCI_Transmit(uint32_t devType, uint32_t devIndex, uint32_t channel, PVCI_CAN_OBJ frames,
                      uint32_t count)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->transmit(channel, frames, count);
    Entry e = enter(Transmit, devType, devIndex);
    Channel *c = e.dev().channel(channel);
    if (!c)
        return e.forced.value_or(0);
    uint32_t result;
    uint32_t rate;
    {
        std::lock_guard<std::mutex> lock(e.dev().mutex);
        result = e.forced.value_or(c->started && frames ? count : 0);
        rate = c->bitRate;
    }
    const uint32_t accepted = frames ? std::min(result, count) : 0;
    transmit(*e.ref.world, *c, rate, frames, count, accepted);
    return result;
}

// Never blocks: the wait time is ignored.
uint32_t VCI_Receive(uint32_t devType, uint32_t devIndex, uint32_t channel, PVCI_CAN_OBJ frames,
                     uint32_t capacity, int32_t)
{
    if (const std::shared_ptr<BridgedDevice> bridged = CanBusBridge::find(devType, devIndex))
        return bridged->receive(channel, frames, capacity);
    Entry e = enter(Receive, devType, devIndex);
    if (e.forced)
        return *e.forced;
    Channel *c = e.dev().channel(channel);
    if (!c)
        return 0;
    {
        std::lock_guard<std::mutex> lock(e.dev().mutex);
        if (!c->started)
            return 0;
    }
    std::lock_guard<std::mutex> lock(c->rxMutex);
    return takeFront(c->waiting, frames, capacity);
}

void VSIM_Reset(void)
{
    Registry &r = registry();
    auto fresh = std::make_shared<World>();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.world.swap(fresh);
    // The old world is released after unlocking, when `fresh` goes out of scope.
}

uint32_t VSIM_Inject(uint32_t devType, uint32_t devIndex, uint32_t channel,
                     const VCI_CAN_OBJ *frames, uint32_t count)
{
    DeviceRef ref;
    Channel *c = findChannel(devType, devIndex, channel, ref);
    if (!c || !frames)
        return 0;
    const uint32_t now = ref.device->clockAt(Clock::now());
    return enqueue(*c, frames, count, false, [now](uint32_t) { return now; });
}

uint32_t VSIM_Pending(uint32_t devType, uint32_t devIndex, uint32_t channel)
{
    DeviceRef ref;
    Channel *c = findChannel(devType, devIndex, channel, ref);
    if (!c)
        return 0;
    std::lock_guard<std::mutex> lock(c->rxMutex);
    return uint32_t(c->waiting.size());
}

uint32_t VSIM_TakeSent(uint32_t devType, uint32_t devIndex, uint32_t channel, VCI_CAN_OBJ *out,
                       uint32_t capacity)
{
    DeviceRef ref;
    Channel *c = findChannel(devType, devIndex, channel, ref);
    if (!c)
        return 0;
    std::lock_guard<std::mutex> lock(c->txMutex);
    return takeFront(c->sent, out, capacity);
}

uint64_t VSIM_SentTotal(uint32_t devType, uint32_t devIndex, uint32_t channel)
{
    DeviceRef ref;
    Channel *c = findChannel(devType, devIndex, channel, ref);
    if (!c)
        return 0;
    std::lock_guard<std::mutex> lock(c->txMutex);
    return c->sentTotal;
}

uint32_t VSIM_TakeTransmitCalls(uint32_t devType, uint32_t devIndex, uint32_t channel,
                                uint32_t *counts, uint32_t capacity)
{
    DeviceRef ref;
    Channel *c = findChannel(devType, devIndex, channel, ref);
    if (!c)
        return 0;
    std::lock_guard<std::mutex> lock(c->txMutex);
    return takeFront(c->transmitCalls, counts, capacity);
}

// Wiring twice is wiring once; a channel wired to itself receives its own frames once.
void VSIM_Connect(uint32_t typeA, uint32_t indexA, uint32_t channelA, uint32_t typeB,
                  uint32_t indexB, uint32_t channelB)
{
    DeviceRef refA, refB;
    Channel *a = findChannel(typeA, indexA, channelA, refA);
    Channel *b = findChannel(typeB, indexB, channelB, refB);
    // A reset between the two look-ups would put them in different worlds.
    if (!a || !b || refA.world != refB.world)
        return;
    const auto wire = [](Channel *from, Channel *to) {
        std::lock_guard<std::mutex> lock(from->txMutex);
        if (std::find(from->wired.begin(), from->wired.end(), to) == from->wired.end())
            from->wired.push_back(to);
    };
    wire(a, b);
    wire(b, a);
}

// times > 0: the next `times` calls; -1: until reset; 0: forcing ends.
void VSIM_ForceResult(uint32_t devType, uint32_t devIndex, const char *entryPoint, uint32_t result,
                      int times)
{
    const std::optional<Ep> ep = epByName(entryPoint);
    if (!ep)
        return;
    DeviceRef ref = findDevice(devType, devIndex);
    std::lock_guard<std::mutex> lock(ref.device->mutex);
    ref.device->forced[*ep] = {result, times < 0 ? -1 : times};
}

// repeat -1 reports the record on every call until reset (holding back any behind it);
// n > 0 on the next n calls. Other values queue nothing.
void VSIM_InjectError(uint32_t devType, uint32_t devIndex, uint32_t channel,
                      const VCI_ERR_INFO *info, int repeat)
{
    DeviceRef ref;
    Channel *c = findChannel(devType, devIndex, channel, ref);
    if (!c || !info || (repeat < 1 && repeat != -1))
        return;
    std::lock_guard<std::mutex> lock(c->rxMutex);
    c->errors.push_back({*info, repeat, false});
}

uint32_t VSIM_CallCount(const char *entryPoint)
{
    const std::optional<Ep> ep = epByName(entryPoint);
    if (!ep)
        return 0;
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.world->calls[*ep].load();
}

// Lives in the world, so VSIM_Reset turns it back off.
void VSIM_SetBusTiming(int on)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.world->busTiming = on != 0;
}

} // extern "C"
