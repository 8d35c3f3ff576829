#include "chargingplot.h"

#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtWidgets/QGraphicsLayout>

#include <algorithm>

using namespace QtCharts;

ChargingPlot::ChargingPlot(const QString &quantity, const QString &unit, QWidget *parent)
    : QChartView(parent), xAxis(new QValueAxis), yAxis(new QValueAxis)
{
    auto *plot = new QChart;
    plot->setMargins(QMargins(2, 2, 2, 2));
    plot->layout()->setContentsMargins(0, 0, 0, 0);
    plot->setBackgroundRoundness(0);
    plot->legend()->setAlignment(Qt::AlignTop);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    plot->legend()->setFont(small);
    xAxis->setTitleText(tr("time (s)"));
    // The unit alone titles the value axis: a narrow page keeps its room for the labels.
    yAxis->setTitleText(unit);
    setToolTip(tr("%1 demanded by the BMS (BCL) and given by the charger (CCS), in %2")
                   .arg(quantity, unit));
    for (QValueAxis *axis : {xAxis, yAxis}) {
        axis->setTitleFont(small);
        axis->setLabelsFont(small);
        axis->setLabelFormat(QStringLiteral("%g"));
        axis->setRange(0, 1);
    }
    plot->addAxis(xAxis, Qt::AlignBottom);
    plot->addAxis(yAxis, Qt::AlignLeft);
    const QString names[2] = {tr("demand (BCL)"), tr("output (CCS)")};
    const QColor colours[2] = {QColor(0xC0, 0x50, 0x10), QColor(0x1F, 0x4E, 0x9A)};
    for (int i = 0; i < 2; ++i) {
        lines[i] = new QLineSeries;
        lines[i]->setName(names[i]);
        lines[i]->setPen(QPen(colours[i], 1.5));
        plot->addSeries(lines[i]);
        lines[i]->attachAxis(xAxis);
        lines[i]->attachAxis(yAxis);
    }
    setChart(plot);
    setRenderHint(QPainter::Antialiasing);
    // The splitter decides; the chart's own hint would hold the page wider than a small window.
    setMinimumSize(160, 110);
}

void ChargingPlot::add(Line line, double seconds, double value)
{
    if (qIsFinite(value))
        pending[line].append(QPointF(seconds, value));
}

void ChargingPlot::flush()
{
    if (pending[Demand].isEmpty() && pending[Output].isEmpty())
        return;
    for (int i = 0; i < 2; ++i) {
        QVector<QPointF> &points = pending[i];
        if (points.size() > MaxPoints)
            points.remove(0, points.size() - MaxPoints);
        const int excess = lines[i]->count() + points.size() - MaxPoints;
        if (excess > 0)
            lines[i]->removePoints(0, excess);
        lines[i]->append(points.toList());
        points.clear();
    }
    // The axes span every point of both lines, the values with a margin so a flat line stays
    // off the frame.
    double left = qInf(), right = -qInf(), low = qInf(), high = -qInf();
    for (const QLineSeries *line : lines) {
        for (const QPointF &p : line->pointsVector()) {
            left = std::min(left, p.x());
            right = std::max(right, p.x());
            low = std::min(low, p.y());
            high = std::max(high, p.y());
        }
    }
    if (!(left <= right))
        return;
    const double margin = std::max((high - low) * 0.05, 1.0);
    xAxis->setRange(left, std::max(right, left + 1));
    yAxis->setRange(low - margin, high + margin);
    for (QValueAxis *axis : {xAxis, yAxis})
        axis->applyNiceNumbers();
}

void ChargingPlot::clear()
{
    for (int i = 0; i < 2; ++i) {
        lines[i]->clear();
        pending[i].clear();
    }
    xAxis->setRange(0, 1);
    yAxis->setRange(0, 1);
}
