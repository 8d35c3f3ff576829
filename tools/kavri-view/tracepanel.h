#ifndef TRACEPANEL_H
#define TRACEPANEL_H

#include <QtWidgets/QWidget>

class QCheckBox;
class QComboBox;
class QMenu;
class QPushButton;
class QSpinBox;
class QTableView;
class TraceModel;

// The trace view: the shown channel, a "Follow" switch that keeps the newest row in sight, a
// "Pause" switch and a "Clear" button over the table of frames.
//
// Pausing sets the buffer's `looking` flag: the user is looking at what is on screen, so the
// refresh cycle leaves the table alone while the buffer goes on recording (and counting) in the
// background. Resuming takes up everything stored meanwhile.
//
// Every column is as wide as the widest text it can show (all eight data bytes included). The
// spare columns, which the library leaves empty, are hidden at first; the header's context menu
// shows and hides any column. The relative time reads seconds since start or the cycle per
// identifier; the row limit is the buffers' maximum count (changing it empties them).
class TracePanel : public QWidget
{
    Q_OBJECT
public:
    explicit TracePanel(QWidget *parent = nullptr);
    ~TracePanel() override;

    void setChannel(int channel);
    int channel() const;
    // One refresh cycle.
    void refresh();

    TraceModel *model() const { return traceModel; }
    QTableView *view() const { return table; }
    QCheckBox *followBox() const { return follow; }
    QPushButton *pauseButton() const { return pause; }
    QComboBox *timeModeBox() const { return timeBox; }

    // The maximum rows every channel's buffer keeps; a new value empties the buffers.
    void setRowLimit(int rows);
    int rowLimit() const;
    void setColumnShown(int column, bool shown);
    // The header's context menu: one checkable entry per column, checked when shown.
    QMenu *columnMenu();
    // The header's state (order, widths, hidden columns) for the window's settings.
    QByteArray headerState() const;
    bool restoreHeaderState(const QByteArray &state);

signals:
    void channelChanged(int channel);

private:
    void setPaused(bool paused);
    void showHeaderMenu(const QPoint &at);

    TraceModel *traceModel;
    QTableView *table;
    QComboBox *channelBox;
    QCheckBox *follow;
    QPushButton *pause;
    QComboBox *timeBox;
    QSpinBox *limitBox;
};

#endif // TRACEPANEL_H
