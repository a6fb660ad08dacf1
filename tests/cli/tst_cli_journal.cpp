#include "CliApp.h"
#include "JournalEvent.h"
#include "JournalStore.h"
#include "SimServer.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

// Every write px5800-cli makes lands in the event journal as the station's
// own write rows do, against the simulated instrument, in-process.
class TestCliJournal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void setRows_data();
    void setRows();
    void failedWriteIsJournaled();
    void paramsRestoreRowsNameTheRegister();
    void stationHoldingTheJournalDelaysTheRow();
    void unusableJournalNeverStopsTheWrite();
    void defaultJournalBesideTheDefaultHistory();

private:
    void startSim(bool wireTiming);
    int run(const QStringList& args, QByteArray* err = nullptr);
    // The journal's rows as the sqlite3 shell shows them, oldest first:
    // kind|source|message|old|new|result|operator, NULL for a missing value.
    QStringList rows(const QString& path = {});

    QTemporaryDir dir_;
    QString journal_;
    std::unique_ptr<SimServer> sim_;
};

void TestCliJournal::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty())
        QSKIP("sqlite3 shell not installed");
    // Commands without --journal must never write into the real home.
    qputenv("HOME", dir_.filePath(QStringLiteral("home")).toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

void TestCliJournal::init()
{
    journal_ = dir_.filePath(QStringLiteral("%1.db").arg(QLatin1String(QTest::currentTestFunction())));
    QFile::remove(journal_);
    startSim(false);
}

void TestCliJournal::cleanup() { sim_.reset(); }

void TestCliJournal::startSim(bool wireTiming)
{
    sim_.reset();
    SimOptions o;
    o.link = dir_.filePath(QStringLiteral("line"));
    o.speed = 20;
    o.wireTiming = wireTiming;
    o.turnaroundMs = 60;
    sim_ = std::make_unique<SimServer>(o);
    QString error;
    QVERIFY2(sim_->start(&error), qPrintable(error));
}

int TestCliJournal::run(const QStringList& args, QByteArray* err)
{
    QBuffer o, e;
    o.open(QIODevice::WriteOnly);
    e.open(QIODevice::WriteOnly);
    QStringList line{QStringLiteral("px5800-cli"), args.first(), QStringLiteral("--port"),
                     QStringLiteral("1=") + dir_.filePath(QStringLiteral("line"))};
    if (!journal_.isEmpty())
        line << QStringLiteral("--journal") << journal_;
    const int code = runCli(line + args.mid(1), o, e);
    if (err)
        *err = e.data();
    return code;
}

QStringList TestCliJournal::rows(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"),
            {QStringLiteral("-nullvalue"), QStringLiteral("NULL"), path.isEmpty() ? journal_ : path,
             QStringLiteral("SELECT kind, source, message, old_value, new_value, result, operator, time_utc "
                            "FROM events ORDER BY id")});
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return {QStringLiteral("sqlite3 failed: ") + QString::fromUtf8(p.readAllStandardError())};
    QStringList out;
    static const QRegularExpression time(QStringLiteral("\\|\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    for (const QString& l : QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
        out << (time.match(l).hasMatch() ? l.left(time.match(l).capturedStart()) : l + QStringLiteral(" (bad time)"));
    return out;
}

void TestCliJournal::setRows_data()
{
    QTest::addColumn<QStringList>("prepare"); // simulator commands first
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("row"); // without the operator
    QTest::addColumn<QString>("writes"); // simulator's register write log afterwards

    QTest::newRow("sv verified") << QStringList{"set hr 1 300"} << QStringList{"set", "sv", "320"} << 0
                                 << "write|SV|修改SV值|300|320|verified" << "1=320";
    QTest::newRow("sv refused, nothing sent")
        << QStringList{} << QStringList{"set", "sv", "10000"} << 2
        << "write|SV|修改SV值：输入被拒绝|NULL|10000|refused: 超出范围 -1999 ~ 9999" << "";
    QTest::newRow("op refused in automatic")
        << QStringList{"set coil 2 1"} << QStringList{"set", "op", "50"} << 2
        << "write|OP|修改手动输出：输入被拒绝|%1|50|refused: 自动状态下不能修改手动输出" << "";
    QTest::newRow("op in tenths") << QStringList{"set coil 2 0", "set hr 2 250"} << QStringList{"set", "op", "45.25"}
                                  << 0 << "write|OP|修改手动输出|25.0|45.2|verified" << "2=452";
    QTest::newRow("mode coil") << QStringList{"set coil 2 1"} << QStringList{"set", "mode", "manual"} << 0
                               << "write|coil 2|修改手动/自动|1|0|verified" << "";
}

void TestCliJournal::setRows()
{
    QFETCH(QStringList, prepare);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, row);
    QFETCH(QString, writes);
    for (const QString& c : prepare)
        QCOMPARE(sim_->command(c), QStringLiteral("ok"));
    QTest::qWait(100); // an instrument scan, so the input registers show it
    QCOMPARE(sim_->command("writes clear"), QStringLiteral("ok"));
    QByteArray err;
    QCOMPARE(run(args, &err), code);
    QVERIFY2(!err.contains("journal"), err.constData());
    QCOMPARE(sim_->command("writes"), writes);
    if (row.contains(u"%1")) // the manual output as the instrument showed it
        row = row.arg(sim_->command("get ir 2").toInt() / 10.0, 0, 'f', 1);
    QCOMPARE(rows(), QStringList{row + u'|' + currentOperator()});
}

void TestCliJournal::failedWriteIsJournaled()
{
    // With wire timing the instrument's answer to the last read of the poll
    // takes tens of milliseconds: time enough to silence it before the write.
    startSim(true);
    QCOMPARE(sim_->command("set hr 1 300"), QStringLiteral("ok"));
    QTest::qWait(100);
    const auto requests = [this] {
        static const QRegularExpression re(QStringLiteral("\\brequests=(\\d+)"));
        return re.match(sim_->command(QStringLiteral("status"))).captured(1).toInt();
    };
    const int before = requests();
    int code = -1;
    std::thread cli([&] { code = run({"set", "sv", "320"}); });
    while (requests() < before + 5) // the poll's five reads
        std::this_thread::yield();
    sim_->command(QStringLiteral("silent 30"));
    cli.join();
    QCOMPARE(code, 1);
    QCOMPARE(sim_->command("get hr 1"), QStringLiteral("300"));
    QCOMPARE(rows(), QStringList{"write|SV|修改SV值（重发一次后仍失败，timeout）|300|320|failed|" + currentOperator()});
}

void TestCliJournal::paramsRestoreRowsNameTheRegister()
{
    for (const char* c : {"set hr 4108 1", "set hr 4130 100", "set hr 4612 55"})
        QCOMPARE(sim_->command(QString::fromLatin1(c)), QStringLiteral("ok"));
    const QString saved = dir_.filePath(QStringLiteral("set.json"));
    QCOMPARE(run({"params", "dump", "--out", saved}), 0);
    sim_->command(QStringLiteral("set hr 4108 3"));
    sim_->command(QStringLiteral("set hr 4612 70"));
    QVERIFY(!QFile::exists(journal_)); // reading journals nothing
    QCOMPARE(run({"params", "restore", saved, "--yes"}), 0);
    const QStringList r = rows();
    QCOMPARE(r.size(), 3);
    // The register is the source, tenths are shown as the window shows them,
    // and the closing read-back verified each.
    QVERIFY2(r[0].startsWith("write|4108|修改") && r[0].endsWith("|3|1|verified|" + currentOperator()), qPrintable(r[0]));
    QVERIFY2(r[1].startsWith("write|4130|修改") && r[1].contains("|verified|"), qPrintable(r[1]));
    QVERIFY2(r[2].startsWith("write|4612|修改") && r[2].contains("|7.0|5.5|verified|"), qPrintable(r[2]));
}

void TestCliJournal::stationHoldingTheJournalDelaysTheRow()
{
    JournalStore station(QStringLiteral("station"));
    QVERIFY(station.open(journal_));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(journal_);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY2(q.exec("BEGIN IMMEDIATE"), qPrintable(q.lastError().text()));
        QVERIFY(q.exec("INSERT INTO events(time_utc, kind, source, message) "
                       "VALUES('2026-12-08T10:00:00.000Z', 'system', 'station', 'held')"));
        int code = -1;
        QByteArray err;
        std::thread cli([&] { code = run({"set", "sv", "123"}, &err); });
        QTest::qWait(1500); // longer than the station's own busy timeout
        QVERIFY(q.exec("COMMIT"));
        cli.join();
        QCOMPARE(code, 0);
        QCOMPARE(err, QByteArray());
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    const QStringList r = rows();
    QCOMPARE(r.size(), 2);
    QVERIFY2(r[1].startsWith("write|SV|修改SV值|") && r[1].contains("|123|verified|"), qPrintable(r[1]));
    QCOMPARE(station.count({}), 2); // the station's connection sees it too
}

void TestCliJournal::unusableJournalNeverStopsTheWrite()
{
    QFile blocker(dir_.filePath(QStringLiteral("a-file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    journal_ = blocker.fileName() + QStringLiteral("/Journal.db"); // its folder is a file
    QByteArray err;
    QCOMPARE(run({"set", "sv", "222"}, &err), 0);
    QCOMPARE(sim_->command("get hr 1"), QStringLiteral("222"));
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("px5800-cli set: journal not written: "), err.constData());

    // A refusal keeps its own exit code and message, the warning comes first.
    QCOMPARE(run({"set", "sv", "10000"}, &err), 2);
    QCOMPARE(err.count('\n'), 2);
    QVERIFY2(err.contains("refused, nothing written"), err.constData());
}

void TestCliJournal::defaultJournalBesideTheDefaultHistory()
{
    QCoreApplication::setOrganizationName(QStringLiteral("px5800"));
    QCoreApplication::setApplicationName(QStringLiteral("px5800"));
    const QString folder = QDir::homePath() + QStringLiteral("/.qttest/share/px5800/px5800");
    journal_.clear();
    QCOMPARE(run({"set", "sv", "321"}), 0);
    const QStringList r = rows(folder + QStringLiteral("/Journal.db"));
    QCOMPARE(r.size(), 1);
    QVERIFY2(r[0].contains("|321|verified|"), qPrintable(r[0]));
    QVERIFY(!QFile::exists(folder + QStringLiteral("/Rdatabj.db"))); // the history is not touched
}

QTEST_GUILESS_MAIN(TestCliJournal)
#include "tst_cli_journal.moc"
