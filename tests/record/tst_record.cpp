#include "HistoryStore.h"
#include "Recorder.h"
#include "RingSchema.h"
#include "StationClock.h"

#include <QtTest>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {

// A second connection that looks at the file as another reader would.
class Peek {
public:
    explicit Peek(const QString& path, const QString& name = QStringLiteral("peek")) : name_(name)
    {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db_.setDatabaseName(path);
        db_.open();
    }
    ~Peek()
    {
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
    }
    bool exec(const QString& sql)
    {
        QSqlQuery q(db_);
        const bool ok = q.exec(sql);
        if (!ok)
            qWarning() << sql << q.lastError().text();
        return ok;
    }
    QList<QVariantList> rows(const QString& sql)
    {
        QList<QVariantList> out;
        QSqlQuery q(db_);
        if (!q.exec(sql)) {
            qWarning() << sql << q.lastError().text();
            return out;
        }
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            out << row;
        }
        return out;
    }
    QVariant value(const QString& sql)
    {
        const auto r = rows(sql);
        return r.isEmpty() ? QVariant() : r.first().value(0);
    }
    QList<int> counters()
    {
        const auto r = rows(QStringLiteral("select * from sl_void"));
        return r.size() == 1 ? QList<int>{r[0][0].toInt(), r[0][1].toInt(), r[0][2].toInt(), r[0][3].toInt()}
                             : QList<int>{};
    }
    QList<int> ids(const QString& table)
    {
        QList<int> out;
        const QString column = table == QLatin1String("pv_data") ? QStringLiteral("w_id") : QStringLiteral("lw_id");
        for (const auto& r : rows(QStringLiteral("select %1 from %2 order by w_date, w_time").arg(column, table)))
            out << r[0].toInt();
        return out;
    }

private:
    QString name_;
    QSqlDatabase db_;
};

// The station clock, stepped by hand.
struct FakeClock {
    QDateTime now{QDate(2026, 12, 8), QTime(14, 0, 0)};
    FakeClock()
    {
        StationClock::setSource([this] { return now; });
    }
    ~FakeClock() { StationClock::setSource({}); }
    void set(const QDateTime& start, int seconds) { now = start.addSecs(seconds); }
};

// The sqlite3 shell, as someone inspecting the file would see it.
QString shell(const QString& file, const QString& sql)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {file, sql});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

OleStamp stampAt(const QDateTime& t) { return OleTime::fromDateTime(t); }

// Makes a file unwritable even for root (which ignores permissions), or
// reports that it cannot.
class ReadOnly {
public:
    explicit ReadOnly(const QString& path) : path_(path)
    {
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        if (writable() && QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0)
            immutable_ = true;
        ok_ = !writable();
    }
    ~ReadOnly() { undo(); }
    bool ok() const { return ok_; }
    void undo()
    {
        if (immutable_)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
        immutable_ = false;
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                         | QFileDevice::ReadOther);
    }

private:
    bool writable() const
    {
        QFile f(path_);
        return f.open(QIODevice::ReadWrite);
    }
    QString path_;
    bool immutable_ = false;
    bool ok_ = false;
};

const QDateTime kStart(QDate(2026, 12, 8), QTime(14, 0, 0));

// Child mode for the kill test: record as fast as the disk allows, one
// simulated second per tick, until killed.
int recordUntilKilled(const QString& path, qint64 startSeconds)
{
    FakeClock clock;
    clock.set(kStart, int(startSeconds));
    LiveImage image;
    SampleFlags flags;
    Recorder recorder(image, flags, path);
    for (int n = 0;; ++n) {
        clock.now = clock.now.addSecs(1);
        image.Values[0] = float(n);
        recorder.tick();
        if (n == 0) {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
        }
    }
}

} // namespace

class TestRecord : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void newFileLayout();
    void driverErrorText();
    void existingFile_data();
    void existingFile();
    void pageQueryText_data();
    void pageQueryText();
    void loadPage_data();
    void loadPage();
    void idNearest();
    void idNearestAcrossTheWrap_data();
    void idNearestAcrossTheWrap();
    void pageReadKeepsStrayIds();

    void ringIds_data();
    void ringIds();
    void elapsedRule_data();
    void elapsedRule();
    void counterRowRestored();

    void lockedDatabaseKeepsSamples();
    void readOnlyFileKeepsSamples();
    void deletedFileIsRecreated();
    void missingDatabaseComesBack();
    void lastingTroubleIsLoggedNowAndThen();
    void killedWhileRecording();
    void stopDuringOutageKeepsEverySample();
    void spoolThatCannotBeRenumberedIsNotWritten();
    void unwritableIndexNeverFaults();

private:
    QString freshPath() { return dir_->filePath(QStringLiteral("sub/Rdatabj.db")); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestRecord::init() { dir_ = std::make_unique<QTemporaryDir>(); }

void TestRecord::cleanup() { dir_.reset(); }

void TestRecord::newFileLayout()
{
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty())
        QSKIP("sqlite3 shell not installed");
    const QString path = freshPath();
    {
        HistoryStore store(QStringLiteral("t"));
        QVERIFY2(store.open(path), qPrintable(store.lastError()));
        QVERIFY(store.createdSchema());
    }
    const QString ringColumns = QStringLiteral("|w_date|REAL|0||0\n2|w_time|REAL|0||0\n3|w_pv|REAL|0||0\n"
                                               "4|w_op|REAL|0||0\n5|w_sv|REAL|0||0\n6|w_aux|REAL|0||0");
    QCOMPARE(shell(path, QStringLiteral("pragma table_info(pv_data)")),
             QStringLiteral("0|w_id|INTEGER|0||0\n1") + ringColumns);
    QCOMPARE(shell(path, QStringLiteral("pragma table_info(lpv_wdjl)")),
             QStringLiteral("0|lw_id|INTEGER|0||0\n1") + ringColumns);
    QCOMPARE(shell(path, QStringLiteral("pragma table_info(sl_void)")),
             QStringLiteral("0|w_last|INTEGER|0||0\n1|w_last2|INTEGER|0||0\n"
                            "2|lw_last|INTEGER|0||0\n3|lw_last2|INTEGER|0||0"));
    QCOMPARE(shell(path, QStringLiteral("select * from sl_void")), QStringLiteral("0|0|0|0"));
    QCOMPARE(shell(path, QStringLiteral("select m.tbl_name || '(' || i.name || ')' from sqlite_master m, "
                                        "pragma_index_info(m.name) i where m.type='index' order by 1")),
             QStringLiteral("lpv_wdjl(lw_id)\npv_data(w_id)"));
    QCOMPARE(shell(path, QStringLiteral("pragma journal_mode")), QStringLiteral("wal"));
}

void TestRecord::existingFile_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("created");
    QTest::newRow("foreign layout untouched")
        << "create table pv_data (w_id INTEGER, extra TEXT); create table sl_void (w_last INTEGER);" << false;
    QTest::newRow("tables without index untouched")
        << "create table pv_data (w_id INTEGER, w_date REAL, w_time REAL, w_pv REAL, w_op REAL, w_sv REAL, w_aux REAL);"
           "create table lpv_wdjl (lw_id INTEGER, w_date REAL, w_time REAL, w_pv REAL, w_op REAL, w_sv REAL, w_aux "
           "REAL); create table sl_void (w_last INTEGER, w_last2 INTEGER, lw_last INTEGER, lw_last2 INTEGER);"
        << false;
    QTest::newRow("empty file gets tables") << "" << true;
}

void TestRecord::existingFile()
{
    QFETCH(QString, setup);
    QFETCH(bool, created);
    const QString path = dir_->filePath(QStringLiteral("old.db"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QString before;
    {
        Peek peek(path);
        for (const QString& sql : setup.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            QVERIFY(peek.exec(sql));
        for (const auto& r : peek.rows(QStringLiteral("select sql from sqlite_master order by name")))
            before += r[0].toString() + QLatin1Char('\n');
    }
    HistoryStore store(QStringLiteral("t"));
    QVERIFY(store.open(path));
    QCOMPARE(store.createdSchema(), created);
    Peek peek(path);
    QString after;
    for (const auto& r : peek.rows(QStringLiteral("select sql from sqlite_master order by name")))
        after += r[0].toString() + QLatin1Char('\n');
    if (created)
        QCOMPARE(peek.counters(), (QList<int>{0, 0, 0, 0}));
    else
        QCOMPARE(after, before);
}

void TestRecord::pageQueryText_data()
{
    QTest::addColumn<bool>("longRing");
    QTest::addColumn<int>("pageEnd");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QString>("text");
    QTest::newRow("newest 500") << false << 500 << 241
                                << "select * from  pv_data where w_id  between 260 and 500 order by w_date,w_time";
    QTest::newRow("page ends at its size")
        << false << 241 << 241 << "select * from  pv_data where w_id  between 1 and 241 order by w_date,w_time";
    QTest::newRow("newest 100 wraps")
        << false << 100 << 241 << "select * from  pv_data where w_id not between 101 and 65359 order by w_date,w_time ";
    QTest::newRow("nothing read")
        << false << 0 << 241 << "select * from  pv_data where w_id not between 1 and 65259 order by w_date,w_time ";
    QTest::newRow("long 5000") << true << 5000 << 241
                               << "select * from  lpv_wdjl where lw_id  between 4760 and 5000 order by w_date,w_time";
    QTest::newRow("long paged wraps")
        << true << 300 << 321
        << "select * from  lpv_wdjl where lw_id not between 301 and 65479 order by w_date,w_time ";
}

void TestRecord::pageQueryText()
{
    QFETCH(bool, longRing);
    QFETCH(int, pageEnd);
    QFETCH(int, pageSize);
    QFETCH(QString, text);
    QCOMPARE(HistoryStore::pageQuery(longRing ? HistoryRing::Long : HistoryRing::Short, pageEnd, pageSize), text);
}

void TestRecord::loadPage_data()
{
    QTest::addColumn<int>("stored");   // ids 1..stored are in the ring
    QTest::addColumn<int>("newestId"); // the sample written last
    QTest::addColumn<int>("pageEnd");
    QTest::addColumn<int>("first"); // expected ids, oldest first: first..kRingSize then 1..last,
    QTest::addColumn<int>("last");  // or first..last when first <= last

    QTest::newRow("newest 500") << 600 << 600 << 500 << 260 << 500;
    QTest::newRow("newest 100 wrapped") << 65500 << 100 << 100 << 65360 << 100;
    QTest::newRow("newest 100 never wrapped") << 100 << 100 << 100 << 1 << 100;
    QTest::newRow("counter unread, full ring") << 65500 << 100 << 0 << 65260 << 65500;
}

void TestRecord::loadPage()
{
    QFETCH(int, stored);
    QFETCH(int, newestId);
    QFETCH(int, pageEnd);
    QFETCH(int, first);
    QFETCH(int, last);
    const QString path = freshPath();
    HistoryStore store(QStringLiteral("t"));
    QVERIFY(store.open(path));
    {
        // Samples one second apart; ids above newestId are older (the previous lap).
        Peek peek(path);
        QVERIFY(peek.exec(
            QStringLiteral(
                "with recursive c(x) as (select 1 union all select x + 1 from c where x < %1) "
                "insert into pv_data select x, 46000, (case when x <= %2 then x + %1 - %2 else x - %2 end) / 86400.0, "
                "x, x / 10.0, 0, 0 from c")
                .arg(stored)
                .arg(newestId)));
    }
    QList<int> expected;
    if (first <= last) {
        for (int id = first; id <= last; ++id)
            expected << id;
    } else {
        for (int id = first; id <= kRingSize; ++id)
            expected << id;
        for (int id = 1; id <= last; ++id)
            expected << id;
    }
    const auto rows = store.loadPage(HistoryRing::Short, pageEnd, 241);
    QVERIFY(rows.has_value());
    QList<int> ids;
    for (const HistoryRow& r : *rows)
        ids << r.id;
    QCOMPARE(ids, expected);
    QCOMPARE(rows->first().pv, float(first));
    QCOMPARE(rows->first().op, float(first) / 10.0f);
    QCOMPARE(rows->first().date, 46000.0);
}

void TestRecord::idNearest()
{
    HistoryStore store(QStringLiteral("t"));
    QVERIFY(!store.idNearest(HistoryRing::Long, 46000, 0.5).has_value());
    QVERIFY(store.open(freshPath()));
    QVERIFY(!store.idNearest(HistoryRing::Long, 46000, 0.5).has_value());
    QList<HistoryRow> rows;
    for (int i = 1; i <= 3; ++i)
        rows << HistoryRow{i, 46000.0 + i, 0.25, 0, 0, 0, 0};
    QVERIFY(store.writeSamples(HistoryRing::Long, rows));
    QCOMPARE(store.idNearest(HistoryRing::Long, 46002, 0.0), 2);
    QCOMPARE(store.idNearest(HistoryRing::Long, 46003, 0.7), 3);
    QCOMPARE(store.idNearest(HistoryRing::Long, 40000, 0.0), 1);
    QVERIFY(!store.idNearest(HistoryRing::Short, 46002, 0.0).has_value());
}

void TestRecord::idNearestAcrossTheWrap_data()
{
    QTest::addColumn<double>("second"); // of day 46000
    QTest::addColumn<int>("id");
    // Ids 101..65500 hold seconds 1..65400 (the older lap), ids 1..100 seconds 65401..65500.
    QTest::newRow("older lap") << 30000.2 << 30100;
    QTest::newRow("newer lap") << 65450.0 << 50;
    QTest::newRow("between the laps, older side") << 65400.4 << 65500;
    QTest::newRow("between the laps, newer side") << 65400.6 << 1;
    QTest::newRow("before the oldest") << 0.0 << 101;
    QTest::newRow("after the newest") << 70000.0 << 100;
}

void TestRecord::idNearestAcrossTheWrap()
{
    QFETCH(double, second);
    QFETCH(int, id);
    const QString path = freshPath();
    HistoryStore store(QStringLiteral("t"));
    QVERIFY(store.open(path));
    {
        Peek peek(path);
        QVERIFY(peek.exec(QStringLiteral(
            "with recursive c(x) as (select 1 union all select x + 1 from c where x < 65500) "
            "insert into lpv_wdjl select x, 46000, (case when x <= 100 then x + 65400 else x - 100 end) / 86400.0, "
            "x, 0, 0, 0 from c")));
    }
    QCOMPARE(store.idNearest(HistoryRing::Long, 46000, second / 86400.0), id);
}

void TestRecord::pageReadKeepsStrayIds()
{
    // Across the wrap the page is every id outside the gap, ids off the ring included.
    const QString path = freshPath();
    HistoryStore store(QStringLiteral("t"));
    QVERIFY(store.open(path));
    Peek peek(path);
    for (const int id : {-2, 0, 1, 99, 100, 101, 65359, 65360, 65500, 65501})
        QVERIFY(
            peek.exec(QStringLiteral("insert into pv_data values (%1, 46000, %2, 0, 0, 0, 0)").arg(id).arg(id + 10)));
    QVERIFY(peek.exec(QStringLiteral("insert into pv_data values (null, 46000, 0.5, 0, 0, 0, 0)")));
    QList<int> expected;
    for (const auto& r : peek.rows(HistoryStore::pageQuery(HistoryRing::Short, 100, 241)))
        expected << r[0].toInt();
    QCOMPARE(expected, (QList<int>{-2, 0, 1, 99, 100, 65360, 65500, 65501}));
    QList<int> ids;
    for (const HistoryRow& r : store.loadPage(HistoryRing::Short, 100, 241).value_or(QVector<HistoryRow>{}))
        ids << r.id;
    QCOMPARE(ids, expected);
}

void TestRecord::ringIds_data()
{
    QTest::addColumn<int>("shortLast");
    QTest::addColumn<int>("longLast");
    QTest::addColumn<bool>("row1Exists"); // pv_data and lpv_wdjl already hold a row with id 1
    QTest::addColumn<int>("shortId");
    QTest::addColumn<int>("longId");

    QTest::newRow("65499 and 10") << 65499 << 10 << false << 65500 << 11;
    QTest::newRow("65500 wraps onto row 1") << 65500 << 65500 << true << 1 << 1;
    QTest::newRow("65500 wraps, row 1 missing") << 65500 << 65500 << false << 1 << 1;
    QTest::newRow("empty history") << 0 << 0 << false << 1 << 1;
    QTest::newRow("counter beyond the ring") << 70000 << 65501 << true << 1 << 1;
    QTest::newRow("negative counter") << -3 << -1 << true << 1 << 1;
}

void TestRecord::ringIds()
{
    QFETCH(int, shortLast);
    QFETCH(int, longLast);
    QFETCH(bool, row1Exists);
    QFETCH(int, shortId);
    QFETCH(int, longId);

    const QString path = freshPath();
    {
        HistoryStore store(QStringLiteral("t"));
        QVERIFY(store.open(path));
    }
    {
        Peek peek(path);
        QVERIFY(peek.exec(QStringLiteral("update sl_void set w_last=%1, w_last2=%1, lw_last=%2, lw_last2=%2")
                              .arg(shortLast)
                              .arg(longLast)));
        if (row1Exists) {
            QVERIFY(peek.exec(QStringLiteral("insert into pv_data values (1, 40000, 0.5, 1, 2, 3, 4)")));
            QVERIFY(peek.exec(QStringLiteral("insert into lpv_wdjl values (1, 40000, 0.5, 1, 2, 3, 4)")));
        }
    }
    FakeClock clock;
    LiveImage image;
    image.Values = {};
    image.Values[0] = 123.5f; // PV
    image.Values[1] = 45.6f;  // OP, percent
    image.Values[2] = 200.0f; // SV
    image.Values[3] = -7.25f; // aux
    SampleFlags flags;
    Recorder recorder(image, flags, path);
    recorder.tick();

    Peek peek(path);
    QCOMPARE(peek.counters(), (QList<int>{shortId, shortId, longId, longId}));
    const OleStamp now = stampAt(clock.now);
    const QVariantList expected{shortId, now.date, now.time, 123.5, double(45.6f), 200.0, -7.25};
    for (const QString& table : {QStringLiteral("pv_data"), QStringLiteral("lpv_wdjl")}) {
        const int id = table == QLatin1String("pv_data") ? shortId : longId;
        const QString column = table == QLatin1String("pv_data") ? QStringLiteral("w_id") : QStringLiteral("lw_id");
        const auto rows = peek.rows(QStringLiteral("select * from %1 where %2=%3").arg(table, column).arg(id));
        QCOMPARE(rows.size(), 1);
        QVariantList row = rows.first();
        QCOMPARE(row.size(), 7);
        for (int i = 0; i < 7; ++i)
            QCOMPARE(row[i].toDouble(), (i == 0 ? QVariant(id) : expected[i]).toDouble());
        QCOMPARE(peek.value(QStringLiteral("select count(*) from %1").arg(table)).toInt(),
                 row1Exists && id == 1 ? 1 : (row1Exists ? 2 : 1));
    }
}

void TestRecord::elapsedRule_data()
{
    QTest::addColumn<int>("step"); // seconds after the first sample
    QTest::addColumn<bool>("trendLink");
    QTest::addColumn<bool>("shortSample");
    QTest::addColumn<bool>("longSample");

    QTest::newRow("same second") << 0 << true << false << false;
    QTest::newRow("one second") << 1 << true << true << false;
    QTest::newRow("nine seconds") << 9 << true << true << false;
    QTest::newRow("ten seconds") << 10 << true << true << true;
    QTest::newRow("clock back one second") << -1 << true << true << false;
    QTest::newRow("clock back an hour") << -3600 << true << true << true;
    QTest::newRow("no trend window") << 10 << false << true << true;
    QTest::newRow("across midnight") << 36000 << true << true << true;
}

void TestRecord::elapsedRule()
{
    QFETCH(int, step);
    QFETCH(bool, trendLink);
    QFETCH(bool, shortSample);
    QFETCH(bool, longSample);

    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    flags.trendLinkEnabled = trendLink;
    const QString path = freshPath();
    Recorder recorder(image, flags, path);
    // At start both remembered times are 0: the first tick samples both.
    recorder.tick();
    QCOMPARE(flags.newSample, trendLink);
    QCOMPARE(flags.newLongSample, trendLink);
    flags.newSample = flags.newLongSample = false;

    clock.set(kStart, step);
    recorder.tick();
    QCOMPARE(flags.newSample, trendLink && shortSample);
    QCOMPARE(flags.newLongSample, trendLink && longSample);
    Peek peek(path);
    QCOMPARE(peek.counters(), (QList<int>{1 + shortSample, 1 + shortSample, 1 + longSample, 1 + longSample}));
    if (shortSample) {
        const OleStamp now = stampAt(clock.now);
        const auto r = peek.rows(QStringLiteral("select w_date, w_time from pv_data where w_id=2"));
        QCOMPARE(r.size(), 1);
        QCOMPARE(r[0][0].toDouble(), now.date);
        QCOMPARE(r[0][1].toDouble(), now.time);
        // The sample restarts the count: nothing more within the same second.
        flags.newSample = false;
        recorder.tick();
        QVERIFY(!flags.newSample);
    }
}

void TestRecord::counterRowRestored()
{
    const QString path = freshPath();
    {
        HistoryStore store(QStringLiteral("t"));
        QVERIFY(store.open(path));
    }
    Peek(path).exec(QStringLiteral("delete from sl_void"));
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    Recorder recorder(image, flags, path);
    recorder.setRetryInterval(0);
    recorder.tick();
    clock.set(kStart, 1);
    recorder.tick();
    Peek peek(path);
    QCOMPARE(peek.counters(), (QList<int>{2, 2, 1, 1}));
    QCOMPARE(peek.ids(QStringLiteral("pv_data")), (QList<int>{1, 2}));
    QCOMPARE(recorder.state(), RecorderState::Recording);
}

void TestRecord::lockedDatabaseKeepsSamples()
{
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    flags.trendLinkEnabled = true;
    const QString path = freshPath();
    Recorder recorder(image, flags, path);
    QSignalSpy spy(&recorder, &Recorder::stateChanged);
    recorder.setSpoolPath(QString()); // memory only: the oldest go
    recorder.setBacklogCapacity(8, 5);
    recorder.setRetryInterval(60000);
    recorder.tick(); // ids 1 and 1 at second 0

    Peek locker(path, QStringLiteral("locker"));
    QVERIFY(locker.exec(QStringLiteral("begin exclusive")));
    for (int s = 1; s <= 12; ++s) {
        clock.set(kStart, s);
        image.Values[0] = float(s);
        flags.newSample = false;
        recorder.tick();
        QVERIFY(flags.newSample); // the live trend keeps going
    }
    QCOMPARE(recorder.state(), RecorderState::Backlog);
    QCOMPARE(recorder.backlogSize(HistoryRing::Short), 8); // seconds 5..12; 1..4 dropped
    QCOMPARE(recorder.backlogSize(HistoryRing::Long), 1);  // second 10
    QCOMPARE(recorder.droppedSamples(), qint64(4));
    QCOMPARE(recorder.stateText(), QStringLiteral("数据库不可写，暂存 9 条，已丢弃 4 条"));
    QVERIFY(!spy.isEmpty());
    QCOMPARE(spy.last().at(0).value<RecorderState>(), RecorderState::Backlog);
    QCOMPARE(spy.last().at(1).toString(), recorder.stateText());

    QVERIFY(locker.exec(QStringLiteral("rollback")));
    recorder.setRetryInterval(0);
    clock.set(kStart, 13);
    image.Values[0] = 13;
    recorder.tick();
    QCOMPARE(recorder.state(), RecorderState::Recording);
    QCOMPARE(spy.last().at(1).toString(), QStringLiteral("记录正常"));
    QCOMPARE(recorder.backlogSize(), 0);

    // The kept samples carry the ids they were taken with and their own times.
    Peek peek(path);
    QCOMPARE(peek.counters(), (QList<int>{14, 14, 2, 2}));
    QCOMPARE(peek.ids(QStringLiteral("pv_data")), (QList<int>{1, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    for (const auto& r : peek.rows(QStringLiteral("select w_id, w_date, w_time, w_pv from pv_data where w_id > 1"))) {
        const OleStamp taken = stampAt(kStart.addSecs(r[0].toInt() - 1));
        QCOMPARE(r[1].toDouble(), taken.date);
        QCOMPARE(r[2].toDouble(), taken.time);
        QCOMPARE(r[3].toInt(), r[0].toInt() - 1);
    }
    QCOMPARE(peek.rows(QStringLiteral("select lw_id, w_time from lpv_wdjl where lw_id=2")).value(0).value(1).toDouble(),
             stampAt(kStart.addSecs(10)).time);
}

void TestRecord::readOnlyFileKeepsSamples()
{
    const QString path = freshPath();
    {
        HistoryStore store(QStringLiteral("t"));
        QVERIFY(store.open(path));
    }
    ReadOnly readOnly(path);
    if (!readOnly.ok())
        QSKIP("cannot make a file read-only here");

    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    Recorder recorder(image, flags, path);
    recorder.setRetryInterval(60000);
    for (int s = 0; s < 4; ++s) {
        clock.set(kStart, s);
        recorder.tick();
    }
    QCOMPARE(recorder.backlogSize(), 5);
    QVERIFY(recorder.state() != RecorderState::Recording);

    readOnly.undo();
    recorder.setRetryInterval(0);
    clock.set(kStart, 4);
    recorder.tick();
    QCOMPARE(recorder.state(), RecorderState::Recording);
    Peek peek(path);
    QCOMPARE(peek.counters(), (QList<int>{5, 5, 1, 1}));
    QCOMPARE(peek.ids(QStringLiteral("pv_data")), (QList<int>{1, 2, 3, 4, 5}));
    QCOMPARE(peek.value(QStringLiteral("select w_time from pv_data where w_id=1")).toDouble(), stampAt(kStart).time);
}

void TestRecord::deletedFileIsRecreated()
{
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    const QString path = freshPath();
    Recorder recorder(image, flags, path);
    for (int s = 0; s < 3; ++s) {
        clock.set(kStart, s);
        recorder.tick();
    }
    // A trend window keeps reading the old file meanwhile.
    HistoryStore trend(QStringLiteral("ssqx"));
    QVERIFY(trend.open(path));
    QCOMPARE(trend.newestId(HistoryRing::Short), 3);
    QVERIFY(QFile::remove(path)); // its log and shared-memory files stay behind

    recorder.setRetryInterval(0);
    clock.set(kStart, 3);
    recorder.tick(); // noticed, kept
    QCOMPARE(recorder.backlogSize(), 1);
    clock.set(kStart, 4);
    recorder.tick(); // new file; the kept sample starts its ring
    QCOMPARE(recorder.state(), RecorderState::Recording);
    Peek peek(path);
    QCOMPARE(peek.counters(), (QList<int>{2, 2, 0, 0}));
    QCOMPARE(peek.value(QStringLiteral("select w_time from pv_data where w_id=1")).toDouble(),
             stampAt(kStart.addSecs(3)).time);
    QCOMPARE(peek.ids(QStringLiteral("pv_data")), (QList<int>{1, 2}));
    QCOMPARE(peek.value(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
    QCOMPARE(trend.newestId(HistoryRing::Short), 3);
    trend.close();
    QVERIFY(trend.open(path));
    QCOMPARE(trend.newestId(HistoryRing::Short), 2);
}

namespace {
QStringList recordLog;
void collectRecordLog(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (context.category && QByteArray(context.category) == "px.record")
        recordLog << message;
}
} // namespace

void TestRecord::lastingTroubleIsLoggedNowAndThen()
{
    const QString folder = dir_->filePath(QStringLiteral("data"));
    {
        QFile blocker(folder); // the folder cannot be made
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    recordLog.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectRecordLog);
    {
        Recorder recorder(image, flags, folder + QStringLiteral("/Rdatabj.db"));
        recorder.setRetryInterval(0);
        recorder.setBacklogCapacity(10, 10);
        for (int s = 0; s < 120; ++s) { // two minutes of retries and a full backlog
            clock.set(kStart, s);
            recorder.tick();
        }
    }
    qInstallMessageHandler(previous);
    QVERIFY2(recordLog.size() <= 8, qPrintable(recordLog.join('\n')));
}

void TestRecord::missingDatabaseComesBack()
{
    // The folder cannot be made while a plain file has its name.
    const QString folder = dir_->filePath(QStringLiteral("data"));
    const QString path = folder + QStringLiteral("/Rdatabj.db");
    {
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    Recorder recorder(image, flags, path);
    recorder.setRetryInterval(0);
    QCOMPARE(recorder.state(), RecorderState::NoDatabase);
    for (int s = 0; s < 2; ++s) {
        clock.set(kStart, s);
        recorder.tick();
    }
    QCOMPARE(recorder.stateText(), QStringLiteral("数据库无法打开，暂存 3 条"));

    // An existing history turns up: the kept samples continue its rings.
    QVERIFY(QFile::remove(folder));
    {
        HistoryStore store(QStringLiteral("t"));
        QVERIFY(store.open(path));
    }
    Peek(path).exec(QStringLiteral("update sl_void set w_last=500, w_last2=500, lw_last=65500, lw_last2=65500"));
    clock.set(kStart, 2);
    recorder.tick();
    QCOMPARE(recorder.state(), RecorderState::Recording);
    Peek peek(path);
    QCOMPARE(peek.counters(), (QList<int>{503, 503, 1, 1}));
    QCOMPARE(peek.ids(QStringLiteral("pv_data")), (QList<int>{501, 502, 503}));
    QCOMPARE(peek.value(QStringLiteral("select w_time from lpv_wdjl where lw_id=1")).toDouble(), stampAt(kStart).time);
}

void TestRecord::killedWhileRecording()
{
    const QString path = freshPath();
    int lastNewest = 0;
    for (int run = 0; run < 20; ++run) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--record-until-killed"), path, QString::number(run * 100000)});
        QVERIFY2(child.waitForReadyRead(10000), qPrintable(child.readAllStandardError()));
        QTest::qWait(int(QRandomGenerator::global()->bounded(5, 40)));
        child.kill();
        QVERIFY(child.waitForFinished(10000));

        Peek peek(path, QStringLiteral("check"));
        QCOMPARE(peek.value(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
        const QList<int> c = peek.counters();
        QCOMPARE(c.size(), 4);
        QCOMPARE(c[0], c[1]);
        QCOMPARE(c[2], c[3]);
        QVERIFY(c[0] > lastNewest);
        lastNewest = c[0];
        const QStringList tables{QStringLiteral("pv_data"), QStringLiteral("lpv_wdjl")};
        const QStringList columns{QStringLiteral("w_id"), QStringLiteral("lw_id")};
        for (int i = 0; i < 2; ++i) {
            const int newest = c[2 * i];
            // Every id up to the counter exactly once, nothing beyond it, and
            // the counter names the newest sample.
            const auto r = peek.rows(
                QStringLiteral("select count(*), count(distinct %1), max(%1) from %2").arg(columns[i], tables[i]));
            QCOMPARE(r.value(0), (QVariantList{newest, newest, newest}));
            QCOMPARE(peek.value(QStringLiteral("select %1 from %2 order by w_date desc, w_time desc limit 1")
                                    .arg(columns[i], tables[i]))
                         .toInt(),
                     newest);
        }
    }
}

void TestRecord::stopDuringOutageKeepsEverySample()
{
    const QString path = freshPath();
    const QString spool = dir_->filePath(QStringLiteral("sub/Rdatabj-spool.db"));
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    int s = 0;
    auto tickTo = [&](Recorder& recorder, int last) {
        for (; s <= last; ++s) {
            clock.set(kStart, s);
            image.Values[0] = float(s);
            recorder.tick();
        }
    };
    {
        Recorder recorder(image, flags, path);
        recorder.setRetryInterval(0);
        tickTo(recorder, 2); // ids 1..3 written
        Peek locker(path, QStringLiteral("locker"));
        QVERIFY(locker.exec(QStringLiteral("begin exclusive")));
        tickTo(recorder, 25); // 23 one-second samples and 2 ten-second ones held
        QCOMPARE(recorder.backlogSize(), 25);
        QVERIFY(locker.exec(QStringLiteral("rollback")));
    } // stopped while they were held
    QCOMPARE(shell(spool, QStringLiteral("select count(*) from spool_pv_data")), QStringLiteral("23"));
    QCOMPARE(shell(path, QStringLiteral("select max(w_id) from pv_data")), QStringLiteral("3"));

    Recorder again(image, flags, path);
    tickTo(again, 27);
    QCOMPARE(again.state(), RecorderState::Recording);
    QCOMPARE(again.backlogSize(), 0);
    // Every second once, in order, under ids that follow on; the spool is empty.
    QStringList expected;
    for (int i = 0; i <= 27; ++i)
        expected << QStringLiteral("%1|%2").arg(i + 1).arg(i);
    QCOMPARE(shell(path, QStringLiteral("select w_id || '|' || cast(w_pv as int) from pv_data order by w_date, w_time"))
                 .split(QLatin1Char('\n')),
             expected);
    QCOMPARE(Peek(path).counters(), (QList<int>{28, 28, 4, 4})); // a new recorder starts with a long sample
    QCOMPARE(shell(spool, QStringLiteral("select count(*) from spool_pv_data")), QStringLiteral("0"));
}

void TestRecord::spoolThatCannotBeRenumberedIsNotWritten()
{
    // Ids never read (no database yet): the spooled rows must be numbered on
    // from the counter before any is written.
    const QString folder = dir_->filePath(QStringLiteral("data"));
    const QString path = folder + QStringLiteral("/Rdatabj.db");
    const QString spool = dir_->filePath(QStringLiteral("spool.db"));
    {
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    Recorder recorder(image, flags, path);
    recorder.setRetryInterval(0);
    recorder.setBacklogCapacity(1, 1);
    recorder.setSpoolPath(spool);
    for (int s = 0; s < 4; ++s) {
        clock.set(kStart, s);
        recorder.tick();
    }
    QCOMPARE(
        shell(spool, QStringLiteral("create trigger no before update on spool_pv_data "
                                    "begin select raise(fail, 'refused'); end; select count(*) from spool_pv_data")),
        QStringLiteral("3"));
    QVERIFY(QFile::remove(folder));
    {
        HistoryStore store(QStringLiteral("t"));
        QVERIFY(store.open(path));
    }
    Peek(path).exec(QStringLiteral("update sl_void set w_last=500, w_last2=500"));
    clock.set(kStart, 4);
    recorder.tick();
    QVERIFY(recorder.state() != RecorderState::Recording);
    QCOMPARE(Peek(path).ids(QStringLiteral("pv_data")), QList<int>{});

    shell(spool, QStringLiteral("drop trigger no"));
    clock.set(kStart, 5);
    recorder.tick();
    QCOMPARE(recorder.state(), RecorderState::Recording);
    QCOMPARE(Peek(path).ids(QStringLiteral("pv_data")), (QList<int>{501, 502, 503, 504, 505, 506}));
}

void TestRecord::unwritableIndexNeverFaults()
{
    const QString path = freshPath();
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    Recorder recorder(image, flags, path);
    recorder.setRetryInterval(0);
    HistoryStore trend(QStringLiteral("ssqx")); // a trend window reads the same file
    QVERIFY(trend.open(path));
    int s = 0;
    auto tickTo = [&](int last) {
        for (; s <= last; ++s) {
            clock.set(kStart, s);
            recorder.tick();
        }
    };
    tickTo(2);
    ReadOnly index(path + QStringLiteral("-shm"));
    if (!index.ok())
        QSKIP("cannot make a file read-only here");
    ::sync(); // written back: the next write to the mapped index faults
    tickTo(5);
    QVERIFY(recorder.state() != RecorderState::Recording);
    QVERIFY(!trend.newestId(HistoryRing::Short));
    trend.close();

    index.undo();
    tickTo(6);
    QCOMPARE(recorder.state(), RecorderState::Recording);
    QCOMPARE(Peek(path).ids(QStringLiteral("pv_data")), (QList<int>{1, 2, 3, 4, 5, 6, 7}));
}

void TestRecord::driverErrorText()
{
    // The store's and the export's messages quote a driver's complaint one
    // way: its text, and the driver's code where it gives one.
    QCOMPARE(
        RingSchema::errorText(QSqlError(QStringLiteral("no such table: pv_data"), QStringLiteral("Unable to execute"),
                                        QSqlError::StatementError, QStringLiteral("1"))),
        QStringLiteral("Unable to execute no such table: pv_data [1]"));
    QCOMPARE(RingSchema::errorText(QSqlError(QString(), QStringLiteral("disk I/O error "))),
             QStringLiteral("disk I/O error"));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--record-until-killed") == 0)
        return recordUntilKilled(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong());
    TestRecord test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
