#ifndef KVNAMEXMLWRITER_H
#define KVNAMEXMLWRITER_H

#include "kavri_global.h"

#include <QtCore/QXmlStreamWriter>

class QIODevice;
class QTableWidget;
class QTableWidgetItem;

// Saves the application's table of send tasks as a task-list document. Only the task kept in
// each row's first cell (under Qt::UserRole) is read; the cell texts are for display.
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <!DOCTYPE xml>
//   <xml version="1.0">
//       <TaskObj Frames="1" Interval="10" Times="3" IdIncrease="0" DataIncrease="0" ID="291"
//                SendType="0" RemoteFlag="0" ExternFlag="0" DataLen="2"
//                Data="11 22 00 00 00 00 00 00"/>
//   </xml>
//
// (one line per element in the real output). A task's frame is the first frame of its first
// burst; the ID is decimal and all eight data bytes are written, whatever DataLen says. A row
// whose first cell is missing, carries no task, or carries a task without a first frame is
// left out: the document has no way to say "no frame", and inventing one would send it.
class KAVRI_EXPORT KvNameXmlWriter
{
public:
    explicit KvNameXmlWriter(QTableWidget *table);

    // Writes the whole document to a device opened for writing. False when there is no device
    // or the device refused the data.
    bool writeFile(QIODevice *device);

private:
    void writeItem(QTableWidgetItem *item);

    QXmlStreamWriter xml;
    QTableWidget *table;
};

#endif // KVNAMEXMLWRITER_H
