// Trend redraw cost: one paged view at zoom 4 (the most segments: 3 x 320
// curves plus the grid), painted at 1280 x 800, and a whole window redraw
// (labels and chart through the backing store) of a 1280 x 800 trend window.
//   bench_trend [runs]
#include "BenchStats.h"
#include "FakeHistory.h"
#include "TrendChart.h"
#include "TrendView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using bench::measure;
using bench::print;
using bench::Stats;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(10, atoi(argv[1])) : 2000;

    // A wavy history with a few gaps, so the curves cross many pixels.
    FakeHistory history;
    const QDateTime start(QDate(2026, 3, 1), QTime(10, 0, 0));
    history.addRun(1, 1500, start);
    history.addRun(1501, 500, start.addSecs(1499 + 400));
    for (HistoryRow& row : history.rows[0]) {
        row.pv = 700.0f + 500.0f * float(std::sin(row.id / 7.0));
        row.sv = 700.0f + 20.0f * float(std::sin(row.id / 50.0));
        row.op = 60.0f + 50.0f * float(std::cos(row.id / 5.0));
    }
    TrendScale scale;
    TrendView view(TrendStyle::realTime(), &history, scale);
    view.resize(1280, 800);
    view.show();
    view.load();
    for (int i = 0; i < 3; ++i)
        view.handleKey(Qt::Key_F1);
    view.handleKey(Qt::Key_F7);
    app.processEvents();
    std::printf("zoom %d, page size %d, cursor %d, chart widget %dx%d\n", view.model().view().zoomLevel,
                view.model().view().pageSize, view.model().view().sampleCursor, view.chart()->width(),
                view.chart()->height());

    QImage image(1280, 800, QImage::Format_ARGB32_Premultiplied);
    TrendChart* chart = view.chart();
    print("chart paint, paged zoom 4, 1280x800 image", runs, measure(runs, [&](int) {
              QPainter painter(&image);
              chart->paintChart(painter, image.size());
          }));
    print("RedrawTrend + repaint, 1280x800 window", runs, measure(runs, [&](int) {
              view.redrawTrend();
              chart->repaint(); // forced here to time the paint; the view only schedules update()
          }));
    print("Timer2 tick (RedrawTrend, coalesced paint)", runs, measure(runs, [&](int) {
              view.redrawTrend();
              app.processEvents();
          }));
    return 0;
}
