#include "devicebar.h"

#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpinBox>

namespace {

// 500000 -> "500k", 1000000 -> "1M"
QString rateText(uint rate)
{
    if (rate >= 1000000 && rate % 1000000 == 0)
        return QStringLiteral("%1M").arg(rate / 1000000);
    return QStringLiteral("%1k").arg(rate / 1000);
}

} // namespace

DeviceBar::DeviceBar(DeviceSession *s, QWidget *parent)
    : QWidget(parent), session(s), type(new QComboBox), index(new QSpinBox), channel(new QSpinBox),
      bitRate(new QComboBox), wire(new QCheckBox(tr("Wire to"))), wireChannel(new QSpinBox),
      openBtn(new QPushButton(tr("Open"))), startBtn(new QPushButton(tr("Start"))),
      stopBtn(new QPushButton(tr("Stop"))), closeBtn(new QPushButton(tr("Close")))
{
    // Short texts: the whole bar fits a 1024-pixel window.
    type->addItem(tr("Type 4 (2 ch.)"), 4);
    type->addItem(tr("Type 14 (4 ch.)"), 14);
    type->addItem(tr("Type 3 (1 ch.)"), 3);
    type->setToolTip(tr("Adapter type and the number of its channels"));
    index->setRange(0, 15);
    channel->setRange(0, 3);
    wireChannel->setRange(0, 3);
    wireChannel->setValue(1);
    wire->setChecked(true);
    wire->setToolTip(tr("Start this channel too and wire it to the working channel on the "
                        "simulated bus"));
    for (uint rate : DeviceSession::bitRates())
        bitRate->addItem(rateText(rate), rate);
    bitRate->setCurrentText(QStringLiteral("500k"));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(type);
    layout->addWidget(new QLabel(tr("Index")));
    layout->addWidget(index);
    layout->addWidget(new QLabel(tr("Channel")));
    layout->addWidget(channel);
    layout->addWidget(new QLabel(tr("Bit rate")));
    layout->addWidget(bitRate);
    layout->addWidget(wire);
    layout->addWidget(wireChannel);
    layout->addSpacing(12);
    for (QPushButton *b : {openBtn, startBtn, stopBtn, closeBtn})
        layout->addWidget(b);
    layout->addStretch();

    connect(openBtn, &QPushButton::clicked, this, [this] { run(session->open(config())); });
    connect(startBtn, &QPushButton::clicked, this, [this] { run(session->start()); });
    connect(stopBtn, &QPushButton::clicked, session, &DeviceSession::stop);
    connect(closeBtn, &QPushButton::clicked, session, &DeviceSession::close);
    connect(wire, &QCheckBox::toggled, wireChannel, &QWidget::setEnabled);
    connect(session, &DeviceSession::stateChanged, this, &DeviceBar::updateButtons);
    updateButtons();
}

DeviceConfig DeviceBar::config() const
{
    DeviceConfig c;
    c.type = type->currentData().toUInt();
    c.index = uint(index->value());
    c.channel = uint(channel->value());
    c.bitRate = bitRate->currentData().toUInt();
    c.wire =
        wire->isChecked() && wireChannel->value() != channel->value() ? wireChannel->value() : -1;
    return c;
}

void DeviceBar::setConfig(const DeviceConfig &c)
{
    if (type->findData(c.type) >= 0)
        type->setCurrentIndex(type->findData(c.type));
    index->setValue(int(c.index));
    channel->setValue(int(c.channel));
    if (bitRate->findData(c.bitRate) >= 0)
        bitRate->setCurrentIndex(bitRate->findData(c.bitRate));
    wire->setChecked(c.wire >= 0);
    if (c.wire >= 0)
        wireChannel->setValue(c.wire);
    updateButtons();
}

void DeviceBar::run(bool ok)
{
    if (!ok)
        emit failed(session->errorString());
}

void DeviceBar::updateButtons()
{
    const DeviceSession::State state = session->state();
    for (QWidget *w : std::initializer_list<QWidget *>{type, index, channel, bitRate, wire})
        w->setEnabled(state == DeviceSession::Closed);
    wireChannel->setEnabled(state == DeviceSession::Closed && wire->isChecked());
    openBtn->setEnabled(state == DeviceSession::Closed);
    startBtn->setEnabled(state == DeviceSession::Opened);
    stopBtn->setEnabled(state == DeviceSession::Started);
    closeBtn->setEnabled(state != DeviceSession::Closed);
}
