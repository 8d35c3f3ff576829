#ifndef TASKPANEL_H
#define TASKPANEL_H

#include "taskobj.h"

#include <QtWidgets/QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QTableWidget;
class taskThread;

// The task table: one row per send task in the four columns the task-list document binds (send
// type, ID, frame type, frame format), the whole task kept in the row's first cell. Tables are
// loaded and saved as task-list documents, and run by a task thread on the working channel in
// the sequential, cyclic or parallel mode.
class TaskPanel : public QWidget
{
    Q_OBJECT
public:
    enum Mode { Sequential, Cyclic, Parallel };

    explicit TaskPanel(QWidget *parent = nullptr);
    ~TaskPanel() override;

    void setChannel(int channel);
    QTableWidget *table() const { return tasks; }

    // Appends the document's tasks to the table; false with `error` set when the file cannot be
    // opened or read (rows read before an error stay).
    bool load(const QString &fileName, QString &error);
    // Writes the table as a task-list document; false with `error` set on failure.
    bool save(const QString &fileName, QString &error);
    void addTask(const taskObj &task);
    taskQueue queue() const;

    void setMode(Mode mode);
    // Runs the table's tasks; false, with the reason shown, when the table is empty, the channel
    // is not started or a run is still going.
    bool run();
    // Ends the run, the threads of the parallel mode included.
    void stop();
    bool isRunning() const;
    QString statusText() const;
    // The task list last loaded or saved, where the file dialogs open.
    QString lastFile() const { return last; }
    void setLastFile(const QString &fileName);

signals:
    void runFinished();

private:
    void report(const QString &message);

    int ch = 0;
    QTableWidget *tasks;
    QComboBox *mode;
    QLabel *status;
    std::unique_ptr<taskThread> runner;
    bool refused = false;
    QString last;
};

#endif // TASKPANEL_H
