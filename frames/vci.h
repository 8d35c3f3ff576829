#ifndef VCI_H
#define VCI_H

/* Records exchanged with the adapter library. Shared, as plain C, by the engine library and by
   the simulated adapter, so both sides agree on every byte. All records are packed: they travel
   in arrays that the adapter fills back to back. */

#include <stdint.h>

#pragma pack(push, 1)

/* One frame as the adapter gives and takes it: 24 bytes, little-endian, no padding. */
typedef struct _VCI_CAN_OBJ
{
    uint32_t ID;        /* right-aligned identifier: 11 bits standard, 29 bits extended */
    uint32_t TimeStamp; /* 0.1 ms units; 0 marks a frame this library transmitted */
    uint8_t TimeFlag;
    uint8_t SendType;
    uint8_t RemoteFlag; /* 1 = remote frame */
    uint8_t ExternFlag; /* 1 = extended identifier */
    uint8_t DataLen;    /* 0..8 */
    uint8_t Data[8];
    uint8_t Reserved[3];
} VCI_CAN_OBJ, *PVCI_CAN_OBJ;

/* Error information of a channel: a code and four bytes of detail, never interpreted here. */
typedef struct _VCI_ERR_INFO
{
    uint32_t ErrCode;
    uint8_t Passive_ErrData[3];
    uint8_t ArLost_ErrData;
} VCI_ERR_INFO, *PVCI_ERR_INFO;

/* Channel initialisation. The engine reads only the two bus-timing bytes (offsets 13 and 14);
   everything else belongs to the caller and the adapter. */
typedef struct _VCI_INIT_CONFIG
{
    uint32_t AccCode;
    uint32_t AccMask;
    uint32_t Reserved;
    uint8_t Filter;
    uint8_t Timing0;
    uint8_t Timing1;
    uint8_t Mode;
} VCI_INIT_CONFIG, *PVCI_INIT_CONFIG;

/* Board description, passed through unchanged. */
typedef struct _VCI_BOARD_INFO
{
    uint16_t hw_Version;
    uint16_t fw_Version;
    uint16_t dr_Version;
    uint16_t in_Version;
    uint16_t irq_Num;
    uint8_t can_Num;
    char str_Serial_Num[20];
    char str_hw_Type[40];
    uint16_t Reserved[4];
} VCI_BOARD_INFO, *PVCI_BOARD_INFO;

/* Controller status, passed through unchanged. */
typedef struct _VCI_CAN_STATUS
{
    uint8_t ErrInterrupt;
    uint8_t regMode;
    uint8_t regStatus;
    uint8_t regALCapture;
    uint8_t regECCapture;
    uint8_t regEWLimit;
    uint8_t regRECounter;
    uint8_t regTECounter;
    uint32_t Reserved;
} VCI_CAN_STATUS, *PVCI_CAN_STATUS;

#pragma pack(pop)

#ifdef __cplusplus
#include <cstddef>
static_assert(sizeof(VCI_CAN_OBJ) == 24, "frame record must be 24 bytes");
static_assert(offsetof(VCI_CAN_OBJ, TimeStamp) == 4, "frame record layout");
static_assert(offsetof(VCI_CAN_OBJ, DataLen) == 12, "frame record layout");
static_assert(offsetof(VCI_CAN_OBJ, Data) == 13, "frame record layout");
static_assert(offsetof(VCI_CAN_OBJ, Reserved) == 21, "frame record layout");
static_assert(sizeof(VCI_CAN_OBJ[32]) == 768, "frame records pack back to back");
static_assert(sizeof(VCI_ERR_INFO) == 8, "error record must be 8 bytes");
static_assert(offsetof(VCI_INIT_CONFIG, Timing0) == 13, "Timing0 sits at offset 13");
static_assert(offsetof(VCI_INIT_CONFIG, Timing1) == 14, "Timing1 sits at offset 14");
#endif

/* The fourteen entry points, with C linkage. The engine resolves them at run time by name; the
   declarations here serve the simulated adapter that defines them. */
#ifdef __cplusplus
extern "C" {
#endif
#if defined(VCI_BUILDING_ADAPTER)
#define VCI_API __attribute__((visibility("default")))
#else
#define VCI_API
#endif

VCI_API uint32_t VCI_OpenDevice(uint32_t devType, uint32_t devIndex, uint32_t reserved);
VCI_API uint32_t VCI_CloseDevice(uint32_t devType, uint32_t devIndex);
VCI_API uint32_t VCI_InitCAN(uint32_t devType, uint32_t devIndex, uint32_t channel,
                             PVCI_INIT_CONFIG config);
VCI_API uint32_t VCI_ReadBoardInfo(uint32_t devType, uint32_t devIndex, PVCI_BOARD_INFO info);
VCI_API uint32_t VCI_ReadErrInfo(uint32_t devType, uint32_t devIndex, uint32_t channel,
                                 PVCI_ERR_INFO info);
VCI_API uint32_t VCI_ReadCANStatus(uint32_t devType, uint32_t devIndex, uint32_t channel,
                                   PVCI_CAN_STATUS status);
VCI_API uint32_t VCI_GetReference(uint32_t devType, uint32_t devIndex, uint32_t channel,
                                  uint32_t refType, void *data);
VCI_API uint32_t VCI_SetReference(uint32_t devType, uint32_t devIndex, uint32_t channel,
                                  uint32_t refType, void *data);
VCI_API uint32_t VCI_GetReceiveNum(uint32_t devType, uint32_t devIndex, uint32_t channel);
VCI_API uint32_t VCI_ClearBuffer(uint32_t devType, uint32_t devIndex, uint32_t channel);
VCI_API uint32_t VCI_StartCAN(uint32_t devType, uint32_t devIndex, uint32_t channel);
VCI_API uint32_t VCI_ResetCAN(uint32_t devType, uint32_t devIndex, uint32_t channel);
VCI_API uint32_t VCI_Transmit(uint32_t devType, uint32_t devIndex, uint32_t channel,
                              PVCI_CAN_OBJ frames, uint32_t count);
VCI_API uint32_t VCI_Receive(uint32_t devType, uint32_t devIndex, uint32_t channel,
                             PVCI_CAN_OBJ frames, uint32_t capacity, int32_t waitTime);

#ifdef __cplusplus
}
#endif

#endif /* VCI_H */
