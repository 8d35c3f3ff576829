#include "signalplot.h"

#include "kvdbcdatabase.h"
#include "kvsignaldecoder.h"
#include "signalsmodel.h"

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QWheelEvent>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>

#include <cmath>
#include <limits>

using namespace QtCharts;

namespace {

// The chart view with the plot's pan and zoom. QChartView's own rubber band is kept for the
// Ctrl-drag only, since a plain drag pans.
class PanZoomView : public QChartView
{
public:
    PanZoomView(QChart *chart, SignalPlot *plot) : QChartView(chart), owner(plot)
    {
        setFocusPolicy(Qt::StrongFocus);
        setRenderHint(QPainter::Antialiasing);
    }

protected:
    void mousePressEvent(QMouseEvent *e) override
    {
        setFocus();
        if (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ControlModifier)) {
            owner->holdView();
            setRubberBand(QChartView::RectangleRubberBand);
            QChartView::mousePressEvent(e);
            return;
        }
        if (e->button() == Qt::LeftButton) {
            dragFrom = e->pos();
            dragging = true;
            e->accept();
            return;
        }
        QChartView::mousePressEvent(e);
    }

    void mouseMoveEvent(QMouseEvent *e) override
    {
        if (!dragging) {
            QChartView::mouseMoveEvent(e);
            return;
        }
        const QPoint step = e->pos() - dragFrom;
        dragFrom = e->pos();
        if (!step.isNull()) {
            owner->holdView();
            // The content moves with the pointer: the view goes the other way.
            chart()->scroll(-step.x(), step.y());
        }
        e->accept();
    }

    void mouseReleaseEvent(QMouseEvent *e) override
    {
        if (dragging && e->button() == Qt::LeftButton) {
            dragging = false;
            e->accept();
            return;
        }
        QChartView::mouseReleaseEvent(e);
        setRubberBand(QChartView::NoRubberBand);
    }

    void wheelEvent(QWheelEvent *e) override
    {
        const int delta = e->angleDelta().y();
        if (delta == 0)
            return;
        owner->holdView();
        chart()->zoom(delta > 0 ? 1.25 : 0.8);
        e->accept();
    }

    void keyPressEvent(QKeyEvent *e) override
    {
        const QRectF area = chart()->plotArea();
        const qreal dx = area.width() / 10, dy = area.height() / 10;
        switch (e->key()) {
        case Qt::Key_Left:
            owner->holdView();
            chart()->scroll(-dx, 0);
            break;
        case Qt::Key_Right:
            owner->holdView();
            chart()->scroll(dx, 0);
            break;
        case Qt::Key_Up:
            owner->holdView();
            chart()->scroll(0, dy);
            break;
        case Qt::Key_Down:
            owner->holdView();
            chart()->scroll(0, -dy);
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            owner->holdView();
            chart()->zoom(1.25);
            break;
        case Qt::Key_Minus:
            owner->holdView();
            chart()->zoom(0.8);
            break;
        case Qt::Key_Home:
            owner->resetView();
            break;
        default:
            QChartView::keyPressEvent(e);
            return;
        }
        e->accept();
    }

private:
    SignalPlot *owner;
    QPoint dragFrom;
    bool dragging = false;
};

} // namespace

SignalPlot::SignalPlot(QWidget *parent)
    : QWidget(parent), timeScale(new QValueAxis), reset(new QPushButton(tr("Reset"))),
      hint(new QLabel(tr("Tick signals on the Signals page to plot them. Drag or arrow keys: "
                         "pan; wheel: zoom; Ctrl-drag: zoom to the rectangle.")))
{
    auto *plot = new QChart;
    plot->setMargins(QMargins(2, 2, 2, 2));
    plot->legend()->setAlignment(Qt::AlignTop);
    timeScale->setTitleText(tr("Time (s)"));
    timeScale->setLabelFormat(QStringLiteral("%g"));
    timeScale->setRange(0, 1);
    plot->addAxis(timeScale, Qt::AlignBottom);
    chartView = new PanZoomView(plot, this);
    chartView->setMinimumHeight(120);

    hint->setWordWrap(true);
    hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    reset->setToolTip(tr("Fit the axes to the data and follow it again (Home)"));
    auto *bar = new QHBoxLayout;
    bar->addWidget(hint, 1);
    bar->addStretch();
    bar->addWidget(reset);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(chartView, 1);

    connect(reset, &QPushButton::clicked, this, &SignalPlot::resetView);
}

SignalPlot::~SignalPlot() = default;

QChart *SignalPlot::chart() const
{
    return chartView->chart();
}

void SignalPlot::setDatabase(const KvDbcDatabase *database)
{
    setSignals({});
    db = database;
}

void SignalPlot::setSignals(const QVector<int> &signalNumbers)
{
    QChart *plot = chart();
    plot->removeAllSeries(); // deletes them
    lines.clear();
    lineUnits.clear();
    for (QValueAxis *axis : qAsConst(unitAxes)) {
        plot->removeAxis(axis);
        delete axis;
    }
    unitAxes.clear();
    shown.clear();
    if (!db)
        return;
    for (int number : signalNumbers) {
        const int m = SignalsModel::messageOfSignal(*db, number);
        if (m < 0)
            continue;
        const KvDbcMessage &message = db->messages().at(m);
        const KvDbcSignal &s = message.signalList.at(number - message.firstSignal);
        QValueAxis *axis = unitAxes.value(s.unit);
        if (!axis) {
            axis = new QValueAxis;
            axis->setTitleText(s.unit.isEmpty() ? tr("(no unit)") : s.unit);
            // "1420" rather than "1420.0": the axis beside a small plot has little room.
            axis->setLabelFormat(QStringLiteral("%.4g"));
            plot->addAxis(axis, unitAxes.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
            unitAxes.insert(s.unit, axis);
        }
        auto *line = new QLineSeries;
        // The legend names the signal; the message only where two shown signals share a name.
        line->setName(s.name);
        line->setProperty("fullName", QStringLiteral("%1.%2").arg(message.name, s.name));
        plot->addSeries(line);
        line->attachAxis(timeScale);
        line->attachAxis(axis);
        shown << number;
        lines << line;
        lineUnits << s.unit;
    }
    QStringList names;
    for (QLineSeries *line : qAsConst(lines))
        names << line->name();
    for (QLineSeries *line : qAsConst(lines)) {
        if (names.count(line->name()) > 1)
            line->setName(line->property("fullName").toString());
    }
    hint->setVisible(shown.isEmpty());
    resetView();
}

QLineSeries *SignalPlot::series(int signalNumber) const
{
    const int i = shown.indexOf(signalNumber);
    return i < 0 ? nullptr : lines.at(i);
}

void SignalPlot::refresh(const KvSignalDecoder *decoder)
{
    QVector<KvSignalSample> samples;
    QVector<QPointF> points;
    for (int i = 0; i < shown.size(); ++i) {
        if (decoder)
            decoder->history(shown.at(i), samples);
        else
            samples.clear();
        points.resize(0);
        points.reserve(samples.size());
        for (const KvSignalSample &p : qAsConst(samples)) {
            // A float signal may carry NaN or infinities; a line cannot be drawn through them.
            if (std::isfinite(p.value))
                points << QPointF(p.time, p.value);
        }
        lines.at(i)->replace(points);
        // A signal seen a few times draws no visible line; its points show it.
        lines.at(i)->setPointsVisible(points.size() < 50);
    }
    if (following)
        fitAxes();
}

void SignalPlot::holdView()
{
    following = false;
}

void SignalPlot::resetView()
{
    following = true;
    chart()->zoomReset();
    fitAxes();
}

void SignalPlot::fitAxes()
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    double t0 = inf, t1 = -inf;
    QMap<QString, QPair<double, double>> ranges;
    for (int i = 0; i < lines.size(); ++i) {
        auto r = ranges.find(lineUnits.at(i));
        if (r == ranges.end())
            r = ranges.insert(lineUnits.at(i), {inf, -inf});
        for (const QPointF &p : lines.at(i)->pointsVector()) {
            t0 = qMin(t0, p.x());
            t1 = qMax(t1, p.x());
            r->first = qMin(r->first, p.y());
            r->second = qMax(r->second, p.y());
        }
    }
    if (t0 > t1)
        timeScale->setRange(0, 1);
    else
        timeScale->setRange(t0, t1 > t0 ? t1 : t0 + 1);
    // Round ticks (0.5 s, 25 rpm) rather than the data's own ends, which read as noise.
    timeScale->applyNiceNumbers();
    for (auto it = unitAxes.cbegin(); it != unitAxes.cend(); ++it) {
        const QPair<double, double> r = ranges.value(it.key(), {inf, -inf});
        if (r.first > r.second) {
            it.value()->setRange(0, 1);
            continue;
        }
        // A flat line sits in the middle of a unit-high band; a moving one gets a little room.
        const double pad = r.second > r.first ? (r.second - r.first) * 0.05 : 0.5;
        it.value()->setRange(r.first - pad, r.second + pad);
        it.value()->applyNiceNumbers();
    }
}
