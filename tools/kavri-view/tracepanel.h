#ifndef TRACEPANEL_H
#define TRACEPANEL_H

#include <QtWidgets/QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTableView;
class TraceModel;

// The trace view: the shown channel, a "Follow" switch that keeps the newest row in sight, a
// "Pause" switch and a "Clear" button over the table of frames.
//
// Pausing sets the buffer's `looking` flag: the user is looking at what is on screen, so the
// refresh cycle leaves the table alone while the buffer goes on recording (and counting) in the
// background. Resuming takes up everything stored meanwhile.
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

signals:
    void channelChanged(int channel);

private:
    void setPaused(bool paused);

    TraceModel *traceModel;
    QTableView *table;
    QComboBox *channelBox;
    QCheckBox *follow;
    QPushButton *pause;
};

#endif // TRACEPANEL_H
