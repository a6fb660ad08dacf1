#pragma once
#include "TrendBuffer.h"
#include "TrendModel.h"
#include "TrendScale.h"

#include <QLineF>
#include <QVector>
#include <array>

// The chart's geometry in chart units: the plot area `pt` is 12008 x 7508
// units inside its frame `pt0` (12010 x 7510), origin top left, y downwards.
// The data area runs from x = 0 to 9000, the run-on area to 12000; the value
// scale runs from the bottom edge up 7500 units.
namespace TrendGeometry {

constexpr int kChartWidth = 12008;
constexpr int kChartHeight = 7508;
constexpr int kFrameWidth = 12010;
constexpr int kFrameHeight = 7510;
constexpr int kDataWidth = 9000;
constexpr int kScaleHeight = 7500;
constexpr int kLabelSpacing = 1500; // time label j sits under x = 1500 j
constexpr int kTimeLabels = 9;
constexpr int kValueLabels = 7;
constexpr qint32 kRulerMin = -1; // slider hc range
constexpr qint32 kRulerMax = 12001;

// Slot FirstSlot + 1, the first sample of the data area, is plotted at x = 0
// and slot s at (s - FirstSlot - 1) x SampleStep: slot 241 at x = 9000 on
// every zoom level, under time label 6 which names it.
constexpr int kSlotAtOrigin = 1;

// y of the 27 horizontal and x of the 35 vertical dotted grid lines.
const std::array<int, 27>& gridRows();
const std::array<int, 35>& gridColumns();

// The slot under the ruler at slider position `position`.
qint16 rulerSlot(qint32 position, float sampleStep, qint16 firstSlot);

// Date and time named by one time label.
struct AxisStamp {
    double date = 0.0;
    double time = 0.0;
};
// Labels 0..8: label j names slot 10 Z j + FirstSlot + 1. In the live view
// labels 7 and 8 are extrapolated from slot 241 by `extrapolationFactor` x
// d and 2 d, d = 0.00347222 Z / 30 days in single precision.
std::array<AxisStamp, kTimeLabels> timeAxis(const TrendBuffer& buffer, const TrendViewState& view,
                                            int extrapolationFactor);

// The PV/SV scale labels, bottom to top.
std::array<qint32, kValueLabels> yAxisValues(const TrendScale& scale);

// k = 7500 / TrendSpan (0 for a zero span) and TrendYOffset = k x TrendBottom.
struct ValueScale {
    float k = 0.0f;
    qint32 yOffset = 0;
};
ValueScale valueScale(const TrendScale& scale);
// y of a PV/SV value and of an OP percentage (0 % at the bottom, 120 % at the
// top of the scale). Wide integers: a narrow span can put values far off the
// chart, where they are clipped.
qint64 valueY(float value, const ValueScale& scale);
qint64 opY(float percent);
// x of plotted point i (0 = left edge).
int pointX(int i, float sampleStep);

// What PlotTrend draws, in chart units, already clipped to the chart.
struct TrendPlot {
    QVector<QLineF> gapMarkers;
    QVector<QLineF> sv;
    QVector<QLineF> pv;
    QVector<QLineF> op;
    void clear();
};
// Fills `out` (reusing its storage) with the gap markers and the three
// curves from slot FirstSlot + 1 to SampleCursor.
void plotTrend(const TrendBuffer& buffer, const TrendViewState& view, const TrendScale& scale, TrendPlot& out);

// Clips a segment to the chart; false when nothing of it is visible.
bool clipToChart(QLineF& line);

} // namespace TrendGeometry
