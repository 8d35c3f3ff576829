// A program outside the source tree, built against the installed package: it drives a simulated
// two-channel adapter through the engine's device manager.
#include <kavri.h>
#include <vci_sim.h>

#include <cstdio>

int main()
{
    DevCan &dev = DevCan::instance();
    if (dev.openDevice(4, 0, 0) != 1) {
        std::puts("open failed");
        return 1;
    }
    VCI_INIT_CONFIG config{};
    config.AccMask = 0xFFFFFFFF;
    config.Timing0 = 0x00; // 500 kbit/s
    config.Timing1 = 0x1C;
    for (unsigned long ch = 0; ch < 2; ++ch) {
        if (dev.initCAN(ch, &config) != 1 || dev.StartCAN(ch) != 1) {
            std::puts("channel start failed");
            return 1;
        }
    }
    VSIM_Connect(4, 0, 0, 4, 0, 1);

    CanObj frame;
    frame.ID = 0x321;
    frame.DataLen = 2;
    frame.Data[0] = 0xCA;
    frame.Data[1] = 0xFE;
    VCI_CAN_OBJ out = frame.toTransmit();
    if (dev.Transmit(0, &out, 1) != 1) {
        std::puts("transmit failed");
        return 1;
    }
    VCI_CAN_OBJ in[32];
    const unsigned long n = dev.Receive(1, in, 32, 0);
    if (n != 1 || in[0].ID != 0x321 || in[0].Data[1] != 0xFE || in[0].TimeStamp == 0) {
        std::puts("receive failed");
        return 1;
    }
    std::printf("received %s at %u bit/s, stamp %u\n",
                qPrintable(kavri::getCanCodeFromLL(in[0].ID)), unsigned(dev.maxBaudrate(1)),
                unsigned(in[0].TimeStamp));
    dev.closeDevice();
    return 0;
}
