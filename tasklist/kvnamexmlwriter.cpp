#include "kvnamexmlwriter.h"

#include "taskobj.h"

#include <QtWidgets/QTableWidget>

KvNameXmlWriter::KvNameXmlWriter(QTableWidget *table) : table(table)
{
    xml.setAutoFormatting(true);
}

bool KvNameXmlWriter::writeFile(QIODevice *device)
{
    if (!device)
        return false;
    xml.setDevice(device);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE xml>"));
    xml.writeStartElement(QStringLiteral("xml"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    const int rows = table ? table->rowCount() : 0;
    for (int row = 0; row < rows; ++row)
        writeItem(table->item(row, 0));
    xml.writeEndDocument();
    return !xml.hasError();
}

void KvNameXmlWriter::writeItem(QTableWidgetItem *item)
{
    if (!item)
        return;
    const QVariant data = item->data(Qt::UserRole);
    if (data.userType() != qMetaTypeId<taskObj>())
        return;
    const taskObj task = data.value<taskObj>();
    if (task.dataList.isEmpty() || task.dataList.first().isEmpty())
        return;
    const CanObj &frame = task.dataList.first().at(0);
    const quint8 *d = frame.Data;

    xml.writeStartElement(QStringLiteral("TaskObj"));
    xml.writeAttribute(QStringLiteral("Frames"), QString::number(task.frames));
    xml.writeAttribute(QStringLiteral("Interval"), QString::number(task.interval));
    xml.writeAttribute(QStringLiteral("Times"), QString::number(task.times));
    xml.writeAttribute(QStringLiteral("IdIncrease"), QString::number(task.idIncrease));
    xml.writeAttribute(QStringLiteral("DataIncrease"), QString::number(task.dataIncrease));
    xml.writeAttribute(QStringLiteral("ID"), QString::number(frame.ID));
    xml.writeAttribute(QStringLiteral("SendType"), QString::number(frame.SendType));
    xml.writeAttribute(QStringLiteral("RemoteFlag"), QString::number(frame.RemoteFlag));
    xml.writeAttribute(QStringLiteral("ExternFlag"), QString::number(frame.ExternFlag));
    xml.writeAttribute(QStringLiteral("DataLen"), QString::number(frame.DataLen));
    xml.writeAttribute(QStringLiteral("Data"),
                       QString::asprintf("%02x %02x %02x %02x %02x %02x %02x %02x", d[0], d[1],
                                         d[2], d[3], d[4], d[5], d[6], d[7]));
    xml.writeEndElement();
}
