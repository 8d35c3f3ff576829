#ifndef KVGBTDECODER_H
#define KVGBTDECODER_H

#include "kavri_global.h"
#include "kvgbtmessage.h"

struct KvJ1939Message;

// Decodes the GB/T 27930 messages into named fields with units. Pure functions, no state.
//
//   BCL (PGN 0x1000) 0F 0A 88 13 02 -> voltage_demand_v 257.5 V, current_demand_a 100.0 A,
//                                      mode 2 "constant current"
//
// Byte numbers below are the standard's (1-based, little-endian). A field is reported only when
// all its bytes are present: a message shorter than its fixed length is marked malformed and
// keeps the fields that fitted, and nothing past the end is read. Extra bytes are ignored.
// Not-available values (all ones) are scaled like any other; two-bit status fields give their
// raw 0..3 with a meaning ("normal", "set", "untrusted", "not available", or the message's own
// words). ASCII fields lose trailing NUL, space and 0xFF bytes.
class KAVRI_EXPORT KvGbtDecoder
{
public:
    // A J1939 message on the charging link. False, `out` untouched, when its PGN is not one of
    // the 22 or its addresses do not go from the message's sender to its receiver (a charger
    // message from 0x56 to 0xF4, a BMS message from 0xF4 to 0x56; a transported message may go
    // to 255). `out` keeps its field storage between calls, so a reused message does not
    // allocate for short messages.
    static bool decode(const KvJ1939Message &in, int channel, KvGbtMessage &out);
    // The payload of `code`, addresses not checked: sets code, pgn, priority (from the table),
    // malformed, size and fields, and leaves time, channel and addresses as they were.
    static void decodePayload(KvGbtCode code, const quint8 *data, int size, KvGbtMessage &out);
};

#endif // KVGBTDECODER_H
