#ifndef CHARGINGPLOT_H
#define CHARGINGPLOT_H

#include <QtCharts/QChartView>
#include <QtCore/QPointF>
#include <QtCore/QVector>

namespace QtCharts {
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

// One quantity of a charging session over time: what the BMS demands against what the charger
// gives, as two lines over seconds, with the unit on the value axis ("V").
//
// Points are taken as the messages come and drawn by flush(), once per refresh cycle, so a poll
// that brings thousands of messages redraws the chart once. The axes follow the points.
//
// Decided here: each line keeps its newest MaxPoints points (an hour of a 50 ms message is
// 72,000), so a window left open on a long session does not grow without end.
class ChargingPlot : public QtCharts::QChartView
{
    Q_OBJECT
public:
    enum Line { Demand, Output };
    static constexpr int MaxPoints = 20000;

    // `unit` titles the value axis, `quantity` the tool tip: "Voltage", "V".
    ChargingPlot(const QString &quantity, const QString &unit, QWidget *parent = nullptr);

    void add(Line line, double seconds, double value);
    // Draws what add() took since the last flush.
    void flush();
    void clear();

    QtCharts::QLineSeries *series(Line line) const { return lines[line]; }
    QtCharts::QValueAxis *timeAxis() const { return xAxis; }
    QtCharts::QValueAxis *valueAxis() const { return yAxis; }

private:
    QtCharts::QLineSeries *lines[2];
    QtCharts::QValueAxis *xAxis;
    QtCharts::QValueAxis *yAxis;
    QVector<QPointF> pending[2];
};

#endif // CHARGINGPLOT_H
