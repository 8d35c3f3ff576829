#include "devicebar.h"

#include "kvdevicesession.h"

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

DeviceBar::DeviceBar(KvDeviceSession *s, QWidget *parent)
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
    for (uint rate : KvDeviceSession::bitRates())
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

    connect(openBtn, &QPushButton::clicked, this, [this] { run(open()); });
    connect(startBtn, &QPushButton::clicked, this, [this] { run(start()); });
    connect(stopBtn, &QPushButton::clicked, session, &KvDeviceSession::stop);
    connect(closeBtn, &QPushButton::clicked, session, &KvDeviceSession::stop);
    connect(wire, &QCheckBox::toggled, wireChannel, &QWidget::setEnabled);
    connect(session, &KvDeviceSession::stateChanged, this, &DeviceBar::updateButtons);
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

bool DeviceBar::open()
{
    used = config();
    session->setDevice(used.type, used.index);
    session->clearChannels();
    session->addChannel(int(used.channel), used.bitRate);
    if (used.wire >= 0)
        session->addChannel(used.wire, used.bitRate);
    return session->open();
}

bool DeviceBar::start()
{
    if (!session->start())
        return false;
    if (used.wire < 0)
        return true;
    // The simulated bus: wired channels hear each other, at the pace of the real bit rate. With
    // the maker's library the channels run unwired, and the bar says why.
    return session->wire(int(used.channel), used.wire) && session->setSimulatedBusTiming(true);
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
    const KvDeviceSession::State state = session->state();
    for (QWidget *w : std::initializer_list<QWidget *>{type, index, channel, bitRate, wire})
        w->setEnabled(state == KvDeviceSession::Closed);
    wireChannel->setEnabled(state == KvDeviceSession::Closed && wire->isChecked());
    openBtn->setEnabled(state == KvDeviceSession::Closed);
    startBtn->setEnabled(state == KvDeviceSession::Opened);
    stopBtn->setEnabled(state == KvDeviceSession::Started);
    closeBtn->setEnabled(state == KvDeviceSession::Opened);
}
