#include "busloadplot.h"

#include "kvbuffer.h"
#include "trafficstatus.h"

#include <QtCharts/QChart>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtWidgets/QGraphicsLayout>

using namespace QtCharts;

BusLoadPlot::BusLoadPlot(QWidget *parent) : QChartView(parent), timeAxis(new QValueAxis)
{
    auto *plot = new QChart;
    plot->setMargins(QMargins(0, 0, 0, 0));
    plot->setBackgroundVisible(false);
    plot->setPlotAreaBackgroundVisible(true);
    plot->setPlotAreaBackgroundBrush(Qt::white);
    plot->setPlotAreaBackgroundPen(QPen(QColor(0xB0, 0xB0, 0xB0)));
    plot->layout()->setContentsMargins(0, 0, 0, 0);
    plot->legend()->setAlignment(Qt::AlignRight);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    plot->legend()->setFont(small);
    auto *loadAxis = new QValueAxis;
    loadAxis->setRange(0, 100);
    loadAxis->setTickCount(2);
    loadAxis->setLabelsVisible(false);
    timeAxis->setRange(-SpanSeconds, 0);
    timeAxis->setLabelsVisible(false);
    for (QValueAxis *axis : {loadAxis, timeAxis}) {
        axis->setGridLineVisible(false);
        axis->setLineVisible(false);
    }
    plot->addAxis(timeAxis, Qt::AlignBottom);
    plot->addAxis(loadAxis, Qt::AlignLeft);
    const QColor colours[Channels] = {QColor(0x1F, 0x4E, 0x9A), QColor(0xC0, 0x50, 0x10),
                                      QColor(0x2E, 0x8B, 0x57), QColor(0x80, 0x30, 0x90)};
    for (int ch = 0; ch < Channels; ++ch) {
        lines[ch] = new QLineSeries;
        lines[ch]->setName(tr("CAN%1").arg(ch));
        lines[ch]->setPen(QPen(colours[ch], 1.5));
        plot->addSeries(lines[ch]);
        lines[ch]->attachAxis(timeAxis);
        lines[ch]->attachAxis(loadAxis);
        lines[ch]->setVisible(false);
        // A hidden line takes no room in the legend either.
        plot->legend()->markers(lines[ch]).first()->setVisible(false);
    }
    setChart(plot);
    setRenderHint(QPainter::Antialiasing);
    setToolTip(tr("Bus load of the running channels over the last minute, 0 to 100 %"));
    setFixedSize(300, 44); // the legend takes a third
    clock.start();
}

void BusLoadPlot::sample(const int (&bitRates)[Channels])
{
    const qint64 now = clock.elapsed();
    const qint64 msecs = now - lastSample;
    lastSample = now;
    const double seconds = now / 1000.0;
    for (int ch = 0; ch < Channels; ++ch) {
        const quint32 bits = quint32(KvBuffer::instance(ch).size());
        // Differences of the wrapping 32-bit total survive its wrap.
        latest[ch] = TrafficStatus::busLoad(bits - lastBits[ch], msecs, bitRates[ch]);
        lastBits[ch] = bits;
        QLineSeries *line = lines[ch];
        const bool running = bitRates[ch] > 0;
        if (running != line->isVisible()) {
            line->clear();
            line->setVisible(running);
            chart()->legend()->markers(line).first()->setVisible(running);
        }
        if (!running)
            continue;
        line->append(seconds, latest[ch]);
        int old = 0;
        while (old < line->count() && line->at(old).x() < seconds - SpanSeconds)
            ++old;
        if (old > 0)
            line->removePoints(0, old);
    }
    timeAxis->setRange(seconds - SpanSeconds, seconds);
}
