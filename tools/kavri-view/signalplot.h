#ifndef SIGNALPLOT_H
#define SIGNALPLOT_H

#include <QtCore/QMap>
#include <QtCore/QVector>
#include <QtWidgets/QWidget>

class KvDbcDatabase;
class KvSignalDecoder;
class QLabel;
class QPushButton;

namespace QtCharts {
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

// Chosen signals over time: one line per signal from the decoder's history, a time axis in
// seconds of adapter time and one value axis per unit (titled with the unit, alternately left
// and right), so a speed and a temperature are each read on their own scale.
//
// While the plot follows, every refresh fits the axes to the data. Dragging pans, the arrow keys
// pan, the wheel and "+"/"-" zoom and a Ctrl-drag zooms into the rectangle drawn; any of these
// stops the following so that the view stays where the user put it, and "Reset" (or Home)
// returns to following.
class SignalPlot : public QWidget
{
    Q_OBJECT
public:
    explicit SignalPlot(QWidget *parent = nullptr);
    ~SignalPlot() override;

    // The database whose signal numbers setSignals() takes; null forgets every line.
    void setDatabase(const KvDbcDatabase *database);
    // One line per signal number; the previous lines go.
    void setSignals(const QVector<int> &signalNumbers);
    QVector<int> signalNumbers() const { return shown; }
    // Takes up the histories; null clears the lines.
    void refresh(const KvSignalDecoder *decoder);

    // Fits the axes to the data again and follows it from now on.
    void resetView();
    bool isFollowing() const { return following; }
    // Stops following; the view's pan and zoom call this.
    void holdView();

    QtCharts::QChart *chart() const;
    QtCharts::QChartView *view() const { return chartView; }
    QtCharts::QValueAxis *timeAxis() const { return timeScale; }
    // The line of a shown signal, or null.
    QtCharts::QLineSeries *series(int signalNumber) const;
    // The value axis of a unit ("" for signals without one), or null.
    QtCharts::QValueAxis *unitAxis(const QString &unit) const { return unitAxes.value(unit); }
    QPushButton *resetButton() const { return reset; }

private:
    void fitAxes();

    const KvDbcDatabase *db = nullptr;
    QtCharts::QChartView *chartView;
    QtCharts::QValueAxis *timeScale;
    QPushButton *reset;
    QLabel *hint;
    QVector<int> shown;
    QVector<QtCharts::QLineSeries *> lines;         // beside `shown`
    QVector<QString> lineUnits;                     // beside `shown`
    QMap<QString, QtCharts::QValueAxis *> unitAxes; // unit -> its axis
    bool following = true;
};

#endif // SIGNALPLOT_H
