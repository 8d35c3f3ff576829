#ifndef NAMEEDITOR_H
#define NAMEEDITOR_H

#include <QtWidgets/QWidget>

class QLabel;
class QTableWidget;

// Edits the process-wide identifier names that the trace and the watch list show beside each
// identifier: one row per identifier (hexadecimal) and its name. "Apply" replaces the names with
// the table's rows; a row that does not hold a hexadecimal identifier changes nothing.
class NameEditor : public QWidget
{
    Q_OBJECT
public:
    explicit NameEditor(QWidget *parent = nullptr);

    QTableWidget *table() const { return names; }
    void addName(quint32 id, const QString &name);
    // Reads the names back as the library holds them.
    void load();
    bool apply();
    QString statusText() const;

private:
    QTableWidget *names;
    QLabel *status;
};

#endif // NAMEEDITOR_H
