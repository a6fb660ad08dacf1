#include "TrendGeometry.h"

#include "Rounding.h"

#include <algorithm>

namespace TrendGeometry {

const std::array<int, 27>& gridRows()
{
    static const std::array<int, 27> rows = [] {
        std::array<int, 27> r{};
        r[0] = 0;
        r[1] = kScaleHeight;
        for (int i = 0; i <= 24; ++i)
            r[2 + i] = roundHalfEven(312.5 * i); // 312.5 -> 312, 937.5 -> 938
        return r;
    }();
    return rows;
}

const std::array<int, 35>& gridColumns()
{
    static const std::array<int, 35> columns = [] {
        std::array<int, 35> c{};
        c[0] = 8;
        c[1] = kDataWidth;
        for (int i = 0; i <= 32; ++i)
            c[2 + i] = roundHalfEven(375.0 * i);
        return c;
    }();
    return columns;
}

qint16 rulerSlot(qint32 position, float sampleStep, qint16 firstSlot)
{
    int slot = firstSlot + kSlotAtOrigin;
    if (sampleStep > 0.0f)
        slot += roundHalfEven(double(position) / double(sampleStep));
    return qint16(std::clamp(slot, 0, kTrendSlots - 1));
}

std::array<AxisStamp, kTimeLabels> timeAxis(const TrendBuffer& buffer, const TrendViewState& view,
                                            int extrapolationFactor)
{
    std::array<AxisStamp, kTimeLabels> labels{};
    for (int j = 0; j < kTimeLabels; ++j) {
        const int slot = std::clamp(10 * view.zoomLevel * j + view.firstSlot + 1, 0, kTrendSlots - 1);
        labels[j] = {buffer.sampleDate[slot], buffer.sampleTime[slot]};
    }
    if (view.liveView()) {
        // Slots past 241 fill only as live samples arrive, so the two
        // rightmost labels say where the next samples will be.
        const float d = float(kGapThreshold * view.zoomLevel / 30.0);
        for (int n = 1; n <= 2; ++n) {
            const float offset = float(double(n) * extrapolationFactor * double(d));
            AxisStamp stamp{buffer.sampleDate[kLivePageSize], buffer.sampleTime[kLivePageSize] + double(offset)};
            if (stamp.time > 1.0) {
                stamp.time -= 1.0;
                stamp.date += 1.0;
            }
            labels[6 + n] = stamp;
        }
    }
    return labels;
}

std::array<qint32, kValueLabels> yAxisValues(const TrendScale& scale)
{
    std::array<qint32, kValueLabels> values{};
    const float step = float(double(scale.span) / 6.0);
    for (int i = 0; i < kValueLabels; ++i)
        values[i] = roundHalfEven(double(float(i) * step)) + scale.bottom;
    return values;
}

ValueScale valueScale(const TrendScale& scale)
{
    ValueScale v;
    // A zero span makes the division fail; k stays 0 and PV and SV lie along
    // the bottom edge.
    if (scale.span != 0)
        v.k = float(double(kScaleHeight) / double(scale.span));
    if (scale.bottom != 0)
        v.yOffset = roundHalfEven(double(v.k * float(scale.bottom)));
    return v;
}

qint64 valueY(float value, const ValueScale& scale)
{
    return qint64(kChartHeight) + scale.yOffset - roundHalfEven(double(scale.k * value));
}

qint64 opY(float percent) { return qint64(kChartHeight) - roundHalfEven(double(62.5f * percent)); }

int pointX(int i, float sampleStep) { return roundHalfEven(double(float(i) * sampleStep)); }

void TrendPlot::clear()
{
    gapMarkers.clear();
    sv.clear();
    pv.clear();
    op.clear();
}

bool clipToChart(QLineF& line)
{
    // Liang-Barsky against [0, width] x [0, height].
    double x1 = line.x1(), y1 = line.y1();
    const double dx = line.x2() - x1, dy = line.y2() - y1;
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1, kChartWidth - x1, y1, kChartHeight - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            if (t > t1)
                return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0)
                return false;
            t1 = std::min(t1, t);
        }
    }
    line = QLineF(x1 + t0 * dx, y1 + t0 * dy, x1 + t1 * dx, y1 + t1 * dy);
    return true;
}

void plotTrend(const TrendBuffer& buffer, const TrendViewState& view, const TrendScale& scale, TrendPlot& out)
{
    out.clear();
    const ValueScale vs = valueScale(scale);
    const float step = view.sampleStep;
    const int origin = view.firstSlot + kSlotAtOrigin; // slot at x = 0
    // Points 0..n: slots origin .. SampleCursor (60 Z + (C - 241) segments).
    const int lastSlot = std::min<int>(view.sampleCursor, kTrendSlots - 1);
    const int n = lastSlot - origin;
    if (origin < 0 || n < 0)
        return;
    auto add = [](QVector<QLineF>& list, QLineF line) {
        if (clipToChart(line))
            list.append(line);
    };

    for (int i = 0; i <= n; ++i) {
        if (buffer.gapMark[origin + i] > 0) {
            const double x = pointX(i, step);
            add(out.gapMarkers, QLineF(x, 0.0, x, double(kDataWidth)));
        }
    }

    const auto& pvValues = buffer.channelValue[TrendBuffer::PV];
    const auto& opValues = buffer.channelValue[TrendBuffer::OP];
    const auto& svValues = buffer.channelValue[TrendBuffer::SV];
    double x1 = pointX(0, step);
    double svY1 = double(valueY(svValues[origin], vs));
    double pvY1 = double(valueY(pvValues[origin], vs));
    double opY1 = double(opY(opValues[origin]));
    for (int i = 1; i <= n; ++i) {
        const int s = origin + i;
        const double x2 = pointX(i, step);
        const double svY2 = double(valueY(svValues[s], vs));
        const double pvY2 = double(valueY(pvValues[s], vs));
        const double opY2 = double(opY(opValues[s]));
        add(out.sv, QLineF(x1, svY1, x2, svY2));
        add(out.pv, QLineF(x1, pvY1, x2, pvY2));
        add(out.op, QLineF(x1, opY1, x2, opY2));
        x1 = x2;
        svY1 = svY2;
        pvY1 = pvY2;
        opY1 = opY2;
    }
}

} // namespace TrendGeometry
