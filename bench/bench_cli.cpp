// px5800-cli figures: CSV export of a full 65 500-row ring against the
// sqlite3 shell dumping the same rows in the same order; and `status` (open,
// one poll cycle, close) against the simulated instrument with wire timing
// at 9600 8N1, as a ratio to the wire time of one cycle.
#include "BenchStats.h"
#include "CliApp.h"
#include "HistoryExport.h"
#include "HistoryStore.h"
#include "SimServer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

using bench::percentile;

void exportFullRing(const QString& path)
{
    {
        // A wrapped ring: the newest sample sits in the middle of the ids.
        HistoryStore store(QStringLiteral("bench"));
        if (!store.open(path)) {
            std::printf("export: cannot create %s\n", qPrintable(path));
            return;
        }
        const QDateTime start(QDate(2026, 12, 7), QTime(6, 0, 0));
        QList<HistoryRow> rows;
        for (int k = 0; k < kRingSize; ++k) {
            const qint32 id = (30000 + k) % kRingSize + 1;
            const OleStamp s = OleTime::fromDateTime(start.addSecs(k));
            rows.append(
                {id, s.date, s.time, 300.0f + float(k % 97) / 10.0f, float(k % 1001) / 10.0f, 350.0f, float(k % 50)});
        }
        store.writeSamples(HistoryRing::Short, rows);
    }

    QFile null(QStringLiteral("/dev/null"));
    null.open(QIODevice::WriteOnly);
    std::vector<double> ms;
    qint64 rows = 0;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        const ExportResult r = HistoryExport::run({path, HistoryRing::Short, {}, {}}, null);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        rows = r.rows;
    }
    const double p50 = percentile(ms, 0.5);
    std::printf("export of a full short ring (%lld rows, 5 runs, to /dev/null)\n", static_cast<long long>(rows));
    std::printf("  p50 / max                  %7.1f / %.1f ms   (goal <= 500)\n", p50, percentile(ms, 1.0));
    std::printf("  rows per second            %7.0f\n", double(rows) / (p50 / 1000.0));

    // The same rows, in the same order, by the sqlite3 shell.
    const QString sql =
        QStringLiteral("select w_date + w_time, w_pv, w_op, w_sv, w_aux from pv_data order by w_date + w_time, w_id;");
    std::vector<double> shell;
    for (int i = 0; i < 5; ++i) {
        QProcess p;
        p.setStandardOutputFile(QStringLiteral("/dev/null"));
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), QStringLiteral("-csv"), path, sql});
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            std::printf("  sqlite3 -csv did not run\n");
            return;
        }
        shell.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("  sqlite3 -csv, same rows    %7.1f ms (p50, process start included); ratio export / sqlite3 %.2f\n",
                percentile(shell, 0.5), p50 / percentile(shell, 0.5));
}

void statusAt9600(QTemporaryDir& dir)
{
    SimOptions o;
    o.link = dir.filePath(QStringLiteral("wire"));
    o.wireTiming = true;
    o.baud = 9600;
    SimServer sim(o);
    QString error;
    if (!sim.start(&error)) {
        std::printf("status: simulator did not start: %s\n", qPrintable(error));
        return;
    }
    const QStringList args{QStringLiteral("px5800-cli"),  QStringLiteral("status"), QStringLiteral("--port"),
                           QStringLiteral("1=") + o.link, QStringLiteral("--baud"), QStringLiteral("9600")};
    std::vector<double> ms;
    int failed = 0;
    for (int i = 0; i < 20; ++i) {
        QBuffer out, err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        QElapsedTimer t;
        t.start();
        if (runCli(args, out, err) == 0)
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        else
            ++failed;
    }
    const double bound = bench::pollCycleWireMs(9600, o.turnaroundMs);
    std::printf("status at 9600 8N1 with wire timing (%zu runs, %d failed; open + one cycle + close)\n", ms.size(),
                failed);
    std::printf("  wire-time bound of a cycle %7.1f ms\n", bound);
    std::printf("  p50 / p99 / max            %7.1f / %.1f / %.1f ms\n", percentile(ms, 0.5), percentile(ms, 0.99),
                percentile(ms, 1.0));
    std::printf("  ratio p50 / p99            %7.3f / %.3f   (goal <= 1.20)\n", percentile(ms, 0.5) / bound,
                percentile(ms, 0.99) / bound);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    exportFullRing(dir.filePath(QStringLiteral("ring.db")));
    statusAt9600(dir);
    return 0;
}
