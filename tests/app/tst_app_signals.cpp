#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

// The built station, ended from outside, closes as the operator's 退出
// does: the journal's last event is the stop.
class TestAppSignals : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void endsLikeANormalClose_data();
    void endsLikeANormalClose();
    void stopDuringOutageLosesNothing();

private:
    QString sql(const QString& db, const QString& query);
    bool startStation(QProcess& station, const QTemporaryDir& dir);
};

bool TestAppSignals::startStation(QProcess& station, const QTemporaryDir& dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path());
    station.setProcessEnvironment(env);
    station.start(QStringLiteral(PX5800_PROGRAM),
                  {"--demo", "--database", dir.filePath("History.db"), "--journal", dir.filePath("Journal.db")});
    return station.waitForStarted();
}

QString TestAppSignals::sql(const QString& db, const QString& query)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {db, query});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void TestAppSignals::endsLikeANormalClose_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestAppSignals::endsLikeANormalClose()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("Journal.db"));
    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path());
    station.setProcessEnvironment(env);
    station.start(QStringLiteral(PX5800_PROGRAM),
                  {"--demo", "--database", dir.filePath("History.db"), "--journal", journal});
    QVERIFY(station.waitForStarted());
    // Running: the start is journaled and the demo's port is open.
    QTRY_VERIFY_WITH_TIMEOUT(sql(journal, "SELECT count(*) FROM events WHERE kind = 'link'").toInt() > 0, 30000);

    QCOMPARE(::kill(pid_t(station.processId()), signalNumber), 0);
    QVERIFY(station.waitForFinished(20000));
    QCOMPARE(station.exitStatus(), QProcess::NormalExit);
    QCOMPARE(station.exitCode(), 0);
    const QString last =
        sql(journal, "SELECT kind || '|' || source || '|' || message FROM events ORDER BY id DESC LIMIT 1");
    QVERIFY2(last.startsWith(QStringLiteral("system|station|操作站停止")), qPrintable(last));
    QCOMPARE(sql(journal, "SELECT count(*) FROM events WHERE message LIKE '操作站启动%'"), QStringLiteral("1"));
}

// History and journal locked by another program when the station is told to
// stop: what it held is spooled, and the next start writes it first.
void TestAppSignals::stopDuringOutageLosesNothing()
{
    QTemporaryDir dir;
    const QString history = dir.filePath(QStringLiteral("History.db"));
    const QString journal = dir.filePath(QStringLiteral("Journal.db"));
    QProcess station;
    QVERIFY(startStation(station, dir));
    QTRY_VERIFY_WITH_TIMEOUT(sql(history, "SELECT count(*) FROM pv_data").toInt() >= 2, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(sql(journal, "SELECT count(*) FROM events WHERE kind = 'link'").toInt() > 0, 30000);

    QProcess locker;
    locker.start(QStringLiteral("sqlite3"), {history});
    QVERIFY(locker.waitForStarted());
    // The shell's standard output is buffered, its errors are not: a call
    // to a function that does not exist says the lock is taken.
    locker.write(QStringLiteral(".timeout 5000\nattach '%1' as j;\nbegin exclusive;\nselect lock_taken();\n")
                     .arg(journal)
                     .toUtf8());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += locker.readAllStandardError()).contains("lock_taken"), 10000);
    QVERIFY2(!said.contains("locked"), said.constData());
    QTest::qWait(4000); // samples and events wait in the station's memory
    QCOMPARE(::kill(pid_t(station.processId()), SIGTERM), 0);
    QVERIFY(station.waitForFinished(20000));
    QCOMPARE(station.exitCode(), 0);
    locker.write("rollback;\n.quit\n");
    QVERIFY(locker.waitForFinished(10000));
    const QString historySpool = dir.filePath(QStringLiteral("History-spool.db"));
    const QString journalSpool = dir.filePath(QStringLiteral("Journal-spool.db"));
    QVERIFY(sql(historySpool, "SELECT count(*) FROM spool_pv_data").toInt() >= 3);
    QVERIFY(sql(journalSpool, "SELECT count(*) FROM spool_journal").toInt() >= 1); // the stop at least

    QVERIFY(startStation(station, dir));
    const int held = sql(history, "SELECT max(w_id) FROM pv_data").toInt()
                     + sql(historySpool, "SELECT count(*) FROM spool_pv_data").toInt();
    QTRY_VERIFY_WITH_TIMEOUT(sql(history, "SELECT max(w_id) FROM pv_data").toInt() > held + 1, 30000);
    QCOMPARE(::kill(pid_t(station.processId()), SIGTERM), 0);
    QVERIFY(station.waitForFinished(20000));

    // Ids 1..N once each; one gap in time only: while no station ran.
    const QString ids = sql(history, "SELECT count(*) = max(w_id) AND count(DISTINCT w_id) = count(*) FROM pv_data");
    QCOMPARE(ids, QStringLiteral("1"));
    const QString gaps = sql(history, "SELECT count(*) FROM (SELECT (w_date + w_time) - lag(w_date + w_time) "
                                      "OVER (ORDER BY w_date, w_time) AS d FROM pv_data) WHERE d > 2.5 / 86400.0");
    QVERIFY2(gaps.toInt() <= 1, qPrintable(gaps));
    QCOMPARE(sql(journal, "SELECT group_concat(substr(message, 1, 5), '|') FROM "
                          "(SELECT message FROM events WHERE source = 'station' ORDER BY id)"),
             QStringLiteral("操作站启动|操作站停止|操作站启动|操作站停止"));
    QCOMPARE(sql(historySpool, "SELECT count(*) FROM spool_pv_data"), QStringLiteral("0"));
    QCOMPARE(sql(journalSpool, "SELECT count(*) FROM spool_journal"), QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(TestAppSignals)
#include "tst_app_signals.moc"
