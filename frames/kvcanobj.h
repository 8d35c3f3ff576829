#ifndef KVCANOBJ_H
#define KVCANOBJ_H

#include "vci.h"

// One frame as the receive buffer stores it: who put it on the bus, the host's local time of day
// when it was buffered, and the whole adapter record. A plain value; every field starts at zero.
struct KvCanObj
{
    bool send = false; // true: transmitted by this library; false: received from the adapter
    int hour = 0;      // 0..23
    int minute = 0;    // 0..59
    int second = 0;    // 0..59
    int msec = 0;      // 0..999
    VCI_CAN_OBJ frame{};
};

#endif // KVCANOBJ_H
