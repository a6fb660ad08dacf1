// Recorder and history database costs: tick, per-sample commit, backlog
// flush, page load, and the size of a database with both rings full.
//   bench_record [folder]   (default: a temporary folder; use a folder on the
//                            station's real disk for representative figures)
#include "BenchStats.h"
#include "HistoryStore.h"
#include "Recorder.h"
#include "StationClock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using bench::measure;
using bench::print;
using bench::Stats;

namespace {
double seconds(const std::function<void()>& work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e9;
}

QList<HistoryRow> rowsFrom(qint32 firstId, int count, int secondsApart, qint64 startSecond)
{
    QList<HistoryRow> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const qint64 s = startSecond + qint64(i) * secondsApart;
        rows.append(HistoryRow{firstId + i, 46000.0 + double(s / 86400), double(s % 86400) / 86400.0, float(i % 1000),
                               float(i % 100), 500.0f, 0.0f});
    }
    return rows;
}

qint64 fileSize(const QString& path) { return QFileInfo(path).size(); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("bench_Rdatabj.db"));
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    std::printf("database: %s\n\n", qPrintable(path));

    {
        // The floor under every commit: synchronous FULL costs one flush of
        // the write-ahead log per sample.
        const QByteArray probe = QFile::encodeName(path + QStringLiteral(".fsync"));
        const int fd = ::open(probe.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        const int n = 500;
        print("disk: write 100 bytes + fsync (reference)", n, measure(n, [&](int) {
                  char buf[100] = {};
                  [[maybe_unused]] const auto w = ::write(fd, buf, sizeof buf);
                  ::fsync(fd);
              }));
        ::close(fd);
        ::unlink(probe.constData());
    }

    QDateTime now(QDate(2026, 12, 8), QTime(0, 0, 0));
    StationClock::setSource([&now] { return now; });

    {
        LiveImage image;
        SampleFlags flags;
        Recorder recorder(image, flags, path);
        recorder.tick(); // first samples of both rings
        const int n = 2000;
        print("recorder tick, no sample due", n, measure(n, [&](int) { recorder.tick(); }));
        print("recorder tick, one-second sample", n, measure(n, [&](int i) {
                  now = now.addSecs(1);
                  image.Values[0] = float(i);
                  recorder.tick();
              }));
    }

    HistoryStore store(QStringLiteral("bench"));
    if (!store.open(path)) {
        std::printf("cannot open: %s\n", qPrintable(store.lastError()));
        return 1;
    }
    const auto counters = store.readCounters().value_or(HistoryCounters{});
    {
        const int n = 2000;
        qint32 id = counters.shortLast;
        const std::array<float, 4> values{300.0f, 45.0f, 300.0f, 0.0f};
        print("commit one sample, growing ring", n, measure(n, [&](int i) {
                  store.writeSample(HistoryRing::Short, ++id, OleStamp{46001.0, double(i) / 86400.0}, values);
              }));
    }

    // Fill both rings to 65500 rows.
    for (HistoryRing ring : {HistoryRing::Short, HistoryRing::Long}) {
        const double s = seconds([&] {
            for (qint32 first = 1; first <= kRingSize; first += 6550)
                store.writeSamples(ring, rowsFrom(first, qMin(6550, kRingSize - first + 1),
                                                  ring == HistoryRing::Short ? 1 : 10, qint64(first) * 10));
        });
        std::printf("%-44s %8.3f s\n",
                    ring == HistoryRing::Short ? "fill pv_data (65500 rows, batches of 6550)"
                                               : "fill lpv_wdjl (65500 rows, batches of 6550)",
                    s);
    }
    {
        const int n = 2000;
        qint32 id = 0;
        const std::array<float, 4> values{300.0f, 45.0f, 300.0f, 0.0f};
        print("commit one sample, full ring (overwrite)", n, measure(n, [&](int i) {
                  store.writeSample(HistoryRing::Short, ++id, OleStamp{46010.0, double(i) / 86400.0}, values);
              }));
        print("commit one long sample, full ring", n, measure(n, [&](int i) {
                  store.writeSample(HistoryRing::Long, ++id, OleStamp{46010.0, double(i) / 86400.0}, values);
              }));
    }
    std::printf("%-44s %8.3f ms\n", "flush backlog of one hour (3600 + 360 rows)",
                1000.0 * seconds([&] {
                    store.writeSamples(HistoryRing::Short, rowsFrom(3000, 3600, 1, 9000000));
                    store.writeSamples(HistoryRing::Long, rowsFrom(3000, 360, 10, 9000000));
                }));
    {
        const int n = 200;
        print("load live page (241 rows, no wrap)", n,
              measure(n, [&](int) { store.loadPage(HistoryRing::Short, 30000, 241); }));
        print("load paged view (321 rows, wrap)", n,
              measure(n, [&](int) { store.loadPage(HistoryRing::Short, 100, 321); }));
        print("newest id (sl_void read)", n, measure(n, [&](int) { store.newestId(HistoryRing::Short); }));
        print("id nearest to a moment (full scan)", 20,
              measure(20, [&](int) { store.idNearest(HistoryRing::Long, 46005, 0.5); }));
    }

    const qint64 walBefore = fileSize(path + QStringLiteral("-wal"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("size"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("pragma wal_checkpoint(TRUNCATE)"));
        q.finish();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("size"));
    std::printf("\nboth rings full: database %.2f MB (write-ahead log %.2f MB before checkpoint)\n",
                double(fileSize(path)) / 1048576.0, double(walBefore) / 1048576.0);
    store.close();
    StationClock::setSource({});
    return 0;
}
