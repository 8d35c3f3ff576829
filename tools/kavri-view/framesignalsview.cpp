#include "framesignalsview.h"

#include "kvdbcformat.h"
#include "tracemodel.h"

#include <QtCore/QAbstractItemModel>
#include <QtGui/QFontDatabase>
#include <QtWidgets/QHeaderView>

FrameSignalsView::FrameSignalsView(QWidget *parent) : QTreeWidget(parent)
{
    setColumnCount(ColumnCount);
    setHeaderLabels({tr("Signal"), tr("Value"), tr("Raw")});
    setUniformRowHeights(true);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The values are what is read: they keep their width, long signal names are cut instead
    // (whole in the tip), so the narrow pane beside the trace shows both.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setSectionResizeMode(Signal, QHeaderView::Interactive);
    header()->resizeSection(Signal, fontMetrics().horizontalAdvance(QStringLiteral("SteeringPos")) +
                                        indentation() * 2);
    setToolTip(tr("The signals of the frame selected in the trace"));
}

void FrameSignalsView::setDatabase(const KvDbcDatabase *database)
{
    db = database;
    clear();
}

void FrameSignalsView::showFrame(const VCI_CAN_OBJ &frame)
{
    clear();
    if (!db)
        return;
    const QString id = QString::number(frame.ID, 16)
                           .toUpper()
                           .rightJustified(frame.ExternFlag ? 8 : 3, QLatin1Char('0'));
    const int m = db->decode(frame, values);
    if (m < 0) {
        new QTreeWidgetItem(this, {frame.RemoteFlag ? tr("0x%1: remote frame").arg(id)
                                                    : tr("0x%1: not in the database").arg(id)});
        return;
    }
    const KvDbcMessage &message = db->messages().at(m);
    auto *top = new QTreeWidgetItem(this, {message.name, QStringLiteral("0x%1").arg(id)});
    top->setToolTip(0, message.comment);
    for (int s = 0; s < values.size(); ++s) {
        const KvDbcValue &v = values.at(s);
        if (!v.present)
            continue;
        const KvDbcSignal &signal = message.signalList.at(s);
        const QString label = db->label(m, s, v);
        QString value = KvDbcFormat::number(v.physical);
        if (!signal.unit.isEmpty())
            value += QLatin1Char(' ') + signal.unit;
        if (!label.isEmpty())
            value += QStringLiteral(" '%1'").arg(label);
        auto *item = new QTreeWidgetItem(top, {signal.name, value,
                                               signal.valueType == KvDbcSignal::Integer
                                                   ? QString::number(v.integer)
                                                   : KvDbcFormat::number(v.raw)});
        item->setTextAlignment(Value, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(Raw, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(Signal, signal.comment.isEmpty()
                                     ? signal.name
                                     : QStringLiteral("%1: %2").arg(signal.name, signal.comment));
    }
    expandAll();
}

void FrameSignalsView::showTraceRow(const QAbstractItemModel *trace, int row)
{
    VCI_CAN_OBJ frame{};
    if (frameOfTraceRow(trace, row, frame))
        showFrame(frame);
    else
        clear();
}

bool FrameSignalsView::frameOfTraceRow(const QAbstractItemModel *trace, int row, VCI_CAN_OBJ &frame)
{
    if (!trace || row < 0 || row >= trace->rowCount())
        return false;
    const auto text = [&](int column) {
        return trace->data(trace->index(row, column)).toString().trimmed();
    };
    bool ok = false;
    frame = VCI_CAN_OBJ{};
    frame.ID = text(TraceModel::Id).toUInt(&ok, 16);
    if (!ok)
        return false;
    frame.ExternFlag = text(TraceModel::FrameFormat) == QLatin1String("Extend") ? 1 : 0;
    frame.RemoteFlag = text(TraceModel::FrameType) == QLatin1String("Remote") ? 1 : 0;
    const QByteArray bytes = QByteArray::fromHex(text(TraceModel::Data).toLatin1());
    frame.DataLen = quint8(qMin(bytes.size(), 8));
    memcpy(frame.Data, bytes.constData(), frame.DataLen);
    return true;
}
