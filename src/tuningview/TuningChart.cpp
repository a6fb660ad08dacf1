#include "TuningChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor kPvColour(0, 0, 255);
const QColor kModelColour(220, 0, 0);
const QColor kOpColour(0, 150, 0);

} // namespace

TuningChart::TuningChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TuningChart"));
    setMinimumSize(320, 180);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void TuningChart::setData(std::vector<double> pv, std::vector<double> op, std::vector<double> modelPv, double period)
{
    pv_ = std::move(pv);
    op_ = std::move(op);
    model_ = std::move(modelPv);
    period_ = period > 0.0 ? period : 1.0;
    update();
}

void TuningChart::clear() { setData({}, {}, {}, 1.0); }

void TuningChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plot = QRectF(rect()).adjusted(56, 12, -48, -28);
    painter.setPen(Qt::gray);
    painter.drawRect(plot);
    if (pv_.size() < 2)
        return;

    double low = *std::min_element(pv_.begin(), pv_.end());
    double high = *std::max_element(pv_.begin(), pv_.end());
    for (double m : model_) {
        low = std::min(low, m);
        high = std::max(high, m);
    }
    const double margin = std::max((high - low) * 0.05, 1.0);
    low -= margin;
    high += margin;
    const double n = double(pv_.size() - 1);
    auto x = [&](std::size_t k) { return plot.left() + plot.width() * double(k) / n; };
    auto yPv = [&](double v) { return plot.bottom() - plot.height() * (v - low) / (high - low); };
    auto yOp = [&](double v) { return plot.bottom() - plot.height() * std::clamp(v, 0.0, 100.0) / 100.0; };

    auto curve = [&](const std::vector<double>& values, auto y, const QPen& pen) {
        if (values.size() < 2)
            return;
        QPainterPath path(QPointF(x(0), y(values[0])));
        for (std::size_t k = 1; k < values.size(); ++k)
            path.lineTo(x(k), y(values[k]));
        painter.setPen(pen);
        painter.drawPath(path);
    };
    curve(op_, yOp, QPen(kOpColour, 1.0));
    curve(pv_, yPv, QPen(kPvColour, 1.0));
    curve(model_, yPv, QPen(kModelColour, 1.5, Qt::DashLine));

    painter.setPen(Qt::black);
    const QFontMetrics fm(font());
    for (int i = 0; i <= 4; ++i) {
        const double f = i / 4.0;
        const double yy = plot.bottom() - plot.height() * f;
        painter.drawText(QRectF(0, yy - 8, plot.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(low + (high - low) * f, 'f', 1));
        painter.drawText(QRectF(plot.right() + 4, yy - 8, 44, 16), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1%").arg(int(100 * f)));
    }
    painter.drawText(QRectF(plot.left(), plot.bottom() + 4, plot.width(), fm.height()), Qt::AlignRight,
                     QStringLiteral("%1 s").arg(std::lround(n * period_)));
    const QString legend[] = {QStringLiteral("PV"), tr("模型PV"), QStringLiteral("OP")};
    const QColor colours[] = {kPvColour, kModelColour, kOpColour};
    double lx = plot.left() + 8;
    for (int i = 0; i < 3; ++i) {
        painter.setPen(colours[i]);
        painter.drawText(QPointF(lx, plot.top() + fm.ascent() + 4), legend[i]);
        lx += fm.horizontalAdvance(legend[i]) + 16;
    }
}
