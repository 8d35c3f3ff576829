// Drives a bridged device through the engine only, so the adapter library is loaded by the
// engine's own dlopen and unloaded at exit, the way an application uses it. With "keep" the
// device is still started when main returns.
#include "devcan.h"

#include <QtCore/QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("KAVRI_CANBUS", "4:0:0=virtualcan:can1");
    DevCan &dev = DevCan::instance();
    VCI_INIT_CONFIG config{};
    config.Timing1 = 0x1C;
    const unsigned long opened = dev.openDevice(4, 0, 0);
    const unsigned long inited = dev.initCAN(0, &config);
    const unsigned long started = dev.StartCAN(0);
    VCI_CAN_OBJ frame{};
    frame.ID = 0x10;
    const unsigned long sent = dev.Transmit(0, &frame, 1);
    std::printf("open %lu init %lu start %lu transmit %lu\n", opened, inited, started, sent);
    if (argc < 2 || std::strcmp(argv[1], "keep") != 0) {
        dev.ResetCAN(0);
        dev.closeDevice();
    }
    return 0;
}
