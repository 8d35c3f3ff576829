#ifndef KVFILEASCLOG_H
#define KVFILEASCLOG_H

#include "kavri_global.h"
#include "kvfile.h"

#include <QtCore/QtGlobal>

// Reader of ASC recordings as other tools write them, where ASCFile expects our own strict
// form. Columns are padded with any run of spaces or tabs, event lines may start with white
// space, and the header is as long as the tool likes:
//   date Sat Dec 05 08:28:12.778 PM 2026
//   base hex  timestamps absolute
//   internal events logged
//   Begin Triggerblock Thu Jan 01 12:16:40.5 AM 1970
//    0.000000 Start of measurement
//    0.250000 1  1ABCDEF0x       Rx   d 3 01 02 03   -> extended data frame, stamp 2500, 3 bytes
//    0.500000 1  7FF             Rx   r 5            -> standard remote frame, DataLen 5
//    0.500000 1  ErrorFrame                          -> skipped
//   End TriggerBlock
//
// A frame line is: time, channel number (not used: the replay picks the channel), identifier
// with x or X appended for an extended one, Rx or Tx, d or r, DLC 0..8 (optional after r), and
// for d exactly DLC data bytes; anything after them (some tools add lengths and bit counts) is
// ignored. Every other line is skipped and the next one read: header and event lines, CAN FD
// lines (their frames do not fit a classic frame), error frames, transmit requests (TxRq: the
// frame itself follows as Tx), statistics, comments, blank lines, and frame lines that do not
// hold together: a standard identifier above 7FF, an extended one above 1FFFFFFF, a DLC above
// 8, missing or oversized data bytes, a time that is not plain digits with an optional point.
// Lines longer than 4095 bytes are skipped whole. Words are compared without case.
//
// A line "base hex|dec [timestamps absolute|relative]", wherever it stands, sets how the lines
// after it are read: identifiers and data bytes in hex (the default) or in decimal, and times
// since the start of the measurement (the default) or since the previous event line, in which
// case every line with a time (skipped events included) moves the clock on.
//
// TimeStamp is the time since the start of the measurement in the adapter's unit of 0.1 ms:
// the written seconds, of which six decimals are kept, truncated to 0.1 ms, low 32 bits
// ("0.123457" -> 1234). Recordings give microseconds at best, so nothing a replay needs is lost.
class KAVRI_EXPORT KvFileAscLog : public KvFile
{
    Q_OBJECT
public:
    explicit KvFileAscLog(QObject *parent = nullptr);
    ~KvFileAscLog() override;

    using KvFile::open;
    // Opens read-only; a file that is not a regular file is refused.
    bool open(QString fileName) override;
    // Starts reading as hex with absolute times, from the current position; the header is
    // skipped line by line as getFrame() meets it. False only when not open.
    bool prepare() override;
    // Reads up to the next frame line: TimeStamp, ID, ExternFlag, RemoteFlag, DataLen and all
    // eight data bytes (those beyond the frame's data 0, so nothing of an earlier frame stays);
    // no other field changes. False, frame unchanged, when no frame line is left.
    bool getFrame(CanObj &frame) override;
    // Batches are not read from this form: getFrames() is KvFile's and returns false.

private:
    bool decimal = false;
    bool relativeTimes = false;
    quint64 clockMicros = 0; // time of the last event line, with relative times
};

#endif // KVFILEASCLOG_H
