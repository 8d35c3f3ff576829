#ifndef SENDPANEL_H
#define SENDPANEL_H

#include "taskobj.h"

#include <QtWidgets/QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class taskThread;

// The basic send: one frame (ID, format, type, data), the burst size, the interval between
// bursts, the number of bursts and the ID and data increases, run by a task thread on the
// working channel. "Add to tasks" hands the same task to the task table instead.
class SendPanel : public QWidget
{
    Q_OBJECT
public:
    explicit SendPanel(QWidget *parent = nullptr);
    ~SendPanel() override;

    void setChannel(int channel);

    // Fills the form: "123" (hexadecimal ID), "11 22 33" (data bytes).
    void setFrame(const QString &id, const QString &data, bool extended = false,
                  bool remote = false);
    void setRepeat(int frames, int interval, int times, bool idIncrease = false,
                   int dataIncrease = 0);

    // The task the form describes; false, with `error` set, for an ID or data text that does not
    // make a frame. The error names the field: "ID: GG is not hexadecimal".
    bool task(taskObj &out, QString &error) const;

    // Starts the basic send; false, with the reason shown, when the form is invalid, the channel
    // is not started or a send is still running.
    bool send();
    void stop();
    bool isSending() const;

    QString statusText() const;

signals:
    // A finished basic send (all bursts out, stopped or refused).
    void sendFinished();
    void addTaskRequested(const taskObj &task);

private:
    void report(const QString &message);

    int ch = 0;
    QLineEdit *id;
    QCheckBox *extended;
    QCheckBox *remote;
    QComboBox *sendType;
    QLineEdit *data;
    QSpinBox *frames;
    QSpinBox *interval;
    QSpinBox *times;
    QCheckBox *idIncrease;
    QComboBox *dataIncrease; // none, D0 .. D7
    QPushButton *sendBtn;
    QLabel *status;
    std::unique_ptr<taskThread> runner;
    bool refused = false;
};

#endif // SENDPANEL_H
