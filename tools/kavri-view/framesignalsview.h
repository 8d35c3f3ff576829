#ifndef FRAMESIGNALSVIEW_H
#define FRAMESIGNALSVIEW_H

#include "kvdbcdatabase.h"
#include "vci.h"

#include <QtWidgets/QTreeWidget>

class QAbstractItemModel;

// The signals of one frame, beside the trace: the selected trace row unfolds into its message
// and, under it, every signal the frame carries with its physical value and unit, value-table
// text and raw value: "GearAct  2.0 'D'", "EngineSpeed  2000.0 rpm".
//
// The trace itself stays a flat table that converts only the rows on screen; the frame is
// decoded here, once, when a row is chosen, from the row's own texts (identifier, format, type
// and data), so unfolding costs the trace nothing.
//
// Decided here: a frame of an identifier the database does not define, a remote frame and a
// row without a frame say so in one line; signals the frame does not carry (too short a frame,
// a multiplexed signal not selected) are left out.
class FrameSignalsView : public QTreeWidget
{
    Q_OBJECT
public:
    enum Column { Signal, Value, Raw, ColumnCount };

    explicit FrameSignalsView(QWidget *parent = nullptr);

    // Null: no database; the view empties.
    void setDatabase(const KvDbcDatabase *database);
    void showFrame(const VCI_CAN_OBJ &frame);
    // Decodes row `row` of a trace model (TraceModel's columns); an empty view for no row.
    void showTraceRow(const QAbstractItemModel *trace, int row);

    // The frame a trace row shows, read back from its texts:
    //   "000000AA ", "Standard", "Data", "8", "00 00 10 27 40 1F 00 00" -> standard 0xAA, 8 bytes
    // False for a row that is not a frame.
    static bool frameOfTraceRow(const QAbstractItemModel *trace, int row, VCI_CAN_OBJ &frame);

private:
    const KvDbcDatabase *db = nullptr;
    QVector<KvDbcValue> values;
};

#endif // FRAMESIGNALSVIEW_H
