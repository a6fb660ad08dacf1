#include "TrendChart.h"

#include <QPainter>
#include <QPen>

TrendChart::TrendChart(const TrendStyle& style, const TrendModel& model, const TrendScale& scale, QWidget* parent)
    : QWidget(parent), style_(style), model_(model), scale_(scale)
{
    setObjectName(QStringLiteral("pt"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    plot_.sv.reserve(kTrendSlots);
    plot_.pv.reserve(kTrendSlots);
    plot_.op.reserve(kTrendSlots);
    plot_.gapMarkers.reserve(kTrendSlots);
    device_.reserve(kTrendSlots);
}

QPointF TrendChart::toDevice(const QPointF& p, const QSize& size)
{
    const double sx = double(qMax(1, size.width() - 1)) / TrendGeometry::kChartWidth;
    const double sy = double(qMax(1, size.height() - 1)) / TrendGeometry::kChartHeight;
    return {p.x() * sx, p.y() * sy};
}

void TrendChart::mapLines(const QVector<QLineF>& chartLines, const QSize& size)
{
    const double sx = double(qMax(1, size.width() - 1)) / TrendGeometry::kChartWidth;
    const double sy = double(qMax(1, size.height() - 1)) / TrendGeometry::kChartHeight;
    device_.resize(chartLines.size());
    for (qsizetype i = 0; i < chartLines.size(); ++i) {
        const QLineF& l = chartLines[i];
        device_[i] = QLineF(l.x1() * sx, l.y1() * sy, l.x2() * sx, l.y2() * sy);
    }
}

void TrendChart::paintChart(QPainter& painter, const QSize& size)
{
    using namespace TrendGeometry;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setClipRect(QRect(QPoint(0, 0), size));
    painter.fillRect(QRect(QPoint(0, 0), size), style_.background);

    auto pen = [](const QColor& colour, int width, Qt::PenStyle style) {
        QPen p(colour, width, style, Qt::FlatCap, Qt::MiterJoin);
        p.setCosmetic(true);
        return p;
    };

    // Grid: 27 rows and 35 columns across the whole plot area.
    device_.resize(int(gridRows().size() + gridColumns().size()));
    int n = 0;
    for (int y : gridRows())
        device_[n++] = QLineF(toDevice({0.0, double(y)}, size), toDevice({double(kChartWidth), double(y)}, size));
    for (int x : gridColumns())
        device_[n++] = QLineF(toDevice({double(x), 0.0}, size), toDevice({double(x), double(kChartHeight)}, size));
    painter.setPen(pen(style_.grid, 1, Qt::DotLine));
    painter.drawLines(device_.constData(), int(device_.size()));

    plotTrend(model_.buffer(), model_.view(), scale_, plot_);

    auto drawList = [&](const QVector<QLineF>& lines, const QPen& p) {
        if (lines.isEmpty())
            return;
        mapLines(lines, size);
        painter.setPen(p);
        painter.drawLines(device_.constData(), int(device_.size()));
    };
    drawList(plot_.gapMarkers, pen(style_.gapMarker, 1, Qt::DashLine));
    drawList(plot_.sv, pen(style_.sv, 2, Qt::SolidLine));
    drawList(plot_.pv, pen(style_.pv, 2, Qt::SolidLine));
    drawList(plot_.op, pen(style_.op, 1, Qt::SolidLine));

    const RulerLine& ruler = model_.rulerLine();
    if (ruler.visible) {
        QLineF line(ruler.x, ruler.yTop, ruler.x, ruler.yBottom);
        if (clipToChart(line)) {
            painter.setPen(pen(ruler.colour, 2, Qt::SolidLine));
            painter.drawLine(QLineF(toDevice(line.p1(), size), toDevice(line.p2(), size)));
        }
    }
    painter.restore();
}

void TrendChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintChart(painter, size());
}
