#include "sendpanel.h"

#include "devcan.h"
#include "taskthread.h"

#include <QtCore/QRegularExpression>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QVBoxLayout>

SendPanel::SendPanel(QWidget *parent)
    : QWidget(parent), id(new QLineEdit(QStringLiteral("123"))),
      extended(new QCheckBox(tr("Extended"))), remote(new QCheckBox(tr("Remote"))),
      sendType(new QComboBox), data(new QLineEdit(QStringLiteral("11 22 33 44 55 66 77 88"))),
      frames(new QSpinBox), interval(new QSpinBox), times(new QSpinBox),
      idIncrease(new QCheckBox(tr("ID + 1 after each burst"))), dataIncrease(new QSpinBox),
      sendBtn(new QPushButton(tr("Send"))), status(new QLabel)
{
    // The adapter's send types, in the order of their codes 0 to 3.
    sendType->addItems(
        {tr("Normal Send"), tr("Single Send"), tr("Send & Receive"), tr("Single Send&Rec")});
    // One adapter call takes at most 100 frames.
    frames->setRange(1, 100);
    interval->setRange(0, 600000);
    interval->setSuffix(tr(" ms"));
    times->setRange(1, 10000000);
    dataIncrease->setRange(0, 8);
    dataIncrease->setSpecialValueText(tr("none"));
    dataIncrease->setPrefix(tr("byte "));
    id->setMaxLength(8);

    auto *idRow = new QHBoxLayout;
    idRow->addWidget(id);
    idRow->addWidget(extended);
    idRow->addWidget(remote);
    auto *form = new QFormLayout;
    form->addRow(tr("ID (hex)"), idRow);
    form->addRow(tr("Data (hex)"), data);
    form->addRow(tr("Send type"), sendType);
    form->addRow(tr("Frames per burst"), frames);
    form->addRow(tr("Interval"), interval);
    form->addRow(tr("Bursts"), times);
    form->addRow(QString(), idIncrease);
    form->addRow(tr("Data increase"), dataIncrease);

    auto *stopBtn = new QPushButton(tr("Stop"));
    auto *addBtn = new QPushButton(tr("Add to tasks"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(sendBtn);
    buttons->addWidget(stopBtn);
    buttons->addWidget(addBtn);
    buttons->addWidget(status, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addStretch();

    connect(sendBtn, &QPushButton::clicked, this, &SendPanel::send);
    connect(stopBtn, &QPushButton::clicked, this, &SendPanel::stop);
    connect(addBtn, &QPushButton::clicked, this, [this] {
        taskObj t;
        QString error;
        if (task(t, error))
            emit addTaskRequested(t);
        else
            report(error);
    });
}

SendPanel::~SendPanel()
{
    stop();
}

void SendPanel::setChannel(int channel)
{
    ch = channel;
}

void SendPanel::setFrame(const QString &idText, const QString &dataText, bool ext, bool rtr)
{
    id->setText(idText);
    data->setText(dataText);
    extended->setChecked(ext);
    remote->setChecked(rtr);
}

void SendPanel::setRepeat(int f, int i, int t, bool idInc, int dataInc)
{
    frames->setValue(f);
    interval->setValue(i);
    times->setValue(t);
    idIncrease->setChecked(idInc);
    dataIncrease->setValue(dataInc);
}

bool SendPanel::task(taskObj &out, QString &error) const
{
    CanObj frame;
    frame.ExternFlag = extended->isChecked() ? 1 : 0;
    frame.RemoteFlag = remote->isChecked() ? 1 : 0;
    frame.SendType = quint8(sendType->currentIndex());
    bool ok = false;
    frame.ID = id->text().trimmed().toUInt(&ok, 16);
    if (!ok || frame.ID > (frame.ExternFlag ? 0x1FFFFFFFu : 0x7FFu)) {
        error = frame.ExternFlag ? tr("An extended ID is 0 to 1FFFFFFF.")
                                 : tr("A standard ID is 0 to 7FF.");
        return false;
    }
    // "11 22 33" and "112233" alike; at most eight bytes.
    const QString digits = data->text().remove(QRegularExpression(QStringLiteral("\\s")));
    static const QRegularExpression hexPairs(QStringLiteral("^([0-9A-Fa-f]{2}){0,8}$"));
    if (!hexPairs.match(digits).hasMatch()) {
        error = tr("Data are up to eight hexadecimal bytes, such as 11 22 33.");
        return false;
    }
    const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    frame.DataLen = quint8(bytes.size());
    memcpy(frame.Data, bytes.constData(), size_t(bytes.size()));

    CanData burst;
    burst.push(frame);
    out = taskObj();
    out.dataList << burst;
    out.frames = frames->value();
    out.interval = interval->value();
    out.times = times->value();
    out.idIncrease = idIncrease->isChecked() ? 1 : 0;
    out.dataIncrease = dataIncrease->value();
    return true;
}

bool SendPanel::send()
{
    taskObj t;
    QString error;
    if (!task(t, error)) {
        report(error);
        return false;
    }
    if (!DevCan::instance().isStarted(ulong(ch))) {
        report(tr("Start channel %1 first.").arg(ch));
        return false;
    }
    if (isSending()) {
        report(tr("A send is still running."));
        return false;
    }
    runner = std::make_unique<taskThread>(ulong(ch));
    refused = false;
    // The thread's signals come from its own thread and are queued to this one.
    connect(runner.get(), &taskThread::errorSignal, this, [this] { refused = true; });
    connect(runner.get(), &QThread::finished, this, [this] {
        report(refused ? tr("The adapter refused a burst.") : tr("Done."));
        emit sendFinished();
    });
    taskQueue queue;
    queue.enqueue(t);
    runner->setTaskQueue(queue);
    runner->setPage(0);
    runner->start();
    report(tr("Sending on channel %1...").arg(ch));
    return true;
}

void SendPanel::stop()
{
    if (!runner)
        return;
    runner->stop();
    runner->waitForFinish();
}

bool SendPanel::isSending() const
{
    return runner && !runner->isFinished();
}

QString SendPanel::statusText() const
{
    return status->text();
}

void SendPanel::report(const QString &message)
{
    status->setText(message);
}
