#include "kvgbtmonitor.h"

#include "kvbuffer.h"
#include "kvgbtsession.h"

KvGbtMonitor::KvGbtMonitor(KvBuffer &b, KvGbtSession &s) : buffer(b), session(s) {}

KvGbtMonitor::~KvGbtMonitor() = default;

int KvGbtMonitor::poll()
{
    constexpr int Chunk = 512;
    int fed = 0;
    while (fed < MaxPerPoll) {
        batch.clear();
        const int n = buffer.takeGBT27930Frames(batch, qMin(Chunk, MaxPerPoll - fed));
        for (int i = 0; i < n; ++i) {
            const VCI_CAN_OBJ &frame = batch.at(i);
            const quint32 step = frame.TimeStamp - lastStamp;
            if (started && step < 0x80000000u)
                micros += qint64(step) * 100;
            started = true;
            lastStamp = frame.TimeStamp;
            session.feedFrame(frame, micros);
        }
        fed += n;
        if (n < Chunk)
            break;
    }
    return fed;
}
