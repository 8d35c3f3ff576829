#include "devcan.h"
#include "vcilibrary_p.h"

#include <dlfcn.h>
#include <unistd.h>

namespace {

template <typename F> void resolve(void *handle, const char *name, F &slot)
{
    slot = reinterpret_cast<F>(dlsym(handle, name));
}

} // namespace

std::string VciLibrary::besideExecutable()
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return std::string();
    std::string path(exe, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    path.resize(slash + 1);
    return path + "libControlCAN.so";
}

void *VciLibrary::load(const char *path)
{
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    resolve(handle, "VCI_OpenDevice", openDevice);
    resolve(handle, "VCI_CloseDevice", closeDevice);
    resolve(handle, "VCI_InitCAN", initCAN);
    resolve(handle, "VCI_ReadBoardInfo", readBoardInfo);
    resolve(handle, "VCI_ReadErrInfo", readErrInfo);
    resolve(handle, "VCI_ReadCANStatus", readCANStatus);
    resolve(handle, "VCI_GetReference", getReference);
    resolve(handle, "VCI_SetReference", setReference);
    resolve(handle, "VCI_GetReceiveNum", getReceiveNum);
    resolve(handle, "VCI_ClearBuffer", clearBuffer);
    resolve(handle, "VCI_StartCAN", startCAN);
    resolve(handle, "VCI_ResetCAN", resetCAN);
    resolve(handle, "VCI_Transmit", transmit);
    resolve(handle, "VCI_Receive", receive);
    return handle;
}

DevCan &DevCan::instance()
{
    static DevCan device;
    return device;
}

DevCan::DevCan() : vci(new VciLibrary)
{
    const std::string path = VciLibrary::besideExecutable();
    if (!path.empty())
        handle = vci->load(path.c_str());
}

DevCan::~DevCan()
{
    if (handle)
        dlclose(handle);
    delete vci;
}

DevCan &DevCan::operator=(const DevCan &other)
{
    if (this == &other)
        return *this;
    devType = other.devType;
    devIndex = other.devIndex;
    product = other.product;
    deviceState = other.deviceState;
    for (int i = 0; i < 4; ++i) {
        channelState[i] = other.channelState[i];
        baudRate[i] = other.baudRate[i];
    }
    channels = other.channels;
    // Take a reference of our own on the library the other instance holds.
    void *previous = handle;
    handle = nullptr;
    if (other.handle) {
        Dl_info info;
        if (dladdr(reinterpret_cast<void *>(other.vci->openDevice), &info) && info.dli_fname)
            handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    }
    *vci = handle ? *other.vci : VciLibrary();
    if (previous)
        dlclose(previous);
    return *this;
}

quint32 DevCan::channelCount(quint32 type)
{
    switch (type) {
    case 4:
    case 5:
    case 24:
        return 2;
    case 14:
        return 4;
    default:
        return 1;
    }
}

quint32 DevCan::bitRate(quint8 timing0, quint8 timing1)
{
    const quint32 prescaler = timing0 & 0x3F;
    const quint32 tseg1 = timing1 & 0x0F;
    const quint32 tseg2 = (timing1 >> 4) & 0x07;
    return 16000000u / ((tseg1 + tseg2 + 3) * 2 * (prescaler + 1));
}

unsigned long DevCan::openDevice(unsigned long type, unsigned long index, unsigned long reserved)
{
    if (!vci->openDevice || vci->openDevice(type, index, reserved) != 1)
        return 0;
    devType = type;
    devIndex = index;
    deviceState = Open;
    channels = channelCount(type);
    return 1;
}

unsigned long DevCan::closeDevice()
{
    if (vci->closeDevice)
        vci->closeDevice(devType, devIndex);
    deviceState = Closed;
    return 1;
}

void DevCan::closingDevice()
{
    deviceState = Closing;
}

unsigned long DevCan::initCAN(unsigned long ch, VCI_INIT_CONFIG *config)
{
    if (!channelOk(ch) || !vci->initCAN || !config)
        return 0;
    if (vci->initCAN(devType, devIndex, ch, config) != 1)
        return 0;
    baudRate[ch] = bitRate(config->Timing0, config->Timing1);
    channelState[ch] = Initialised;
    return 1;
}

unsigned long DevCan::StartCAN(unsigned long ch)
{
    if (!channelOk(ch) || !vci->startCAN)
        return 0;
    const unsigned long result = vci->startCAN(devType, devIndex, ch);
    channelState[ch] = result == 1 ? Started : Reset;
    return result;
}

unsigned long DevCan::ResetCAN(unsigned long ch)
{
    if (!channelOk(ch) || !vci->resetCAN)
        return 0;
    const unsigned long result = vci->resetCAN(devType, devIndex, ch);
    channelState[ch] = result == 1 ? Reset : Started;
    return result;
}

unsigned long DevCan::readCANStatus(unsigned long ch, VCI_CAN_STATUS *status)
{
    if (!channelOk(ch) || !vci->readCANStatus)
        return 0;
    return vci->readCANStatus(devType, devIndex, ch, status);
}

unsigned long DevCan::getReference(unsigned long ch, unsigned long refType, void *data)
{
    if (!channelOk(ch) || !vci->getReference)
        return 0;
    return vci->getReference(devType, devIndex, ch, refType, data);
}

unsigned long DevCan::setReference(unsigned long ch, unsigned long refType, void *data)
{
    if (!channelOk(ch) || !vci->setReference)
        return 0;
    return vci->setReference(devType, devIndex, ch, refType, data);
}

unsigned long DevCan::readBoardInfo(VCI_BOARD_INFO *info)
{
    return vci->readBoardInfo ? vci->readBoardInfo(devType, devIndex, info) : 0;
}

unsigned long DevCan::readErrInfo(unsigned long ch, VCI_ERR_INFO *info)
{
    return vci->readErrInfo ? vci->readErrInfo(devType, devIndex, ch, info) : 0;
}

unsigned long DevCan::getReceiveNum(unsigned long ch)
{
    return vci->getReceiveNum ? vci->getReceiveNum(devType, devIndex, ch) : 0;
}

unsigned long DevCan::clearBuffer(unsigned long ch)
{
    return vci->clearBuffer ? vci->clearBuffer(devType, devIndex, ch) : 0;
}

unsigned long DevCan::Transmit(unsigned long ch, VCI_CAN_OBJ *frames, unsigned long count)
{
    return vci->transmit ? vci->transmit(devType, devIndex, ch, frames, count) : 0;
}

unsigned long DevCan::Receive(unsigned long ch, VCI_CAN_OBJ *frames, unsigned long capacity,
                              int waitTime)
{
    return vci->receive ? vci->receive(devType, devIndex, ch, frames, capacity, waitTime) : 0;
}

bool DevCan::isOpen() const
{
    return deviceState == Open;
}

bool DevCan::isClose() const
{
    return deviceState == Closed;
}

bool DevCan::isValid(unsigned long ch) const
{
    return channelOk(ch);
}

bool DevCan::isInited(unsigned long ch) const
{
    return channelOk(ch) && channelState[ch] == Initialised;
}

bool DevCan::isStarted(unsigned long ch) const
{
    return channelOk(ch) && channelState[ch] == Started;
}

bool DevCan::isReset(unsigned long ch) const
{
    return channelOk(ch) && channelState[ch] == Reset;
}

int DevCan::maxBaudrate(unsigned long ch) const
{
    return ch < 4 ? static_cast<int>(baudRate[ch]) : 0;
}
