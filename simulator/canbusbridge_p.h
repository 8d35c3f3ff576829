// Internal to the adapter library; not installed.
#ifndef CANBUSBRIDGE_P_H
#define CANBUSBRIDGE_P_H

#include "busmapping_p.h"
#include "vci.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QCanBusDevice;

// Error codes of the records a bridged channel reports through VCI_ReadErrInfo.
enum BridgeErrCode : uint32_t {
    BridgeErrOverflow = 0x0001,  // receive queue full, new frames dropped (as the simulation)
    BridgeErrDevice = 0x0100,    // | QCanBusDevice::CanBusError: an error the device reported
    BridgeErrBusFrame = 0x0200,  // an error frame from the bus; detail bytes from its payload
    BridgeErrLost = 0x0400,      // a started channel lost its connection
    BridgeErrNoDevice = 0x0800,  // no device: Passive_ErrData[0] says why (NoDeviceReason)
    BridgeErrNoConnect = 0x1000, // the device did not connect within the start time limit
    BridgeErrIoStalled = 0x2000, // the I/O thread did not take the work in time
    BridgeErrDropped = 0x4000,   // records dropped on a full error queue; how many: see below
};

enum NoDeviceReason : uint8_t {
    NoPlugin = 1,      // the plugin is missing or refused to create the device
    BadInterface = 2,  // the plugin rejected the interface name
    NoApplication = 3, // the host has no QCoreApplication, so Qt delivers no events
    NoTarget = 4,      // the mapping entry names no plugin or interface
};

// The error records of one channel, oldest first. A bus can report an error frame on every bit
// time while nobody reads them, so the queue holds at most `limit` records: a record that finds it
// full is dropped and counted. One BridgeErrDropped record stands in the queue for the drops;
// reading it gives their count so far in Passive_ErrData (24 bits, low byte first, at most
// 0xFFFFFF) and starts the count afresh. Not locked: its channel's mutex guards it.
class BridgeErrorQueue
{
public:
    explicit BridgeErrorQueue(size_t limit = 1024) : limit(limit) {}

    void push(const VCI_ERR_INFO &record)
    {
        if (records.size() < limit) {
            records.push_back(record);
            return;
        }
        if (!markQueued)
            records.push_back({BridgeErrDropped, {0, 0, 0}, 0});
        markQueued = true;
        ++dropped;
    }
    bool pop(VCI_ERR_INFO &out)
    {
        if (records.empty())
            return false;
        out = records.front();
        records.pop_front();
        if (out.ErrCode == BridgeErrDropped) {
            const uint64_t n = dropped < 0xFFFFFF ? dropped : 0xFFFFFF;
            for (int i = 0; i < 3; ++i)
                out.Passive_ErrData[i] = uint8_t(n >> (8 * i));
            dropped = 0;
            markQueued = false;
        }
        return true;
    }
    size_t size() const { return records.size(); }

private:
    size_t limit;
    std::deque<VCI_ERR_INFO> records;
    uint64_t dropped = 0;    // since the mark was queued
    bool markQueued = false; // a BridgeErrDropped record waits in `records`
};

// One channel put on a Qt CAN bus interface. Shared between the entry points and the I/O thread;
// everything but `device` is guarded by `mutex`, which is never held while waiting for the thread.
struct BridgedChannel
{
    BusTarget target;
    std::chrono::steady_clock::time_point origin; // the device's open; fixed before sharing

    QCanBusDevice *device = nullptr; // I/O thread only: exists from start to reset

    std::mutex mutex;
    std::condition_variable stateChanged;
    bool initialised = false;
    bool started = false;
    bool connected = false;     // the device is in its connected state
    bool connectFailed = false; // the current connect attempt ended without connecting
    uint32_t bitRate = 0;
    std::map<uint32_t, uint32_t> references;
    std::deque<VCI_CAN_OBJ> received;
    BridgeErrorQueue errors;
    bool overflowPending = false;

    void addError(uint32_t code, uint8_t d0 = 0, uint8_t d1 = 0, uint8_t d2 = 0, uint8_t d3 = 0);
    uint32_t stamp() const; // now, in 0.1 ms units since `origin`; never 0
};

// A device whose channels the mapping puts on Qt CAN bus interfaces, from VCI_OpenDevice (even a
// failed one, so that its error records stay readable) to VCI_CloseDevice. Channels the mapping
// leaves out are absent: every call on them returns 0, as on an adapter without that port.
class BridgedDevice
{
public:
    BridgedDevice(uint32_t type, uint32_t index, const std::map<uint32_t, BusTarget> &targets);
    ~BridgedDevice();

    uint32_t open();
    bool opened();
    uint32_t close();
    uint32_t initCAN(uint32_t ch, const VCI_INIT_CONFIG *config);
    uint32_t startCAN(uint32_t ch);
    uint32_t resetCAN(uint32_t ch);
    uint32_t transmit(uint32_t ch, const VCI_CAN_OBJ *frames, uint32_t count);
    uint32_t receive(uint32_t ch, VCI_CAN_OBJ *frames, uint32_t capacity);
    uint32_t readErrInfo(uint32_t ch, VCI_ERR_INFO *info);
    uint32_t readBoardInfo(VCI_BOARD_INFO *info);
    uint32_t readCANStatus(uint32_t ch, VCI_CAN_STATUS *status);
    uint32_t getReference(uint32_t ch, uint32_t refType, void *data);
    uint32_t setReference(uint32_t ch, uint32_t refType, const void *data);
    uint32_t getReceiveNum(uint32_t ch);
    uint32_t clearBuffer(uint32_t ch);

private:
    std::shared_ptr<BridgedChannel> channel(uint32_t ch) const;
    void disconnect(const std::shared_ptr<BridgedChannel> &c);

    const uint32_t type;
    const uint32_t index;
    std::vector<std::shared_ptr<BridgedChannel>> channels; // by number; null where not mapped
    std::mutex mutex;
    bool isOpen = false; // guarded by mutex
};

// The bridged devices by (type, index). The entry points ask it first and fall back to the
// simulation for a device it does not hold.
namespace CanBusBridge {
// Reads the mapping for a device being opened: nothing for a device without entries (it is
// simulated), else the result of opening it bridged.
std::optional<uint32_t> openDevice(uint32_t type, uint32_t index);
// The bridged device, if (type, index) is one.
std::shared_ptr<BridgedDevice> find(uint32_t type, uint32_t index);
// Closes and forgets a bridged device; nothing for a simulated one.
std::optional<uint32_t> closeDevice(uint32_t type, uint32_t index);
} // namespace CanBusBridge

#endif // CANBUSBRIDGE_P_H
