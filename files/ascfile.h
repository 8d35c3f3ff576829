#ifndef ASCFILE_H
#define ASCFILE_H

#include "kavri_global.h"
#include "kvfile.h"

#include <QtCore/QRegExp>

// Reader of the ASC frame file: two header lines, then one frame per line, fields separated by
// single white-space characters (two in a row make an empty field, shifting the rest):
//   time(s) channel id[x] direction kind dlc byte...
//   "0.012345 1 1A2B3Cx Rx d 3 01 02 03" -> extended data frame 0x1A2B3C, stamp 123, 3 bytes
// The time becomes TimeStamp in 0.1 ms units, computed in single precision and truncated
// toward zero (low 32 bits; a negative time wraps). A lowercase x after the identifier makes an
// extended frame; a kind starting with "d" a data frame, any other a remote frame. Data fields
// are read like QByteArray::fromHex, taking its first byte; their number, not the DLC, decides
// how many bytes are written (at most 8). The LF ending a line is a separator too, so the empty
// field after the last data byte writes 0 into the next byte. Unparseable numbers give 0.
//
// A line whose first character is a capital E ends the recording. Lines end in LF or CR LF;
// bytes are otherwise taken as they are (a NUL is an ordinary byte).
//
// Lines that cannot be a frame are skipped and the next line is read: fewer than six fields, an
// empty identifier or kind field (blank, comment and event lines), a DLC above 8, and lines
// longer than 4095 bytes. A recording that ends in such lines still ends with false.
class KAVRI_EXPORT ASCFile : public KvFile
{
    Q_OBJECT
public:
    explicit ASCFile(QObject *parent = nullptr);
    ~ASCFile() override;

    using KvFile::open;
    // Opens read-only; a file that is not a regular file is refused.
    bool open(QString fileName) override;
    // Skips the two header lines. Always true.
    bool prepare() override;
    // Reads the next frame line into the frame: TimeStamp, ID, ExternFlag, RemoteFlag, DataLen
    // and the data bytes given; no other field changes. False, frame unchanged, at the end of
    // the file or at an end line; the reader is then at the end of the file.
    bool getFrame(CanObj &frame) override;
    // Batches are not read from this form: getFrames() is KvFile's and returns false.

private:
    QRegExp separator;
};

#endif // ASCFILE_H
