// A stand-in for the maker's adapter library: the fourteen VCI entry points, each a trivial
// success, and no simulator control. Hosts must work with it as they work with the real one.
#include "vci.h"

extern "C" {

uint32_t VCI_OpenDevice(uint32_t, uint32_t, uint32_t)
{
    return 1;
}
uint32_t VCI_CloseDevice(uint32_t, uint32_t)
{
    return 1;
}
uint32_t VCI_InitCAN(uint32_t, uint32_t, uint32_t, PVCI_INIT_CONFIG)
{
    return 1;
}
uint32_t VCI_ReadBoardInfo(uint32_t, uint32_t, PVCI_BOARD_INFO)
{
    return 1;
}
uint32_t VCI_ReadErrInfo(uint32_t, uint32_t, uint32_t, PVCI_ERR_INFO)
{
    return 0; // no error pending
}
uint32_t VCI_ReadCANStatus(uint32_t, uint32_t, uint32_t, PVCI_CAN_STATUS)
{
    return 1;
}
uint32_t VCI_GetReference(uint32_t, uint32_t, uint32_t, uint32_t, void *)
{
    return 1;
}
uint32_t VCI_SetReference(uint32_t, uint32_t, uint32_t, uint32_t, void *)
{
    return 1;
}
uint32_t VCI_GetReceiveNum(uint32_t, uint32_t, uint32_t)
{
    return 0;
}
uint32_t VCI_ClearBuffer(uint32_t, uint32_t, uint32_t)
{
    return 1;
}
uint32_t VCI_StartCAN(uint32_t, uint32_t, uint32_t)
{
    return 1;
}
uint32_t VCI_ResetCAN(uint32_t, uint32_t, uint32_t)
{
    return 1;
}
uint32_t VCI_Transmit(uint32_t, uint32_t, uint32_t, PVCI_CAN_OBJ, uint32_t count)
{
    return count;
}
uint32_t VCI_Receive(uint32_t, uint32_t, uint32_t, PVCI_CAN_OBJ, uint32_t, int32_t)
{
    return 0;
}
}
