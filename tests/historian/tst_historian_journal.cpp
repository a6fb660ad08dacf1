// The event journal and the CSV export on a history server (the CTest
// fixture starts it; its folder is PX_PG_DIR, the control script PX_PG_CTL),
// against the same data in SQLite.
#include "HistoryExport.h"
#include "HistoryStore.h"
#include "Journal.h"
#include "JournalReader.h"
#include "JournalStore.h"
#include "PgServer.h"
#include "StationClock.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// One column of an engineer's query, as text.
QStringList column(const QString& sql)
{
    QStringList out;
    for (const QVariantList& row : query(sql))
        out << row.value(0).toString();
    return out;
}

JournalEvent journalEvent(int n, const QString& kind, const QString& source, const QString& message,
                          const QString& oldValue = {}, const QString& newValue = {})
{
    JournalEvent e;
    e.timeUtc = QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC).addSecs(60 * n);
    e.kind = kind;
    e.source = source;
    e.message = message;
    e.oldValue = oldValue;
    e.newValue = newValue;
    e.operatorName = QStringLiteral("op");
    return e;
}

QString nullMarked(const QString& text) { return text.isNull() ? QStringLiteral("<null>") : text; }

// Everything a reader sees of a row, the acknowledgement included.
QStringList rowsText(JournalStore& store, const JournalFilter& filter, qint64 beforeId = 0)
{
    QList<bool> acked;
    const QList<JournalEvent> rows = store.page(filter, beforeId, 100, &acked);
    QStringList out;
    for (int i = 0; i < rows.size(); ++i) {
        const JournalEvent& e = rows[i];
        out << QStringList{QString::number(e.id),
                           utcTimeText(e.timeUtc),
                           e.kind,
                           e.source,
                           e.message,
                           nullMarked(e.oldValue),
                           nullMarked(e.newValue),
                           nullMarked(e.result),
                           e.operatorName,
                           acked.value(i) ? QStringLiteral("acked") : QString()}
                   .join(QLatin1Char('|'));
    }
    return out;
}

} // namespace

class TestHistorianJournal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void journalLivesInTheStationSchema();
    void twoStationsJournalsApart();
    void sameRowsAsSqlite_data();
    void sameRowsAsSqlite();
    void serverAwayKeepsEventsInOrder();
    void csvIdenticalOnBothEngines_data();
    void csvIdenticalOnBothEngines();
    void exportNeverShowsThePassword();
    void leastPrivilegeRoleAndWhyNot();
    void journalFromBeforeLoopsGetsTheColumn();

private:
    QTemporaryDir dir_;
    QTemporaryDir dataHome_;
};

void TestHistorianJournal::initTestCase()
{
    QVERIFY2(!serverDir().isEmpty() && !port().isEmpty(), "run under CTest: the server fixture sets PX_PG_DIR");
    // Spools of a server history live in the user's data folder: give this
    // run a folder of its own, so no run replays another's leftovers.
    QVERIFY(dataHome_.isValid());
    qputenv("XDG_DATA_HOME", dataHome_.path().toLocal8Bit());
}

void TestHistorianJournal::journalLivesInTheStationSchema()
{
    {
        JournalStore store(QStringLiteral("schema"));
        QVERIFY2(store.open(url(QStringLiteral("jschema"))), qPrintable(store.lastError()));
        QList<JournalEvent> one{journalEvent(1, "system", "station", "启动")};
        QVERIFY(store.append(one));
        QCOMPARE(one[0].id, qint64(1));
    }
    QCOMPARE(column(QStringLiteral("select column_name || ' ' || data_type from information_schema.columns where "
                                   "table_schema = 'jschema' and table_name = 'events' order by ordinal_position"))
                 .join(QLatin1Char(',')),
             QStringLiteral("id integer,time_utc text,kind text,source text,message text,old_value text,"
                            "new_value text,result text,operator text,loop integer"));
    QCOMPARE(column(QStringLiteral("select tablename from pg_tables where schemaname = 'jschema' order by 1")),
             (QStringList{"acks", "events"}));
    // The history still creates its own tables in a schema the journal made first.
    HistoryStore history(QStringLiteral("after-journal"));
    QString error;
    QVERIFY2(history.open(url(QStringLiteral("jschema")), &error), qPrintable(error));
    QVERIFY(history.createdSchema());
    QVERIFY(history.readCounters());
}

void TestHistorianJournal::twoStationsJournalsApart()
{
    for (const char* station : {"japart_1", "japart_2"}) {
        JournalStore store(QStringLiteral("apart"));
        QVERIFY(store.open(url(QLatin1String(station))));
        QList<JournalEvent> e{journalEvent(1, "link", "port 1", QLatin1String(station))};
        QVERIFY(store.append(e));
        QCOMPARE(e[0].id, qint64(1)); // each station numbers its own
    }
    // The journal window's reader, on its thread, sees its station only.
    JournalReader reader(url(QStringLiteral("japart_2")));
    QSignalSpy pages(&reader, &JournalReader::pageReady);
    reader.requestPage({}, 0, 10);
    QTRY_COMPARE(pages.size(), 1);
    const auto rows = pages[0][1].value<QList<JournalEvent>>();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].message, QStringLiteral("japart_2"));
}

void TestHistorianJournal::sameRowsAsSqlite_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("fromMinute"); // -1: no bound
    QTest::addColumn<qint64>("beforeId");
    QTest::addColumn<int>("expected");

    QTest::newRow("all, the bound applied") << QString() << QString() << -1 << qint64(0) << 8;
    QTest::newRow("a page below an id") << QString() << QString() << -1 << qint64(9) << 4;
    QTest::newRow("one kind, acknowledgements shown") << "alarm" << QString() << -1 << qint64(0) << 3;
    QTest::newRow("from a time") << QString() << QString() << 9 << qint64(0) << 4;
    QTest::newRow("text is case-sensitive") << QString() << "sv" << -1 << qint64(0) << 1;
    QTest::newRow("text with wildcard characters") << QString() << "50%_" << -1 << qint64(0) << 1;
    QTest::newRow("text in Chinese") << QString() << "报警" << -1 << qint64(0) << 3;
    QTest::newRow("a quote in the text") << QString() << "it's" << -1 << qint64(0) << 1;
}

void TestHistorianJournal::sameRowsAsSqlite()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(int, fromMinute);
    QFETCH(qint64, beforeId);
    QFETCH(int, expected);

    static int run = 0;
    ++run;
    JournalStore file(QStringLiteral("file")), schema(QStringLiteral("schema"));
    QVERIFY(file.open(dir_.filePath(QStringLiteral("same%1.db").arg(run))));
    QVERIFY(schema.open(url(QStringLiteral("jsame_%1").arg(run))));
    for (JournalStore* store : {&file, &schema}) {
        store->setBound(8);
        // Twelve events in three appends; the bound keeps ids 5..12.
        QList<QList<JournalEvent>> batches{
            {journalEvent(1, "alarm", "alarm 1", "报警1 出现"), journalEvent(2, "write", "SV", "SV 写入", "300", "320"),
             journalEvent(3, "alarm", "alarm 1", "报警1 消失"), journalEvent(4, "state", "coil 2", "手动")},
            {journalEvent(5, "alarm", "alarm 2", "报警2 出现"),
             journalEvent(6, "write", "sv", "小写 sv", QString(), ""),
             journalEvent(7, "system", "station", "it's 50%_ done"), journalEvent(8, "link", "port 1", "通讯中断")},
            {journalEvent(9, "alarm", "sensor", "传感器开路 报警"),
             journalEvent(10, "write", "SV", "SV 写入", "1", "2"), journalEvent(11, "alarm", "alarm 1", "报警1 出现"),
             journalEvent(12, "link", "port 1", "通讯正常 503")}};
        for (auto& batch : batches)
            QVERIFY2(store->append(batch), qPrintable(store->lastError()));
        QVERIFY(store->acknowledge({9, 3, 11, 9}, QDateTime(QDate(2026, 12, 8), QTime(11, 0), Qt::UTC),
                                   QStringLiteral("op")));
        QVERIFY(store->updateResult(10, QStringLiteral("verified")));
    }
    QCOMPARE(schema.unacknowledgedAlarms(), 1); // 5; 3 was trimmed, 9 and 11 acknowledged
    QCOMPARE(schema.unacknowledgedAlarms(), file.unacknowledgedAlarms());

    JournalFilter filter;
    filter.kind = kind;
    filter.text = text;
    if (fromMinute >= 0)
        filter.fromUtc = QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC).addSecs(60 * fromMinute);
    const QStringList a = rowsText(file, filter, beforeId);
    const QStringList b = rowsText(schema, filter, beforeId);
    QCOMPARE(a.size(), expected);
    QCOMPARE(b, a);
    QCOMPARE(schema.count(filter), file.count(filter));
}

void TestHistorianJournal::serverAwayKeepsEventsInOrder()
{
    Journal journal(url(QStringLiteral("jaway")));
    journal.setRetryInterval(100);
    auto say = [&](int from, int to) {
        for (int i = from; i <= to; ++i)
            journal.append(QStringLiteral("system"), QStringLiteral("test"), QStringLiteral("e%1").arg(i));
    };
    say(1, 3);
    QTRY_VERIFY(journal.sync());
    QVERIFY(server("stop"));
    say(4, 8);
    QTRY_COMPARE(journal.stateText(), QStringLiteral("事件记录服务器无法连接，暂存 5 条"));
    QVERIFY(!journal.healthy());
    QVERIFY(server("start"));
    QTRY_VERIFY_WITH_TIMEOUT(journal.sync(), 15000);
    QTRY_VERIFY(journal.healthy());
    say(9, 9);
    QTRY_VERIFY(journal.sync());

    QStringList expected;
    for (int i = 1; i <= 9; ++i)
        expected << QStringLiteral("%1 e%1").arg(i);
    QCOMPARE(column(QStringLiteral("select id || ' ' || message from jaway.events order by id")), expected);
}

void TestHistorianJournal::csvIdenticalOnBothEngines_data()
{
    QTest::addColumn<int>("from"); // seconds after the first sample; -1: no bound
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("rows");
    QTest::newRow("whole ring, across the wrap") << -1 << -1 << 400;
    QTest::newRow("a range") << 100 << 349 << 250;
    QTest::newRow("nothing in range") << 5000 << 6000 << 0;
}

void TestHistorianJournal::csvIdenticalOnBothEngines()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, rows);
    static int run = 0;
    ++run;
    // A wrapped ring over midnight: ids kRingSize-299..kRingSize, then 1..100;
    // values with long exact texts.
    const QDateTime start(QDate(2026, 12, 8), QTime(23, 58, 0));
    QList<HistoryRow> samples;
    for (int i = 0; i < 400; ++i) {
        const OleStamp s = OleTime::fromDateTime(start.addSecs(i));
        samples << HistoryRow{
            i < 300 ? kRingSize - 299 + i : i - 299, s.date, s.time, float(i) / 3, float(i % 101), 1234.5f, -0.1f};
    }
    const QString filePath = dir_.filePath(QStringLiteral("csv%1.db").arg(run));
    const QString serverUrl = url(QStringLiteral("jcsv_%1").arg(run));
    for (const QString& location : {filePath, serverUrl}) {
        HistoryStore store(QStringLiteral("fill"));
        QVERIFY(store.open(location));
        QVERIFY(store.writeSamples(HistoryRing::Short, samples));
    }
    QByteArray csv[2];
    for (int i = 0; i < 2; ++i) {
        ExportRequest request;
        request.databasePath = i == 0 ? filePath : serverUrl;
        const HistorySecond first = historySecondOf(start.date(), start.time());
        if (from >= 0)
            request.from = first + from;
        if (to >= 0)
            request.to = first + to;
        QBuffer out(&csv[i]);
        out.open(QIODevice::WriteOnly);
        const ExportResult r = HistoryExport::run(request, out);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.rows, rows);
    }
    QCOMPARE(csv[1], csv[0]);
    QVERIFY(csv[0].startsWith(HistoryExport::header()));
}

void TestHistorianJournal::exportNeverShowsThePassword()
{
    ExportRequest request;
    // A wrong password for a guarded role, and a station that has no history.
    request.databasePath =
        QStringLiteral("postgresql://guarded:s3cret-pw@/plant?host=%1&port=%2&station=jcsv_1").arg(serverDir(), port());
    QByteArray csv;
    QBuffer out(&csv);
    out.open(QIODevice::WriteOnly);
    ExportResult r = HistoryExport::run(request, out);
    QCOMPARE(r.status, ExportResult::Status::DatabaseFailed);
    QVERIFY(!r.error.isEmpty());
    QVERIFY2(!r.error.contains(QLatin1String("s3cret")), qPrintable(r.error));

    request.databasePath = url(QStringLiteral("jnohistory"));
    r = HistoryExport::run(request, out);
    QCOMPARE(r.status, ExportResult::Status::DatabaseFailed);
    QVERIFY2(r.error.contains(QLatin1String("no history")), qPrintable(r.error));
    // Reading created nothing.
    QVERIFY(column(QStringLiteral("select 1 from pg_namespace where nspname = 'jnohistory'")).isEmpty());
    QVERIFY(csv.isEmpty());
}

// A role owning its schema writes its journal there; one that may create
// nothing is told as such, not as a server away.
void TestHistorianJournal::leastPrivilegeRoleAndWhyNot()
{
    query(QStringLiteral("create role jkeeper login"));
    query(QStringLiteral("create schema jkept authorization jkeeper"));
    {
        Journal owned(url(QStringLiteral("jkept"), QStringLiteral("jkeeper")));
        owned.append(QStringLiteral("system"), QStringLiteral("test"), QStringLiteral("owned"));
        QTRY_VERIFY(owned.sync());
        QVERIFY(owned.healthy());
    }
    QCOMPARE(column(QStringLiteral("select message from jkept.events")), QStringList{QStringLiteral("owned")});

    Journal refused(url(QStringLiteral("jnowhere"), QStringLiteral("jkeeper")));
    refused.setRetryInterval(100);
    refused.append(QStringLiteral("system"), QStringLiteral("test"), QStringLiteral("kept"));
    QTRY_COMPARE(refused.stateText(), QStringLiteral("事件记录服务器无权写入，暂存 1 条"));
}

void TestHistorianJournal::journalFromBeforeLoopsGetsTheColumn()
{
    // Tables as a station before loops made them, with a row.
    query(QStringLiteral("create schema jold"));
    query(QStringLiteral("create table jold.events(id integer generated by default as identity primary key, "
                         "time_utc text not null, kind text not null, source text not null, message text not null, "
                         "old_value text, new_value text, result text, operator text)"));
    query(
        QStringLiteral("create table jold.acks(event_id integer primary key, time_utc text not null, operator text)"));
    query(QStringLiteral("insert into jold.events(time_utc, kind, source, message, new_value) "
                         "values ('2026-12-08T10:00:00.000Z', 'write', 'SV', '修改SV', '320')"));
    JournalStore store(QStringLiteral("old"));
    QVERIFY2(store.open(url(QStringLiteral("jold"))), qPrintable(store.lastError()));
    QList<JournalEvent> fresh{journalEvent(1, "link", "port 1", "4号仪表通讯中断")};
    fresh[0].loop = 4;
    QVERIFY(store.append(fresh));
    QCOMPARE(column(QStringLiteral("select id || ':' || message || ':' || coalesce(new_value, '-') || ':' || "
                                   "coalesce(loop::text, '-') from jold.events order by id")),
             (QStringList{"1:修改SV:320:-", "2:4号仪表通讯中断:-:4"}));
    JournalFilter four;
    four.loop = 4;
    QCOMPARE(store.count(four), 1);
    four.loop = JournalFilter::kStationOnly;
    QCOMPARE(store.count(four), 1);
    QCOMPARE(store.loops(), QList<int>{4});
}

QTEST_GUILESS_MAIN(TestHistorianJournal)
#include "tst_historian_journal.moc"
