// Trend page loads from a full ring (65500 rows) through HistoryStore into
// the TrendBuffer: the live page, a page of 321 rows with and without the
// wrap; and the time jump's nearest-sample search. Checks first that both
// reads give what the whole-ring scans give.
//   bench_trend_page [folder]   (default: a temporary folder)
#include "BenchStats.h"
#include "HistoryStore.h"
#include "TrendModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
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
        rows.append(HistoryRow{id, day0 + double(second / 86400), double(second % 86400) / 86400.0, float(n % 1000),
                               50.0f, 500.0f, 0.0f});
    }
    QElapsedTimer fill;
    fill.start();
    if (!store.writeSamples(HistoryRing::Short, rows)) {
        std::fprintf(stderr, "cannot fill: %s\n", qPrintable(store.lastError()));
        return 1;
    }
    std::printf("filled %d rows in %.1f s (%s)\n", int(rows.size()), double(fill.elapsed()) / 1000.0, qPrintable(path));

    // The whole-ring scans the reads replace, as the reference for their results.
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("bench_trend_page"), false);
    const auto scanPage = [&](qint32 pageEndId, qint32 pageSize) {
        QList<qint32> ids;
        QSqlQuery q(db);
        q.exec(HistoryStore::pageQuery(HistoryRing::Short, pageEndId, pageSize));
        while (ids.size() < pageSize && q.next())
            ids << q.value(0).toInt();
        return ids;
    };
    const auto scanNearest = [&](double when) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("select w_id from pv_data where w_id is not null and w_date is not null and w_time "
                                 "is not null order by abs(w_date + w_time - ?), w_date desc, w_time desc limit 1"));
        q.addBindValue(when);
        return q.exec() && q.next() ? q.value(0).toInt() : -1;
    };
    int mismatches = 0;
    for (const qint32 end : {0, 1, 150, 320, 321, 30000, 65500}) {
        QList<qint32> ids;
        for (const HistoryRow& r : store.loadPage(HistoryRing::Short, end, 321).value_or(QVector<HistoryRow>{}))
            ids << r.id;
        mismatches += ids != scanPage(end, 321);
    }
    for (int n = 0; n < 40; ++n) {
        const double second = 35000 + n * 1700 + 0.5 * (n % 2);
        const double time = second / 86400.0;
        mismatches += store.idNearest(HistoryRing::Short, day0, time).value_or(-1) != scanNearest(day0 + time);
    }
    std::printf("results against the whole-ring scans: %d mismatches\n", mismatches);

    TrendModel model(HistoryRing::Short, &store);
    model.load();
    const int runs = 300;
    print("live page (counter read + 241 rows)", runs, measure(runs, [&](int) { model.startLivePage(); }));
    print("page of 321 rows, no wrap", runs, measure(runs, [&](int i) {
              model.viewForTest().pageSize = 321;
              model.viewForTest().pageEndId = 1000 + (i * 197) % 60000;
              model.loadTrendPage();
          }));
    print("page of 321 rows across the wrap", runs, measure(runs, [&](int i) {
              model.viewForTest().pageSize = 321;
              model.viewForTest().pageEndId = 1 + i % 300;
              model.loadTrendPage();
          }));
    int filled = 0;
    for (int s = 1; s <= 321; ++s)
        filled += model.buffer().sampleTime[s] != 0.0;
    std::printf("last page: %d of 321 slots filled\n", filled);
    // Targets over both laps of the ring, before its oldest and after its newest.
    print("F5 nearest sample (idNearest)", 100,
          measure(100, [&](int i) { store.idNearest(HistoryRing::Short, day0, double(35000 + i * 670) / 86400.0); }));
    print("the whole-ring scan it replaces", 10,
          measure(10, [&](int i) { scanNearest(day0 + double(40000 + i * 6000) / 86400.0); }));
    return 0;
}
