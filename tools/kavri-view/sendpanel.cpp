#include "sendpanel.h"

#include "devcan.h"
#include "taskthread.h"

#include <QtCore/QRegularExpression>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QGridLayout>
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
      idIncrease(new QCheckBox(tr("ID + 1 after each burst"))), dataIncrease(new QComboBox),
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
    // The task counts data bytes from 1; the window names them D0 to D7 everywhere.
    dataIncrease->addItem(tr("none"));
    for (int byte = 0; byte < 8; ++byte)
        dataIncrease->addItem(QStringLiteral("D%1").arg(byte));
    id->setMaxLength(8);
    // A long message must not widen the page: it is cut at the page's edge, whole in its tip.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    // The frame on the left, its repetition on the right: five short rows fit a small window.
    auto *flags = new QHBoxLayout;
    flags->addWidget(extended);
    flags->addWidget(remote);
    flags->addStretch();
    auto *form = new QGridLayout;
    auto field = [form](int row, int column, const QString &title, QWidget *w) {
        form->addWidget(new QLabel(title), row, column);
        form->addWidget(w, row, column + 1);
    };
    field(0, 0, tr("ID (hex)"), id);
    form->addLayout(flags, 1, 1);
    field(2, 0, tr("Data (hex)"), data);
    field(3, 0, tr("Send type"), sendType);
    field(4, 0, tr("Data increase"), dataIncrease);
    field(0, 2, tr("Frames per burst"), frames);
    field(1, 2, tr("Interval"), interval);
    field(2, 2, tr("Bursts"), times);
    form->addWidget(idIncrease, 3, 2, 1, 2);
    form->setColumnStretch(1, 3);
    form->setColumnStretch(3, 2);

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
    dataIncrease->setCurrentIndex(dataInc >= 0 && dataInc <= 8 ? dataInc : 0);
}

bool SendPanel::task(taskObj &out, QString &error) const
{
    CanObj frame;
    frame.ExternFlag = extended->isChecked() ? 1 : 0;
    frame.RemoteFlag = remote->isChecked() ? 1 : 0;
    frame.SendType = quint8(sendType->currentIndex());
    bool ok = false;
    const QString idText = id->text().trimmed();
    frame.ID = idText.toUInt(&ok, 16);
    if (idText.isEmpty()) {
        error = tr("ID: empty; type a hexadecimal identifier such as 123.");
        return false;
    }
    if (!ok) {
        error = tr("ID: %1 is not hexadecimal").arg(idText);
        return false;
    }
    if (frame.ID > (frame.ExternFlag ? 0x1FFFFFFFu : 0x7FFu)) {
        error = frame.ExternFlag
                    ? tr("ID: %1 is above 1FFFFFFF, the largest extended ID.").arg(idText)
                    : tr("ID: %1 is above 7FF, the largest standard ID.").arg(idText);
        return false;
    }
    // "11 22 33" and "112233" alike; at most eight bytes.
    const QString digits = data->text().remove(QRegularExpression(QStringLiteral("\\s")));
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]*$"));
    if (!hexDigits.match(digits).hasMatch()) {
        error = tr("Data: %1 is not hexadecimal.").arg(data->text().trimmed());
        return false;
    }
    if (digits.size() % 2 != 0) {
        error = tr("Data: %1 has half a byte; write each byte as two digits.")
                    .arg(data->text().trimmed());
        return false;
    }
    if (digits.size() > 16) {
        error = tr("Data: %1 bytes; a frame carries at most 8.").arg(digits.size() / 2);
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
    out.dataIncrease = dataIncrease->currentIndex();
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
    status->setToolTip(message);
}
