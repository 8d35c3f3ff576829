#ifndef VCI_SIM_H
#define VCI_SIM_H

/* Control interface of the simulated adapter. Tests, benchmarks and tools use it to play the
   other nodes on the bus and to inject faults; the engine itself never sees it. */

#include "vci.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Forget every device, queued and logged frame, wiring, forced result, error record and counter. */
VCI_API void VSIM_Reset(void);

/* Queue frames for VCI_Receive on a channel, in order. A TimeStamp of 0 is replaced by the
   device clock. Returns the number queued. */
VCI_API uint32_t VSIM_Inject(uint32_t devType, uint32_t devIndex, uint32_t channel,
                             const VCI_CAN_OBJ *frames, uint32_t count);
VCI_API uint32_t VSIM_Pending(uint32_t devType, uint32_t devIndex, uint32_t channel);

/* Frames accepted by VCI_Transmit on a channel, oldest first: copies up to `capacity` of them
   into `out`, removes them from the log and returns how many. The log keeps the newest
   1,048,576 frames; VSIM_SentTotal counts every accepted frame since the last reset. */
VCI_API uint32_t VSIM_TakeSent(uint32_t devType, uint32_t devIndex, uint32_t channel,
                               VCI_CAN_OBJ *out, uint32_t capacity);
VCI_API uint64_t VSIM_SentTotal(uint32_t devType, uint32_t devIndex, uint32_t channel);

/* The `count` argument of each VCI_Transmit call on a channel, oldest first; taken out like
   VSIM_TakeSent. */
VCI_API uint32_t VSIM_TakeTransmitCalls(uint32_t devType, uint32_t devIndex, uint32_t channel,
                                        uint32_t *counts, uint32_t capacity);

/* Wire two channels to one bus: a frame accepted on either is queued for VCI_Receive on the
   other. Wiring a channel to itself makes it receive its own frames. */
VCI_API void VSIM_Connect(uint32_t typeA, uint32_t indexA, uint32_t channelA, uint32_t typeB,
                          uint32_t indexB, uint32_t channelB);

/* Force the result of one entry point (its exact name, e.g. "VCI_Transmit") on one device for
   its next `times` calls (-1: until reset): those calls return `result` whatever the simulator
   would have returned, and have no other effect, except VCI_Transmit: a forced result k accepts
   (logs and delivers) the first min(k, count) frames, as a partly accepted transmit would.
   VSIM_CallCount counts forced calls too. */
VCI_API void VSIM_ForceResult(uint32_t devType, uint32_t devIndex, const char *entryPoint,
                              uint32_t result, int times);

/* Queue an error record for VCI_ReadErrInfo on a channel; `repeat` -1 reports it on every call
   until reset, n > 0 on the next n calls. */
VCI_API void VSIM_InjectError(uint32_t devType, uint32_t devIndex, uint32_t channel,
                              const VCI_ERR_INFO *info, int repeat);

/* Calls of an entry point (by name) since the last reset, over all devices. */
VCI_API uint32_t VSIM_CallCount(const char *entryPoint);

/* Bus timing on (1) or off (0) for all devices. */
VCI_API void VSIM_SetBusTiming(int on);

#ifdef __cplusplus
}
#endif

#endif /* VCI_SIM_H */
