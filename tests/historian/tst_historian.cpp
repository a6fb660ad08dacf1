// The history on a real PostgreSQL server (the CTest fixture starts it; its
// folder is PX_PG_DIR, the control script PX_PG_CTL).
#include "HistoryStore.h"
#include "PgServer.h"
#include "ServerWatchdog.h"
#include "TcpProxy.h"
#include "LiveImage.h"
#include "Recorder.h"
#include "SampleFlags.h"
#include "StationClock.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QDateTime kStart{QDate(2026, 12, 8), QTime(14, 0, 0)};

struct FakeClock {
    QDateTime now = kStart;
    FakeClock()
    {
        StationClock::setSource([this] { return now; });
    }
    ~FakeClock() { StationClock::setSource({}); }
    void at(int seconds) { now = kStart.addSecs(seconds); }
};

QList<int> ids(const QString& station)
{
    QList<int> out;
    for (const auto& r : query(QStringLiteral("select w_id from %1.pv_data order by w_id").arg(station)))
        out << r[0].toInt();
    return out;
}

HistoryRow row(qint32 id, double seconds)
{
    // Times run with the id except across the wrap, where the newest ids are small.
    const OleStamp s = OleTime::fromDateTime(kStart.addSecs(qint64(seconds)));
    return HistoryRow{id, s.date, s.time, float(id) / 8, float(id % 100), 50.25f, -1.5f};
}

} // namespace

class TestHistorian : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void schemaCreatedOnce();
    void twoStationsOneDatabase();
    void samePagesAsSqlite_data();
    void samePagesAsSqlite();
    void serverRestartedMidRecording();
    void refusedPasswordKeepsSamples();
    void threadedRecorderNeverWaits();
    void ownedSchemaWithoutCreateRight();
    void unusableServerSaysWhy_data();
    void unusableServerSaysWhy();
    // Last: it begins the stop, after which no server connection opens.
    void silentNetworkIsCutAndStopIsBounded();

private:
    QTemporaryDir dataHome_;
};

void TestHistorian::initTestCase()
{
    QVERIFY2(!serverDir().isEmpty() && !port().isEmpty(), "run under CTest: the server fixture sets PX_PG_DIR");
    // Spools of a server history live in the user's data folder: give this
    // run a folder of its own, so no run replays another's leftovers.
    QVERIFY(dataHome_.isValid());
    qputenv("XDG_DATA_HOME", dataHome_.path().toLocal8Bit());
}

void TestHistorian::schemaCreatedOnce()
{
    {
        HistoryStore store(QStringLiteral("a"));
        QString error;
        QVERIFY2(store.open(url(QStringLiteral("px5800_7")), &error), qPrintable(error));
        QVERIFY(store.createdSchema());
        QCOMPARE(store.readCounters()->shortLast, 0);
    }
    // Columns in the file's order, integers and doubles.
    const auto cols = query(QStringLiteral("select table_name, column_name, data_type from information_schema.columns "
                                           "where table_schema='px5800_7' order by table_name, ordinal_position"));
    QStringList text;
    for (const auto& c : cols)
        text << c[0].toString() + QLatin1Char('.') + c[1].toString() + QLatin1Char(' ') + c[2].toString();
    const QString d = QStringLiteral(" double precision");
    QStringList expected;
    for (const char* t : {"lpv_wdjl", "pv_data"}) {
        const QString table = QLatin1String(t);
        expected << table
                        + (table == QLatin1String("pv_data") ? QStringLiteral(".w_id integer")
                                                             : QStringLiteral(".lw_id integer"));
        for (const char* c : {"w_date", "w_time", "w_pv", "w_op", "w_sv", "w_aux"})
            expected << table + QLatin1Char('.') + QLatin1String(c) + d;
    }
    expected << QStringLiteral("sl_void.w_last integer") << QStringLiteral("sl_void.w_last2 integer")
             << QStringLiteral("sl_void.lw_last integer") << QStringLiteral("sl_void.lw_last2 integer");
    QCOMPARE(text, expected);

    HistoryStore again(QStringLiteral("b"));
    QVERIFY(again.open(url(QStringLiteral("px5800_7"))));
    QVERIFY(!again.createdSchema());
    QCOMPARE(query(QStringLiteral("select count(*) from px5800_7.sl_void")).value(0).value(0).toInt(), 1);
}

void TestHistorian::twoStationsOneDatabase()
{
    HistoryStore a(QStringLiteral("a")), b(QStringLiteral("b"));
    QVERIFY(a.open(url(QStringLiteral("line_a"))));
    QVERIFY(b.open(url(QStringLiteral("line_b"))));
    QVERIFY(a.writeSamples(HistoryRing::Short, {row(1, 0), row(2, 1), row(3, 2)}));
    QVERIFY(b.writeSamples(HistoryRing::Short, {row(1, 5)}));
    QVERIFY(b.writeSamples(HistoryRing::Long, {row(1, 5)}));
    QCOMPARE(*a.newestId(HistoryRing::Short), 3);
    QCOMPARE(*a.newestId(HistoryRing::Long), 0);
    QCOMPARE(*b.newestId(HistoryRing::Short), 1);
    QCOMPARE(a.loadPage(HistoryRing::Short, 3, 321)->size(), 3);
    QCOMPARE(b.loadPage(HistoryRing::Short, 1, 321)->value(0).time, row(1, 5).time);
}

// The same rows in a file and in a schema, read with the one query text.
void TestHistorian::samePagesAsSqlite_data()
{
    QTest::addColumn<int>("pageEnd");
    QTest::addColumn<int>("pageSize");
    QTest::newRow("inside the ring") << 60 << 20;
    QTest::newRow("ending at the ring's end") << int(kRingSize) << 30;
    QTest::newRow("across the wrap") << 25 << 321;
    QTest::newRow("page larger than what is stored") << 40 << 321;
}

void TestHistorian::samePagesAsSqlite()
{
    QFETCH(int, pageEnd);
    QFETCH(int, pageSize);
    // A wrapped ring: ids kRingSize-299..kRingSize, then 1..100 written after them.
    QList<HistoryRow> rows;
    for (int i = 0; i < 400; ++i)
        rows << row(i < 300 ? kRingSize - 299 + i : i - 299, i);
    QTemporaryDir dir;
    HistoryStore file(QStringLiteral("file")), schema(QStringLiteral("schema"));
    QVERIFY(file.open(dir.filePath(QStringLiteral("h.db"))));
    QVERIFY(schema.open(url(QStringLiteral("wrap_%1_%2").arg(pageEnd).arg(pageSize))));
    QVERIFY(file.writeSamples(HistoryRing::Short, rows));
    QVERIFY(schema.writeSamples(HistoryRing::Short, rows));
    QCOMPARE(*schema.newestId(HistoryRing::Short), 100);

    const auto a = file.loadPage(HistoryRing::Short, pageEnd, pageSize);
    const auto b = schema.loadPage(HistoryRing::Short, pageEnd, pageSize);
    QVERIFY(a && b);
    QVERIFY(!a->isEmpty());
    QCOMPARE(b->size(), a->size());
    for (int i = 0; i < a->size(); ++i) {
        QCOMPARE(b->at(i).id, a->at(i).id);
        QCOMPARE(b->at(i).date, a->at(i).date);
        QCOMPARE(b->at(i).time, a->at(i).time);
        QCOMPARE(b->at(i).pv, a->at(i).pv);
        QCOMPARE(b->at(i).aux, a->at(i).aux);
    }
    const OleStamp mid = OleTime::fromDateTime(kStart.addSecs(250));
    QCOMPARE(schema.idNearest(HistoryRing::Short, mid.date, mid.time),
             file.idNearest(HistoryRing::Short, mid.date, mid.time));
}

void TestHistorian::serverRestartedMidRecording()
{
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    QTemporaryDir dir;
    Recorder recorder(image, flags, url(QStringLiteral("restart")));
    QCOMPARE(recorder.state(), RecorderState::Recording);
    recorder.setRetryInterval(0);
    // Most of the outage goes through the spool file.
    recorder.setBacklogCapacity(4, 1);
    recorder.setSpoolPath(dir.filePath(QStringLiteral("spool.db")));
    int s = 0;
    auto tickTo = [&](int last) {
        for (; s <= last; ++s) {
            clock.at(s);
            image.Values[0] = float(s);
            recorder.tick();
        }
    };
    tickTo(4); // ids 1..5
    QVERIFY(server("stop"));
    tickTo(14);
    QCOMPARE(recorder.backlogSize(HistoryRing::Short), 10);
    QCOMPARE(recorder.stateText(), QStringLiteral("历史服务器无法连接，暂存 11 条"));
    QVERIFY(server("start"));
    tickTo(16);
    QCOMPARE(recorder.state(), RecorderState::Recording);
    QCOMPARE(recorder.backlogSize(), 0);

    QList<int> expected;
    for (int i = 1; i <= 17; ++i)
        expected << i;
    QCOMPARE(ids(QStringLiteral("restart")), expected);
    // In order, each with the value of its own second.
    const auto pv = query(QStringLiteral("select w_id, w_pv from restart.pv_data order by w_date, w_time"));
    QCOMPARE(pv.size(), 17);
    for (int i = 0; i < pv.size(); ++i)
        QCOMPARE(pv[i][1].toInt(), pv[i][0].toInt() - 1);
    QCOMPARE(query(QStringLiteral("select w_last, lw_last from restart.sl_void")).value(0), (QVariantList{17, 2}));
}

void TestHistorian::refusedPasswordKeepsSamples()
{
    QTemporaryDir dir;
    const QString passFile = dir.filePath(QStringLiteral("pgpass"));
    auto writePass = [&](const char* password) {
        QFile f(passFile);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray("*:*:plant:guarded:") + password + '\n');
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    };
    writePass("wrong");
    qputenv("PGPASSFILE", passFile.toLocal8Bit());

    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    Recorder recorder(image, flags, url(QStringLiteral("guarded"), QStringLiteral("guarded")));
    recorder.setRetryInterval(0);
    // Ids never read: the spooled rows are numbered from the counter too.
    recorder.setBacklogCapacity(2, 1);
    recorder.setSpoolPath(dir.filePath(QStringLiteral("spool.db")));
    for (int s = 0; s < 3; ++s) {
        clock.at(s);
        recorder.tick();
    }
    QCOMPARE(recorder.state(), RecorderState::NoDatabase);
    QCOMPARE(recorder.stateText(), QStringLiteral("历史服务器拒绝密码，暂存 4 条"));

    writePass("right");
    clock.at(3);
    recorder.tick();
    qunsetenv("PGPASSFILE");
    QCOMPARE(recorder.state(), RecorderState::Recording);
    QCOMPARE(ids(QStringLiteral("guarded")), (QList<int>{1, 2, 3, 4}));
}

void TestHistorian::threadedRecorderNeverWaits()
{
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    flags.trendLinkEnabled = true;
    Recorder recorder(image, flags, url(QStringLiteral("threaded")), Recorder::Mode::Threaded);
    recorder.setRetryInterval(0);
    QTRY_COMPARE(recorder.stateText(), QStringLiteral("记录正常"));

    {
        // An engineer's long transaction holds the table: every write waits
        // for the lock (and gives up after a while).
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("locker"));
        db.setHostName(serverDir());
        db.setPort(port().toInt());
        db.setDatabaseName(QStringLiteral("plant"));
        db.setUserName(QStringLiteral("px5800"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("begin")));
        QVERIFY(q.exec(QStringLiteral("lock table threaded.pv_data in access exclusive mode")));
        QElapsedTimer t;
        t.start();
        for (int s = 0; s < 4; ++s) {
            clock.at(s);
            image.Values[0] = float(s);
            flags.newSample = false;
            recorder.tick();
            QVERIFY(flags.newSample);
        }
        // Each of those writes would have waited seconds on this thread.
        QVERIFY2(t.elapsed() < HistoryStore::kLockTimeoutMs * 3 / 4, qPrintable(QString::number(t.elapsed())));
        QVERIFY(q.exec(QStringLiteral("rollback")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
    clock.at(4);
    image.Values[0] = 4;
    recorder.tick();

    QTRY_COMPARE_WITH_TIMEOUT(ids(QStringLiteral("threaded")), (QList<int>{1, 2, 3, 4, 5}), 30000);
    const auto pv = query(QStringLiteral("select w_id, w_pv from threaded.pv_data order by w_date, w_time"));
    for (int i = 0; i < pv.size(); ++i)
        QCOMPARE(pv[i][1].toInt(), pv[i][0].toInt() - 1);
    QTRY_COMPARE(recorder.stateText(), QStringLiteral("记录正常"));
}

// The least-privilege set-up: a role that owns its schema and may not create
// schemas in the database.
void TestHistorian::ownedSchemaWithoutCreateRight()
{
    query(QStringLiteral("create role keeper login"));
    query(QStringLiteral("create schema kept authorization keeper"));
    HistoryStore store(QStringLiteral("keeper"));
    QString error;
    QVERIFY2(store.open(url(QStringLiteral("kept"), QStringLiteral("keeper")), &error), qPrintable(error));
    QVERIFY(store.createdSchema());
    QVERIFY2(store.writeSamples(HistoryRing::Short, {row(1, 0)}, &error), qPrintable(error));
    QCOMPARE(ids(QStringLiteral("kept")), (QList<int>{1}));
}

void TestHistorian::unusableServerSaysWhy_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("text");
    QTest::newRow("no right to create the schema") << "create role lacker login"
                                                   << "lacker"
                                                   << "lacking"
                                                   << "历史服务器无权写入";
    QTest::newRow("tables of another layout")
        << "create schema alien; create table alien.pv_data (id integer, value text)"
        << "px5800"
        << "alien"
        << "历史服务器表结构不符";
}

void TestHistorian::unusableServerSaysWhy()
{
    QFETCH(QString, setUp);
    QFETCH(QString, user);
    QFETCH(QString, station);
    QFETCH(QString, text);
    for (const QString& sql : setUp.split(QStringLiteral("; ")))
        query(sql);
    HistoryStore store(QStringLiteral("why"));
    QVERIFY(!store.open(url(station, user)));
    QCOMPARE(store.unreachableText(), text);
    // Nothing created, nothing altered.
    QCOMPARE(query(QStringLiteral("select count(*) from pg_tables where schemaname = '%1'").arg(station))
                 .value(0)
                 .value(0)
                 .toInt(),
             station == QLatin1String("alien") ? 1 : 0);
}

void TestHistorian::silentNetworkIsCutAndStopIsBounded()
{
    ServerWatchdog::setSilenceLimitMs(1000);
    TcpProxy proxy(quint16(port().toInt()));
    FakeClock clock;
    LiveImage image;
    SampleFlags flags;
    auto recorder = std::make_unique<Recorder>(
        image, flags, QStringLiteral("postgresql://px5800@127.0.0.1:%1/plant?station=frozen").arg(proxy.port()),
        Recorder::Mode::Threaded);
    clock.at(0);
    recorder->tick();
    QTRY_COMPARE(ids(QStringLiteral("frozen")), (QList<int>{1}));
    QCOMPARE(recorder->stateText(), QStringLiteral("记录正常"));

    proxy.freeze();
    QElapsedTimer t;
    t.start();
    clock.at(1);
    recorder->tick();
    QTRY_VERIFY_WITH_TIMEOUT(recorder->stateText().startsWith(QStringLiteral("历史服务器无法连接")), 5000);
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));

    // A retry under way when the stop begins: the writer returns and the
    // recorder ends within the stop's bound.
    recorder->setRetryInterval(0);
    clock.at(2);
    recorder->tick();
    ServerWatchdog::beginStop();
    t.restart();
    recorder.reset();
    // Bounded, not quick: without the watchdog the stop never returns; a
    // generous margin keeps a loaded machine from failing the run.
    QVERIFY2(t.elapsed() < 2 * ServerWatchdog::kStopLimitMs + 8000, qPrintable(QString::number(t.elapsed())));
}

QTEST_GUILESS_MAIN(TestHistorian)
#include "tst_historian.moc"
