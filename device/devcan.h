#ifndef DEVCAN_H
#define DEVCAN_H

#include "kavri_global.h"
#include "vci.h"

struct VciLibrary;

// The one holder of the adapter: loads the adapter library from the folder of the running
// executable, remembers the open device, its channel count and each channel's state and bit
// rate, and forwards every adapter call with device type and index filled in.
//
// Results are 1 for success and 0 for failure, or the adapter's own result where it is passed
// through. When the adapter library is missing, or an entry point did not resolve, every call
// that needs it returns 0 without calling anything.
//
// No lock is taken: the receive thread and the senders of a channel call the adapter at the same
// time, and the adapter library accepts that.
class KAVRI_EXPORT DevCan
{
public:
    enum DeviceState : quint32 { Open = 1, Closed = 2, Closing = 3 };
    enum ChannelState : quint32 {
        Initialised = 0,
        Started = 4,
        Reset = 5,
        NotInitialised = 0xFFFFFFFF
    };

    static DevCan &instance();

    DevCan();
    ~DevCan();
    DevCan(const DevCan &) = delete;
    // Copies every field, the library handle and the entry points included. Each instance holds
    // its own reference to the loaded library, so either may be destroyed first.
    DevCan &operator=(const DevCan &other);

    unsigned long openDevice(unsigned long devType, unsigned long devIndex, unsigned long reserved);
    unsigned long closeDevice();
    void closingDevice();
    unsigned long initCAN(unsigned long ch, VCI_INIT_CONFIG *config);
    unsigned long StartCAN(unsigned long ch);
    unsigned long ResetCAN(unsigned long ch);

    unsigned long readBoardInfo(VCI_BOARD_INFO *info);
    unsigned long readErrInfo(unsigned long ch, VCI_ERR_INFO *info);
    unsigned long readCANStatus(unsigned long ch, VCI_CAN_STATUS *status);
    unsigned long getReference(unsigned long ch, unsigned long refType, void *data);
    unsigned long setReference(unsigned long ch, unsigned long refType, void *data);
    unsigned long getReceiveNum(unsigned long ch);
    unsigned long clearBuffer(unsigned long ch);
    unsigned long Transmit(unsigned long ch, VCI_CAN_OBJ *frames, unsigned long count);
    unsigned long Receive(unsigned long ch, VCI_CAN_OBJ *frames, unsigned long capacity,
                          int waitTime);

    bool isOpen() const;
    bool isClose() const;
    bool isValid(unsigned long ch) const;
    bool isInited(unsigned long ch) const;
    bool isStarted(unsigned long ch) const;
    bool isReset(unsigned long ch) const;
    // The bit rate of the channel's last successful initCAN, in bit/s (1 before any). Channels
    // above 3 answer 0.
    int maxBaudrate(unsigned long ch) const;

    void setDevType(unsigned long type) { devType = type; }
    unsigned long getDevType() const { return devType; }
    void setDevIndex(unsigned long index) { devIndex = index; }
    unsigned long getDevIndex() const { return devIndex; }
    void setProduct(unsigned long code) { product = code; }
    unsigned long getProduct() const { return product; }
    unsigned long getChannels() const { return channels; }

    // Present for applications written against them; they take no lock and do nothing.
    void lock() {}
    void unlock() {}

    // Whether the adapter library was found and loaded.
    bool isLoaded() const { return handle != nullptr; }

    // 16 MHz / ((tseg1 + tseg2 + 3) * 2 * (prescaler + 1)) from the two bus-timing bytes:
    //   (0x00, 0x1C) -> 500000, (0x00, 0x14) -> 1000000, (0x01, 0x1C) -> 250000
    static quint32 bitRate(quint8 timing0, quint8 timing1);
    // Channels of a device type: 4, 5 and 24 have two, 14 has four, every other type one.
    static quint32 channelCount(quint32 devType);

private:
    bool channelOk(unsigned long ch) const { return ch < channels; }

    quint32 devType = 0;
    quint32 devIndex = 0;
    quint32 product = 0;
    quint32 deviceState = Closed;
    quint32 channelState[4] = {NotInitialised, NotInitialised, NotInitialised, NotInitialised};
    quint32 baudRate[4] = {1, 1, 1, 1};
    quint32 channels = 1;
    void *handle = nullptr;
    VciLibrary *vci = nullptr;
};

#endif // DEVCAN_H
