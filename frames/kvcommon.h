#ifndef KVCOMMON_H
#define KVCOMMON_H

#include "canobj.h"
#include "kavri_global.h"

#include <QtCore/QBitArray>
#include <QtCore/QString>

#include <sys/time.h>

// Helper functions for the application: byte splitting, identifier and code texts, hexadecimal
// parsing, a millisecond wall clock, a busy wait, receive-time texts and data increments. They
// live in namespace kavri because the C library already owns a global gettimeofday.
namespace kavri {

// 0x1234 -> 0x12 (arithmetic shift of the signed value).
KAVRI_EXPORT char MSB(short v);
// 0x1234 -> 0x34.
KAVRI_EXPORT char LSB(short v);
// Kept for applications written against it: always an empty string.
KAVRI_EXPORT QString gToUtf8(QString text);

// Identifier texts of a left-aligned 32-bit word: type 1 is an extended identifier shifted left
// by 3, any other type a standard identifier shifted left by 21. Always eight upper-case digits.
//   getCanIdFromLL(1, 0xF8) -> "0000001F"      toCanIdFromLL(0, 0x7FF) -> "FFE00000"
KAVRI_EXPORT QString getCanIdFromLL(int type, long long value);
KAVRI_EXPORT QString toCanIdFromLL(int type, long long id);
// 0xAB -> "000000AB". A code wider than 32 bits keeps its low 32 bits, so the text is always
// eight digits (an eight-digit field is all a code has room for).
KAVRI_EXPORT QString getCanCodeFromLL(long long code);
KAVRI_EXPORT QString toCanCodeFromLL(long long code);

// Converts `count` bytes of hexadecimal text: "12 AB" (mode 1, one separator between bytes) or
// "12AB" (any other mode) -> 0x12 0xAB. Returns 0 on success, 1 at the first invalid digit; an
// invalid low digit leaves out[i] holding the high digit's value. Text must hold enough
// characters; it is not tested for its end.
KAVRI_EXPORT int strtodata(unsigned char *text, unsigned char *out, int count, int mode);
// '0'..'9', 'A'..'F', 'a'..'f' -> 0..15 in *out, result 0; anything else: *out unchanged, 1.
KAVRI_EXPORT int chartoint(unsigned char c, unsigned char *out);
// Bit i of the array is bit i of c (index 0 is the least significant bit).
KAVRI_EXPORT QBitArray chartoBitArray(unsigned char c);

// Local wall-clock time as seconds since 1970 (32 bits) and milliseconds x 1000 in tv_usec.
// The resolution is one millisecond; zone is ignored. Always returns 0.
KAVRI_EXPORT int gettimeofday(struct timeval *tv, void *zone);
// Busy-waits `microseconds` on that clock without sleeping or yielding; reads it at least once.
KAVRI_EXPORT void gUsleep(int microseconds);

// Receive time of a frame for display. For direction "Rx" the adapter stamp (hexadecimal text,
// 10,000 units a second) becomes a time relative to baseTime:
//   ("Rx", "0x75BCD15", 0) -> "03:25:45.678.9"
// Any other direction returns timeText unchanged: ("Tx", "NULL", 0) -> "NULL".
KAVRI_EXPORT QString gSettleTime(QString direction, QString timeText, int baseTime);

// Adds one to Data[index], carrying over 0xFF bytes into the next byte (which keep 0xFF); a
// carry out of the last valid byte clears all eight bytes. Does nothing when carry is false or
// index lies outside 0..7.
KAVRI_EXPORT void incData(CanObj &frame, int index, bool &carry);

} // namespace kavri

#endif // KVCOMMON_H
