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

private:
    QString sql(const QString& db, const QString& query);
};

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
    const QString last = sql(journal, "SELECT kind || '|' || source || '|' || message FROM events ORDER BY id DESC LIMIT 1");
    QVERIFY2(last.startsWith(QStringLiteral("system|station|操作站停止")), qPrintable(last));
    QCOMPARE(sql(journal, "SELECT count(*) FROM events WHERE message LIKE '操作站启动%'"), QStringLiteral("1"));
}

QTEST_GUILESS_MAIN(TestAppSignals)
#include "tst_app_signals.moc"
