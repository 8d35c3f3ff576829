#ifndef WATCHPANEL_H
#define WATCHPANEL_H

#include <QtWidgets/QWidget>

class QCheckBox;
class QTableView;
class WatchModel;

// The watch view: the "Watch" switch (the library's global watch switch, on by default) and the
// table of the shown channel's watch list, with a "Clear" button.
class WatchPanel : public QWidget
{
    Q_OBJECT
public:
    explicit WatchPanel(QWidget *parent = nullptr);

    void setChannel(int channel);
    void refresh();

    WatchModel *model() const { return watchModel; }
    QTableView *view() const { return table; }

private:
    WatchModel *watchModel;
    QTableView *table;
    QCheckBox *watching;
};

#endif // WATCHPANEL_H
