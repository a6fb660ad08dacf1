// Trend page load from a full ring: 321 rows out of 65500, with and without
// the wrap, through HistoryStore into the TrendBuffer; and the time jump's
// nearest-sample search.
//   bench_trend_page [folder]   (default: a temporary folder)
#include "BenchStats.h"
#include "HistoryStore.h"
#include "TrendModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

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
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const QString path = QDir(folder).filePath(QStringLiteral("bench_trend_page.db"));
    QFile::remove(path);

    HistoryStore store(QStringLiteral("bench_trend_page"));
    if (!store.open(path)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(store.lastError()));
        return 1;
    }
    // A full short ring whose newest id is 30000, one sample a second.
    const qint32 newest = 30000;
    QList<HistoryRow> rows;
    rows.reserve(kRingSize);
    const double day0 = 46000.0;
    for (qint32 n = 0; n < kRingSize; ++n) {
        const qint32 id = (newest + n) % kRingSize + 1; // oldest first: newest+1 .. 65500, 1 .. newest
        const qint64 second = 36000 + n;
        rows.append(HistoryRow{id, day0 + double(second / 86400), double(second % 86400) / 86400.0,
                               float(n % 1000), 50.0f, 500.0f, 0.0f});
    }
    QElapsedTimer fill;
    fill.start();
    if (!store.writeSamples(HistoryRing::Short, rows)) {
        std::fprintf(stderr, "cannot fill: %s\n", qPrintable(store.lastError()));
        return 1;
    }
    std::printf("filled %d rows in %.1f s (%s)\n", int(rows.size()), double(fill.elapsed()) / 1000.0, qPrintable(path));

    TrendModel model(HistoryRing::Short, &store);
    model.load();
    const int runs = 300;
    print("LoadTrendPage 321 rows, no wrap", runs, measure(runs, [&](int i) {
              model.viewForTest().pageSize = 321;
              model.viewForTest().pageEndId = 1000 + (i * 197) % 60000;
              model.loadTrendPage();
          }));
    int filled = 0;
    for (int s = 1; s <= 321; ++s)
        filled += model.buffer().sampleTime[s] != 0.0;
    std::printf("last page: %d of 321 slots filled\n", filled);
    print("LoadTrendPage 321 rows, wrapping round id 1", runs, measure(runs, [&](int i) {
              model.viewForTest().pageSize = 321;
              model.viewForTest().pageEndId = 1 + i % 300;
              model.loadTrendPage();
          }));
    print("StartLivePage (counter read + 241 rows)", runs, measure(runs, [&](int) { model.startLivePage(); }));
    print("idNearest over the full ring (F5)", 30, measure(30, [&](int i) {
              store.idNearest(HistoryRing::Short, day0, double(40000 + i * 1000) / 86400.0);
          }));
    return 0;
}
