#ifndef KVJ1939TRANSPORT_H
#define KVJ1939TRANSPORT_H

#include "kavri_global.h"

#include <QtCore/QtGlobal>

#include <functional>
#include <limits>
#include <vector>

// A J1939 message as the bus delivered it: one frame, or a transfer reassembled by the
// transport protocol. `data` points into the reassembler (or the caller's frame) and is valid
// only during the handler call that receives it.
struct KAVRI_EXPORT KvJ1939Message
{
    qint64 time = 0; // microseconds, of the frame that completed the message
    quint32 pgn = 0;
    quint8 priority = 0;
    quint8 source = 0;
    quint8 destination = 0xFF; // 255 for a BAM and for PDU2
    bool transported = false;  // reassembled from TP.DT packets
    const quint8 *data = nullptr;
    int size = 0;
};
Q_DECLARE_TYPEINFO(KvJ1939Message, Q_PRIMITIVE_TYPE);

// Why a transfer ended without its message. Source, destination and PGN are the transfer's
// (the originator is the source, also when the receiver sent the Abort).
struct KAVRI_EXPORT KvJ1939TpError
{
    enum Reason : quint8 {
        Abort,           // a TP.CM Abort; abortReason holds its reason byte
        TimeoutT1,       // more than 750 ms between data packets (BAM and RTS/CTS)
        TimeoutT2,       // more than 1250 ms from a CTS to its first data packet
        TimeoutT3,       // more than 1250 ms from an RTS or a last packet to the CTS or EndOfMsgAck
        TimeoutT4,       // more than 1050 ms of hold (CTS for 0 packets) without another CTS
        Sequence,        // a data packet out of order (missing, duplicated, 0, beyond the end, not
                         // asked for) or a CTS asking for packets that do not exist
        Restarted,       // a new RTS (BAM) between the same addresses while a transfer ran
        BadAnnouncement, // RTS or BAM with a size outside 1..1785 or a packet count that does not
                         // match it, or an RTS to the global address
        TooManySessions, // the announcement found every session slot taken
    };

    qint64 time = 0; // microseconds: the frame that ended it, or the moment the timeout expired
    quint32 pgn = 0;
    quint8 source = 0;
    quint8 destination = 0xFF;
    Reason reason = Abort;
    quint8 abortReason = 0;

    // "abort", "timeout_t1" ... "timeout_t4", "sequence", "restarted", "bad_announcement",
    // "too_many_sessions"
    static const char *reasonName(Reason reason);
};
Q_DECLARE_TYPEINFO(KvJ1939TpError, Q_PRIMITIVE_TYPE);

// Reassembles the J1939-21 transport protocol as a bystander on the bus sees it, and passes
// every other frame through as a message of its own.
//
// Feed it the extended frames of one bus in order with their time stamps; it calls the message
// handler for each single-frame message and for each completed transfer, and the error handler
// for each transfer that ends without its message. Time only moves with the stamps given to
// feed() and advance(), so timeouts are tested without waiting:
//   RTS 10 0D 00 02 FF 00 06 00 (F4 -> 56), CTS 11 02 01 FF FF 00 06 00 (56 -> F4),
//   DT 01 + 7 bytes, DT 02 + 6 bytes and FF  -> message PGN 0x0600, 13 bytes, F4 -> 56
//
// Transfers are keyed by source, destination and PGN (a BAM's destination is 255); several
// run at once, at most maxSessions. TP.DT carries no PGN, so one source and destination pair
// has one transfer at a time, as J1939-21 demands of senders. Each transfer holds exactly its
// announced size (at most 1785 bytes); nothing else grows with the input.
//
// Decided here:
// - a transfer is complete at its last TP.DT, before the EndOfMsgAck; the RTS/CTS transfer then
//   waits T3 for the EndOfMsgAck, and a missing one is reported as TimeoutT3 (the message was
//   delivered all the same); a new RTS in that wait closes it without an error;
// - a CTS whose next sequence number is at or below what was received asks for packets again
//   (a retransmission): reassembly continues from there; a CTS while the data of an earlier one
//   is still due replaces the window;
// - a duplicated data packet is out of order: the transfer ends with Sequence;
// - TP.DT without a transfer between its addresses, CTS and EndOfMsgAck without a transfer,
//   an Abort that matches none, TP.CM shorter than 8 bytes and unknown control bytes are
//   ignored without an event: a bystander may have joined the bus in the middle;
// - a data packet shorter than 8 bytes gives what it holds; the rest of its slot reads 0xFF.
class KAVRI_EXPORT KvJ1939Transport
{
public:
    static constexpr int MaxSize = 1785;
    static constexpr int DefaultMaxSessions = 32;
    static constexpr qint64 T1 = 750000; // microseconds
    static constexpr qint64 T2 = 1250000;
    static constexpr qint64 T3 = 1250000;
    static constexpr qint64 T4 = 1050000;
    static constexpr quint8 TpCm = 0xEC; // PDU formats
    static constexpr quint8 TpDt = 0xEB;

    using MessageHandler = std::function<void(const KvJ1939Message &)>;
    using ErrorHandler = std::function<void(const KvJ1939TpError &)>;

    explicit KvJ1939Transport(int maxSessions = DefaultMaxSessions);
    ~KvJ1939Transport();

    // Handlers must not feed this object again from inside the call.
    void setMessageHandler(MessageHandler handler);
    void setErrorHandler(ErrorHandler handler);

    // One extended frame: 29-bit identifier, up to 8 data bytes (more are ignored), time in
    // microseconds. Timeouts up to `time` are reported first. A time earlier than the last is
    // taken as it is; it expires nothing.
    void feed(qint64 time, quint32 canId, const quint8 *data, int size);
    // Reports the transfers whose timeout expired before `time`.
    void advance(qint64 time);
    // Drops every transfer without an event.
    void reset();

    int sessionCount() const { return int(sessions.size()); }
    // Bytes held for transfers in progress (the sum of their announced sizes).
    int bufferedBytes() const;

private:
    Q_DISABLE_COPY(KvJ1939Transport)

    enum class State : quint8 { WaitCts, Receiving, Hold, WaitAck };

    struct Session
    {
        quint32 pgn = 0;
        quint8 priority = 7;
        quint8 source = 0;
        quint8 destination = 0;
        bool bam = false;
        bool firstAfterCts = false; // Receiving, no packet yet since the CTS: T2 applies
        State state = State::WaitCts;
        int size = 0;
        int packets = 0;
        int next = 1;      // sequence number expected next
        int windowEnd = 0; // last sequence number the current CTS (or the BAM) allows
        qint64 deadline = 0;
        std::vector<quint8> data;
    };

    void controlMessage(qint64 time, quint8 source, quint8 destination, const quint8 *d);
    void announce(qint64 time, quint8 source, quint8 destination, const quint8 *d, bool bam);
    void clearToSend(qint64 time, quint8 sender, quint8 originator, const quint8 *d);
    void dataPacket(qint64 time, quint8 priority, quint8 source, quint8 destination,
                    const quint8 *d, int size);
    int find(quint8 source, quint8 destination) const;
    void setDeadline(Session &s, qint64 deadline);
    void fail(int index, qint64 time, KvJ1939TpError::Reason reason, quint8 abortReason = 0);
    void remove(int index);
    void reportError(const Session &s, qint64 time, KvJ1939TpError::Reason reason,
                     quint8 abortReason);

    std::vector<Session> sessions;
    const int maxSessions;
    qint64 nextDeadline = std::numeric_limits<qint64>::max();
    MessageHandler onMessage;
    ErrorHandler onError;
};

#endif // KVJ1939TRANSPORT_H
