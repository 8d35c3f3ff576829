#include "kvj1939transport.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr quint8 Rts = 0x10;
constexpr quint8 Cts = 0x11;
constexpr quint8 EndOfMsgAck = 0x13;
constexpr quint8 Bam = 0x20;
constexpr quint8 Abort = 0xFF;

quint32 pgnAt(const quint8 *d)
{
    return quint32(d[5]) | quint32(d[6]) << 8 | quint32(d[7]) << 16;
}
} // namespace

const char *KvJ1939TpError::reasonName(Reason reason)
{
    switch (reason) {
    case Abort:
        return "abort";
    case TimeoutT1:
        return "timeout_t1";
    case TimeoutT2:
        return "timeout_t2";
    case TimeoutT3:
        return "timeout_t3";
    case TimeoutT4:
        return "timeout_t4";
    case Sequence:
        return "sequence";
    case Restarted:
        return "restarted";
    case BadAnnouncement:
        return "bad_announcement";
    case TooManySessions:
        return "too_many_sessions";
    }
    return "unknown";
}

KvJ1939Transport::KvJ1939Transport(int maxSessions) : maxSessions(std::max(1, maxSessions))
{
    sessions.reserve(size_t(this->maxSessions));
}

KvJ1939Transport::~KvJ1939Transport() = default;

void KvJ1939Transport::setMessageHandler(MessageHandler handler)
{
    onMessage = std::move(handler);
}

void KvJ1939Transport::setErrorHandler(ErrorHandler handler)
{
    onError = std::move(handler);
}

void KvJ1939Transport::reset()
{
    sessions.clear();
    nextDeadline = std::numeric_limits<qint64>::max();
}

int KvJ1939Transport::bufferedBytes() const
{
    int total = 0;
    for (const Session &s : sessions)
        total += int(s.data.size());
    return total;
}

void KvJ1939Transport::feed(qint64 time, quint32 canId, const quint8 *data, int size)
{
    advance(time);
    size = data ? std::min(std::max(size, 0), 8) : 0;
    const quint8 pf = quint8(canId >> 16);
    const quint8 source = quint8(canId);
    const quint8 ps = quint8(canId >> 8);
    if (pf == TpCm) {
        if (size == 8)
            controlMessage(time, source, ps, data);
        return;
    }
    if (pf == TpDt) {
        if (size >= 1)
            dataPacket(time, quint8((canId >> 26) & 0x7), source, ps, data, size);
        return;
    }
    if (!onMessage)
        return;
    const quint32 page = (canId >> 24) & 0x3;
    KvJ1939Message message;
    message.time = time;
    message.priority = quint8((canId >> 26) & 0x7);
    message.source = source;
    if (pf < 0xF0) {
        message.pgn = page << 16 | quint32(pf) << 8;
        message.destination = ps;
    } else {
        message.pgn = page << 16 | quint32(pf) << 8 | ps;
    }
    message.data = data;
    message.size = size;
    onMessage(message);
}

void KvJ1939Transport::advance(qint64 time)
{
    if (time <= nextDeadline)
        return;
    nextDeadline = std::numeric_limits<qint64>::max();
    for (int i = 0; i < int(sessions.size());) {
        Session &s = sessions[size_t(i)];
        if (s.deadline >= time) {
            nextDeadline = std::min(nextDeadline, s.deadline);
            ++i;
            continue;
        }
        KvJ1939TpError::Reason reason = KvJ1939TpError::TimeoutT3;
        if (s.state == State::Receiving)
            reason = s.firstAfterCts ? KvJ1939TpError::TimeoutT2 : KvJ1939TpError::TimeoutT1;
        else if (s.state == State::Hold)
            reason = KvJ1939TpError::TimeoutT4;
        reportError(s, s.deadline, reason, 0);
        remove(i); // the last session moves into slot i and is looked at next
    }
}

void KvJ1939Transport::controlMessage(qint64 time, quint8 source, quint8 destination,
                                      const quint8 *d)
{
    switch (d[0]) {
    case Rts:
        announce(time, source, destination, d, false);
        break;
    case Bam:
        announce(time, source, destination, d, true);
        break;
    case Cts:
        clearToSend(time, source, destination, d);
        break;
    case EndOfMsgAck: {
        // Sent by the receiver back to the originator.
        const int i = find(destination, source);
        if (i >= 0 && !sessions[size_t(i)].bam && sessions[size_t(i)].pgn == pgnAt(d))
            remove(i);
        break;
    }
    case Abort: {
        // Either side may abort.
        const quint32 pgn = pgnAt(d);
        int i = find(source, destination);
        if (i < 0 || sessions[size_t(i)].pgn != pgn)
            i = find(destination, source);
        if (i >= 0 && sessions[size_t(i)].pgn == pgn)
            fail(i, time, KvJ1939TpError::Abort, d[1]);
        break;
    }
    default:
        break;
    }
}

void KvJ1939Transport::announce(qint64 time, quint8 source, quint8 destination, const quint8 *d,
                                bool bam)
{
    Session s;
    s.pgn = pgnAt(d);
    s.source = source;
    s.destination = destination;
    s.bam = bam;
    s.size = int(d[1]) | int(d[2]) << 8;
    s.packets = d[3];

    const int running = find(source, destination);
    if (running >= 0) {
        if (sessions[size_t(running)].state == State::WaitAck && !sessions[size_t(running)].bam)
            remove(running);
        else
            fail(running, time, KvJ1939TpError::Restarted);
    }
    const bool sizeOk = s.size >= 1 && s.size <= MaxSize && s.packets == (s.size + 6) / 7;
    if (!sizeOk || (!bam && destination == 0xFF)) {
        reportError(s, time, KvJ1939TpError::BadAnnouncement, 0);
        return;
    }
    if (int(sessions.size()) >= maxSessions) {
        reportError(s, time, KvJ1939TpError::TooManySessions, 0);
        return;
    }
    s.data.assign(size_t(s.size), 0xFF);
    if (bam) {
        s.state = State::Receiving;
        s.windowEnd = s.packets;
        s.deadline = time + T1;
    } else {
        s.state = State::WaitCts;
        s.deadline = time + T3;
    }
    nextDeadline = std::min(nextDeadline, s.deadline);
    sessions.push_back(std::move(s));
}

void KvJ1939Transport::clearToSend(qint64 time, quint8 sender, quint8 originator, const quint8 *d)
{
    const int i = find(originator, sender);
    if (i < 0)
        return;
    Session &s = sessions[size_t(i)];
    if (s.bam || s.pgn != pgnAt(d))
        return;
    const int count = d[1];
    if (count == 0) {
        s.state = State::Hold;
        setDeadline(s, time + T4);
        return;
    }
    const int next = d[2];
    const int received = s.state == State::WaitAck ? s.packets : s.next - 1;
    if (next < 1 || next > received + 1 || next + count - 1 > s.packets) {
        fail(i, time, KvJ1939TpError::Sequence);
        return;
    }
    s.state = State::Receiving;
    s.firstAfterCts = true;
    s.next = next;
    s.windowEnd = next + count - 1;
    setDeadline(s, time + T2);
}

void KvJ1939Transport::dataPacket(qint64 time, quint8 priority, quint8 source, quint8 destination,
                                  const quint8 *d, int size)
{
    const int i = find(source, destination);
    if (i < 0)
        return;
    Session &s = sessions[size_t(i)];
    const int sequence = d[0];
    if (s.state != State::Receiving || sequence != s.next || sequence > s.windowEnd) {
        fail(i, time, KvJ1939TpError::Sequence);
        return;
    }
    const int offset = (sequence - 1) * 7;
    const int slot = std::min(7, s.size - offset);
    const int given = std::min(slot, size - 1);
    std::memcpy(s.data.data() + offset, d + 1, size_t(given));
    std::fill(s.data.begin() + offset + given, s.data.begin() + offset + slot, quint8(0xFF));
    s.priority = priority;
    s.firstAfterCts = false;
    ++s.next;

    if (sequence == s.packets) {
        if (onMessage) {
            KvJ1939Message message;
            message.time = time;
            message.pgn = s.pgn;
            message.priority = priority;
            message.source = s.source;
            message.destination = s.destination;
            message.transported = true;
            message.data = s.data.data();
            message.size = s.size;
            onMessage(message);
        }
        if (s.bam) {
            remove(i);
            return;
        }
        s.state = State::WaitAck;
        setDeadline(s, time + T3);
    } else if (!s.bam && sequence == s.windowEnd) {
        s.state = State::WaitCts;
        setDeadline(s, time + T3);
    } else {
        setDeadline(s, time + T1);
    }
}

int KvJ1939Transport::find(quint8 source, quint8 destination) const
{
    for (size_t i = 0; i < sessions.size(); ++i) {
        if (sessions[i].source == source && sessions[i].destination == destination)
            return int(i);
    }
    return -1;
}

void KvJ1939Transport::setDeadline(Session &s, qint64 deadline)
{
    // An earlier deadline of this session may stay as nextDeadline: advance() then just finds
    // nothing due and computes the real one.
    s.deadline = deadline;
    nextDeadline = std::min(nextDeadline, deadline);
}

void KvJ1939Transport::fail(int index, qint64 time, KvJ1939TpError::Reason reason,
                            quint8 abortReason)
{
    reportError(sessions[size_t(index)], time, reason, abortReason);
    remove(index);
}

void KvJ1939Transport::remove(int index)
{
    if (index != int(sessions.size()) - 1)
        sessions[size_t(index)] = std::move(sessions.back());
    sessions.pop_back();
}

void KvJ1939Transport::reportError(const Session &s, qint64 time, KvJ1939TpError::Reason reason,
                                   quint8 abortReason)
{
    if (!onError)
        return;
    KvJ1939TpError error;
    error.time = time;
    error.pgn = s.pgn;
    error.source = s.source;
    error.destination = s.destination;
    error.reason = reason;
    error.abortReason = abortReason;
    onError(error);
}
