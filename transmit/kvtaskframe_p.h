// Internal to the send threads: not part of the library's public API and not installed.
#ifndef KVTASKFRAME_P_H
#define KVTASKFRAME_P_H

#include "canobj.h"

// The working frame of a running task: the identifier it goes out with and what changes after
// each successful send. The stored identifier R comes in one of two layouts:
// - plain (ID format other than 1): R is the identifier. With the ID increase it runs on by one
//   and wraps to 0 past 0x7FF (standard) or 0x1FFFFFFF (extended):  0x7FF -> 0x000.
// - register (ID format 1): R holds the identifier left-aligned, shifted left by 3 (extended)
//   or 5 (standard); the wire ID is R shifted back before every send, and the increase adds one
//   step of the shift to R, with no wrap:  standard R 0x20 -> wire IDs 1, 2, 3, ...
// The data increase adds one to data byte k (k in 1..8, counted from 1), modulo 256, without
// carry into the neighbour; 0 or any value outside 1..8 changes no byte.
class KvTaskFrame
{
public:
    KvTaskFrame(const CanObj &stored, int idFormat, int idIncrease, int dataIncrease)
        : working(stored), registerId(stored.ID), registerLayout(idFormat == 1),
          increaseId(idIncrease == 1),
          dataIndex(dataIncrease >= 1 && dataIncrease <= 8 ? dataIncrease - 1 : -1)
    {
        setWireId();
    }

    // The frame to send next, its ID set for the wire.
    const CanObj &frame() const { return working; }

    // After a successful send: the ID increase, then the data increase.
    void advance()
    {
        if (increaseId) {
            if (registerLayout)
                registerId += working.ExternFlag ? 8u : 32u;
            else
                registerId = nextPlainId(registerId, working.ExternFlag);
        }
        setWireId();
        if (dataIndex >= 0)
            working.Data[dataIndex] = quint8(working.Data[dataIndex] + 1);
    }

private:
    static quint32 nextPlainId(quint32 id, quint8 extended)
    {
        const quint32 last = extended ? 0x1FFFFFFFu : 0x7FFu;
        const quint32 next = id + 1;
        return next > last ? 0 : next;
    }

    void setWireId()
    {
        if (registerLayout)
            working.ID = registerId >> (working.ExternFlag ? 3 : 5);
        else
            working.ID = registerId;
    }

    CanObj working;
    quint32 registerId;
    bool registerLayout;
    bool increaseId;
    int dataIndex;
};

#endif // KVTASKFRAME_P_H
