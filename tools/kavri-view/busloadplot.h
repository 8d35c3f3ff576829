#ifndef BUSLOADPLOT_H
#define BUSLOADPLOT_H

#include <QtCharts/QChartView>
#include <QtCore/QElapsedTimer>

namespace QtCharts {
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

// A small live plot of the bus load, one line per running channel over the last minute, for the
// status bar. Each sample is the bits a channel's buffer counted since the previous sample in
// percent of the channel's bit rate (TrafficStatus::busLoad); a channel that does not run shows
// no line.
class BusLoadPlot : public QtCharts::QChartView
{
    Q_OBJECT
public:
    static constexpr int Channels = 4;
    static constexpr int SpanSeconds = 60;

    explicit BusLoadPlot(QWidget *parent = nullptr);

    // One sample of every channel, at `bitRates[ch]` bit/s (0 for a channel that does not run).
    void sample(const int (&bitRates)[Channels]);
    // The line of a channel: (seconds, percent) points, oldest first.
    QtCharts::QLineSeries *series(int channel) const { return lines[channel]; }
    // The newest load of a channel in percent.
    double load(int channel) const { return latest[channel]; }

private:
    QtCharts::QLineSeries *lines[Channels];
    QtCharts::QValueAxis *timeAxis;
    quint32 lastBits[Channels] = {};
    double latest[Channels] = {};
    QElapsedTimer clock;
    qint64 lastSample = 0;
};

#endif // BUSLOADPLOT_H
