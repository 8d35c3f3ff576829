#ifndef TABLESIZING_H
#define TABLESIZING_H

#include <QtCore/QString>

#include <functional>

class QTableView;

// Sets every column of `table` as wide as the wider of its title (in the header's font, or the
// font the model gives the title) and `widest(column)` (in the table's font), plus the header's
// margins, and turns off the stretching of the last column: no column is wider than it needs.
void fitColumnsToText(QTableView *table, const std::function<QString(int)> &widest);

// The window's tables of frames and values: the fixed-width system font, one line per row at a
// fixed height, no row numbers, and columns fitted by fitColumnsToText(). Fixed sizes because
// sizing to contents would convert every record of a long table.
void setUpTextTable(QTableView *table, const std::function<QString(int)> &widest);

#endif // TABLESIZING_H
