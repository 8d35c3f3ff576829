#include "trafficstatus.h"

#include "kvbuffer.h"
#include "kvglobalset.h"

#include <QtWidgets/QGridLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QStatusBar>

TrafficStatus::TrafficStatus(QStatusBar *bar) : QObject(bar)
{
    auto *figures = new QWidget;
    grid = new QGridLayout(figures);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(0);
    // Room for the usual sizes, so that the figures do not jitter as they grow.
    const char *const widest[FieldCount] = {"Frames: 0000000", "Bits: 000000000",
                                            "Bus load: 100.0 %", "Received: 0000000",
                                            "Sent: 0000000"};
    for (int f = 0; f < FieldCount; ++f) {
        QLabel *l = labels[f] = new QLabel;
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QLatin1String(widest[f])));
        grid->addWidget(l, f / 3, f % 3);
    }
    bar->addPermanentWidget(figures);
    update(0, 0);
}

void TrafficStatus::addNote(QWidget *note)
{
    grid->addWidget(note, 1, 2);
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
