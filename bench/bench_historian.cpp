// The history on a PostgreSQL server: one sample's commit (beside the same
// statements from psql on the same server), a 321-row page
// from a full ring (read directly, and through the trend's threaded reader
// from request to rows in the trend buffer), and the catch-up after an outage (the recorder's kept
// samples written in one transaction).
//   bench_historian [postgresql://...URL]
// Without a URL it starts a throw-away local server (the tests' script) and
// stops it at the end.
#include "BenchStats.h"
#include "HistoryReader.h"
#include "HistoryStore.h"
#include "TrendModel.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QLocale>
#include <QUrlQuery>

#include <algorithm>

#include <cstdio>

using bench::measure;
using bench::print;

namespace {

QList<HistoryRow> rowsFrom(qint32 firstId, int count, double startDay)
{
    QList<HistoryRow> rows;
    for (int i = 0; i < count; ++i) {
        const double t = double(i) / 86400.0;
        rows << HistoryRow{
            firstId + i, startDay + std::floor(t), t - std::floor(t), 300.0f + float(i % 50), 45.0f, 300.0f, 0.0f};
    }
    return rows;
}

QString withStation(const QString& url, const QString& station)
{
    return url + (url.contains(QLatin1Char('?')) ? QStringLiteral("&station=") : QStringLiteral("?station=")) + station;
}

// One sample's statements as the store sends them, through psql with its
// own per-statement timing; a sample's figure is the sum of its statements.
bench::Stats psqlCommits(const QString& url, const QString& schema, int n, int firstId)
{
    QString script = QStringLiteral("set search_path to %1;\n\\timing on\n").arg(schema);
    for (int i = 0; i < n; ++i) {
        const int id = firstId + i;
        script += QStringLiteral("begin;\nselect * from  pv_data where w_id=%1;\n"
                                 "insert into pv_data (w_id, w_date, w_time, w_pv, w_op, w_sv, w_aux) "
                                 "values (%1, 46001, %2, 300, 45, 300, 0);\n"
                                 "update sl_void set w_last=%1, w_last2=%1;\ncommit;\n")
                      .arg(id)
                      .arg(QString::number(double(i) / 86400.0, 'g', 17));
    }
    QProcess psql;
    psql.start(QStringLiteral("psql"),
               {QStringLiteral("-qAtX"), QStringLiteral("-d"), url, QStringLiteral("-f"), QStringLiteral("-")});
    if (!psql.waitForStarted(5000))
        return {};
    psql.write(script.toUtf8());
    psql.closeWriteChannel();
    if (!psql.waitForFinished(120000))
        return {};
    std::vector<double> perStatement;
    for (const QByteArray& line : psql.readAllStandardOutput().split('\n'))
        if (line.startsWith("Time: "))
            perStatement.push_back(QLocale::c().toDouble(QString::fromLatin1(line.mid(6).split(' ').value(0))));
    constexpr int kStatements = 5;
    std::vector<double> perSample;
    for (std::size_t i = 0; i + kStatements <= perStatement.size(); i += kStatements) {
        double sum = 0;
        for (int k = 0; k < kStatements; ++k)
            sum += perStatement[i + std::size_t(k)];
        perSample.push_back(sum);
    }
    if (perSample.empty())
        return {};
    bench::Stats s;
    s.p50 = bench::percentile(perSample, 0.5);
    s.p99 = bench::percentile(perSample, 0.99);
    s.max = *std::max_element(perSample.begin(), perSample.end());
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString url = app.arguments().value(1);
    QTemporaryDir dir(QStringLiteral("/tmp/px-bench-pg-XXXXXX"));
    const QString ctl = QStringLiteral(PX_PG_CTL);
    const QString serverDir = dir.filePath(QStringLiteral("pg"));
    // The server runs as another user when we are root: it must reach its folder.
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ExeGroup);
    if (url.isEmpty()) {
        if (QProcess::execute(ctl, {QStringLiteral("fresh"), serverDir}) != 0) {
            std::printf("cannot start a local server\n");
            return 1;
        }
        QFile portFile(serverDir + QStringLiteral("/port"));
        portFile.open(QIODevice::ReadOnly);
        url = QStringLiteral("postgresql://px5800@/plant?host=%1&port=%2")
                  .arg(serverDir, QString::fromLatin1(portFile.readAll()).trimmed());
    }
    const QString bench = QStringLiteral("bench_%1").arg(QRandomGenerator::global()->bounded(1000000));

    int rc = 0;
    {
        HistoryStore store(QStringLiteral("bench"));
        if (!store.open(withStation(url, bench))) {
            std::printf("cannot open: %s\n", qPrintable(store.lastError()));
            rc = 1;
        } else {
            const int n = 2000;
            const std::array<float, 4> values{300.0f, 45.0f, 300.0f, 0.0f};
            const bench::Stats station = measure(n, [&](int i) {
                store.writeSample(HistoryRing::Short, i + 1, OleStamp{46001.0, double(i) / 86400.0}, values);
            });
            print("commit one sample, growing ring (goal p99 <= 10)", n, station);
            // The same statements from psql on the same server, one
            // transaction per sample: what the round trips themselves cost.
            if (const auto psql = psqlCommits(url, bench, n, n + 1); psql.p99 > 0) {
                print("same commit from psql (statement times summed)", n, psql);
                std::printf("%-52s %.2f x psql at p50, %.2f x at p99 (goal <= 1.5)\n", "station / psql",
                            station.p50 / psql.p50, station.p99 / psql.p99);
            } else {
                std::printf("psql not found or failed: no comparison\n");
            }

            // Fill the ring on the server side; the recorder would take 18 hours.
            {
                QSqlDatabase db = QSqlDatabase::database(QStringLiteral("bench"));
                QSqlQuery q(db);
                q.exec(QStringLiteral("delete from pv_data"));
                q.exec(QStringLiteral("insert into pv_data select g, 46002 + floor(g / 86400.0), "
                                      "(g - floor(g / 86400.0) * 86400) / 86400.0, 300 + g % 50, 45, 300, 0 "
                                      "from generate_series(1, %1) g")
                           .arg(kRingSize));
                q.exec(QStringLiteral("update sl_void set w_last=1000, w_last2=1000"));
                q.exec(QStringLiteral("analyze pv_data"));
            }
            const int pages = 500;
            print("321-row page from a full ring (goal <= 10)", pages, measure(pages, [&](int i) {
                      const qint32 end = i % 2 ? 100 + (i * 131) % (kRingSize - 100) : (i * 7) % 320 + 1; // half wrap
                      store.loadPage(HistoryRing::Short, end, 321);
                  }));

            HistoryReader reader(QStringLiteral("bench"));
            reader.open(withStation(url, bench));
            TrendModel model(HistoryRing::Short, TrendHistory::through(&reader));
            model.viewForTest().newestId = 1000;
            model.viewForTest().pageSize = 321;
            auto waitForPage = [&] {
                while (model.waiting())
                    app.processEvents(QEventLoop::WaitForMoreEvents);
            };
            print("321-row page, threaded reader, request to buffer", pages, measure(pages, [&](int i) {
                      model.viewForTest().pageEndId = i % 2 ? 100 + (i * 131) % (kRingSize - 100) : (i * 7) % 320 + 1;
                      model.loadTrendPage();
                      waitForPage();
                  }));

            // Catch-up: an hour kept in memory, written over a full ring.
            const QList<HistoryRow> hour = rowsFrom(1001, 3600, 46003.0);
            QElapsedTimer t;
            t.start();
            const bool ok = store.writeSamples(HistoryRing::Short, hour);
            const double s = double(t.nsecsElapsed()) / 1e9;
            std::printf("%-52s %s, %.3f s, %.0f samples/s (goal >= 2000)\n", "catch-up: 3600 kept samples, full ring",
                        ok ? "written" : "FAILED", s, 3600 / s);
        }
        if (rc == 0) {
            QSqlQuery q(QSqlDatabase::database(QStringLiteral("bench")));
            q.exec(QStringLiteral("drop schema %1 cascade").arg(bench));
        }
    }
    if (app.arguments().value(1).isEmpty())
        QProcess::execute(ctl, {QStringLiteral("clean"), serverDir});
    return rc;
}
