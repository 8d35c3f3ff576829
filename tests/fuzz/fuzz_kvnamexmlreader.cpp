// The task-list reader over any document: it must end with a result, and the tasks it keeps
// stay within their bounds (bursts of at most 100 frames, 1000 frames in all).
#include "canobj.h"
#include "fuzz_common_p.h"
#include "kvnamexmlreader.h"
#include "taskobj.h"

#include <QtCore/QBuffer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QTableWidget>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Lives until exit: the table needs an application object.
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QBuffer buffer;
    buffer.setData(reinterpret_cast<const char *>(data), int(size));
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    // One table for the whole run, emptied per input: building a widget costs more than reading
    // most documents. The reader only appends, so rows from an earlier input cannot leak in.
    static QTableWidget table;
    table.setRowCount(0);
    KvNameXmlReader reader(&table);
    const bool ok = reader.readFile(&buffer);
    FUZZ_CHECK(ok || !reader.errorString().isEmpty());
    for (int row = 0; row < table.rowCount(); ++row) {
        const taskObj task = table.item(row, 0)->data(Qt::UserRole).value<taskObj>();
        int frames = 0;
        for (const CanData &burst : task.dataList) {
            FUZZ_CHECK(burst.size() <= 100);
            frames += burst.size();
            for (int i = 0; i < burst.size(); ++i)
                FUZZ_CHECK(burst.at(i).DataLen <= 8);
        }
        FUZZ_CHECK(frames <= 1000 && frames > 0);
    }
    return 0;
}
