#include "tablesizing.h"

#include <QtGui/QFontDatabase>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QStyle>
#include <QtWidgets/QTableView>

#include <algorithm>

void fitColumnsToText(QTableView *table, const std::function<QString(int)> &widest)
{
    QHeaderView *header = table->horizontalHeader();
    const QAbstractItemModel *model = table->model();
    const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int c = 0; c < model->columnCount(); ++c) {
        const QVariant font = model->headerData(c, Qt::Horizontal, Qt::FontRole);
        const QFontMetrics titleMetrics(font.isValid() ? font.value<QFont>() : header->font());
        const int title =
            titleMetrics.horizontalAdvance(model->headerData(c, Qt::Horizontal).toString());
        const int text = table->fontMetrics().horizontalAdvance(widest(c));
        // The cell's own margins and a sort arrow's room.
        table->setColumnWidth(c, std::max(title, text) + margin + 10);
    }
    header->setStretchLastSection(false);
}

void setUpTextTable(QTableView *table, const std::function<QString(int)> &widest)
{
    table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    fitColumnsToText(table, widest);
}
