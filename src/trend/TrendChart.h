#pragma once
#include "TrendGeometry.h"
#include "TrendModel.h"
#include "TrendScale.h"
#include "TrendStyle.h"

#include <QWidget>

// The plot area `pt`: paints grid, gap markers, curves and the ruler line
// from the model's buffer, its 12008 x 7508 chart units stretched over the
// widget. It holds no data of its own and never touches the history.
class TrendChart : public QWidget {
    Q_OBJECT
public:
    TrendChart(const TrendStyle& style, const TrendModel& model, const TrendScale& scale, QWidget* parent = nullptr);

    // Where a chart point lands on a widget (or image) of `size`: both edges
    // of the chart map onto the outermost pixels, so a curve on the bottom
    // edge stays visible.
    static QPointF toDevice(const QPointF& chartPoint, const QSize& size);

    // The whole chart onto `painter` over `size` pixels (paintEvent, benches).
    void paintChart(QPainter& painter, const QSize& size);

    QSize sizeHint() const override { return {900, 563}; }
    QSize minimumSizeHint() const override { return {240, 150}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void mapLines(const QVector<QLineF>& chartLines, const QSize& size);

    const TrendStyle& style_;
    const TrendModel& model_;
    const TrendScale& scale_;
    // Reused between paints, so a repaint does not allocate once warmed up.
    TrendGeometry::TrendPlot plot_;
    QVector<QLineF> device_;
};
