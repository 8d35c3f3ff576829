#ifndef KVNAMEXMLREADER_H
#define KVNAMEXMLREADER_H

#include "kavri_global.h"
#include "taskobj.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QXmlStreamReader>

class QIODevice;
class QTableWidget;

// Loads a task-list document (see KvNameXmlWriter) and appends one table row per task; it never
// clears the table. Each row shows the frame's send type, "%08x " identifier, "Remote"/"Data"
// and "Extend"/"Standard", and keeps the whole task in its first cell under Qt::UserRole. A
// table with fewer than four columns is widened to four.
//
// A "TaskObj" element is rebuilt into `Times` bursts of `Frames` copies of its frame; with
// IdIncrease exactly 1 the ID runs on from copy to copy across the bursts:
//   Frames="2" Times="3" IdIncrease="1" ID="256" -> bursts {256, 257} {258, 259} {260, 261}
// Numbers are decimal (missing or unparseable: 0). Each of the first eight space-separated
// "Data" tokens gives a byte from its last two characters read as hexadecimal ("x1f" -> 0x1f,
// bad digits -> 0). DataLen is the attribute or, without one, the number of tokens; above 8 it
// reads as 8, the most a frame carries.
//
// Safe limits for documents that would build nothing or too much:
// - a task that sends nothing (Times or Frames 0 or negative) adds no row;
// - `frames` and `times` keep the document's values, which the send threads go by, but the
//   bursts kept in the task hold at most 100 frames each and 1000 frames in all, so a document
//   with huge counts cannot exhaust memory;
// - entity expansion is bounded by the stream reader, and unknown elements are skipped with
//   their whole content, however deep.
class KAVRI_EXPORT KvNameXmlReader
{
    Q_DECLARE_TR_FUNCTIONS(KvNameXmlReader)
public:
    explicit KvNameXmlReader(QTableWidget *table);

    // Reads the document from a device opened for reading. True when it was read to its end
    // without error; rows added before an error stay in the table.
    bool readFile(QIODevice *device);
    // "<reason>\nLine <n>, column <m>" for the last error.
    QString errorString() const;

    // Reads the elements inside the root.
    void readXML();
    // Appends the row for a task; a task without a first frame adds nothing.
    void addItem(taskObj task);

private:
    taskObj readTask();

    QXmlStreamReader xml;
    QTableWidget *table;
};

#endif // KVNAMEXMLREADER_H
