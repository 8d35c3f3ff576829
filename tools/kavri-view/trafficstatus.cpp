#include "trafficstatus.h"

#include "kvbuffer.h"
#include "kvglobalset.h"

#include <QtWidgets/QLabel>
#include <QtWidgets/QStatusBar>

TrafficStatus::TrafficStatus(QStatusBar *bar) : QObject(bar)
{
    for (QLabel *&l : labels) {
        l = new QLabel;
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("Received: 0000000")));
        bar->addPermanentWidget(l);
    }
    update(0, 0);
}

double TrafficStatus::busLoad(quint32 bits, qint64 msecs, int bitRate)
{
    if (msecs <= 0 || bitRate <= 0)
        return 0.0;
    return qMin(100.0, 100.0 * bits * 1000.0 / (double(msecs) * bitRate));
}

void TrafficStatus::update(int channel, int bitRate)
{
    KvBuffer &buffer = KvBuffer::instance(channel);
    const KvChannelSet &set = KvGlobalSet::instance().channelSets[channel];
    // The bit total is a 32-bit counter that wraps; differences of unsigned values survive that.
    const quint32 bits = quint32(buffer.size());
    if (channel != lastChannel || !clock.isValid()) {
        lastLoad = 0.0;
    } else {
        lastLoad = busLoad(bits - lastBits, clock.elapsed(), bitRate);
    }
    lastChannel = channel;
    lastBits = bits;
    clock.restart();

    labels[Frames]->setText(tr("Frames: %1").arg(quint32(buffer.frames())));
    labels[Bits]->setText(tr("Bits: %1").arg(bits));
    labels[Load]->setText(tr("Bus load: %1 %").arg(lastLoad, 0, 'f', 1));
    labels[Received]->setText(tr("Received: %1").arg(set.receiveCount.load()));
    labels[Sent]->setText(tr("Sent: %1").arg(set.sendCount.load()));
}
