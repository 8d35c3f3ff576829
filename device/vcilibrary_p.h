// Internal: not part of the installed API.
#ifndef VCILIBRARY_P_H
#define VCILIBRARY_P_H

#include "vci.h"

#include <string>

// The adapter library's entry points, resolved by name at run time. One typedef and one
// resolved pointer per entry point, in the order the library documents them; a name that does
// not resolve stays null and the device manager then answers 0 without calling.
struct VciLibrary
{
    typedef uint32_t (*OpenDevice)(uint32_t, uint32_t, uint32_t);
    typedef uint32_t (*CloseDevice)(uint32_t, uint32_t);
    typedef uint32_t (*InitCAN)(uint32_t, uint32_t, uint32_t, PVCI_INIT_CONFIG);
    typedef uint32_t (*ReadBoardInfo)(uint32_t, uint32_t, PVCI_BOARD_INFO);
    typedef uint32_t (*ReadErrInfo)(uint32_t, uint32_t, uint32_t, PVCI_ERR_INFO);
    typedef uint32_t (*ReadCANStatus)(uint32_t, uint32_t, uint32_t, PVCI_CAN_STATUS);
    typedef uint32_t (*GetReference)(uint32_t, uint32_t, uint32_t, uint32_t, void *);
    typedef uint32_t (*SetReference)(uint32_t, uint32_t, uint32_t, uint32_t, void *);
    typedef uint32_t (*GetReceiveNum)(uint32_t, uint32_t, uint32_t);
    typedef uint32_t (*ClearBuffer)(uint32_t, uint32_t, uint32_t);
    typedef uint32_t (*StartCAN)(uint32_t, uint32_t, uint32_t);
    typedef uint32_t (*ResetCAN)(uint32_t, uint32_t, uint32_t);
    typedef uint32_t (*Transmit)(uint32_t, uint32_t, uint32_t, PVCI_CAN_OBJ, uint32_t);
    typedef uint32_t (*Receive)(uint32_t, uint32_t, uint32_t, PVCI_CAN_OBJ, uint32_t, int32_t);

    OpenDevice openDevice = nullptr;
    CloseDevice closeDevice = nullptr;
    InitCAN initCAN = nullptr;
    ReadBoardInfo readBoardInfo = nullptr;
    ReadErrInfo readErrInfo = nullptr;
    ReadCANStatus readCANStatus = nullptr;
    GetReference getReference = nullptr;
    SetReference setReference = nullptr;
    GetReceiveNum getReceiveNum = nullptr;
    ClearBuffer clearBuffer = nullptr;
    StartCAN startCAN = nullptr;
    ResetCAN resetCAN = nullptr;
    Transmit transmit = nullptr;
    Receive receive = nullptr;

    // Loads `path` (an absolute file name) and resolves every entry point it has. Returns the
    // handle, or null when the file cannot be loaded.
    void *load(const char *path);

    // The adapter library beside the executable of the running process; empty when the
    // executable's own path cannot be read. Never a search through the current directory or
    // the library search path: a stray copy elsewhere must not be picked up.
    static std::string besideExecutable();
};

#endif // VCILIBRARY_P_H
