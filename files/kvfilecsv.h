#ifndef KVFILECSV_H
#define KVFILECSV_H

#include "kavri_global.h"
#include "kvfile.h"

#include <QtCore/QString>

// Reader of the CSV frame file: one header line, then one frame per line in nine columns split
// at "," (no quoting; empty columns count). Read are column 2 time, 4 identifier (hex), 5 frame
// type, 6 frame format, 7 DLC (hex) and 8 data bytes (hex, split at single spaces):
//   "7,Rx,10:20:30.456.789,0,1A2,Remote,Extend,3,11 22 33"  (time mode 2)
//     -> extended remote frame 0x1A2, TimeStamp 37230456, DataLen 3, data 11 22 33
//
// The header's column 2 is the time column's title, "-" and the time mode ("Time-2"):
//   mode 0  hex count, divided by 10                     "3E8" -> 100
//   mode 1  "hh:mm:ss:z", milliseconds since midnight    "00:00:01:500" -> 1500
//   mode 2  "hh:mm:ss.z" after dropping the last "." part "10:20:30.456.789" -> 37230456
//   other   TimeStamp is not set from the line
// A time that does not parse gives 0. A header without column 2 or without a "-" gives mode 0,
// the mode a reader has before prepare().
//
// Frame type "Remote" or the GBK bytes of the recorder's word for a remote frame ("远程帧",
// D4 B6 B3 CC D6 A1) make a remote frame; frame format "Extend" or the GBK bytes of "扩展帧"
// (C0 A9 D5 B9 D6 A1) an extended one; anything else a data or standard frame. The words are
// compared byte for byte: GBK is not UTF-8, and decoded to text, unrelated byte runs would all
// turn into the same replacement characters. getFrame() also accepts a word's translation when
// an installed translator provides one.
//
// Numbers are read the way QString::toUInt(&ok, 16) reads them: white space around them is
// ignored and a column that does not parse gives 0. Of the data bytes at most eight are taken,
// whatever the DLC says; a DLC whose low 8 bits exceed 8 rejects the line.
//
// Lines end in LF or CR LF; bytes are otherwise taken as they are (a NUL is an ordinary byte).
// A line longer than 4095 bytes is treated like a line without nine columns.
class KAVRI_EXPORT KvFileCsv : public KvFile
{
    Q_OBJECT
public:
    explicit KvFileCsv(QObject *parent = nullptr);
    ~KvFileCsv() override;

    using KvFile::open;
    // Opens read-only; a file that is not a regular file is refused.
    bool open(QString fileName) override;
    // Reads the header line and takes the time mode from it. False only when not open.
    bool prepare() override;
    // Replaces the queue with the frames of the next lines, until `count` places are used: a
    // frame uses one, a line without nine columns uses one and gives no frame, a line with a
    // DLC above 8 uses none. Frames start all zero; UserFlag marks the first of the batch,
    // BatchEndFlag the frame in the last place, TailFlag the last line of the file.
    // False, queue unchanged, when count < 1 or nothing more can be read.
    bool getFrames(CanData &frames, int count) override;
    // Reads the next line into the frame: TimeStamp (unless the mode is unknown), ID,
    // RemoteFlag, ExternFlag, DataLen and the data bytes given; no other field changes. False,
    // frame unchanged, for a line without nine columns, a DLC above 8 or the end of the file.
    bool getFrame(CanObj &frame) override;

private:
    qint32 timeMode = 0;
    QString remoteWord;
    QString extendWord;
};

#endif // KVFILECSV_H
