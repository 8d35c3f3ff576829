#ifndef FILTEREDITOR_H
#define FILTEREDITOR_H

#include <QtWidgets/QWidget>

class QComboBox;
class QLabel;
class QTableWidget;

// Edits the ID filter of the working channel: the filter mode and the two range lists, one row
// per range with its start and end identifier in hexadecimal and a note. Edits stay in the
// editor until "Apply" hands them to the channel's filter manager, so a half-typed range never
// filters live traffic. Ranges apply to received frames only; sent frames always show.
class FilterEditor : public QWidget
{
    Q_OBJECT
public:
    enum List { NotReceive, OnlyReceive };

    explicit FilterEditor(QWidget *parent = nullptr);

    // Shows the filter of another channel, as the manager holds it.
    void setChannel(int channel);
    int channel() const { return ch; }

    // Adds a row to one of the lists, in the editor only.
    void addRange(List list, quint32 start, quint32 end, const QString &note = QString());
    void setMode(int mode);
    // Writes the mode and both lists to the channel's filter manager. False, with the reason
    // shown and nothing changed, when a row does not hold two hexadecimal identifiers.
    bool apply();
    // What the last apply() did, as the editor shows it.
    QString statusText() const;
    // The editor's table of one list: start, end and note per row.
    QTableWidget *rangeTable(List list) const;

private:
    void load();

    int ch = 0;
    QComboBox *mode;
    QTableWidget *lists[2];
    QLabel *status;
};

#endif // FILTEREDITOR_H
