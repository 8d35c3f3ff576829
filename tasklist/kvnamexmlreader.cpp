#include "kvnamexmlreader.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtWidgets/QTableWidget>

#include <algorithm>

namespace {

constexpr int MaxBurstFrames = 100;
constexpr int MaxTaskFrames = 1000;
constexpr int ColumnCount = 4;
constexpr int RowRun = 4096;

QString sendTypeText(quint8 sendType)
{
    switch (sendType) {
    case 0:
        return QStringLiteral("Normal Send");
    case 1:
        return QStringLiteral("Single Send");
    case 2:
        return QStringLiteral("Send & Receive");
    case 3:
        return QStringLiteral("Single Send&Rec");
    default:
        return QString();
    }
}

// "11 22 x3" -> 0x11 0x22 0x03; returns the number of tokens, at most 8.
int readData(const QStringRef &text, quint8 *data)
{
    const QVector<QStringRef> parts = text.split(QLatin1Char(' '));
    const int count = std::min(int(parts.size()), 8);
    for (int i = 0; i < count; ++i)
        data[i] = quint8(parts.at(i).right(2).toUInt(nullptr, 16));
    return count;
}

} // namespace

KvNameXmlReader::KvNameXmlReader(QTableWidget *table) : table(table) {}

bool KvNameXmlReader::readFile(QIODevice *device)
{
    xml.setDevice(device);
    if (!device) {
        xml.raiseError(tr("No document to read."));
        return false;
    }
    framesKept = 0;
    const int firstRow = table ? table->rowCount() : 0;
    // Sorting would move every row as it is added.
    const bool sorting = table && table->isSortingEnabled();
    if (sorting)
        table->setSortingEnabled(false);
    if (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("xml") &&
            xml.attributes().value(QLatin1String("version")) == QLatin1String("1.0"))
            readXML();
        else
            xml.raiseError(tr("The file is not an XBEL version 1.0 file."));
    }
    if (table) {
        if (framesKept > frameLimit)
            table->setRowCount(firstRow);
        if (sorting)
            table->setSortingEnabled(true);
        if (table->rowCount() > firstRow)
            table->scrollToItem(table->item(table->rowCount() - 1, 0));
    }
    return !xml.error();
}

bool KvNameXmlReader::readFile(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        xml.raiseError(tr("%1 does not exist.").arg(fileName));
        return false;
    }
    if (!info.isFile()) {
        xml.raiseError(tr("%1 is not a regular file.").arg(fileName));
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        xml.raiseError(tr("Cannot open %1: %2").arg(fileName, file.errorString()));
        return false;
    }
    return readFile(&file);
}

void KvNameXmlReader::setMaxFrames(qint64 frames)
{
    frameLimit = qMax<qint64>(1, frames);
}

qint64 KvNameXmlReader::maxFrames() const
{
    return frameLimit;
}

QString KvNameXmlReader::errorString() const
{
    return tr("%1\nLine %2, column %3")
        .arg(xml.errorString())
        .arg(xml.lineNumber())
        .arg(xml.columnNumber());
}

void KvNameXmlReader::readXML()
{
    // Rows go into the table a run at a time: the table and its header grow once per run
    // instead of once per row.
    QVector<taskObj> pending;
    const auto flush = [this, &pending] {
        addRows(pending);
        pending.clear();
    };
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("TaskObj")) {
            const taskObj task = readTask();
            if (framesKept > frameLimit) {
                xml.raiseError(tr("The task list holds more than %1 frames.").arg(frameLimit));
                return;
            }
            if (!task.dataList.isEmpty() && !task.dataList.first().isEmpty())
                pending.append(task);
            if (pending.size() == RowRun)
                flush();
        }
        xml.skipCurrentElement();
    }
    flush();
    // Past the root only comments and white space may follow; reading on to the end is what
    // reports a document that is cut short or carries anything else.
    while (!xml.atEnd())
        xml.readNext();
}

taskObj KvNameXmlReader::readTask()
{
    const QXmlStreamAttributes attributes = xml.attributes();
    auto number = [&attributes](const char *name) {
        return attributes.value(QLatin1String(name)).toInt();
    };

    taskObj task;
    task.frames = number("Frames");
    task.interval = number("Interval");
    task.times = number("Times");
    task.idIncrease = number("IdIncrease");
    task.dataIncrease = number("DataIncrease");
    if (task.frames < 1 || task.times < 1)
        return task;

    CanObj frame;
    frame.ID = attributes.value(QLatin1String("ID")).toUInt();
    frame.SendType = quint8(number("SendType"));
    frame.RemoteFlag = quint8(number("RemoteFlag"));
    frame.ExternFlag = quint8(number("ExternFlag"));
    const int tokens = readData(attributes.value(QLatin1String("Data")), frame.Data);
    const int dataLen =
        attributes.hasAttribute(QLatin1String("DataLen")) ? quint8(number("DataLen")) : tokens;
    frame.DataLen = quint8(std::min(dataLen, 8));

    const int burstFrames = std::min(task.frames, MaxBurstFrames);
    const int bursts = std::min(task.times, MaxTaskFrames / burstFrames);
    framesKept += qint64(burstFrames) * bursts;
    if (framesKept > frameLimit)
        return task;
    for (int b = 0; b < bursts; ++b) {
        CanData burst;
        for (int f = 0; f < burstFrames; ++f) {
            burst.push(frame);
            if (task.idIncrease == 1)
                ++frame.ID;
        }
        task.dataList.append(burst);
    }
    return task;
}

void KvNameXmlReader::addItem(taskObj task)
{
    if (QTableWidgetItem *added = appendRow(task))
        table->scrollToItem(added);
}

QTableWidgetItem *KvNameXmlReader::appendRow(const taskObj &task)
{
    if (!table || task.dataList.isEmpty() || task.dataList.first().isEmpty())
        return nullptr;
    return addRows({task});
}

QTableWidgetItem *KvNameXmlReader::addRows(const QVector<taskObj> &tasks)
{
    if (!table || tasks.isEmpty())
        return nullptr;
    if (table->columnCount() < ColumnCount)
        table->setColumnCount(ColumnCount);
    const int first = table->rowCount();
    table->setRowCount(first + tasks.size());
    QTableWidgetItem *last = nullptr;
    for (int i = 0; i < tasks.size(); ++i) {
        const int row = first + i;
        const CanObj &frame = tasks.at(i).dataList.first().at(0);
        auto *sendType = new QTableWidgetItem(sendTypeText(frame.SendType));
        sendType->setData(Qt::UserRole, QVariant::fromValue(tasks.at(i)));
        table->setItem(row, 0, sendType);
        last = sendType;
        table->setItem(row, 1, new QTableWidgetItem(QString::asprintf("%08x ", frame.ID)));
        table->setItem(row, 2,
                       new QTableWidgetItem(frame.RemoteFlag == 1 ? QStringLiteral("Remote")
                                                                  : QStringLiteral("Data")));
        table->setItem(row, 3,
                       new QTableWidgetItem(frame.ExternFlag == 1 ? QStringLiteral("Extend")
                                                                  : QStringLiteral("Standard")));
    }
    return last;
}
