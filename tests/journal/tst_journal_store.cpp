#include "CsvReader.h"
#include "Journal.h"
#include "JournalStore.h"

#include <QBuffer>
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <QElapsedTimer>
#include <QProcess>
#include "JournalReader.h"
#include "JournalEvent.h"
#include "JournalSpool.h"

#include <numeric>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The sqlite3 shell, as someone inspecting the file would see it.
QString shell(const QString& file, const QString& sql)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {file, sql});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// A file no process may write, root included, while this lives.
struct Immutable {
    explicit Immutable(const QString& path) : path_(path)
    {
        ok = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
    }
    ~Immutable() { undo(); }
    void undo()
    {
        if (ok)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
        ok = false;
    }
    QString path_;
    bool ok = false;
};

QStringList journalLog;
void collectJournalLog(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (context.category && QByteArray(context.category) == "px.journal")
        journalLog << message;
}
} // namespace

// The journal's database and its writer thread: the bound, trouble with the
// file, and what a reader gets back.
class TestJournalStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void schemaIsExactlyThePublishedOne();
    void boundKeepsTheNewestAndTheirAcknowledgements_data();
    void boundKeepsTheNewestAndTheirAcknowledgements();
    void lockedJournalKeepsEventsAndWritesThemInOrder();
    void fullQueueDropsTheOldestAndSaysSo();
    void deletedJournalIsCreatedAgain();
    void resultUpdateReachesARowStillWaiting();
    void filters_data();
    void filters();
    void csvHoldsWhatTheFilterShows();
    void stopWhileLockedKeepsEverything();
    void readOnlyAtStartRecovers();
    void unwritableIndexNeverFaults();
    void clearedAlarmsNeedNoAcknowledgement();
    void unacknowledgedAlarmsByLoop();
    void lastingTroubleIsLoggedNowAndThen();
    void closingLeavesAStuckRequestBehind();
    void journalFromBeforeLoopsGetsTheColumn();

private:
    QString freshPath() { return dir_.filePath(QStringLiteral("j%1.db").arg(++n_)); }
    static QStringList messages(JournalStore& store, const JournalFilter& filter = {});
    static JournalEvent event(const QString& kind, const QString& source, const QString& message,
                              const QString& time = QStringLiteral("2026-12-08T10:00:00.000Z"));
    QTemporaryDir dir_;
    int n_ = 0;
};

JournalEvent TestJournalStore::event(const QString& kind, const QString& source, const QString& message,
                                     const QString& time)
{
    JournalEvent e;
    e.kind = kind;
    e.source = source;
    e.message = message;
    e.timeUtc = journalTimeFromText(time);
    return e;
}

QStringList TestJournalStore::messages(JournalStore& store, const JournalFilter& filter)
{
    QStringList out;
    for (const JournalEvent& e : store.page(filter, 0, 1000))
        out << e.message;
    return out;
}

void TestJournalStore::schemaIsExactlyThePublishedOne()
{
    const QString path = freshPath();
    {
        JournalStore store(QStringLiteral("schema"));
        QVERIFY(store.open(path));
    }
    auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
    db.setDatabaseName(path);
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.exec("SELECT sql FROM sqlite_master WHERE name = 'events'") && q.next());
    QCOMPARE(q.value(0).toString(),
             QStringLiteral("CREATE TABLE events(id INTEGER PRIMARY KEY, time_utc TEXT NOT NULL, kind TEXT NOT NULL, "
                            "source TEXT NOT NULL, message TEXT NOT NULL, old_value TEXT, new_value TEXT, "
                            "result TEXT, operator TEXT, loop INTEGER)"));
    QVERIFY(q.exec("PRAGMA journal_mode") && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
    QVERIFY(q.exec("SELECT group_concat(name) FROM (SELECT name FROM sqlite_master WHERE type = 'index' "
                   "AND tbl_name = 'events' ORDER BY name)")
            && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("events_kind,events_time_utc"));
    q.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
}

void TestJournalStore::boundKeepsTheNewestAndTheirAcknowledgements_data()
{
    QTest::addColumn<int>("bound");
    QTest::addColumn<QList<int>>("batches"); // events per append call
    QTest::newRow("one at a time past the bound") << 3 << QList<int>{1, 1, 1, 1, 1};
    QTest::newRow("one batch larger than the bound") << 3 << QList<int>{5};
    QTest::newRow("exactly the bound") << 4 << QList<int>{2, 2};
}

void TestJournalStore::boundKeepsTheNewestAndTheirAcknowledgements()
{
    QFETCH(int, bound);
    QFETCH(QList<int>, batches);
    JournalStore store(QStringLiteral("bound"));
    QVERIFY(store.open(freshPath()));
    store.setBound(bound);
    int total = 0;
    QList<qint64> ids;
    for (const int size : batches) {
        QList<JournalEvent> batch;
        for (int i = 0; i < size; ++i)
            batch << event(QStringLiteral("alarm"), QStringLiteral("alarm 1"), QString::number(++total));
        QVERIFY(store.append(batch));
        for (const JournalEvent& e : batch)
            ids << e.id;
        // All but the last batch acknowledged: deleted rows must take their
        // acknowledgement along, and the carried count must follow the trim.
        if (total < std::accumulate(batches.begin(), batches.end(), 0))
            QVERIFY(store.acknowledge(ids, QDateTime::currentDateTimeUtc(), QStringLiteral("op")));
    }
    QStringList expected;
    for (int i = total; i > qMax(0, total - bound); --i)
        expected << QString::number(i);
    QCOMPARE(messages(store), expected);
    const int unacked = qMin(batches.last(), bound);
    QCOMPARE(store.unacknowledgedAlarms(), unacked);
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("bound")));
    QVERIFY(q.exec("SELECT COUNT(*) FROM acks") && q.next());
    QCOMPARE(q.value(0).toInt(), qMin(total, bound) - unacked);
    q.finish();
    JournalStore again(QStringLiteral("bound-again"));
    QVERIFY(again.open(store.path()));
    QCOMPARE(again.unacknowledgedAlarms(), unacked); // the count a fresh scan finds
}

void TestJournalStore::lockedJournalKeepsEventsAndWritesThemInOrder()
{
    const QString path = freshPath();
    Journal journal(path);
    journal.setRetryInterval(50);
    journal.append(QStringLiteral("system"), QStringLiteral("station"), QStringLiteral("before"));
    QVERIFY(journal.sync());

    // Another program holds the write lock.
    auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
    db.setDatabaseName(path);
    QVERIFY(db.open());
    QSqlQuery lock(db);
    QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
    QSignalSpy states(&journal, &Journal::stateChanged);
    for (int i = 1; i <= 3; ++i)
        journal.append(QStringLiteral("alarm"), QStringLiteral("alarm 1"), QStringLiteral("held %1").arg(i));
    QVERIFY(!journal.sync());
    QTRY_VERIFY(!journal.healthy());
    QTRY_COMPARE(journal.stateText(), QStringLiteral("事件记录不可写，暂存 3 条"));

    QVERIFY(lock.exec("COMMIT"));
    QTRY_VERIFY(journal.healthy());
    QCOMPARE(journal.stateText(), QStringLiteral("事件记录正常"));
    lock.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));

    JournalStore store(QStringLiteral("check-locked"));
    QVERIFY(store.open(path));
    QCOMPARE(messages(store), (QStringList{"held 3", "held 2", "held 1", "before"}));
    QTRY_COMPARE(journal.unacknowledgedAlarms(), 3);
}

void TestJournalStore::fullQueueDropsTheOldestAndSaysSo()
{
    // A folder in place of the file: it can never be opened.
    const QString path = freshPath();
    QVERIFY(QDir().mkpath(path));
    Journal journal(path);
    journal.setCapacity(2);
    for (int i = 1; i <= 5; ++i)
        journal.append(QStringLiteral("link"), QStringLiteral("port 1"), QString::number(i));
    QVERIFY(!journal.sync());
    QTRY_COMPARE(journal.stateText(), QStringLiteral("事件记录无法打开，暂存 2 条，已丢弃 3 条"));
}

void TestJournalStore::deletedJournalIsCreatedAgain()
{
    const QString path = freshPath();
    Journal journal(path);
    journal.append(QStringLiteral("system"), QStringLiteral("station"), QStringLiteral("lost with the file"));
    QVERIFY(journal.sync());
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);
    journal.append(QStringLiteral("system"), QStringLiteral("station"), QStringLiteral("after"));
    QVERIFY(journal.sync());
    JournalStore store(QStringLiteral("check-deleted"));
    QVERIFY(store.open(path));
    QCOMPARE(messages(store), QStringList{"after"});
}

void TestJournalStore::resultUpdateReachesARowStillWaiting()
{
    // The read-back can come while the write's row is still in memory.
    const QString path = freshPath();
    QVERIFY(QDir().mkpath(path)); // unusable for now
    Journal journal(path);
    journal.setRetryInterval(50);
    const quint64 seq = journal.append(QStringLiteral("write"), QStringLiteral("SV"), QStringLiteral("修改SV"),
                                       QStringLiteral("300"), QStringLiteral("320"), QStringLiteral("ok"));
    journal.updateResult(seq, QStringLiteral("verified"));
    QVERIFY(!journal.sync());
    QVERIFY(QDir().rmdir(path));
    QTRY_VERIFY(journal.sync());
    JournalStore store(QStringLiteral("check-waiting"));
    QVERIFY(store.open(path));
    const QList<JournalEvent> rows = store.page({}, 0, 10);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].result, QStringLiteral("verified"));
    QCOMPARE(rows[0].oldValue, QStringLiteral("300"));
    QVERIFY(!rows[0].operatorName.isEmpty());
}

void TestJournalStore::filters_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    const QString none;
    QTest::newRow("everything") << none << none << none << none
                                << QStringList{"修改SV", "通讯中断", "报警1解除", "报警1 50%_"};
    QTest::newRow("kind") << "alarm" << none << none << none << QStringList{"报警1解除", "报警1 50%_"};
    QTest::newRow("from inclusive") << none << "2026-12-08T10:00:01.000Z" << none << none
                                    << QStringList{"修改SV", "通讯中断", "报警1解除"};
    QTest::newRow("to exclusive") << none << none << "2026-12-08T10:00:02.000Z" << none
                                  << QStringList{"报警1解除", "报警1 50%_"};
    QTest::newRow("text in message") << none << none << none << "通讯" << QStringList{"通讯中断"};
    QTest::newRow("text in values") << none << none << none << "320" << QStringList{"修改SV"};
    QTest::newRow("wildcards are plain text") << none << none << none << "%_" << QStringList{"报警1 50%_"};
    QTest::newRow("all three") << "alarm"
                               << "2026-12-08T10:00:01.000Z" << none << "报警1" << QStringList{"报警1解除"};
}

void TestJournalStore::filters()
{
    QFETCH(QString, kind);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    JournalStore store(QStringLiteral("filters"));
    QVERIFY(store.open(freshPath()));
    QList<JournalEvent> rows{
        event("alarm", "alarm 1", "报警1 50%_", "2026-12-08T10:00:00.000Z"),
        event("alarm", "alarm 1", "报警1解除", "2026-12-08T10:00:01.000Z"),
        event("link", "port 1", "通讯中断", "2026-12-08T10:00:02.000Z"),
        event("write", "SV", "修改SV", "2026-12-08T10:00:03.000Z"),
    };
    rows[3].oldValue = "300";
    rows[3].newValue = "320";
    QVERIFY(store.append(rows));
    JournalFilter filter;
    filter.kind = kind;
    if (!from.isEmpty())
        filter.fromUtc = journalTimeFromText(from);
    if (!to.isEmpty())
        filter.toUtc = journalTimeFromText(to);
    filter.text = text;
    QCOMPARE(messages(store, filter), expected);
    QCOMPARE(store.count(filter), expected.size());
}

void TestJournalStore::csvHoldsWhatTheFilterShows()
{
    JournalStore store(QStringLiteral("csv"));
    QVERIFY(store.open(freshPath()));
    QList<JournalEvent> rows;
    for (int i = 0; i < 2500; ++i) // more than one export page
        rows << event("state", "coil 2", QStringLiteral("手动 %1").arg(i));
    JournalEvent tricky = event("write", "4126", "修改\"比例带\", 第二行\n结束");
    tricky.oldValue = "1.5";
    tricky.newValue = "2,5";
    tricky.result = "mismatch: 仪表显示 2";
    tricky.operatorName = "张三";
    rows << tricky;
    QVERIFY(store.append(rows));

    JournalFilter writes;
    writes.kind = "write";
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QCOMPARE(store.exportCsv(writes, buffer), 1);
    bool bom = false;
    const QList<QStringList> csv = parseCsv(buffer.data(), &bom);
    QVERIFY(bom);
    QCOMPARE(csv.size(), 2);
    QCOMPARE(csv[0].size(), 11);
    QCOMPARE(csv[0].last(), QStringLiteral("回路"));
    QCOMPARE(csv[0][0], QStringLiteral("编号"));
    const QStringList& r = csv[1];
    QCOMPARE(r[2], QStringLiteral("2026-12-08T10:00:00.000Z"));
    QCOMPARE(r[3], QStringLiteral("写入"));
    QCOMPARE(r.mid(4),
             (QStringList{"4126", "修改\"比例带\", 第二行\n结束", "1.5", "2,5", "mismatch: 仪表显示 2", "张三", ""}));

    buffer.close();
    buffer.setData({});
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QCOMPARE(store.exportCsv({}, buffer), 2501);
    const QList<QStringList> all = parseCsv(buffer.data());
    QCOMPARE(all.size(), 2502);
    QCOMPARE(all[1][5], tricky.message); // newest first
    QCOMPARE(all.last()[5], QStringLiteral("手动 0"));
}

void TestJournalStore::stopWhileLockedKeepsEverything()
{
    const QString path = freshPath();
    const QString spool = path.chopped(3) + QStringLiteral("-spool.db");
    qint64 alarm = 0;
    {
        Journal journal(path);
        journal.setRetryInterval(50);
        journal.append(QStringLiteral("alarm"), QStringLiteral("alarm 1"), QStringLiteral("报警1（PV 1）"));
        QVERIFY(journal.sync());
        JournalStore store(QStringLiteral("before-stop"));
        QVERIFY(store.open(path));
        alarm = store.page({}, 0, 1).value(0).id;

        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("stop-locker"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery lock(db);
        QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
        journal.acknowledge({alarm});
        journal.append(QStringLiteral("link"), QStringLiteral("port 1"), QStringLiteral("held 1"));
        journal.append(QStringLiteral("link"), QStringLiteral("port 1"), QStringLiteral("held 2"));
        QVERIFY(!journal.sync());
        journal.stop();
        lock.exec("ROLLBACK");
        lock.finish();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("stop-locker"));
    }
    QCOMPARE(shell(spool, QStringLiteral("select count(*) from spool_journal")), QStringLiteral("4"));

    Journal again(path);
    QVERIFY(again.sync());
    again.append(QStringLiteral("system"), QStringLiteral("station"), QStringLiteral("next start"));
    QVERIFY(again.sync());
    JournalStore store(QStringLiteral("after-stop"));
    QVERIFY(store.open(path));
    QCOMPARE(messages(store), (QStringList{"next start", "held 2", "held 1",
                                           QStringLiteral("确认报警 1 条（编号 %1）").arg(alarm), "报警1（PV 1）"}));
    QTRY_COMPARE(again.unacknowledgedAlarms(), 0);
    QCOMPARE(shell(spool, QStringLiteral("select count(*) from spool_journal")), QStringLiteral("0"));
}

void TestJournalStore::readOnlyAtStartRecovers()
{
    const QString path = freshPath();
    {
        JournalStore store(QStringLiteral("made"));
        QVERIFY(store.open(path));
    }
    Immutable file(path);
    if (!file.ok)
        QSKIP("cannot make a file immutable here");
    Journal journal(path);
    journal.setRetryInterval(50);
    journal.append(QStringLiteral("system"), QStringLiteral("station"), QStringLiteral("while read-only"));
    QTRY_VERIFY(!journal.healthy());
    file.undo();
    QTRY_VERIFY(journal.healthy());
    JournalStore store(QStringLiteral("check-read-only"));
    QVERIFY(store.open(path));
    QCOMPARE(messages(store), QStringList{"while read-only"});
}

void TestJournalStore::unwritableIndexNeverFaults()
{
    const QString path = freshPath();
    Journal journal(path);
    journal.setRetryInterval(50);
    JournalReader reader(path); // the window reads the same file
    QSignalSpy counts(&reader, &JournalReader::countReady);
    journal.append(QStringLiteral("system"), QStringLiteral("station"), QStringLiteral("before"));
    QVERIFY(journal.sync());
    reader.requestCount({});
    QTRY_COMPARE(counts.size(), 1);

    Immutable index(path + QStringLiteral("-shm"));
    if (!index.ok)
        QSKIP("cannot make a file immutable here");
    ::sync(); // written back: the next write to the mapped index faults
    journal.append(QStringLiteral("system"), QStringLiteral("station"), QStringLiteral("while immutable"));
    QVERIFY(!journal.sync());
    QTRY_VERIFY(!journal.healthy());
    reader.requestCount({});
    QTRY_COMPARE(counts.size(), 2);
    QCOMPARE(counts.last().at(1).toInt(), -1);

    index.undo();
    QTRY_VERIFY(journal.healthy());
    reader.requestCount({});
    QTRY_COMPARE(counts.size(), 3);
    QCOMPARE(counts.last().at(1).toInt(), 2);
}

void TestJournalStore::clearedAlarmsNeedNoAcknowledgement()
{
    JournalStore store(QStringLiteral("cleared"));
    QVERIFY(store.open(freshPath()));
    QList<JournalEvent> batch{event("alarm", "alarm 1", "报警1（PV 412）"),
                              event("alarm", "alarm 1", "报警1解除（PV 380）"),
                              event("alarm", "sensor open", "传感器开路解除（PV 20）")};
    QVERIFY(store.append(batch));
    QCOMPARE(store.unacknowledgedAlarms(), 1);
    QVERIFY(!isRaisedAlarm(batch[1]));
    // Acknowledging a clearing changes nothing; the raised one counts down.
    QVERIFY(store.acknowledge({batch[1].id}, QDateTime::currentDateTimeUtc(), QStringLiteral("op")));
    QCOMPARE(store.unacknowledgedAlarms(), 1);
    JournalStore again(QStringLiteral("cleared-again"));
    QVERIFY(again.open(store.path()));
    QCOMPARE(again.unacknowledgedAlarms(), 1); // a fresh count agrees
    QVERIFY(store.acknowledge({batch[0].id}, QDateTime::currentDateTimeUtc(), QStringLiteral("op")));
    QCOMPARE(store.unacknowledgedAlarms(), 0);
}

void TestJournalStore::unacknowledgedAlarmsByLoop()
{
    JournalStore store(QStringLiteral("by-loop"));
    QVERIFY(store.open(freshPath()));
    store.setBound(5);
    QList<JournalEvent> batch{event("alarm", "alarm 1", "报警1（PV 412）"),
                              event("alarm", "alarm 1", "报警1（PV 413）"), event("alarm", "alarm 2", "报警2（PV 20）"),
                              event("alarm", "alarm 1", "报警1解除（PV 380）"),
                              event("alarm", "alarm 1", "报警1（PV 415）")};
    for (const int i : {0, 1, 3})
        batch[i].loop = 1;
    batch[2].loop = 2; // batch[4]: the station's own
    QVERIFY(store.append(batch));
    using Counts = QHash<int, int>;
    QCOMPARE(store.unacknowledgedAlarmsByLoop(), (Counts{{0, 1}, {1, 2}, {2, 1}}));
    // The clearing changes nothing; an acknowledged loop leaves the list.
    QVERIFY(store.acknowledge({batch[3].id, batch[2].id, batch[0].id}, QDateTime::currentDateTimeUtc(), "op"));
    QCOMPARE(store.unacknowledgedAlarmsByLoop(), (Counts{{0, 1}, {1, 1}}));
    JournalFilter waiting;
    waiting.unacknowledgedOnly = true;
    QCOMPARE(messages(store, waiting), (QStringList{"报警1（PV 415）", "报警1（PV 413）"}));
    // Trimmed past the bound: the oldest unacknowledged (loop 1) goes with its row.
    QList<JournalEvent> more{event("system", "station", "a"), event("system", "station", "b")};
    QVERIFY(store.append(more));
    QCOMPARE(store.unacknowledgedAlarmsByLoop(), (Counts{{0, 1}}));
    QCOMPARE(store.unacknowledgedAlarms(), 1);
    JournalStore again(QStringLiteral("by-loop-again"));
    QVERIFY(again.open(store.path()));
    QCOMPARE(again.unacknowledgedAlarmsByLoop(), store.unacknowledgedAlarmsByLoop()); // a fresh count agrees
}

void TestJournalStore::lastingTroubleIsLoggedNowAndThen()
{
    const QString path = freshPath();
    QVERIFY(QDir().mkpath(path)); // never opens
    journalLog.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectJournalLog);
    {
        Journal journal(path);
        journal.setRetryInterval(1);
        journal.append(QStringLiteral("system"), QStringLiteral("station"), QStringLiteral("waits"));
        QTest::qWait(400); // a few hundred retries
    }
    qInstallMessageHandler(previous);
    QVERIFY2(journalLog.size() <= 6, qPrintable(journalLog.join('\n')));
}

void TestJournalStore::closingLeavesAStuckRequestBehind()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        QSKIP("no PostgreSQL driver");
    // A server that takes the connection (the kernel does) and never answers.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd, 4) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    auto reader = std::make_unique<JournalReader>(
        QStringLiteral("postgresql://px@127.0.0.1:%1/plant?station=s&connect_timeout=4").arg(ntohs(address.sin_port)));
    reader->requestCount({});
    QTest::qWait(100); // the reader is connecting
    QElapsedTimer closing;
    closing.start();
    reader.reset();
    const qint64 waited = closing.elapsed();
    QVERIFY2(waited < 2000, qPrintable(QString::number(waited)));
    ::close(fd);       // the connection is refused now: the left request ends
    QTest::qWait(300); // and logs inside this test, not while the test log closes
}

void TestJournalStore::journalFromBeforeLoopsGetsTheColumn()
{
    // A journal as a station before loops left it, made by the shell so no
    // code of ours is involved; a spool of the same age holding one event.
    const QString path = freshPath();
    const QString oldRows = QStringLiteral("1|2026-12-08T10:00:00.000Z|write|SV|修改SV|300|320|verified|op\n"
                                           "2|2026-12-08T10:01:00.000Z|alarm|alarm 1|报警1||||");
    shell(
        path,
        QStringLiteral(
            "CREATE TABLE events(id INTEGER PRIMARY KEY, time_utc TEXT NOT NULL, kind TEXT NOT NULL, source TEXT NOT "
            "NULL, "
            "message TEXT NOT NULL, old_value TEXT, new_value TEXT, result TEXT, operator TEXT);"
            "CREATE TABLE acks(event_id INTEGER PRIMARY KEY, time_utc TEXT NOT NULL, operator TEXT);"
            "INSERT INTO events VALUES(1,'2026-12-08T10:00:00.000Z','write','SV','修改SV','300','320','verified','op');"
            "INSERT INTO events VALUES(2,'2026-12-08T10:01:00.000Z','alarm','alarm 1','报警1',NULL,NULL,NULL,NULL);"
            "INSERT INTO acks VALUES(2,'2026-12-08T10:02:00.000Z','op');"));
    const QString oldColumns =
        QStringLiteral("SELECT id, time_utc, kind, source, message, old_value, new_value, result, "
                       "operator FROM events ORDER BY id");
    QCOMPARE(shell(path, oldColumns), oldRows);
    {
        JournalStore store(QStringLiteral("old"));
        QVERIFY2(store.open(path), qPrintable(store.lastError()));
        QCOMPARE(store.unacknowledgedAlarms(), 0);
        QList<JournalEvent> fresh{event("link", "port 1", "3号仪表通讯中断"), event("system", "station", "启动")};
        fresh[0].loop = 3;
        QVERIFY(store.append(fresh));
    }
    // Opened again (the column now there), the old rows as they were, the new ones after them.
    JournalStore store(QStringLiteral("again"));
    QVERIFY2(store.open(path), qPrintable(store.lastError()));
    QCOMPARE(shell(path, oldColumns + QStringLiteral(" LIMIT 2")), oldRows);
    QCOMPARE(shell(path, QStringLiteral("SELECT group_concat(id || ':' || ifnull(loop, '-')) FROM events")),
             QStringLiteral("1:-,2:-,3:3,4:-"));
    QCOMPARE(shell(path, QStringLiteral("SELECT COUNT(*) FROM acks")), QStringLiteral("1"));

    JournalFilter loop3;
    loop3.loop = 3;
    QCOMPARE(messages(store, loop3), QStringList{"3号仪表通讯中断"});
    JournalFilter stationOnly;
    stationOnly.loop = JournalFilter::kStationOnly;
    QCOMPARE(messages(store, stationOnly), (QStringList{"启动", "报警1", "修改SV"}));
    loop3.loop = 4;
    QCOMPARE(store.count(loop3), 0);
    QCOMPARE(store.loops(), QList<int>{3});
    QCOMPARE(store.page({}, 0, 10).at(1).loop, 3);

    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QCOMPARE(store.exportCsv({}, buffer), 4);
    const QList<QStringList> csv = parseCsv(buffer.data());
    QCOMPARE(csv[2].last(), QStringLiteral("3"));
    QCOMPARE(csv[1].last(), QString());
    QCOMPARE(csv[1].size(), 11);

    // What a station before loops left in its spool still replays; new entries keep their loop.
    const QString spoolPath = freshPath();
    shell(spoolPath,
          QStringLiteral(
              "create table spool_journal (key INTEGER PRIMARY KEY AUTOINCREMENT, op INTEGER NOT NULL, time_utc TEXT, "
              "kind TEXT, source TEXT, message TEXT, old_value TEXT, new_value TEXT, result TEXT, operator TEXT, "
              "target_id INTEGER, ack_ids TEXT);"
              "insert into spool_journal (op, time_utc, kind, source, message) "
              "values (0, '2026-12-08T10:00:00.000Z', 'link', 'port 1', '通讯中断');"));
    JournalSpool spool(QStringLiteral("old-spool"));
    QVERIFY2(spool.open(spoolPath), qPrintable(spool.lastError()));
    QList<JournalSpool::Entry> held(1);
    held[0].event = event("link", "port 1", "5号仪表通讯中断");
    held[0].event.loop = 5;
    QVERIFY(spool.append(held));
    const QList<JournalSpool::Entry> replay = spool.all();
    QCOMPARE(replay.size(), 2);
    QCOMPARE(replay[0].event.message, QStringLiteral("通讯中断"));
    QCOMPARE(replay[0].event.loop, 0);
    QCOMPARE(replay[1].event.loop, 5);
}

QTEST_GUILESS_MAIN(TestJournalStore)
#include "tst_journal_store.moc"
