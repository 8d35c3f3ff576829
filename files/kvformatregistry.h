#ifndef KVFORMATREGISTRY_H
#define KVFORMATREGISTRY_H

#include "kavri_global.h"
#include "kvframereader.h"
#include "kvframewriter.h"

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVector>

#include <memory>

// One recording format, as the registry knows it.
struct KAVRI_EXPORT KvFormat
{
    QString name;         // "bin", "csv", "asc", "asclog", "candump", "blf"
    QStringList suffixes; // lower case, without the dot
    QString description;
    qint64 resolutionNs; // finest time step the format writes; 0: it holds no time
    bool identifiers;    // frames carry identifier and flags (bin: payload bytes only)
    bool channels;       // frames carry their channel
    bool directions;     // frames carry Rx or Tx
    bool errorFrames;    // error frames can be written
    int replayFileType;  // KvSendFileThread's file type of the same form, -1 for none
    // Content check over the first bytes of a file (up to 16 KiB, cut at a line end).
    bool (*matches)(const QByteArray &head);
    KvFrameReader *(*newReader)();
    KvFrameWriter *(*newWriter)(); // nullptr: the format is read only
};

// Every recording format in one place: which there are, how each is recognised, read and
// written. Tools ask it; none keeps its own table.
//
//   bin      payload bytes only, eight per frame (read only)
//   csv      the application's CSV recording: "Index,Direction,Time-2,Channel,ID,..."
//   asc      the application's ASC recording: two header lines, single-spaced frame lines
//   asclog   ASC as other tools write it: "date", "base hex  timestamps absolute", "Begin
//            Triggerblock", padded columns, channels from 1, x for extended, r for remote,
//            ErrorFrame
//   candump  "(seconds.micros) canN ID#DATA", "#R" and "#R<len>" for remote frames, " T" after
//            a sent frame
//   blf      the binary logging format: zlib containers of objects
//
// A recording's format is told by its content, never by its suffix alone: a file that matches
// no format is refused, and so is one whose content contradicts the format asked for. The
// suffix only chooses between formats that both match (asc and asclog), and makes a file
// "bin" when nothing else matches (payload bytes are anything).
//
// Decided here:
// - an empty file is refused as empty, whatever the format;
// - anything but a regular file (a folder, FIFO, device) is refused before it is opened;
// - the first 16 KiB are looked at, and at most 64 lines of them.
class KAVRI_EXPORT KvFormatRegistry
{
public:
    static const QVector<KvFormat> &formats();
    // By name, case-insensitive; nullptr for an unknown name.
    static const KvFormat *find(const QString &name);
    // The format whose suffixes hold the path's suffix; nullptr for none.
    static const KvFormat *forSuffix(const QString &path);
    // "bin, csv, asc, asclog, candump or blf"; writable ones only when asked.
    static QString names(bool writableOnly = false);

    // The format of a recording, by content; with `name` set, the content must be that
    // format. nullptr with `error` set ("x.asc: not a recording of any known format") when
    // refused.
    static const KvFormat *detect(const QString &path, const QString &name, QString *error);
    // detect(), then a reader opened on the file; nullptr with `error` set when refused or when
    // the reader cannot start.
    static std::unique_ptr<KvFrameReader> openReader(const QString &path, const QString &name,
                                                     QString *error,
                                                     const KvFormat **format = nullptr);
    // A writer of the named format, unopened; nullptr for an unknown or read-only format.
    static std::unique_ptr<KvFrameWriter> newWriter(const QString &name);
};

#endif // KVFORMATREGISTRY_H
