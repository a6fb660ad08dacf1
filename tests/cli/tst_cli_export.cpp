#include "CliApp.h"
#include "HistoryExport.h"
#include "HistoryStore.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>
#include <cmath>

struct Sample {
    qint32 id;
    QDateTime when;
    float pv, op, sv, aux;
};
Q_DECLARE_METATYPE(QList<Sample>)

// `px5800-cli export` and the exporter behind it, on history databases built
// by hand with the station's own store.
class TestCliExport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void exportsInTimeOrder_data();
    void exportsInTimeOrder();
    void impossibleRowsAreSkippedAndSaid();
    void refusedCommandLines_data();
    void refusedCommandLines();
    void missingDatabaseFailsWithoutCreatingIt();
    void unreadableDatabaseIsNamedInOneLine_data();
    void unreadableDatabaseIsNamedInOneLine();
    void readsWhileTheStationWritesAndChangesNothing();
    void failedOutputLeavesNoFile();
    void cancelStopsAtTheNextRow();
    void tuneExitCodes_data();
    void tuneExitCodes();
    void addressReadsThatLoopsHistory();

private:
    void build(HistoryRing ring, const QList<Sample>& samples);
    int run(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr);

    QTemporaryDir dir_;
    QString db_;
};

namespace {
const QDate kDay(2026, 12, 7);
QDateTime at(int dayOffset, int h, int m, int s) { return QDateTime(kDay.addDays(dayOffset), QTime(h, m, s)); }
} // namespace

void TestCliExport::init()
{
    db_ = dir_.filePath(QStringLiteral("h%1.db").arg(QRandomGenerator::global()->generate()));
}

void TestCliExport::build(HistoryRing ring, const QList<Sample>& samples)
{
    HistoryStore store(QStringLiteral("build"));
    QVERIFY(store.open(db_));
    QList<HistoryRow> rows;
    for (const Sample& s : samples) {
        const OleStamp stamp = OleTime::fromDateTime(s.when);
        rows.append({s.id, stamp.date, stamp.time, s.pv, s.op, s.sv, s.aux});
    }
    // The last row written is the ring's newest, as the recorder leaves it.
    QVERIFY(store.writeSamples(ring, rows));
}

int TestCliExport::run(const QStringList& args, QByteArray* out, QByteArray* err)
{
    QBuffer o, e;
    o.open(QIODevice::WriteOnly);
    e.open(QIODevice::WriteOnly);
    const int code = runCli(QStringList{QStringLiteral("px5800-cli")} + args, o, e);
    if (out)
        *out = o.data();
    if (err)
        *err = e.data();
    return code;
}

void TestCliExport::exportsInTimeOrder_data()
{
    QTest::addColumn<int>("ring"); // 0 short, 1 long
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<QStringList>("range");
    QTest::addColumn<QByteArray>("csv");

    const QByteArray head = HistoryExport::header();
    QTest::newRow("never wrapped, values exact")
        << 0
        << QList<Sample>{{1, at(0, 10, 0, 0), 45.6f, 12.5f, 300, -25},
                         {2, at(0, 10, 0, 1), 1e-7f, 0.1f, 9999, 16777216.0f},
                         {3, at(0, 10, 0, 2), -0.0f, 100, -1999, 3.4028235e38f}}
        << QStringList{}
        << head
               + "2026-12-07 10:00:00,45.6,12.5,300,-25\n"
                 "2026-12-07 10:00:01,1e-07,0.1,9999,16777216\n"
                 "2026-12-07 10:00:02,0,100,-1999,3.4028235e+38\n";
    // Written in ring order: the oldest samples sit above the newest id.
    QTest::newRow("wrapped ring in time order")
        << 0
        << QList<Sample>{{3, at(-1, 15, 0, 0), 1, 0, 0, 0},
                         {65499, at(0, 9, 0, 0), 2, 0, 0, 0},
                         {65500, at(0, 9, 0, 1), 3, 0, 0, 0},
                         {1, at(0, 9, 0, 2), 4, 0, 0, 0},
                         {2, at(0, 9, 0, 3), 5, 0, 0, 0}}
        << QStringList{}
        << head
               + "2026-12-06 15:00:00,1,0,0,0\n2026-12-07 09:00:00,2,0,0,0\n2026-12-07 09:00:01,3,0,0,0\n"
                 "2026-12-07 09:00:02,4,0,0,0\n2026-12-07 09:00:03,5,0,0,0\n";
    QTest::newRow("range across midnight, bounds inclusive")
        << 1
        << QList<Sample>{{1, at(0, 23, 59, 50), 1, 0, 0, 0},
                         {2, at(0, 23, 59, 59), 2, 0, 0, 0},
                         {3, at(1, 0, 0, 0), 3, 0, 0, 0},
                         {4, at(1, 0, 0, 9), 4, 0, 0, 0}}
        << QStringList{"--from", "2026-12-07 23:59:59", "--to", "2026-12-08 00:00:00"}
        << head + "2026-12-07 23:59:59,2,0,0,0\n2026-12-08 00:00:00,3,0,0,0\n";
    QTest::newRow("whole days") << 0
                                << QList<Sample>{{1, at(0, 23, 59, 59), 1, 0, 0, 0},
                                                 {2, at(1, 0, 0, 0), 2, 0, 0, 0},
                                                 {3, at(1, 23, 59, 59), 3, 0, 0, 0},
                                                 {4, at(2, 0, 0, 0), 4, 0, 0, 0}}
                                << QStringList{"--from", "2026-12-08", "--to", "2026-12-08"}
                                << head + "2026-12-08 00:00:00,2,0,0,0\n2026-12-08 23:59:59,3,0,0,0\n";
    QTest::newRow("empty range: header only")
        << 0 << QList<Sample>{{1, at(0, 10, 0, 0), 1, 0, 0, 0}} << QStringList{"--from", "2026-12-07 10:00:01"} << head;
    // The clock turned back: two samples of one second keep the ring's
    // order (65500 before 1), not the order the rows were inserted in.
    QTest::newRow("same second in ring order")
        << 0
        << QList<Sample>{{1, at(0, 8, 0, 0), 2, 0, 0, 0},
                         {65500, at(0, 8, 0, 0), 1, 0, 0, 0},
                         {1, at(0, 8, 0, 0), 2, 0, 0, 0}}
        << QStringList{} << head + "2026-12-07 08:00:00,1,0,0,0\n2026-12-07 08:00:00,2,0,0,0\n";
    QTest::newRow("other ring untouched") << 1 << QList<Sample>{} << QStringList{} << head;
}

void TestCliExport::exportsInTimeOrder()
{
    QFETCH(int, ring);
    QFETCH(QList<Sample>, samples);
    QFETCH(QStringList, range);
    QFETCH(QByteArray, csv);
    build(HistoryRing::Short, ring == 0 ? samples : QList<Sample>{});
    build(HistoryRing::Long, ring == 1 ? samples : QList<Sample>{});
    if (ring == 1 && samples.isEmpty()) // a short ring the long export must not show
        build(HistoryRing::Short, {{1, at(0, 1, 0, 0), 7, 7, 7, 7}});

    QByteArray out, err;
    const QStringList args = QStringList{"export", "--database", db_, "--ring", ring == 0 ? "1s" : "10s"} + range;
    QCOMPARE(run(args, &out, &err), 0);
    QCOMPARE(err, QByteArray());
    QCOMPARE(out, csv);

    // --out writes the same bytes to a file.
    const QString file = dir_.filePath(QStringLiteral("out.csv"));
    QCOMPARE(run(args + QStringList{"--out", file}), 0);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), csv);
}

// A damaged history (a day number far off, text or infinity where a value
// belongs) must neither print impossible dates nor blank fields silently.
// Run under a decimal-comma locale: the file's numbers keep their points.
void TestCliExport::impossibleRowsAreSkippedAndSaid()
{
    build(HistoryRing::Short, {{1, at(0, 10, 0, 0), 45.6f, 12.5f, 300, -25},
                               {2, at(0, 10, 0, 1), 1, 1, 1, 1},
                               {3, at(0, 10, 0, 2), 1, 1, 1, 1},
                               {4, at(0, 10, 0, 3), 1, 1, 1, 1},
                               {5, at(0, 10, 0, 4), 1, 1, 1, 1},
                               {6, at(0, 10, 0, 5), 1, 1, 1, 1}});
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
        db.setDatabaseName(db_);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const char* damage : {"update pv_data set w_date = -43000 where w_id = 2", // 1782
                                   "update pv_data set w_date = 3e6 where w_id = 3",    // after 9999
                                   "update pv_data set w_pv = 'abc' where w_id = 4",
                                   "update pv_data set w_op = 9e999 where w_id = 5"}) // inf
            QVERIFY2(q.exec(QString::fromLatin1(damage)), damage);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("damage"));

    const QByteArray before = setlocale(LC_ALL, nullptr);
    QVERIFY2(setlocale(LC_ALL, "de_DE.UTF-8"), "decimal-comma locale missing (LOCPATH)");
    QByteArray out, err;
    const int code = run({"export", "--database", db_, "--ring", "1s"}, &out, &err);
    setlocale(LC_ALL, before.constData());
    QCOMPARE(code, 0);
    QCOMPARE(out, HistoryExport::header()
                      + "2026-12-07 10:00:00,45.6,12.5,300,-25\n"
                        "2026-12-07 10:00:05,1,1,1,1\n");
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("px5800-cli export: skipped 4 of 6 rows"), err.constData());
}

void TestCliExport::refusedCommandLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::newRow("impossible date") << QStringList{"--ring", "1s", "--from", "2026-02-30 10:00:00"} << 2;
    QTest::newRow("impossible time") << QStringList{"--ring", "1s", "--to", "2026-12-07 24:00:00"} << 2;
    QTest::newRow("not a date") << QStringList{"--ring", "1s", "--from", "yesterday"} << 2;
    QTest::newRow("other format") << QStringList{"--ring", "1s", "--from", "07.12.2026 10:00"} << 2;
    QTest::newRow("from after to") << QStringList{"--ring", "1s",
                                                  "--from", "2026-12-07 10:00:01",
                                                  "--to",   "2026-12-07 10:00:00"}
                                   << 2;
    QTest::newRow("unknown ring") << QStringList{"--ring", "5s"} << 2;
    QTest::newRow("no ring") << QStringList{} << 2;
    QTest::newRow("stray argument") << QStringList{"--ring", "1s", "extra"} << 2;
    QTest::newRow("unknown option") << QStringList{"--ring", "1s", "--form", "x"} << 2;
    QTest::newRow("malformed database URL")
        << QStringList{"--ring", "1s", "--database", "postgresql://px@/plant?station=Oven-7"} << 2;
    QTest::newRow("address 0") << QStringList{"--ring", "1s", "--address", "0"} << 2;
    QTest::newRow("address 17") << QStringList{"--ring", "1s", "--address", "17"} << 2;
    QTest::newRow("address not a number") << QStringList{"--ring", "1s", "--address", "3a"} << 2;
}

void TestCliExport::refusedCommandLines()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    build(HistoryRing::Short, {{1, at(0, 10, 0, 0), 1, 0, 0, 0}});
    QByteArray out, err;
    QCOMPARE(run(QStringList{"export", "--database", db_} + args, &out, &err), code);
    QVERIFY(out.isEmpty());
    QCOMPARE(err.count('\n'), 1); // one line
    QVERIFY(err.startsWith("px5800-cli export: "));
}

// The tuning command under the cli's exit codes; the fit itself is tested
// with the tuning library.
void TestCliExport::tuneExitCodes_data()
{
    QTest::addColumn<QStringList>("args"); // after "tune --database DB"
    QTest::addColumn<bool>("history");     // a flat minute of samples in the 1 s ring
    QTest::addColumn<int>("code");
    const QStringList period{"--from", "2026-12-07 10:00:00", "--to", "2026-12-07 10:01:00"};
    QTest::newRow("help") << QStringList{"--help"} << false << 0;
    QTest::newRow("impossible date") << QStringList{"--from", "2026-02-30 10:00:00", "--to", "2026-12-07 10:00:00"}
                                     << true << 2;
    QTest::newRow("from after to") << QStringList{"--from", "2026-12-07 10:01:00", "--to", "2026-12-07 10:00:00"}
                                   << true << 2;
    QTest::newRow("no to") << QStringList{"--from", "2026-12-07 10:00:00"} << true << 2;
    QTest::newRow("no database") << period << false << 1;
    QTest::newRow("no step to fit") << period << true << 4;
}

void TestCliExport::tuneExitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(bool, history);
    QFETCH(int, code);
    if (history) {
        QList<Sample> flat;
        for (int k = 0; k <= 60; ++k)
            flat.append({k + 1, at(0, 10, 0, k), 100, 20, 100, 0});
        build(HistoryRing::Short, flat);
    }
    QByteArray out, err;
    QCOMPARE(run(QStringList{"tune", "--database", db_} + args, &out, &err), code);
    if (code == 0) {
        QVERIFY(out.contains("Usage: px5800-cli tune --database DB --from TIME --to TIME [--json]"));
        QVERIFY(out.contains("--json") && out.contains(" 4 "));
        return;
    }
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("px5800-cli tune: "), err.constData());
    QCOMPARE(QFile::exists(db_), history);
}

// Files built by hand and servers that are away: one line that says what
// is wrong, never a driver's multi-line text or a query's later complaint.
void TestCliExport::unreadableDatabaseIsNamedInOneLine_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");
    QTest::newRow("not a database") << "garbage"
                                    << "file is not a database";
    QTest::newRow("no tables") << "empty"
                               << "no history tables in";
    QTest::newRow("no pv_data") << "foreign"
                                << "no such table: pv_data";
    QTest::newRow("server away") << "server"
                                 << "cannot open postgresql://";
}

void TestCliExport::unreadableDatabaseIsNamedInOneLine()
{
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    QString database = db_;
    if (kind == u"garbage") {
        QFile f(db_);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, '\x5a'));
    } else if (kind == u"empty") {
        QVERIFY(QProcess::execute(QStringLiteral("sqlite3"), {db_, QStringLiteral("pragma user_version = 1")}) == 0);
    } else if (kind == u"foreign") {
        QVERIFY(QProcess::execute(QStringLiteral("sqlite3"), {db_, QStringLiteral("create table notes(x)")}) == 0);
    } else {
        // No server listens on a socket in an empty folder.
        database = QStringLiteral("postgresql://px@/plant?host=%1&port=1").arg(dir_.path());
    }
    QByteArray out, err;
    QCOMPARE(run({"export", "--ring", "1s", "--database", database, "--out", dir_.filePath("x.csv")}, &out, &err), 1);
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.contains(expected.toUtf8()), err.constData());
    QVERIFY(!QFile::exists(dir_.filePath("x.csv")));
}

void TestCliExport::missingDatabaseFailsWithoutCreatingIt()
{
    QByteArray err;
    QCOMPARE(run({"export", "--database", db_, "--ring", "1s"}, nullptr, &err), 1);
    QVERIFY(err.contains("no database"));
    QVERIFY(!QFile::exists(db_));

    QFile junk(db_);
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a database at all, just some text that sqlite will not accept");
    junk.close();
    QCOMPARE(run({"export", "--database", db_, "--ring", "1s"}, nullptr, &err), 1);
}

void TestCliExport::readsWhileTheStationWritesAndChangesNothing()
{
    build(HistoryRing::Short, {{1, at(0, 10, 0, 0), 1, 0, 0, 0}});
    auto digest = [this] {
        QFile f(db_);
        f.open(QIODevice::ReadOnly);
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    };
    const QByteArray before = digest();
    QByteArray out;
    QCOMPARE(run({"export", "--database", db_, "--ring", "1s"}, &out), 0);
    QCOMPARE(out.count('\n'), 2);
    QCOMPARE(digest(), before);

    // With the station's store open and writing, the export reads what is
    // committed and the store goes on writing.
    HistoryStore station(QStringLiteral("station"));
    QVERIFY(station.open(db_));
    QVERIFY(station.writeSample(HistoryRing::Short, 2, OleTime::fromDateTime(at(0, 10, 0, 1)), {2, 0, 0, 0}));
    QCOMPARE(run({"export", "--database", db_, "--ring", "1s"}, &out), 0);
    QCOMPARE(out.count('\n'), 3);
    QVERIFY(station.writeSample(HistoryRing::Short, 3, OleTime::fromDateTime(at(0, 10, 0, 2)), {3, 0, 0, 0}));
    QCOMPARE(station.newestId(HistoryRing::Short).value(), 3);
}

void TestCliExport::failedOutputLeavesNoFile()
{
    build(HistoryRing::Short, {{1, at(0, 10, 0, 0), 1, 0, 0, 0}});
    const QString target = dir_.filePath(QStringLiteral("old.csv"));
    QFile old(target);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("previous export\n");
    old.close();
    // A failing database leaves the previous file as it was.
    QCOMPARE(run({"export", "--database", db_ + "-missing", "--ring", "1s", "--out", target}), 1);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("previous export\n"));
    QCOMPARE(run({"export", "--database", db_, "--ring", "1s", "--out", dir_.filePath("no/such/dir.csv")}), 1);
}

void TestCliExport::cancelStopsAtTheNextRow()
{
    QList<Sample> samples;
    for (int i = 1; i <= 3 * int(HistoryExport::kProgressRows); ++i)
        samples.append({i, at(0, 0, 0, 0).addSecs(i), float(i), 0, 0, 0});
    build(HistoryRing::Short, samples);

    std::atomic_bool cancel{false};
    QList<qint64> seen;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const ExportResult r = HistoryExport::run(
        {db_, HistoryRing::Short, {}, {}}, out,
        [&](qint64 written, qint64 total) {
            QCOMPARE(total, qint64(samples.size()));
            seen.append(written);
            cancel = true;
        },
        &cancel);
    QCOMPARE(r.status, ExportResult::Status::Cancelled);
    QCOMPARE(r.rows, HistoryExport::kProgressRows);
    QCOMPARE(seen, QList<qint64>{HistoryExport::kProgressRows});
}

void TestCliExport::addressReadsThatLoopsHistory()
{
    const QString station = db_;
    build(HistoryRing::Short, {{1, at(0, 10, 0, 0), 100, 0, 0, 0}});
    db_ = station.chopped(3) + QStringLiteral("_3.db");
    build(HistoryRing::Short, {{1, at(0, 10, 0, 0), 333, 0, 0, 0}});
    QByteArray out, err;
    QCOMPARE(run({"export", "--database", station, "--ring", "1s", "--address", "3"}, &out, &err), 0);
    QVERIFY2(out.contains(",333,") && !out.contains(",100,"), out.constData());
    QCOMPARE(run({"export", "--database", station, "--ring", "1s"}, &out), 0);
    QVERIFY2(out.contains(",100,") && !out.contains(",333,"), out.constData());
    // A loop without a history is a failure, and no file is made for it.
    const QString none = station.chopped(3) + QStringLiteral("_4.db");
    QCOMPARE(run({"export", "--database", station, "--ring", "1s", "--address", "4"}, &out, &err), 1);
    QVERIFY(!QFile::exists(none));
}

QTEST_GUILESS_MAIN(TestCliExport)
#include "tst_cli_export.moc"
