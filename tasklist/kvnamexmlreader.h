#ifndef KVNAMEXMLREADER_H
#define KVNAMEXMLREADER_H

#include "kavri_global.h"
#include "taskobj.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QVector>
#include <QtCore/QXmlStreamReader>

class QIODevice;
class QTableWidget;
class QTableWidgetItem;

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
// - the frames kept in all the tasks of one document are limited too (maxFrames(), 1,000,000 by
//   default): a document beyond the limit is refused with an error saying so, and the rows it had
//   added are taken out again;
// - entity expansion is bounded by the stream reader, and unknown elements are skipped with
//   their whole content, however deep.
//
// Rows are added without scrolling the table to each (a relayout per row would make a large
// document take minutes) and with sorting off; the table then shows the last row added.
class KAVRI_EXPORT KvNameXmlReader
{
    Q_DECLARE_TR_FUNCTIONS(KvNameXmlReader)
public:
    explicit KvNameXmlReader(QTableWidget *table);

    // Reads the document from a device opened for reading. True when it was read to its end
    // without error; rows added before an error stay in the table, except when the document
    // holds too many frames.
    bool readFile(QIODevice *device);
    // Opens and reads the document at `fileName`. Only a regular file is opened: a FIFO would
    // block the open and a device never end; anything else fails with an error saying why.
    bool readFile(const QString &fileName);
    // "<reason>\nLine <n>, column <m>" for the last error.
    QString errorString() const;

    // Reads the elements inside the root.
    void readXML();
    // Appends the row for a task and scrolls to it; a task without a first frame adds nothing.
    void addItem(taskObj task);

    // The most frames all tasks of one document may keep; below 1 reads as 1.
    void setMaxFrames(qint64 frames);
    qint64 maxFrames() const;

private:
    taskObj readTask();
    // The row's first item, or null when the task has no frame.
    QTableWidgetItem *appendRow(const taskObj &task);
    // One row per task, each with a first frame; the first item of the last row.
    QTableWidgetItem *addRows(const QVector<taskObj> &tasks);

    QXmlStreamReader xml;
    QTableWidget *table;
    qint64 frameLimit = 1000000;
    qint64 framesKept = 0; // by the document being read
};

#endif // KVNAMEXMLREADER_H
